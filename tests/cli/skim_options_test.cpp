#include "cli/skim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

TEST(SkimOptionsTest, InputsTuningAndSpotOptionsAreRead) {
  SkimOptions o;
  std::string error;
  ASSERT_TRUE(
      ParseSkimOptions({"--iq", "band.wav", "--center-khz", "14040.5", "--call", "w9xg",
                        "--cq-only", "--telnet", "--decodes", "d.txt", "--scp", "MASTER.SCP"},
                       o, error))
      << error;
  EXPECT_EQ(o.iq, "band.wav");
  EXPECT_EQ(*o.centreKhz, 14040.5);
  EXPECT_EQ(o.call, "W9XG");
  EXPECT_TRUE(o.cqOnly);
  EXPECT_EQ(*o.telnetPort, 7300);  // --telnet without a port
  EXPECT_EQ(o.listen, "127.0.0.1");
  EXPECT_EQ(o.decodes, "d.txt");
  EXPECT_FALSE(o.Audio());

  SkimOptions a;
  ASSERT_TRUE(ParseSkimOptions(
      {"--audio", "rx.wav", "--dial-khz", "7030", "--sideband", "LSB", "--rigctld", "localhost",
       "--telnet", "7373", "--listen", "0.0.0.0", "--telnet-wait", "30"},
      a, error))
      << error;
  EXPECT_TRUE(a.Audio());
  EXPECT_TRUE(a.lsb);
  EXPECT_EQ(a.rigctld, "localhost:4532");
  EXPECT_EQ(*a.telnetPort, 7373);
  EXPECT_EQ(a.telnetWaitS, 30.0);

  SkimOptions s;
  ASSERT_TRUE(ParseSkimOptions(
      {"--soapy", "driver=rtlsdr", "--center-khz", "7040", "--rate", "240000", "--gain", "30"}, s,
      error))
      << error;
  EXPECT_TRUE(s.Live());
  EXPECT_EQ(s.rate, 240000.0);
  EXPECT_EQ(*s.gainDb, 30.0);
  SkimOptions l;
  EXPECT_TRUE(ParseSkimOptions({"--list-sdr"}, l, error));  // no input needed
}

// Bad command lines: one line that names the problem.
TEST(SkimOptionsTest, BadCommandLinesSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "no input"},
      {{"--iq", "a.wav", "--audio", "b.wav"}, "only one of"},
      {{"--iq"}, "--iq needs a value"},
      {{"--iq", "a.wav", "--center-khz", "14,040"}, "'14,040' is not a number"},
      {{"--iq", "a.wav", "--dial-khz", "7030"}, "for a receiver's audio"},
      {{"--audio", "a.wav", "--center-khz", "7030"}, "takes --dial-khz"},
      {{"--soapy", "driver=rtlsdr"}, "--soapy needs --center-khz"},
      {{"--audio", "a.wav", "--sideband", "am"}, "neither usb nor lsb"},
      {{"--iq", "a.wav", "--call", "W9 XG"}, "not a call sign"},
      {{"--iq", "a.wav", "--telnet", "70000"}, "not a port"},
      {{"--iq", "a.wav", "--telnet-wait", "5"}, "--telnet-wait needs --telnet"},
      {{"--iq", "a.wav", "--rate", "10"}, "not a number in range"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
  };
  for (const Case& c : cases) {
    SkimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSkimOptions(c.args, o, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.says << " -> " << error;
  }
}

}  // namespace
}  // namespace kestrix::skim
