#include "cli/decode_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/decode_session.h"

namespace kestrix {
namespace {

bool Parse(std::vector<std::string> args, DecodeOptions& out, std::string& error) {
  return ParseDecodeOptions(args, out, error);
}

TEST(DecodeOptions, ReadsEveryReceiveControl) {
  DecodeOptions o;
  std::string error;
  ASSERT_TRUE(
      Parse({"--tone", "712.5",          "--afc=wide", "--speed",        "50",  "--threshold",
             "quiet",  "--manual-level", "10",         "--noise-filter", "on",  "--space-time",
             "long",   "--spaces",       "off",        "--prosigns",     "off", "--non-english",
             "on",     "--case",         "upper",      "--gain",         "20",  "--disp-gain",
             "1",      "--channel",      "right",      "--bar",          "423", "rec.wav"},
            o, error))
      << error;
  EXPECT_EQ(o.input, "rec.wav");
  EXPECT_DOUBLE_EQ(*o.toneHz, 712.5);
  EXPECT_EQ(*o.afc, AfcMode::kWide);
  EXPECT_EQ(*o.speed, ReceiveSpeed::k50Plus);
  EXPECT_EQ(*o.threshold, ThresholdMode::kQuiet);
  EXPECT_EQ(*o.manualLevel, 10);
  EXPECT_TRUE(*o.noiseFilter);
  EXPECT_EQ(*o.spaceTime, SpaceTime::kLong);
  EXPECT_FALSE(*o.spaces);
  EXPECT_FALSE(*o.prosigns);
  EXPECT_TRUE(*o.nonEnglish);
  EXPECT_EQ(*o.letterCase, LetterCase::kUpper);
  EXPECT_EQ(*o.gain, 20);
  EXPECT_EQ(*o.dispGain, 1);
  EXPECT_EQ(*o.channel, ChannelMode::kRight);
  EXPECT_EQ(*o.bar, 423);
}

TEST(DecodeOptions, RejectsBadInputWithOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"a.wav", "b.wav"},
      {"--speed", "25", "a.wav"},
      {"--bar", "0", "a.wav"},
      {"--bar", "12x", "a.wav"},
      {"--tone", "-5", "a.wav"},
      {"--gain", "21", "a.wav"},
      {"--spaces", "yes", "a.wav"},
      {"--frobnicate", "1", "a.wav"},
      {"a.wav", "--tone"},
  };
  for (const auto& args : bad) {
    DecodeOptions o;
    std::string error;
    EXPECT_FALSE(Parse(args, o, error)) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(DecodeOptions, ToneClickPositionIsTheNearestBin) {
  EXPECT_EQ(ToneClickPosition(0.0), 1);
  EXPECT_EQ(ToneClickPosition(700.0), 131);
  EXPECT_EQ(ToneClickPosition(2271.0), 423);
}

TEST(RunDecode, UnreadableFilesFailCleanly) {
  DecodeOptions o;
  o.input = "/nonexistent/recording.wav";
  std::ostringstream out;
  std::string error;
  EXPECT_EQ(RunDecode(o, out, error), kExitInputError);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(out.str().empty());
}

TEST(DecodeSession, OptionsApplyBeforeTheTextModeSetup) {
  // Every option combination starts from the same decoder state: the Text-mode setup's
  // CLEAR and the learning restart run after the options.
  DecodeOptions a;
  DecodeOptions b;
  b.threshold = ThresholdMode::kNormal;
  b.noiseFilter = true;
  DecodeSession sa(a, nullptr);
  DecodeSession sb(b, nullptr);
  EXPECT_EQ(sa.Rx().Timing.SpeedWpm, sb.Rx().Timing.SpeedWpm);
  EXPECT_EQ(sa.Rx().Timing.AvgDot, 0);
  EXPECT_EQ(sb.Rx().Timing.AvgDash, 0);
  EXPECT_TRUE(sb.Rx().Timing.Learning);
  EXPECT_EQ(sb.Rx().Sq.SquelchRatio, 1);
  EXPECT_DOUBLE_EQ(sb.Rx().Detector.Threshold, 190000.0) << "START's manual value";
}

}  // namespace
}  // namespace kestrix
