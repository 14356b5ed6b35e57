// The keying output the keyers and Tune drive: which port keys the transmitter (none, a
// serial device's DTR and RTS, a parallel port's data bits 0 and 1), its polarity, and
// SetKeyLine, the one operation that moves the line.
//
// The port record itself (PortKind, PortName, ComPortNumber, ParallelAddress, KeyPolarity)
// lives in TransmitSettings, where the settings file finds it; this class keeps it in step
// and owns the open device.
//
// A line that fails while keying (a USB adapter pulled out: EIO) is dropped at once: the
// port becomes "None", keying goes on with its full timing for code practice, and the host
// hears about it once. The port can be selected again when the device is back.
//
// Threads: SetKeyLine runs on the keyer threads and on the GUI thread; everything else on
// the GUI thread. The line and the polarity used by SetKeyLine sit behind one mutex that is
// held only for the single system call, never across a wait. TransmitSettings is touched
// on the GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/key_device.h"
#include "platform/key_lines.h"
#include "transmit/key_line.h"
#include "transmit/ptt_line.h"
#include "transmit/transmit_state.h"

namespace kestrix::transmit {

inline constexpr const char* kPortErrorTitle = "Communications I/O Error";
inline constexpr const char* kOpenFailedText = "Failed to open the comms device";
inline constexpr uint16_t kPrinter1Address = 0x378;
inline constexpr uint16_t kPrinter2Address = 0x3BC;

enum PortKinds : int32_t { kParallelPort = 0, kSerialPort = 1, kNoPort = 2 };

// What the keying port needs from the window (or from kestrix-send).
class KeyingPortHost {
 public:
  virtual ~KeyingPortHost() = default;
  // A modal message (GUI thread).
  virtual void PortMessage(const std::string& title, const std::string& text) = 0;
  // Output Port > "None": the host unchecks "Port Number", checks "None" and calls
  // SelectNoPort (GUI thread).
  virtual void RunNoneHandler() = 0;
  // The open line failed while keying and has been dropped. May be called on a keyer
  // thread, at most once per opened line; the host shows `text` under the usual title and
  // runs its "None" handler on its own thread.
  virtual void LineFailed(const std::string& device, const std::string& text) = 0;
};

class KeyingPort final : public KeyLine, public PttLine {
 public:
  // `listDevices` gives the serial devices in COM order (FindSerialDevices by default).
  KeyingPort(TransmitState& tx, platform::KeyDevice& device, KeyingPortHost& host,
             std::function<std::vector<std::string>()> listDevices = {});
  ~KeyingPort() override;  // key up, then the device is closed

  // Key line: 0 up, 3 down, before polarity. One system call on the open line.
  void SetKeyLine(uint8_t state) override;

  // "DTR keys, RTS is PTT" for the serial devices opened from now on; off (the default),
  // DTR and RTS key together. Polarity applies to the key line only.
  void SetRtsPtt(bool on) { rtsPtt_ = on; }
  bool RtsPtt() const { return rtsPtt_; }
  // PTT on RTS of the open serial line set so: one system call. False without a PTT line;
  // a failure drops the line as a key-line failure does. Closing releases it.
  bool SetPtt(bool on) override;

  // Opens the port PortKind describes under `name` (GUI thread). Serial: closes the
  // current device; "NONE" stops there; a failure shows the message and runs the host's
  // "None" handler. Parallel: opens the ppdev device for ParallelAddress (or `name`, if it
  // is a device path); a failure shows the message and selects no port.
  void OpenPort(const std::string& name);
  // No port: closes any device, PortKind 2, PortName "NONE".
  void SelectNoPort();
  // A parallel port at `address` (378 or 3BC hex), key up.
  void SelectParallelPort(uint16_t address);
  // COM n from the COM Port Selection dialog: PortName "\\.\COMn", opened, key up.
  void SelectComPort(int number);
  // A serial port by its stored name (a COM name or a device path), opened, key up.
  void OpenNamedPort(const std::string& name);
  // The settings file's rule for its stored PortName.
  void LoadStoredPort(const std::string& name);
  // Normal (1) or Invert (2); the line follows at once.
  void SetPolarity(int32_t polarity);
  // Key up: KeyState 0 and the line released (stop, quit, signals).
  void ReleaseLine();
  // Key up and the device closed, the port record left as it is for the settings file
  // (quit).
  void ShutDown();

  bool PortConfigured() const { return configured_; }
  // The open device's path, empty with no open line.
  std::string OpenDevice() const;
  // The most recent open failure, for kestrix-send's one-line report.
  const std::string& LastError() const { return lastError_; }

 private:
  void CloseLine();
  // Drops the failed line (under mu_) and returns the host's message for it.
  std::string DropFailedLine(int err, std::string& device);
  void Install(std::unique_ptr<platform::OutputLine> line);
  void ApplyDropOnClose(platform::OutputLine& line) const;

  TransmitState& tx_;
  platform::KeyDevice& device_;
  KeyingPortHost& host_;
  std::function<std::vector<std::string>()> listDevices_;
  bool configured_ = false;
  bool rtsPtt_ = false;
  std::string lastError_;

  mutable std::mutex mu_;  // guards line_ and inverted_
  std::unique_ptr<platform::OutputLine> line_;
  bool inverted_ = false;
};

}  // namespace kestrix::transmit
