#include "cli/send_options.h"

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

TEST(SendOptions, GoodCommandLines) {
  SendOptions o;
  std::string error;
  ASSERT_TRUE(ParseSendOptions({"--serial", "/dev/ttyUSB0", "--wpm=40", "--ratios",
                                "100,150,100,50", "--invert", "CQ", "TEST"},
                               o, error))
      << error;
  EXPECT_EQ(o.line, SendLine::kSerial);
  EXPECT_EQ(o.device, "/dev/ttyUSB0");
  EXPECT_EQ(o.wpm, 40);
  EXPECT_EQ(o.ratios.DashRatio, 150.0f);
  EXPECT_EQ(o.ratios.WordRatio, 50.0f);
  EXPECT_TRUE(o.invert);
  EXPECT_EQ(o.text, (std::vector<std::string>{"CQ", "TEST"}));
  EXPECT_FALSE(o.readStdin);

  SendOptions in;
  ASSERT_TRUE(ParseSendOptions({"--parallel", "/dev/parport0"}, in, error));
  EXPECT_TRUE(in.readStdin) << "no text reads standard input";
  SendOptions dash;
  ASSERT_TRUE(ParseSendOptions({"-"}, dash, error));
  EXPECT_TRUE(dash.readStdin);
  SendOptions tune;
  ASSERT_TRUE(ParseSendOptions({"--tune", "2.5"}, tune, error));
  EXPECT_EQ(tune.mode, SendMode::kTune);
  EXPECT_DOUBLE_EQ(tune.tuneSeconds, 2.5);
  SendOptions literal;
  ASSERT_TRUE(ParseSendOptions({"--", "-5", "--wpm"}, literal, error));
  EXPECT_EQ(literal.text, (std::vector<std::string>{"-5", "--wpm"}));
}

TEST(SendOptions, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--wpm", "4"},
      {"--wpm", "101"},
      {"--wpm", "2x"},
      {"--wpm"},
      {"--ratios", "100,100"},
      {"--ratios", "100,100,100,100,100"},
      {"--ratios", "49,100,100,100"},
      {"--ratios", "100,201,100,100"},
      {"--serial", "a", "--parallel", "b"},
      {"--tune", "0"},
      {"--tune", "-1"},
      {"--bogus"},
      {"--invert=yes"},
      {"-", "TEXT"},
  };
  for (const auto& args : bad) {
    SendOptions o;
    std::string error;
    EXPECT_FALSE(ParseSendOptions(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace kestrix::cli
