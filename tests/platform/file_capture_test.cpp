// The recording that stands in for a sound card.
#include "platform/file_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "morse_gen.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class FileCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrix_file_capture_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A recording whose frame i holds `left(i)` (and `right(i)` when stereo).
  std::string Write(const std::string& name, int frames, int channels, int16_t (*left)(int),
                    int16_t (*right)(int) = nullptr) {
    std::vector<int16_t> s;
    for (int i = 0; i < frames; ++i) {
      s.push_back(left(i));
      if (channels == 2) s.push_back(right(i));
    }
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(testing::WriteWav16(path, s, 44100, channels));
    return path;
  }

  fs::path dir_;
};

int16_t Ramp(int i) {
  return static_cast<int16_t>(i % 20000 + 1);
}
int16_t Even(int i) {
  return static_cast<int16_t>(2 * (i % 1000));
}
int16_t Hundred(int) {
  return 100;
}

CaptureFormat Format(int channels) {
  CaptureSettings s;
  s.SetChannel(channels == 1 ? ChannelMode::kMic : ChannelMode::kLeft);
  return s.Format;
}

// Queues one buffer of `frames` frames at a time and returns what each held, the way the
// receive loop would take them.
class Taker {
 public:
  Taker(CaptureDevice& device, int channels, int frames)
      : device_(device), bytes_(static_cast<uint32_t>(frames * channels * 2)) {}

  std::vector<int16_t> Take() {
    std::vector<int16_t> mem(bytes_ / 2, -7);
    CaptureHeader h;
    h.Reset(reinterpret_cast<uint8_t*>(mem.data()), bytes_);
    EXPECT_EQ(device_.Prepare(h), kCaptureOk);
    EXPECT_EQ(device_.Add(h), kCaptureOk);
    EXPECT_EQ(device_.Start(), kCaptureOk);
    // Only a guard against a hang; a paced second of sound takes a second.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!h.IsDone() && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(h.IsDone());
    EXPECT_EQ(device_.Unprepare(h), kCaptureOk);
    return mem;
  }

 private:
  CaptureDevice& device_;
  uint32_t bytes_;
};

TEST_F(FileCaptureTest, UnpacedHandsOverTheRecordingBufferByBufferThenSilence) {
  const std::string path = Write("ramp.wav", 20000, 1, Ramp);
  FileCapture dev(path, {false, false});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  Taker taker(dev, 1, 8192);
  std::vector<int16_t> all;
  for (int b = 0; b < 4; ++b) {
    const std::vector<int16_t> buf = taker.Take();
    all.insert(all.end(), buf.begin(), buf.end());
  }
  for (int i = 0; i < 4 * 8192; ++i) {
    ASSERT_EQ(all[static_cast<size_t>(i)], i < 20000 ? Ramp(i) : 0) << "frame " << i;
  }
  EXPECT_EQ(dev.RecordingFrames(), 20000);
  EXPECT_EQ(dev.EndBuffer(), 3);  // frame 19999 is in the third buffer
  EXPECT_EQ(dev.DroppedFrames(), 0);
  EXPECT_EQ(dev.Close(), kCaptureOk);
}

TEST_F(FileCaptureTest, EndBufferCountsAnEndExactlyOnABufferBoundary) {
  const std::string path = Write("two.wav", 2 * 8192, 1, Ramp);
  FileCapture dev(path, {false, false});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  Taker taker(dev, 1, 8192);
  for (int b = 0; b < 3; ++b) taker.Take();
  EXPECT_EQ(dev.EndBuffer(), 2);
}

TEST_F(FileCaptureTest, LoopingStartsTheRecordingAgain) {
  const std::string path = Write("short.wav", 3000, 1, Ramp);
  FileCapture dev(path, {false, true});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  Taker taker(dev, 1, 8192);
  const std::vector<int16_t> a = taker.Take();
  const std::vector<int16_t> b = taker.Take();
  for (int i = 0; i < 8192; ++i) {
    ASSERT_EQ(a[static_cast<size_t>(i)], Ramp(i % 3000)) << i;
    ASSERT_EQ(b[static_cast<size_t>(i)], Ramp((8192 + i) % 3000)) << i;
  }
  EXPECT_EQ(dev.EndBuffer(), -1);
}

TEST_F(FileCaptureTest, ChannelLayoutFollowsTheCaptureFormat) {
  struct Case {
    int fileChannels;
    int captureChannels;
    int16_t (*left)(int);
    int16_t (*right)(int);
    // expected interleaved values of frame i
    int16_t (*wantLeft)(int);
    int16_t (*wantRight)(int);
  };
  const Case cases[] = {
      // stereo recording, mono capture: the mean of both channels
      {2, 1, Even, Hundred, [](int i) { return static_cast<int16_t>(i % 1000 + 50); }, nullptr},
      // stereo recording, stereo capture: as recorded
      {2, 2, Even, Hundred, Even, Hundred},
      // mono recording, stereo capture: on both channels
      {1, 2, Ramp, nullptr, Ramp, Ramp},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string path =
        Write("layout" + std::to_string(n++) + ".wav", 9000, c.fileChannels, c.left, c.right);
    FileCapture dev(path, {false, false});
    ASSERT_EQ(dev.Open(0, Format(c.captureChannels)), kCaptureOk);
    const std::vector<int16_t> buf = Taker(dev, c.captureChannels, 8192).Take();
    for (int i = 0; i < 8192; ++i) {
      if (c.captureChannels == 1) {
        ASSERT_EQ(buf[static_cast<size_t>(i)], c.wantLeft(i)) << i;
      } else {
        ASSERT_EQ(buf[static_cast<size_t>(2 * i)], c.wantLeft(i)) << i;
        ASSERT_EQ(buf[static_cast<size_t>(2 * i + 1)], c.wantRight(i)) << i;
      }
    }
  }
}

TEST_F(FileCaptureTest, PacedLosesSoundWhileNoBufferIsQueuedUnpacedDoesNot) {
  const std::string path = Write("ramp.wav", 44100, 1, Ramp);
  for (bool paced : {true, false}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    FileCapture dev(path, {paced, false});
    ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
    ASSERT_EQ(dev.Start(), kCaptureOk);
    // Nothing queued for a while: a card records on regardless.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (paced && dev.DroppedFrames() == 0 && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!paced) std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const std::vector<int16_t> buf = Taker(dev, 1, 2048).Take();
    if (paced) {
      EXPECT_GT(dev.DroppedFrames(), 0);
      EXPECT_NE(buf[0], Ramp(0));
      // Later sound, without gaps inside the buffer.
      const int from = buf[0] - 1;
      for (int i = 0; i < 2048; ++i) ASSERT_EQ(buf[static_cast<size_t>(i)], Ramp(from + i)) << i;
    } else {
      EXPECT_EQ(dev.DroppedFrames(), 0);
      EXPECT_EQ(buf[0], Ramp(0));
    }
    uint32_t position = 0;
    ASSERT_EQ(dev.Position(position), kCaptureOk);
    EXPECT_EQ(position, 2048u * 2);  // lost sound is not counted
  }
}

TEST_F(FileCaptureTest, ResetReturnsTheQueuedBufferAndRewindsThePosition) {
  const std::string path = Write("ramp.wav", 44100, 1, Ramp);
  FileCapture dev(path, {true, false});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  std::vector<int16_t> mem(8192);
  CaptureHeader h;
  h.Reset(reinterpret_cast<uint8_t*>(mem.data()), 16384);
  ASSERT_EQ(dev.Prepare(h), kCaptureOk);
  ASSERT_EQ(dev.Add(h), kCaptureOk);
  EXPECT_EQ(dev.Unprepare(h), kCaptureStillQueued);
  ASSERT_EQ(dev.Start(), kCaptureOk);
  ASSERT_EQ(dev.Reset(), kCaptureOk);
  EXPECT_TRUE(h.IsDone());
  EXPECT_LT(h.BytesRecorded.load(), 16384u);
  EXPECT_EQ(dev.Unprepare(h), kCaptureOk);
  uint32_t position = 1;
  ASSERT_EQ(dev.Position(position), kCaptureOk);
  EXPECT_EQ(position, 0u);
}

TEST_F(FileCaptureTest, NamesItselfAndRefusesWhatItCannotDo) {
  const std::string path = Write("cq test.wav", 1000, 1, Ramp);
  FileCapture dev(path);
  EXPECT_EQ(dev.DeviceCount(), 1);
  EXPECT_EQ(dev.ProductName(0), "Recording: cq test.wav");
  EXPECT_EQ(dev.ProductName(1), "");

  CaptureFormat eightBit = Format(1);
  eightBit.BitsPerSample = 8;
  eightBit.BlockAlign = 1;
  EXPECT_EQ(dev.QueryFormat(0, Format(2)), kCaptureOk);
  EXPECT_EQ(dev.QueryFormat(1, Format(1)), kCaptureBadDevice);
  EXPECT_EQ(dev.QueryFormat(0, eightBit), kCaptureBadFormat);
  EXPECT_EQ(dev.Open(1, Format(1)), kCaptureBadDevice);
  EXPECT_EQ(dev.TrialOpen(0, Format(1)), kCaptureOk);

  FileCapture missing((dir_ / "gone.wav").string());
  std::string error;
  EXPECT_FALSE(missing.CheckReadable(error));
  EXPECT_NE(error.find("gone.wav"), std::string::npos) << error;
  EXPECT_EQ(missing.Open(0, Format(1)), kCaptureError);
  EXPECT_NE(missing.LastError().find("gone.wav"), std::string::npos);
  EXPECT_EQ(missing.TrialOpen(0, Format(1)), kCaptureError);
}

}  // namespace
}  // namespace kestrix
