// The sound-card keyer on a scripted device and fake time: the tone step, the blocks and
// buffers of a run, the batches of a long text, stopping, the watchdog and every failing
// device call.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "fake_playback.h"
#include "platform/wav_playback.h"
#include "transmit/key_mask.h"
#include "transmit/tone_output.h"

namespace kestrix::transmit {
namespace {

using test::FakePlayback;
using Mode = FakePlayback::Mode;

struct ToneRig {
  explicit ToneRig(int wpm = 20, Mode mode = Mode::kTimed) {
    ComputeElementTiming(timing, wpm, TimingRatios{});
    device.mode = mode;
    device.headerA = &tone.Header(0);
    tone.SideToneEnabled = 1;
  }
  static int64_t Now(void* rig) { return static_cast<ToneRig*>(rig)->waiter.clock.NowMs(); }
  int64_t NowMs() const { return waiter.clock.NowMs(); }

  ElementTiming timing;
  FakePlayback device;
  test::PlayingClock waiter{device};
  DeadlineWatchdog watchdog{&ToneRig::Now, this};
  test::RecordingToneHost host;
  std::ostringstream log;
  ToneOutput tone{device, SendTable(), timing, waiter, watchdog, host, log};
};

// --- The tone step -----------------------------------------------------------------------

TEST(ToneSynth, SineFollowsTheFloatModelTruncatedTowardZero) {
  for (float hz : {600.0f, 750.0f, 1000.0f, 823.5f}) {
    const float omega = ToneOmega(hz);
    EXPECT_NEAR(omega, hz * 6.28318 / 44100.0, 1e-7) << hz;
    int positive = 0, negative = 0, crossings = 0;
    int16_t previous = 0;
    for (int n = 0; n < 44100; ++n) {
      const int16_t v = ToneSample(static_cast<float>(n), omega, ToneWaveform::kSine);
      // Independent model in double; over the first block the float arithmetic stays
      // within a count of it.
      if (n < kToneBlockSamples) {
        const double exact = 15000.0 * std::sin(static_cast<double>(n) * omega);
        ASSERT_LE(std::abs(v - std::trunc(exact)), 1.0) << hz << " Hz, n " << n;
      }
      ASSERT_LE(std::abs(static_cast<int>(v)), 15000);
      if (v > 0) ++positive;
      if (v < 0) ++negative;
      if (previous <= 0 && v > 0) ++crossings;
      previous = v;
    }
    EXPECT_NEAR(crossings, hz, 1.5) << hz;
    EXPECT_NEAR(positive, negative, 0.01 * 44100) << hz;
  }
  // Known small values: n = 0 is silent, n = 1 at 750 Hz is trunc(15000 sin 0.10685).
  EXPECT_EQ(ToneSample(0.0f, ToneOmega(750.0f), ToneWaveform::kSine), 0);
  EXPECT_EQ(ToneSample(1.0f, ToneOmega(750.0f), ToneWaveform::kSine), 1599);
  EXPECT_EQ(ToneSample(-1.0f, ToneOmega(750.0f), ToneWaveform::kSine), -1599);
}

TEST(ToneSynth, SquareIsExactlyFullScaleAndZeroCountsAsLow) {
  const float omega = ToneOmega(750.0f);
  EXPECT_EQ(ToneSample(0.0f, omega, ToneWaveform::kSquare), -15000);  // sin 0 is not > 0
  for (int n = 1; n < 2000; ++n) {
    const int16_t v = ToneSample(static_cast<float>(n), omega, ToneWaveform::kSquare);
    ASSERT_TRUE(v == 15000 || v == -15000) << n;
  }
}

TEST(ToneSynth, MaskGatesAndPhaseRunsAcrossCalls) {
  std::vector<uint8_t> mask(100, 1);
  for (size_t i = 50; i < 100; ++i) mask[i] = 0;
  std::vector<uint8_t> whole(200), parts(200);
  const float omega = ToneOmega(1000.0f);
  float phase = 0.0f;
  SynthesizeTone(mask.data(), 100, omega, ToneWaveform::kSine, phase, whole.data());
  EXPECT_EQ(phase, 100.0f);
  phase = 0.0f;
  SynthesizeTone(mask.data(), 30, omega, ToneWaveform::kSine, phase, parts.data());
  SynthesizeTone(mask.data() + 30, 70, omega, ToneWaveform::kSine, phase, parts.data() + 60);
  EXPECT_EQ(whole, parts);
  for (int n = 0; n < 100; ++n) {
    const auto v = static_cast<int16_t>(whole[2 * n] | (whole[2 * n + 1] << 8));
    EXPECT_EQ(v, n < 50 ? ToneSample(static_cast<float>(n), omega, ToneWaveform::kSine) : 0) << n;
  }
}

// --- One character -------------------------------------------------------------------------

// The letter E at 20 wpm: 54 ms dot = 2376 samples of tone, then 54 + 108 ms = 7128 of
// silence, in blocks of 4096, 4096 and 1312, for each waveform and side-tone switch.
TEST(SoundKeyChar, LetterEAtTwentyWpm) {
  struct Case {
    int32_t waveform;
    uint8_t sideTone;
  };
  for (const Case c : {Case{0, 1}, Case{1, 1}, Case{0, 0}, Case{1, 0}}) {
    SCOPED_TRACE("waveform " + std::to_string(c.waveform) + " side tone " +
                 std::to_string(c.sideTone));
    ToneRig rig(20, Mode::kInstant);
    rig.tone.ToneWaveform = c.waveform;
    rig.tone.SideToneEnabled = c.sideTone;
    ASSERT_TRUE(rig.tone.OpenToneOutput());
    rig.tone.SoundKeyChar('E', 1);
    EXPECT_EQ(rig.device.writes, (std::vector<uint32_t>{8192, 8192, 2624}));
    ASSERT_EQ(rig.device.samples.size(), 9504u);
    const float omega = ToneOmega(750.0f);
    const auto wave = c.waveform == 1 ? ToneWaveform::kSquare : ToneWaveform::kSine;
    for (int n = 0; n < 9504; ++n) {
      const int16_t want =
          n < 2376 && c.sideTone == 1 ? ToneSample(static_cast<float>(n), omega, wave) : 0;
      ASSERT_EQ(rig.device.samples[n], want) << n;
      if (c.waveform == 1 && c.sideTone == 1 && n < 2376) {
        ASSERT_EQ(std::abs(rig.device.samples[n]), 15000) << n;
      }
    }
    EXPECT_EQ(rig.tone.LastBlock(), 1);
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(rig.device.volume, kFullVolume);
  }
}

TEST(SoundKeyChar, StreamsThroughBothBuffersAndWaitsForThePlayer) {
  ToneRig rig(20, Mode::kTimed);
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  rig.device.calls.clear();
  rig.tone.SoundKeyChar('E', 1);
  const std::vector<std::string> want = {
      "Reset",       "Prepare A", "Write A 8192", "Prepare B",   "Write B 8192",
      "Unprepare A", "Prepare A", "Write A 2624", "Unprepare B", "Unprepare A"};
  EXPECT_EQ(rig.device.calls, want);
  // The call returns when the last buffer has played: 9504 samples at 44 per fake ms.
  EXPECT_GE(rig.NowMs(), 9504 * 2 / FakePlayback::kBytesPerMs);
  EXPECT_LE(rig.NowMs(), 9504 * 2 / FakePlayback::kBytesPerMs + 2);
  EXPECT_EQ(rig.tone.NextBuffer(), 1);
  for (int i : {0, 1}) EXPECT_TRUE(rig.tone.Header(i).IsDone());
}

TEST(SoundKeyChar, WithoutTheFirstBlockFlagTheFirstBlockWaitsForB) {
  ToneRig rig(20, Mode::kTimed);
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  rig.device.calls.clear();
  rig.tone.SoundKeyChar('T', 0);  // 162 + 54 + 108 ms: 14256 samples, four blocks
  ASSERT_GE(rig.device.calls.size(), 4u);
  EXPECT_EQ(rig.device.calls[3], "Unprepare B") << "B (never written, done) is given back first";
  EXPECT_EQ(rig.device.writes, (std::vector<uint32_t>{8192, 8192, 8192, 3936}));
}

TEST(SoundKeyChar, ExactMultipleOfTheBlockEndsWithoutAnEmptyBlock) {
  ToneRig rig(20, Mode::kTimed);
  ElementTimingValues t = rig.timing.Load();
  t.DotSamples = 4096;
  t.ElementSpaceSamples = 2048;
  t.CharSpaceSamples = 2048;  // E: exactly two blocks
  rig.timing.Store(t);
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  rig.tone.SoundKeyChar('E', 1);
  EXPECT_EQ(rig.device.writes, (std::vector<uint32_t>{8192, 8192}));
  EXPECT_EQ(rig.device.calls.back(), "Unprepare B") << "the last block was waited for";
}

TEST(SoundKeyChar, NothingIsStreamedForEmptyCodesOrTheSerialPort) {
  ToneRig rig;
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  rig.device.calls.clear();
  rig.tone.SoundKeyChar('#', 1);
  rig.tone.OutputDevice = 1;
  rig.tone.SoundKeyChar('E', 1);
  EXPECT_TRUE(rig.device.calls.empty());
  EXPECT_EQ(rig.NowMs(), 0);
  EXPECT_EQ(rig.tone.Mask().Count(), 9504) << "the mask is built either way";
}

// --- Whole buffers --------------------------------------------------------------------------

int64_t TextSamples(const std::string& text, const ElementTimingValues& t) {
  int64_t n = 0;
  for (char c : text) n += KeyMaskSamples(static_cast<uint8_t>(c), SendTable(), t);
  return n;
}

// Marks (runs of tone) in rendered samples.
int CountMarks(const std::vector<int16_t>& s) {
  int marks = 0;
  size_t silent = 2;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != 0) {
      if (silent > 1) ++marks;  // a sine has single zero samples inside a mark
      silent = 0;
    } else {
      ++silent;
    }
  }
  return marks;
}

TEST(SoundKeyBuffer, LongTextGoesOutInBatchesWithoutLosingACharacter) {
  ToneRig rig(20, Mode::kInstant);
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  std::string text;
  while (TextSamples(text, rig.timing.Load()) < 3 * kKeyMaskSamples) text += "PARIS 73 de K1ABC ";
  std::atomic<uint8_t> stop{0};
  int32_t position = 0;
  rig.tone.SoundKeyBuffer(text.c_str(), position, stop);
  EXPECT_EQ(position, static_cast<int32_t>(text.size()));
  EXPECT_GE(rig.tone.Batches(), 3);
  EXPECT_EQ(static_cast<int64_t>(rig.device.samples.size()), TextSamples(text, rig.timing.Load()));
  int elements = 0;
  for (char c : text) {
    for (char s : SendTable().Pattern(static_cast<uint8_t>(c))) elements += s == '.' || s == '-';
  }
  EXPECT_EQ(CountMarks(rig.device.samples), elements);
  // Every batch starts with a reset; each holds at most a full mask.
  int resets = 0;
  for (const std::string& call : rig.device.calls) resets += call == "Reset";
  EXPECT_EQ(resets, rig.tone.Batches());
}

TEST(SoundKeyBuffer, StopsBetweenBatchesAndAbortsAtTheNextBlock) {
  struct Case {
    const char* name;
    bool abort;  // AbortTone during the run, else StopRequested
  };
  for (const Case c : {Case{"stop", false}, Case{"abort", true}}) {
    SCOPED_TRACE(c.name);
    ToneRig rig(20, Mode::kInstant);
    ASSERT_TRUE(rig.tone.OpenToneOutput());
    std::string text;
    while (TextSamples(text, rig.timing.Load()) < 2 * kKeyMaskSamples) text += "CQ TEST ";
    std::atomic<uint8_t> stop{0};
    rig.device.onWrite = [&](int writes) {
      if (writes != 3) return;
      if (c.abort) {
        rig.tone.AbortTone();
      } else {
        stop = 1;
      }
    };
    int32_t position = 0;
    rig.tone.SoundKeyBuffer(text.c_str(), position, stop);
    EXPECT_GT(position, 0);
    EXPECT_LT(position, static_cast<int32_t>(text.size()));
    EXPECT_EQ(rig.tone.ToneAbort.load(), 1);
    if (c.abort) {
      EXPECT_EQ(rig.device.writes.size(), 3u) << "the run ends after the block in hand";
    } else {
      EXPECT_EQ(rig.tone.Batches(), 1);
      EXPECT_EQ(static_cast<int64_t>(rig.device.samples.size()),
                TextSamples(text.substr(0, position), rig.timing.Load()));
    }
  }
}

// --- The watchdog ----------------------------------------------------------------------------

TEST(ToneWatchdog, ADeviceThatStopsEndsTheRunAfter375Ms) {
  struct Case {
    const char* name;
    int wpm;
    int64_t stuckPosition;
    bool aborts;  // false: the last buffer's wait was cut, which ends the run without abort
  };
  for (const Case c : {Case{"never done", 20, -1, true}, Case{"position stuck", 20, 3000, true},
                       Case{"single block", 100, -1, false}}) {
    SCOPED_TRACE(c.name);
    ToneRig rig(c.wpm, Mode::kNeverDone);
    rig.device.stuckPosition = c.stuckPosition;
    ASSERT_TRUE(rig.tone.OpenToneOutput());
    rig.tone.SoundKeyChar('E', 1);
    EXPECT_GE(rig.NowMs(), kToneWatchdogMs);
    EXPECT_LE(rig.NowMs(), kToneWatchdogMs + 2);
    EXPECT_EQ(rig.tone.ToneAbort.load(), c.aborts ? 1 : 0);
    EXPECT_EQ(rig.device.calls.back(), "Reset") << "the abandoned buffer is taken back";
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(rig.tone.CutRuns(), 1);
  }
}

TEST(ToneWatchdog, ALongTextEndsAfterTheFirstCutWait) {
  ToneRig rig(20, Mode::kNeverDone);
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  std::atomic<uint8_t> stop{0};
  int32_t position = 0;
  rig.tone.SoundKeyBuffer("CQ CQ CQ DE K1ABC K1ABC K", position, stop);
  EXPECT_LE(rig.NowMs(), kToneWatchdogMs + 2);
  EXPECT_EQ(rig.tone.Batches(), 1);
}

// --- Failures ---------------------------------------------------------------------------------

TEST(ToneFailures, EveryFailingCallShowsItsMessageAndQuits) {
  struct Case {
    const char* call;
    int use;
    const char* text;
    int code;
  };
  const Case cases[] = {
      {"QueryFormat", 1, "Could not handle the output WAVE format", 26},
      {"Open", 1, "Error Opening Output wave device", 27},
      {"SetVolume", 1, "Error setting the output volume", 31},
      {"Reset", 1, "Error Resetting the output wave device", 35},
      {"Prepare", 1, "Error preparing the header_a", 29},
      {"Prepare", 2, "Error preparing the header_b", 29},
      {"Write", 1, "Error writing to the output device a", 30},
      {"Write", 2, "Error writing to the output device b", 30},
      {"Position", 1, "Error getting the byte position", 32},
      {"Unprepare", 1, "Error unpreparing the Header a", 36},
      {"Unprepare", 2, "Error unpreparing the Header b", 36},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.use));
    ToneRig rig(20, Mode::kTimed);
    rig.device.failOn[c.call] = c.use;
    if (rig.tone.OpenToneOutput()) rig.tone.SoundKeyChar('E', 1);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0], std::string("Wave Device Message: ") + c.text);
    EXPECT_EQ(rig.host.codes, std::vector<int>{c.code});
    EXPECT_NE(rig.log.str().find("fake failure of " + std::string(c.call)), std::string::npos)
        << "the library's reason is logged: " << rig.log.str();
    EXPECT_TRUE(rig.tone.Failed());
    // The program is quitting: nothing more goes to the device, no second message.
    const size_t calls = rig.device.calls.size();
    rig.tone.SoundKeyChar('E', 1);
    EXPECT_EQ(rig.device.calls.size(), calls);
    EXPECT_EQ(rig.host.messages.size(), 1u);
  }
}

TEST(ToneFailures, TheWatchdogResetCanFailToo) {
  ToneRig rig(20, Mode::kNeverDone);
  rig.device.failOn["Reset"] = 2;  // the first is the run's own
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  rig.tone.SoundKeyChar('E', 1);
  EXPECT_EQ(rig.host.codes, std::vector<int>{35});
}

TEST(ToneOutputOpen, OpensOnceAndStaysOpen) {
  ToneRig rig;
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  ASSERT_TRUE(rig.tone.OpenToneOutput());
  EXPECT_EQ(rig.device.calls, (std::vector<std::string>{"QueryFormat", "Open", "SetVolume"}));
  rig.tone.Close();
  EXPECT_EQ(rig.device.calls.back(), "Close");
  EXPECT_FALSE(rig.tone.IsOpen());
}

}  // namespace
}  // namespace kestrix::transmit
