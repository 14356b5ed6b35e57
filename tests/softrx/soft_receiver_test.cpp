// The window's soft reading off the receive loop's thread: blocks handed over as the loop
// hands them are read on the worker, the tuning follows the operator, CLEAR drops what was
// not shown yet; and the window's own settings file that keeps the choice of decoder.
#include "softrx/soft_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "receive/capture_format.h"
#include "signalgen/morse_gen.h"
#include "softrx/decoder_setting.h"

namespace kestrix::softrx {
namespace {

// A generated recording as the receive loop's mono 16-bit capture blocks.
std::vector<std::vector<uint8_t>> Blocks(const std::string& text, double toneHz, double snrDb) {
  signalgen::MorseSignalParams p;
  p.toneHz = toneHz;
  p.snrDb = snrDb;
  p.amplitude = 0.05;
  const std::vector<int16_t> s = signalgen::GenerateMorse(text, p);
  std::vector<std::vector<uint8_t>> blocks;
  const auto frames = static_cast<size_t>(kBlockFrames);
  for (size_t at = 0; at < s.size(); at += frames) {
    std::vector<uint8_t> b(2 * frames, 0);  // the last one padded with silence
    for (size_t i = 0; i < frames && at + i < s.size(); ++i) {
      const auto v = static_cast<uint16_t>(s[at + i]);
      b[2 * i] = static_cast<uint8_t>(v & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    blocks.push_back(std::move(b));
  }
  for (int i = 0; i < 10; ++i) blocks.emplace_back(2 * frames, 0);  // the lag flushed
  return blocks;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(SoftReceiver, ReadsTheTunedStationOnItsWorkerAndFollowsANewTune) {
  const CaptureSettings capture;
  SoftReceiver rx({});
  rx.SetToneHz(1000);  // a neighbour's frequency first, as after a click on another trace
  rx.Start();
  const auto blocks = Blocks("CQ CQ DE K1ABC K1ABC PSE K", 700, 10);
  SoftReading r;
  std::string text;
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i == 2) rx.SetToneHz(700);
    rx.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()), capture);
    // One block in flight at a time, so none is dropped.
    for (int wait = 0; wait < 5000; ++wait) {
      rx.Take(r);
      text += r.text;
      if (r.blocks == i + 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  rx.Stop();
  rx.Take(r);
  text += r.text;
  EXPECT_EQ(r.dropped, 0u);
  EXPECT_DOUBLE_EQ(r.toneHz, 700);
  EXPECT_NEAR(r.carrierHz, 700, 2);
  EXPECT_NE(Lower(text).find("cq de k1abc k1abc pse k"), std::string::npos) << text;
  EXPECT_NEAR(r.state.wpm, 20, 2);
}

TEST(SoftReceiver, ClearDropsTheTextNotYetTakenAndStartsTheDecoderAfresh) {
  const CaptureSettings capture;
  SoftReceiver rx({});
  rx.SetToneHz(700);
  const auto blocks = Blocks("PARIS PARIS PARIS PARIS PARIS", 700, 20);
  const size_t half = blocks.size() / 2;
  for (size_t i = 0; i < half; ++i) {
    rx.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()), capture);
    rx.DrainForTest();
  }
  rx.Clear();
  SoftReading r;
  rx.Take(r);
  EXPECT_EQ(r.text, "");
  for (size_t i = half; i < blocks.size(); ++i) {
    rx.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()), capture);
    rx.DrainForTest();
  }
  rx.Take(r);
  // Only what was keyed after CLEAR: fewer than the five words, and nothing from before.
  EXPECT_NE(r.text.find("paris"), std::string::npos) << r.text;
  EXPECT_LT(r.text.size(), std::string("paris paris paris paris paris").size());
}

TEST(SoftReceiver, AStopWithBlocksQueuedJoinsAndDropsThem) {
  const CaptureSettings capture;
  SoftReceiver rx({});
  rx.Start();
  const std::vector<uint8_t> silence(2 * kBlockFrames, 0);
  for (int i = 0; i < 50; ++i)
    rx.OnCaptureBlock(silence.data(), static_cast<uint32_t>(silence.size()), capture);
  rx.Stop();
  rx.Stop();  // twice is fine
  EXPECT_FALSE(rx.Running());
}

struct SettingCase {
  const char* name;
  const char* file;  // null: no file
  DecoderKind expected;
  bool ok;
};

TEST(DecoderSetting, ReadsTheChoiceAndSavesItKeepingTheOtherLines) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kestrix-decoder-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / kWindowSettingsFileName).string();
  const SettingCase cases[] = {
      {"no file: classic", nullptr, DecoderKind::kClassic, true},
      {"soft", "# Kestrix window\ndecoder=soft\n", DecoderKind::kSoft, true},
      {"any case, spaces, CRLF", "  decoder=SOFT \r\n", DecoderKind::kSoft, true},
      {"other keys only", "colour=blue\n", DecoderKind::kClassic, true},
      {"bad value", "decoder=neural\n", DecoderKind::kClassic, false},
      {"short file", "deco", DecoderKind::kClassic, true},
  };
  for (const SettingCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(path);
    if (c.file) std::ofstream(path, std::ios::binary) << c.file;
    DecoderKind kind = DecoderKind::kSoft;
    std::string error;
    EXPECT_EQ(LoadDecoderKind(path, kind, error), c.ok) << error;
    EXPECT_EQ(kind, c.expected);
    EXPECT_EQ(error.empty(), c.ok) << error;
  }

  // Saving keeps what this program does not know, and a second save replaces the line.
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << "# mine\ncolour=blue\ndecoder=classic\n";
  std::string error;
  ASSERT_TRUE(SaveDecoderKind(path, DecoderKind::kSoft, error)) << error;
  ASSERT_TRUE(SaveDecoderKind(path, DecoderKind::kSoft, error)) << error;
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  EXPECT_EQ(text.str(), "# mine\ncolour=blue\ndecoder=soft\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));

  // A folder that cannot be written: a message, and the old file is still there.
  EXPECT_FALSE(SaveDecoderKind((dir / "missing" / "x.cfg").string(), DecoderKind::kSoft, error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrix::softrx
