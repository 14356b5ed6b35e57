// kestrix-send's tone part: the text rendered through the window's sound-card keyer
// (SoundKeyBuffer, the same batches, blocks and samples) into a WAV file, or played on a
// sound card. kestrix-send's main parses the flags into ToneSendOptions and calls these.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/playback_device.h"
#include "transmit/element_timing.h"
#include "transmit/ptt_line.h"
#include "transmit/tone_output.h"

namespace kestrix::cli {

inline constexpr int kToneSendOk = 0;
inline constexpr int kToneSendDeviceError = 1;  // the device could not be opened or failed
inline constexpr int kToneSendUsage = 2;        // a bad value on the command line

struct ToneSendOptions {
  std::string wavPath;            // --wav FILE: render into FILE; empty: play on a sound card
  std::string device;             // --device N|NAME: the sound card; empty: the system default
  float toneHz = 750.0f;          // --tone 600|750|1000|HZ
  bool square = false;            // --square
  bool silent = false;            // --silent: key-down samples are silence
  int wpm = 20;                   // 5..100
  transmit::TimingRatios ratios;  // each 50..200 percent
  // PTT (--ptt-rigctld): raised `pttLeadMs` before the first sample, released `pttTailMs`
  // after the last has been played, on every way out. None: no PTT.
  transmit::PttLine* ptt = nullptr;
  int pttLeadMs = 0;
  int pttTailMs = 0;
  // Checked while the tone plays (every 250 ms): false ends the tone, nothing more keyed
  // (rigctld gone). Unset: not checked.
  std::function<bool()> pttAlive;
  // Set (Ctrl-C): the tone ends at its next block and the send returns 130.
  const std::atomic<bool>* stop = nullptr;
};

// --tone's value: a frequency in Hz above 0 and below half the sample rate. False with
// one line in `error` otherwise.
bool ParseToneHz(std::string_view text, float& hz, std::string& error);

// Checks the tone, speed and ratios; false with one line on `err` when one is out of range.
bool CheckToneOptions(const ToneSendOptions& options, std::ostream& err);

// The tone the command line asked for, on the sound card as the output device.
void ApplyToneOptions(const ToneSendOptions& options, transmit::ToneOutput& tone);

// The device the options name: a WAV file for --wav (index 0), else the sound card
// --device chooses (the system default without it) with its index in `index`. Null with
// one line on `err` when the sound system cannot start or there is no such card.
std::unique_ptr<PlaybackDevice> ChoosePlayback(const ToneSendOptions& options, int& index,
                                               std::ostream& err);

// The tone keyer's host in kestrix-send: a device failure becomes one line,
// "kestrix-send: TEXT (the sound library's reason)", and ends the send. The failure may
// come from a keyer thread, so the lines are kept until the caller prints them.
class SendToneHost final : public transmit::ToneHost {
 public:
  explicit SendToneHost(PlaybackDevice& device) : device_(device) {}
  void ShowMessage(const std::string& title, const std::string& text) override;
  void HandleWaveError(int code) override;
  bool Failed() const { return failed_.load(std::memory_order_acquire); }
  // The lines kept so far (each ending in a newline), handed over once.
  std::string TakeLines();

 private:
  PlaybackDevice& device_;
  std::atomic<bool> failed_{false};
  std::mutex mu_;
  std::string lines_;
};

// Checks the options (exit status 2 with a line on `err` when one is out of range), then
// sends `text` (bytes as send codes; a NUL ends it). Returns 0 when it was sent, 1 when the
// device or the PTT failed (its message on `err`), 2 for a bad option, 130 when stopped.
int RunToneSend(const ToneSendOptions& options, std::string_view text, std::ostream& err);

// The same on a given device (tests pass a scripted one); `deviceIndex` is the device's
// own number.
int RunToneSendOn(PlaybackDevice& device, int deviceIndex, const ToneSendOptions& options,
                  std::string_view text, std::ostream& err);

// Prints "N: name (host API)" per output-capable sound card, the default first, or "No
// Sound Card Detected". Returns 0, or 1 when the sound system cannot start.
int ListOutputDevices(std::ostream& out);

// Finds an output device by index ("2") or by name: an exact name, else the only name
// containing `spec` (case-insensitive). -1 with one line in `error`.
int ResolveOutputDevice(PlaybackDevice& device, const std::string& spec, std::string& error);

}  // namespace kestrix::cli
