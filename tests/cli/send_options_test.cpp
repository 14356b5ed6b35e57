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

TEST(SendOptions, ToneAndNetworkKeyingChooseTheirModes) {
  std::string error;
  SendOptions wav;
  ASSERT_TRUE(ParseSendOptions({"--wav", "out.wav", "--tone", "600", "--square", "CQ"}, wav, error))
      << error;
  EXPECT_EQ(wav.mode, SendMode::kTone);
  EXPECT_EQ(wav.wavPath, "out.wav");
  EXPECT_EQ(wav.toneHz, 600.0f);
  EXPECT_TRUE(wav.square);
  EXPECT_FALSE(wav.readStdin);
  SendOptions card;
  ASSERT_TRUE(ParseSendOptions({"--device", "pulse", "--silent"}, card, error)) << error;
  EXPECT_EQ(card.mode, SendMode::kTone);
  EXPECT_TRUE(card.readStdin) << "no text reads standard input";
  EXPECT_TRUE(card.silent);
  SendOptions net;
  ASSERT_TRUE(
      ParseSendOptions({"--cwdaemon", "--listen", "0.0.0.0:7000", "--serial", "COM 2"}, net, error))
      << error;
  EXPECT_EQ(net.mode, SendMode::kCwdaemon);
  EXPECT_EQ(net.listenAddress, "0.0.0.0");
  EXPECT_EQ(net.udpPort, 7000);
  EXPECT_FALSE(net.readStdin) << "the server takes its text from the network";
  SendOptions list;
  ASSERT_TRUE(ParseSendOptions({"--list-devices"}, list, error));
  EXPECT_EQ(list.mode, SendMode::kListDevices);
}

TEST(SendOptions, NetworkKeyingOnTheSoundCardKeepsTheToneOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string device;
    std::string wav;
    float hz;
    bool square;
    bool silent;
    int wpm;
  };
  const std::vector<Case> cases = {
      {{"--cwdaemon", "--device", "2"}, "2", "", 750.0f, false, false, 25},
      {{"--device", "USB Audio", "--tone", "600", "--square", "--cwdaemon", "--wpm", "30"},
       "USB Audio",
       "",
       600.0f,
       true,
       false,
       30},
      {{"--cwdaemon", "--wav=keyed.wav", "--silent", "--udp-port", "0"},
       "",
       "keyed.wav",
       750.0f,
       false,
       true,
       25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    SendOptions o;
    std::string error;
    ASSERT_TRUE(ParseSendOptions(c.args, o, error)) << error;
    EXPECT_EQ(o.mode, SendMode::kCwdaemon) << "not the one-shot tone send";
    EXPECT_EQ(o.line, SendLine::kNone);
    EXPECT_EQ(o.soundDevice, c.device);
    EXPECT_EQ(o.wavPath, c.wav);
    EXPECT_EQ(o.toneHz, c.hz);
    EXPECT_EQ(o.square, c.square);
    EXPECT_EQ(o.silent, c.silent);
    EXPECT_EQ(o.wpm, c.wpm);
    EXPECT_FALSE(o.readStdin) << "the server takes its text from the network";
  }
  // A line and the sound card at once: the window keys one or the other, and so does this.
  SendOptions both;
  std::string error;
  EXPECT_FALSE(
      ParseSendOptions({"--cwdaemon", "--serial", "/dev/ttyUSB0", "--device", "1"}, both, error));
  EXPECT_NE(error.find("without --serial or --parallel"), std::string::npos) << error;
}

TEST(SendOptions, RtsAsPttAndItsDelay) {
  SendOptions o;
  std::string error;
  ASSERT_TRUE(ParseSendOptions(
      {"--cwdaemon", "--serial", "/dev/ttyUSB0", "--rts-ptt", "--ptt-delay", "30"}, o, error))
      << error;
  EXPECT_TRUE(o.rtsPtt);
  EXPECT_EQ(o.pttDelayMs, 30);
  EXPECT_EQ(o.mode, SendMode::kCwdaemon);
}

TEST(SendOptions, RigctldKeysOrIsThePtt) {
  SendOptions keys;
  std::string error;
  ASSERT_TRUE(ParseSendOptions({"--rigctld", "127.0.0.1:4532", "--wpm", "30", "CQ"}, keys, error))
      << error;
  EXPECT_EQ(keys.rigctldHost, "127.0.0.1");
  EXPECT_EQ(keys.rigctldPort, "4532");
  EXPECT_EQ(keys.mode, SendMode::kKeyText);
  SendOptions network;
  ASSERT_TRUE(ParseSendOptions({"--cwdaemon", "--rigctld", "rig"}, network, error)) << error;
  EXPECT_EQ(network.mode, SendMode::kCwdaemon);
  EXPECT_EQ(network.rigctldPort, "4532");
  SendOptions tone;
  ASSERT_TRUE(ParseSendOptions({"--device", "1", "--ptt-rigctld", "[::1]:4533", "--ptt-delay", "40",
                                "--ptt-tail", "100", "CQ"},
                               tone, error))
      << error;
  EXPECT_EQ(tone.pttRigctldHost, "::1");
  EXPECT_EQ(tone.pttTailMs, 100);
  EXPECT_EQ(tone.mode, SendMode::kTone);
}

TEST(SendOptions, WinKeyerKeysTextAndNetworkKeying) {
  SendOptions o;
  std::string error;
  ASSERT_TRUE(ParseSendOptions(
      {"--winkeyer", "/dev/ttyUSB1", "--ptt-delay", "30", "--ptt-tail", "50", "--silent", "CQ"}, o,
      error))
      << error;
  EXPECT_EQ(o.winkeyer, "/dev/ttyUSB1");
  EXPECT_EQ(o.mode, SendMode::kKeyText);
  SendOptions network;
  ASSERT_TRUE(ParseSendOptions({"--cwdaemon", "--winkeyer", "/dev/pts/3"}, network, error))
      << error;
  EXPECT_EQ(network.mode, SendMode::kCwdaemon);
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
      {"--wav", "a.wav", "--device", "1", "hi"},
      {"--wav", "a.wav", "--serial", "/dev/ttyUSB0", "hi"},
      {"--wav", "a.wav", "--tune", "1"},
      {"--tune", "1", "CQ"},
      {"-", "--tune", "1"},
      {"--tone", "0"},
      {"--cwdaemon", "CQ"},
      {"--cwdaemon", "--tune", "2"},
      {"--cwdaemon", "--device", "1", "--serial", "/dev/ttyUSB0"},
      {"--cwdaemon", "--parallel", "/dev/parport0", "--wav", "a.wav"},
      {"--cwdaemon", "--wav", "a.wav", "--device", "1"},
      {"--cwdaemon", "--device", "1", "-"},
      {"--cwdaemon", "--device", "1", "--tone", "22050"},
      {"--cwdaemon", "--udp-port", "70000"},
      {"--rts-ptt", "CQ"},
      {"--rts-ptt", "--parallel", "/dev/parport0", "CQ"},
      {"--serial", "/dev/ttyUSB0", "--ptt-delay", "51", "CQ"},
      {"--serial", "/dev/ttyUSB0", "--ptt-delay", "-1", "CQ"},
      {"--rigctld", "host:0", "CQ"},
      {"--rigctld", "rig", "--serial", "/dev/ttyUSB0", "CQ"},
      {"--rigctld", "rig", "--device", "1", "CQ"},
      {"--rigctld", "rig", "--tune", "2"},
      {"--rigctld", "rig", "--ptt-rigctld", "rig", "CQ"},
      {"--serial", "/dev/ttyUSB0", "--rts-ptt", "--ptt-rigctld", "rig", "CQ"},
      {"--wav", "a.wav", "--ptt-rigctld", "rig", "CQ"},
      {"--device", "1", "--ptt-tail", "1001", "CQ"},
      {"--winkeyer", "/dev/ttyUSB1", "--serial", "/dev/ttyUSB0", "CQ"},
      {"--winkeyer", "/dev/ttyUSB1", "--rigctld", "rig", "CQ"},
      {"--winkeyer", "/dev/ttyUSB1", "--ptt-rigctld", "rig", "CQ"},
      {"--winkeyer", "/dev/ttyUSB1", "--tune", "3"},
      {"--winkeyer", "/dev/ttyUSB1", "--device", "1", "CQ"},
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
