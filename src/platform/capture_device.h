// The sound input as the receive loop sees it: a device that records into buffers the
// program queues, marks each one done when it is full, and reports how many bytes it has
// recorded since it was started.
//
// The loop owns two buffers and their headers. It prepares a header, queues it, starts the
// device and then polls the header's Done flag (and the byte position) from its own thread
// (the window's GUI thread) while the device fills the buffer from its audio thread.
// Every call returns kCaptureOk (0) or a nonzero CaptureResult code; no call throws.
//
// Implementations: PortAudioCapture (a sound card through PortAudio: ALSA, PulseAudio,
// PipeWire, JACK) and FileCapture (a recording played in real time). Tests script their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/pcm_format.h"

namespace kestrix {

// Result codes. The numbers follow the classic wave-in error numbers so that a code in a
// log means the same thing whatever device produced it.
enum CaptureResult : int {
  kCaptureOk = 0,
  kCaptureError = 1,         // unspecified failure in the sound system
  kCaptureBadDevice = 2,     // no device with that index
  kCaptureNotOpen = 5,       // the device is not open
  kCaptureNoMemory = 7,      // the sound system ran out of memory
  kCaptureBadParam = 11,     // a bad header (no data, zero length, too long)
  kCaptureBadFormat = 32,    // the device does not record this format
  kCaptureStillQueued = 33,  // the header is still queued in the device
  kCaptureUnprepared = 34,   // the header was not prepared
  kCaptureDeviceLost = 40,   // the device went away while open (unplugged, server gone)
};

// One line describing a code, for logs and the headless tool ("device not open").
const char* CaptureResultText(int code);

// Header flag bits kept by the device (the Done bit is the separate atomic below).
inline constexpr uint32_t kHeaderPrepared = 0x02;
inline constexpr uint32_t kHeaderInQueue = 0x10;

// The header of one capture buffer. The program sets Data and BufferLength and clears the
// rest (Reset); the device writes BytesRecorded and then sets Done (release), so a reader
// that sees Done (acquire) also sees the count and the samples.
struct CaptureHeader {
  uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;               // bytes to record, at most the buffer's size
  std::atomic<uint32_t> BytesRecorded{0};  // written by the device
  std::atomic<bool> Done{false};           // set by the device when the buffer is complete
  std::atomic<uint32_t> Flags{0};          // kHeaderPrepared | kHeaderInQueue
  uint32_t Loops = 0;

  // Data pointer and length set again; count, done flag, flags and loops cleared.
  void Reset(uint8_t* data, uint32_t length) {
    Data = data;
    BufferLength = length;
    BytesRecorded.store(0, std::memory_order_relaxed);
    Done.store(false, std::memory_order_relaxed);
    Flags.store(0, std::memory_order_relaxed);
    Loops = 0;
  }
  bool IsDone() const { return Done.load(std::memory_order_acquire); }
};

// Called from one thread (the receive loop's). Implementations fill buffers on a thread
// of their own and touch a header only between Add and the moment they set Done.
class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;

  // --- Device list (the sound card dialog and START) ------------------------
  virtual int DeviceCount() = 0;
  // Product name of device `index`, "" when there is no such device.
  virtual std::string ProductName(int index) = 0;

  // --- Opening -----------------------------------------------------------------
  // Whether `device` records `format`; opens nothing.
  virtual int QueryFormat(int device, const CaptureFormat& format) = 0;
  // Opens `device` for `format` (stopped, nothing queued, position 0). A device that is
  // already open is closed first, so a restart may simply open again.
  virtual int Open(int device, const CaptureFormat& format) = 0;
  // Opens `device` with `format` and closes it again, without touching the device that is
  // open now; the sound card dialog's check that a choice will work.
  virtual int TrialOpen(int device, const CaptureFormat& format) = 0;
  // Stops recording and releases the device. Returns kCaptureOk when nothing is open.
  virtual int Close() = 0;

  // --- Buffers -------------------------------------------------------------------
  // Makes a reset header usable; it must not be queued.
  virtual int Prepare(CaptureHeader& header) = 0;
  // Queues a prepared header behind the ones already queued; buffers fill in queue order.
  virtual int Add(CaptureHeader& header) = 0;
  // Starts (or, when running, keeps) recording into the queued buffers. Also restarts a
  // stream that has stopped on its own.
  virtual int Start() = 0;
  // Bytes recorded into buffers since the device was opened or last reset.
  virtual int Position(uint32_t& bytes) = 0;
  // Stops recording, marks every queued header done (with what it holds), empties the
  // queue and sets the position back to 0.
  virtual int Reset() = 0;
  // Gives a header back after it is done; fails with kCaptureStillQueued before that.
  virtual int Unprepare(CaptureHeader& header) = 0;
};

}  // namespace kestrix
