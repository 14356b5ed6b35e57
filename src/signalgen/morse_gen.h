// A Morse signal generator: text to a keyed tone, for kestrix-morsegen, the tests and the
// benchmarks. Pure functions of their parameters and seed; any thread.
//
// Text is letters, digits and the usual punctuation; a space is a word gap. Characters
// between angle brackets are sent run together with no letter gap, which is how prosigns
// and the other joined patterns are written: <AR>, <SK>, <BT>, <KN>, <CQ> (the eight-element
// -.-.--.-), <AA> (.-.-, the a-umlaut pattern), <HH>... Timing follows the usual
// PARIS convention: a dot is 1200 / wpm milliseconds, a dash 3 dots, element gap 1,
// letter gap 3, word gap 7.
//
// A '|' in the text starts a new over: the overs alternate between the station the
// parameters describe and `other` (another level, speed and pitch, as a QSO recorded at
// one end sounds), with `other.gapS` of pause between them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::signalgen {

// The second station of a text split into overs at '|' (see above).
struct OtherStation {
  double levelDb = 0.0;       // its amplitude relative to the first station
  double wpm = 0.0;           // its speed (0 = the first station's)
  double toneOffsetHz = 0.0;  // its pitch relative to the first station's tone
  bool noiseFree = false;     // no noise during its overs: a sidetone with the receiver muted
  double gapS = 1.0;          // pause between overs; 0 = a word gap of the over before
};

struct MorseSignalParams {
  double wpm = 20.0;
  double toneHz = 700.0;
  double amplitude = 0.5;      // peak amplitude of the tone, full scale = 1.0
  double riseMs = 5.0;         // raised-cosine rise and fall time of each element
  double snrDb = 200.0;        // tone power over noise power in a 2500 Hz bandwidth;
                               // 200 or more means no noise at all
  double jitter = 0.0;         // hand-key timing: standard deviation of each element and
                               // gap length as a fraction of its nominal length
  double dashRatio = 3.0;      // dash length in dots (hand senders often use 3.5 or more)
  double farnsworthWpm = 0.0;  // Farnsworth spacing: letters at `wpm`, the gaps between
                               // letters and words stretched (3 : 7) for this overall speed
                               // (0 or >= wpm = none)
  double fadeDepthDb = 0.0;    // slow fading: peak-to-trough depth in dB (0 = none)
  double fadePeriodS = 4.0;    // period of the fading (of the first station only when the
                               // text has overs)
  double driftHzPerMin = 0.0;  // the tone slides linearly by this much per minute
  double filterHz = 0.0;       // a receiver's narrow CW filter: the whole mix (tone, noise,
                               // interferer) passes a bandpass this wide around the start
                               // tone (0 = no filter, the noise stays white)
  double interfererHz = 0.0;   // a second keyed signal (0 = none)
  double interfererDb = -6.0;  // its level relative to the wanted signal
  double interfererWpm = 25.0;
  std::string interfererText = "TEST DE XX1XX";
  double leadInS = 1.0;  // silence (or noise) before the first element
  double tailS = 1.0;    // after the last element
  int sampleRate = 44100;
  uint32_t seed = 1;     // fixed seeds give identical signals on every run
  OtherStation other{};  // the second station of a text with overs
};

// The Morse pattern of one character ('.' and '-'), empty for characters it doesn't know.
std::string MorsePattern(char c);

// Mono samples scaled to 16 bits.
std::vector<int16_t> GenerateMorse(const std::string& text, const MorseSignalParams& params);

// Writes mono or interleaved 16-bit PCM as a WAV file. Returns false on failure.
bool WriteWav16(const std::string& path, const std::vector<int16_t>& samples, int sampleRate,
                int channels = 1);

}  // namespace kestrix::signalgen
