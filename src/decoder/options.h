// The operator's receive options as the decoder reads them, and the tone filter
// half-width that follows from the receive-speed choice. Plain values; the window's
// handlers and the headless tool set them through the same setters.
#pragma once

#include <cstdint>

namespace kestrix {

// Values are what the settings file stores.
enum class ThresholdMode : int32_t { kNormal = 0, kNoisy = 1, kManual = 2, kAuto = 3, kQuiet = 4 };
enum class ReceiveSpeed : int32_t { kAuto = 1, k10 = 2, k20 = 3, k30 = 4, k50Plus = 5 };
enum class SpaceTime : int32_t { kShort = 0, kMedium = 1, kLong = 2 };
enum class LetterCase : int32_t { kLower = 0, kUpper = 1 };

inline constexpr int32_t kOn3 = 3;  // several on/off options store 3 for on and 0 for off

struct ReceiveOptions {
  ThresholdMode Threshold = ThresholdMode::kNoisy;
  int32_t ThresholdBar2Position = 60;  // 0..250, manual threshold = 250000 - 1000 * position
  int32_t NoiseFilter = 0;             // 3 on, 0 off
  ReceiveSpeed Speed = ReceiveSpeed::k10;
  SpaceTime Spacing = SpaceTime::kMedium;
  int32_t WordSpaces = kOn3;  // 3 on, 0 off
  int32_t Prosigns = 1;
  int32_t NonEnglish = 0;
  LetterCase Case = LetterCase::kLower;
  int32_t TextOutput = kOn3;  // "Scrolling": 3 on, 0 off
  bool SquelchOn = false;
  bool LockWpmOn = false;
  bool BlankingOn = false;     // kept and stored; changes nothing in decoding
  bool FadeControlOn = false;  // kept and stored; changes nothing in decoding

  bool SpacesOn() const { return WordSpaces == kOn3; }
  bool NoiseFilterOn() const { return NoiseFilter == kOn3; }
  bool TextOutputOn() const { return TextOutput == kOn3; }
  int ManualThreshold() const { return 250000 - 1000 * ThresholdBar2Position; }
};

// Half-width of the receive bandpass in normalised frequency units, from the receive-speed
// choice and the decoder's current speed, idle state and averages. Recomputed per block.
float FilterHalfWidth(ReceiveSpeed speed, int speedWpm, bool idle, int avgDot, int avgDash);

// The Auto table's base half-width for a speed (0.003 below 5 wpm).
float FilterBaseWidth(int speedWpm);

}  // namespace kestrix
