// The recording that stands in for a sound card.
#include "platform/file_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "receive/capture_format.h"
#include "signalgen/morse_gen.h"

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
    EXPECT_TRUE(signalgen::WriteWav16(path, s, 44100, channels));
    return path;
  }

  fs::path dir_;
};

constexpr auto Ramp = [](int i) { return static_cast<int16_t>(i % 20000 + 1); };
constexpr auto Even = [](int i) { return static_cast<int16_t>(2 * (i % 1000)); };
constexpr auto Hundred = [](int) { return int16_t{100}; };

CaptureFormat Format(int channels) {
  CaptureSettings s;
  s.SetChannel(channels == 1 ? ChannelMode::kMic : ChannelMode::kLeft);
  return s.Format;
}

// Queues one buffer of `frames` frames, waits for it and returns what it held, the way the
// receive loop takes them.
std::vector<int16_t> Take(CaptureDevice& device, int channels, int frames) {
  std::vector<int16_t> mem(static_cast<size_t>(frames * channels), -7);
  CaptureHeader h;
  h.Reset(reinterpret_cast<uint8_t*>(mem.data()), static_cast<uint32_t>(mem.size() * 2));
  EXPECT_EQ(device.Prepare(h), kCaptureOk);
  EXPECT_EQ(device.Add(h), kCaptureOk);
  EXPECT_EQ(device.Start(), kCaptureOk);
  // Only a guard against a hang; a paced second of sound takes a second.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!h.IsDone() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(h.IsDone());
  EXPECT_EQ(device.Unprepare(h), kCaptureOk);
  return mem;
}

TEST_F(FileCaptureTest, UnpacedHandsOverTheRecordingBufferByBufferThenSilence) {
  // An end inside the third buffer, and one exactly on the boundary of the second.
  for (const auto& [frames, endBuffer] : {std::pair{20000, 3}, std::pair{2 * 8192, 2}}) {
    SCOPED_TRACE(frames);
    FileCapture dev(Write("ramp.wav", frames, 1, Ramp), {false, false});
    ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
    for (int b = 0; b < 4; ++b) {
      const std::vector<int16_t> buf = Take(dev, 1, 8192);
      for (int i = 0, f = b * 8192; i < 8192; ++i, ++f) {
        ASSERT_EQ(buf[static_cast<size_t>(i)], f < frames ? Ramp(f) : 0) << "frame " << f;
      }
    }
    EXPECT_EQ(dev.RecordingFrames(), frames);
    EXPECT_EQ(dev.EndBuffer(), endBuffer);
    EXPECT_EQ(dev.DroppedFrames(), 0);
    EXPECT_EQ(dev.Close(), kCaptureOk);
  }
}

TEST_F(FileCaptureTest, LoopingStartsTheRecordingAgain) {
  FileCapture dev(Write("short.wav", 3000, 1, Ramp), {false, true});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  const std::vector<int16_t> a = Take(dev, 1, 8192);
  const std::vector<int16_t> b = Take(dev, 1, 8192);
  for (int i = 0; i < 8192; ++i) {
    ASSERT_EQ(a[static_cast<size_t>(i)], Ramp(i % 3000)) << i;
    ASSERT_EQ(b[static_cast<size_t>(i)], Ramp((8192 + i) % 3000)) << i;
  }
  EXPECT_EQ(dev.EndBuffer(), -1);
}

TEST_F(FileCaptureTest, ChannelLayoutFollowsTheCaptureFormat) {
  using Frame = int16_t (*)(int);
  const struct {
    const char* what;
    int fileChannels;
    int captureChannels;
    Frame left, right;          // of the recording
    Frame wantLeft, wantRight;  // of the capture
  } cases[] = {
      {"stereo recording, mono capture: the mean of both channels", 2, 1, Even, Hundred,
       [](int i) { return static_cast<int16_t>(i % 1000 + 50); }, nullptr},
      {"stereo recording, stereo capture: as recorded", 2, 2, Even, Hundred, Even, Hundred},
      {"mono recording, stereo capture: on both channels", 1, 2, Ramp, nullptr, Ramp, Ramp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileCapture dev(Write("layout.wav", 9000, c.fileChannels, c.left, c.right), {false, false});
    ASSERT_EQ(dev.Open(0, Format(c.captureChannels)), kCaptureOk);
    const std::vector<int16_t> buf = Take(dev, c.captureChannels, 8192);
    for (int i = 0; i < 8192; ++i) {
      const size_t at = static_cast<size_t>(c.captureChannels * i);
      ASSERT_EQ(buf[at], c.wantLeft(i)) << i;
      if (c.captureChannels == 2) {
        ASSERT_EQ(buf[at + 1], c.wantRight(i)) << i;
      }
    }
  }
}

// A clock the test moves by hand: the paced player sleeps on it, so what it records and
// what it loses follow the test's steps, not the machine's load.
class ManualClock final : public PacingClock {
 public:
  int64_t NowNs() override {
    std::lock_guard<std::mutex> lock(mu_);
    return now_;
  }
  void SleepUntilNs(int64_t deadlineNs) override {
    std::unique_lock<std::mutex> lock(mu_);
    sleepingUntil_ = deadlineNs;
    changed_.notify_all();
    changed_.wait(lock, [&] { return interrupted_ || now_ >= deadlineNs; });
    sleepingUntil_ = -1;
  }
  void Interrupt() override {
    std::lock_guard<std::mutex> lock(mu_);
    interrupted_ = true;
    changed_.notify_all();
  }
  void Advance(int64_t ns) {
    std::lock_guard<std::mutex> lock(mu_);
    now_ += ns;
    changed_.notify_all();
  }
  // Waits until the player sleeps for a deadline still ahead: everything due by now has
  // been handed over. False after a generous guard time (a hang, not a slow machine).
  bool WaitIdle() {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return sleepingUntil_ > now_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  int64_t now_ = 0;
  int64_t sleepingUntil_ = -1;
  bool interrupted_ = false;
};

constexpr int64_t kChunkNs = int64_t{kFileChunkFrames} * 1000000000 / 44100;

TEST_F(FileCaptureTest, PacedLosesSoundWhileNoBufferIsQueuedUnpacedDoesNot) {
  const std::string path = Write("ramp.wav", 44100, 1, Ramp);
  {
    SCOPED_TRACE("paced");
    ManualClock clock;
    FileCapture dev(Write("long-ramp.wav", 2 * 44100, 1, Ramp), {true, false, &clock});
    ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
    ASSERT_EQ(dev.Start(), kCaptureOk);
    // A second with nothing queued: a card records on regardless, and the 43 chunks due
    // in it are lost.
    ASSERT_TRUE(clock.WaitIdle());
    clock.Advance(1000000000);
    ASSERT_TRUE(clock.WaitIdle());
    EXPECT_EQ(dev.DroppedFrames(), 43 * kFileChunkFrames);

    std::vector<int16_t> mem(2048, -7);
    CaptureHeader h;
    h.Reset(reinterpret_cast<uint8_t*>(mem.data()), 4096);
    ASSERT_EQ(dev.Prepare(h), kCaptureOk);
    ASSERT_EQ(dev.Add(h), kCaptureOk);
    for (int i = 0; i < 2; ++i) {
      clock.Advance(kChunkNs + 1);
      ASSERT_TRUE(clock.WaitIdle());
    }
    ASSERT_TRUE(h.IsDone());
    ASSERT_EQ(dev.Unprepare(h), kCaptureOk);
    // The sound after the loss, without gaps inside the buffer.
    for (int i = 0; i < 2048; ++i) {
      ASSERT_EQ(mem[static_cast<size_t>(i)], Ramp(43 * kFileChunkFrames + i)) << i;
    }
    uint32_t position = 0;
    ASSERT_EQ(dev.Position(position), kCaptureOk);
    EXPECT_EQ(position, 2048u * 2);  // lost sound is not counted
  }
  {
    SCOPED_TRACE("unpaced");
    FileCapture dev(path, {false, false});
    ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
    ASSERT_EQ(dev.Start(), kCaptureOk);
    // Unpaced the player waits for a buffer, however long it takes to come.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const std::vector<int16_t> buf = Take(dev, 1, 2048);
    EXPECT_EQ(dev.DroppedFrames(), 0);
    EXPECT_EQ(buf[0], Ramp(0));
    uint32_t position = 0;
    ASSERT_EQ(dev.Position(position), kCaptureOk);
    EXPECT_EQ(position, 2048u * 2);
  }
}

TEST_F(FileCaptureTest, ResetReturnsTheQueuedBufferAndRewindsThePosition) {
  ManualClock clock;
  FileCapture dev(Write("ramp.wav", 44100, 1, Ramp), {true, false, &clock});
  ASSERT_EQ(dev.Open(0, Format(1)), kCaptureOk);
  std::vector<int16_t> mem(8192);
  CaptureHeader h;
  h.Reset(reinterpret_cast<uint8_t*>(mem.data()), 16384);
  ASSERT_EQ(dev.Prepare(h), kCaptureOk);
  ASSERT_EQ(dev.Add(h), kCaptureOk);
  EXPECT_EQ(dev.Unprepare(h), kCaptureStillQueued);
  ASSERT_EQ(dev.Start(), kCaptureOk);
  ASSERT_TRUE(clock.WaitIdle());
  clock.Advance(3 * kChunkNs + 1);  // three chunks recorded, then the reset
  ASSERT_TRUE(clock.WaitIdle());
  EXPECT_EQ(h.BytesRecorded.load(), 3u * kFileChunkFrames * 2);
  ASSERT_EQ(dev.Reset(), kCaptureOk);
  EXPECT_TRUE(h.IsDone());
  EXPECT_EQ(h.BytesRecorded.load(), 3u * kFileChunkFrames * 2);
  EXPECT_EQ(dev.Unprepare(h), kCaptureOk);
  uint32_t position = 1;
  ASSERT_EQ(dev.Position(position), kCaptureOk);
  EXPECT_EQ(position, 0u);
}

TEST_F(FileCaptureTest, NamesItselfAndRefusesWhatItCannotDo) {
  FileCapture dev(Write("cq test.wav", 1000, 1, Ramp));
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
