// kestrix-send's tone part: the text rendered through the window's sound-card keyer
// (SoundKeyBuffer, the same batches, blocks and samples) into a WAV file, or played on a
// sound card. kestrix-send's main parses the flags into ToneSendOptions and calls these.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/playback_device.h"
#include "transmit/element_timing.h"

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
};

// --tone's value: a frequency in Hz above 0 and below half the sample rate. False with
// one line in `error` otherwise.
bool ParseToneHz(std::string_view text, float& hz, std::string& error);

// Checks the options (exit status 2 with a line on `err` when one is out of range), then
// sends `text` (bytes as send codes; a NUL ends it). Returns 0 when it was sent, 1 when the
// device failed (its message on `err`), 2 for a bad option.
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
