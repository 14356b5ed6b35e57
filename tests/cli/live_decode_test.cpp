// kestrix-decode's live mode: the receive loop on the recorded-stream device must decode a
// recording to exactly the text the file mode gives.
#include "cli/live_decode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "../receive/loop_fakes.h"
#include "cli/decode_session.h"
#include "cli/soft_decode.h"
#include "platform/file_capture.h"
#include "signalgen/morse_gen.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class LiveDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrix_live_decode_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

DecodeOptions Parse(std::vector<std::string> args) {
  DecodeOptions o;
  std::string error;
  EXPECT_TRUE(ParseDecodeOptions(args, o, error)) << error;
  return o;
}

TEST_F(LiveDecodeTest, RecordingThroughTheLoopDecodesAsTheFileModeDoes) {
  const struct {
    std::string text;
    double wpm, snr, jitter;
    bool stereo;  // the wanted signal on the right, a different sender on the left
    std::vector<std::string> extra;
    std::string expect;  // part of the decoded text, to see that something decodes at all
  } cases[] = {
      {"CQ CQ DE K1ABC K1ABC K", 20, 200, 0.0, false, {}, "k1abc k1abc"},
      {"TEST 599 5NN TU 73",
       25,
       20,
       0.03,
       false,
       {"--noise-filter", "on", "--case", "upper"},
       "5NN TU"},
      {"PARIS PARIS", 15, 15, 0.1, true, {"--channel", "right", "--flush-seconds", "0.5"}, "paris"},
  };
  uint32_t seed = 7;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    signalgen::MorseSignalParams p{
        .wpm = c.wpm, .amplitude = 0.3, .snrDb = c.snr, .jitter = c.jitter, .seed = seed++};
    std::vector<int16_t> samples = signalgen::GenerateMorse(c.text, p);
    if (c.stereo) {
      const std::vector<int16_t> wanted = samples;
      p.toneHz = 1100;
      const std::vector<int16_t> other = signalgen::GenerateMorse("EEEE TTTT", p);
      samples.clear();
      for (size_t i = 0; i < wanted.size(); ++i) {
        samples.insert(samples.end(), {i < other.size() ? other[i] : int16_t{0}, wanted[i]});
      }
    }
    const std::string path = (dir_ / "case.wav").string();
    ASSERT_TRUE(signalgen::WriteWav16(path, samples, 44100, c.stereo ? 2 : 1));

    std::vector<std::string> fileArgs = {"--tone", "700"};
    fileArgs.insert(fileArgs.end(), c.extra.begin(), c.extra.end());
    std::vector<std::string> liveArgs = fileArgs;
    fileArgs.push_back(path);
    liveArgs.insert(liveArgs.end(), {"--input-file", path, "--unpaced"});
    std::ostringstream fileOut, liveOut, log;
    std::string error;
    ASSERT_EQ(RunDecode(Parse(fileArgs), fileOut, error), kExitOk) << error;
    ASSERT_EQ(RunLiveDecode(Parse(liveArgs), liveOut, log, nullptr, error), kExitOk) << error;
    EXPECT_EQ(liveOut.str(), fileOut.str());
    EXPECT_EQ(log.str(), "");
    EXPECT_NE(fileOut.str().find(c.expect), std::string::npos) << fileOut.str();
  }
}

TEST_F(LiveDecodeTest, SoftEngineReadsTheLoopsBlocks) {
  // A weak signal, tuned by hand and found by itself (after the tuning blocks are held).
  const struct {
    std::vector<std::string> tone;
    double snr;
  } cases[] = {{{"--tone", "700"}, 200}, {{}, 5}};
  const std::string text = "CQ CQ DE K1ABC K1ABC K";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.snr);
    const signalgen::MorseSignalParams p{.wpm = 20, .amplitude = 0.3, .snrDb = c.snr, .seed = 11};
    const std::string path = (dir_ / "soft.wav").string();
    ASSERT_TRUE(signalgen::WriteWav16(path, signalgen::GenerateMorse(text, p), 44100));
    std::vector<std::string> fileArgs = {"--engine", "soft"};
    fileArgs.insert(fileArgs.end(), c.tone.begin(), c.tone.end());
    std::vector<std::string> liveArgs = fileArgs;
    fileArgs.push_back(path);
    liveArgs.insert(liveArgs.end(), {"--input-file", path, "--unpaced"});
    std::ostringstream fileOut, liveOut, log;
    std::string error;
    ASSERT_EQ(RunSoftDecode(Parse(fileArgs), fileOut, error), kExitOk) << error;
    ASSERT_EQ(RunLiveDecode(Parse(liveArgs), liveOut, log, nullptr, error), kExitOk) << error;
    EXPECT_NE(liveOut.str().find("k1abc k1abc"), std::string::npos) << liveOut.str();
    EXPECT_EQ(liveOut.str(), fileOut.str());
    EXPECT_EQ(log.str(), "");
  }
}

TEST_F(LiveDecodeTest, StopRequestEndsCleanlyWithANewline) {
  const std::string path = (dir_ / "long.wav").string();
  ASSERT_TRUE(signalgen::WriteWav16(path, signalgen::GenerateMorse("EEEEEEEEEE", {}), 44100));
  std::atomic<int> stop{1};  // as if Ctrl-C came at once
  std::ostringstream out, log;
  std::string error;
  EXPECT_EQ(RunLiveDecode(Parse({"--input-file", path}), out, log, &stop, error), kExitOk);
  ASSERT_FALSE(out.str().empty());
  EXPECT_EQ(out.str().back(), '\n');
}

TEST_F(LiveDecodeTest, DeviceTroubleEndsWithOneClearLine) {
  std::ostringstream out, log;
  std::string error;
  // The recording vanished between the check and the open.
  FileCapture gone((dir_ / "gone.wav").string(), {false, false});
  EXPECT_EQ(RunLiveDecodeOn(gone, Parse({"--input-file", "x.wav"}), out, log, nullptr, error),
            kExitInputError);
  EXPECT_EQ(error, "");  // the message is on the log, once
  const std::string logged = log.str();
  EXPECT_EQ(logged.rfind("kestrix-decode: Error Opening Input wave device (", 0), 0u) << logged;
  EXPECT_NE(logged.find("gone.wav"), std::string::npos);
  EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1);

  test::ScriptedDevice none;
  none.devices = 0;
  EXPECT_EQ(RunLiveDecodeOn(none, Parse({"--device", "0"}), out, log, nullptr, error),
            kExitInputError);
  EXPECT_EQ(error, "No Sound Card Detected");
}

TEST(ResolveDevice, FindsCardsByIndexOrName) {
  test::ScriptedDevice cards;
  cards.devices = 4;
  cards.names = {"default", "HDA Intel PCH: ALC892 Analog (hw:0,0)", "USB Audio CODEC (hw:1,0)",
                 "pulse"};
  const struct {
    std::string query;
    int index;
    std::string error;
  } cases[] = {
      {"0", 0, ""},
      {"3", 3, ""},
      {"PULSE", 3, ""},
      {"usb", 2, ""},
      {"4", -1, "no sound card 4 (there are 4; see --list-devices)"},
      {"hw:", -1,
       "'hw:' matches several sound cards: 1 'HDA Intel PCH: ALC892 Analog (hw:0,0)' "
       "2 'USB Audio CODEC (hw:1,0)'; give the index"},
      {"jack", -1, "no sound card named 'jack' (see --list-devices)"},
      {"99999999999", -1, "no sound card 99999999999 (there are 4; see --list-devices)"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ResolveDevice(cards, c.query, error), c.index) << c.query;
    EXPECT_EQ(error, c.error);
  }
}

TEST(LiveOptions, LiveModesAreExclusiveAndComplete) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // "" = accepted
  } cases[] = {
      {{"--device", "1"}, ""},
      {{"--device", "pulse", "--seconds", "5"}, ""},
      {{"--input-file", "a.wav", "--unpaced"}, ""},
      {{"--engine", "soft", "--device", "1", "--partner", "--tone", "600"}, ""},
      {{"--engine", "soft", "--device", "1", "--afc", "wide"},
       "--afc works with --engine classic only"},
      {{"--list-devices"}, ""},
      {{"--device", "1", "--input-file", "a.wav"}, "--device and --input-file exclude each other"},
      {{"--device", "1", "a.wav"}, "'a.wav' given as well as --device"},
      {{"--seconds", "5", "a.wav"}, "--seconds needs --device or --input-file"},
      {{"--device", "1", "--unpaced"}, "--unpaced needs --input-file"},
      {{"--device", "1", "--seconds", "0"},
       "bad value '0' for --seconds (expected a number of seconds > 0)"},
      {{"--device", "1", "--trace", "t.csv"}, "--trace works with recordings given as FILE only"},
      {{}, "no input file given (see --help)"},
  };
  for (const auto& c : cases) {
    DecodeOptions o;
    std::string error;
    const bool ok = ParseDecodeOptions(c.args, o, error);
    EXPECT_EQ(ok, c.error.empty()) << (c.args.empty() ? "" : c.args[0]) << ": " << error;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace kestrix
