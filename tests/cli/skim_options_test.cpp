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
  EXPECT_EQ(o.receivers[0].iq, "band.wav");
  EXPECT_EQ(*o.receivers[0].centreKhz, 14040.5);
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
  EXPECT_TRUE(a.receivers[0].lsb);
  EXPECT_EQ(a.receivers[0].rigctld, "localhost:4532");
  EXPECT_EQ(*a.telnetPort, 7373);
  EXPECT_EQ(a.telnetWaitS, 30.0);

  SkimOptions s;
  ASSERT_TRUE(ParseSkimOptions(
      {"--soapy", "driver=rtlsdr", "--center-khz", "7040", "--rate", "240000", "--gain", "30"}, s,
      error))
      << error;
  EXPECT_TRUE(s.Live());
  EXPECT_EQ(s.receivers[0].rate, 240000.0);
  EXPECT_EQ(*s.receivers[0].gainDb, 30.0);
  SkimOptions l;
  EXPECT_TRUE(ParseSkimOptions({"--list-sdr"}, l, error));  // no input needed
}

// Several receivers: tuning goes with the input given last before it, and tuning before any
// input is every input's.
TEST(SkimOptionsTest, SeveralReceiversEachWithItsOwnTuning) {
  SkimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSkimOptions(
      {"--rate", "192000", "--gain", "20", "--soapy", "driver=a", "--center-khz", "7030", "--soapy",
       "driver=b", "--center-khz", "14040", "--gain", "30", "--call", "W9XG"},
      o, error))
      << error;
  ASSERT_EQ(o.receivers.size(), 2u);
  const struct {
    const char* args;
    double khz, rate, gain;
  } want[] = {{"driver=a", 7030, 192000, 20}, {"driver=b", 14040, 192000, 30}};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(o.receivers[i].soapy, want[i].args);
    EXPECT_EQ(*o.receivers[i].centreKhz, want[i].khz);
    EXPECT_EQ(o.receivers[i].rate, want[i].rate);
    EXPECT_EQ(*o.receivers[i].gainDb, want[i].gain);
  }
  SkimOptions a;
  ASSERT_TRUE(ParseSkimOptions({"--audio", "a.wav", "--dial-khz", "7030", "--audio", "b.wav",
                                "--dial-khz", "3530", "--sideband", "lsb"},
                               a, error))
      << error;
  ASSERT_EQ(a.receivers.size(), 2u);
  EXPECT_FALSE(a.receivers[0].lsb);
  EXPECT_TRUE(a.receivers[1].lsb);
  EXPECT_EQ(*a.receivers[1].dialKhz, 3530.0);
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
      {{"--iq", "-", "--rate", "48000", "--iq", "-"}, "only once"},
      {{"--soapy", "driver=a", "--center-khz", "7030", "--soapy", "driver=b"},
       "--soapy driver=b: --soapy needs --center-khz"},
      {{"--audio", "a.wav", "--dial-khz", "7030", "--audio", "b.wav", "--center-khz", "1"},
       "--audio b.wav: --center-khz is for I/Q"},
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
