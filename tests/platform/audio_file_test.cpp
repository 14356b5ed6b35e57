#include "platform/audio_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "signalgen/morse_gen.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using signalgen::WriteWav16;

constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> Sine(double hz, int rate, int frames, double amplitude) {
  std::vector<int16_t> x(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    x[i] =
        static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2 * kPi * hz * i / rate)));
  }
  return x;
}

// Reads everything in deliberately odd-sized pieces.
std::vector<int16_t> ReadAll(RecordingReader& reader) {
  std::vector<int16_t> all;
  std::vector<int16_t> chunk(static_cast<size_t>(777) * reader.Channels());
  while (int n = reader.Read(chunk.data(), 777)) {
    all.insert(all.end(), chunk.begin(), chunk.begin() + n * reader.Channels());
  }
  return all;
}

bool WriteWithSndfile(const fs::path& path, int format, int rate, int channels,
                      const std::vector<float>& interleaved) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  const bool ok = sf_writef_float(f, interleaved.data(), frames) == frames;
  return sf_close(f) == 0 && ok;
}

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class AudioFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrix_audio_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(AudioFileTest, SameRateIsBitExact) {
  std::vector<int16_t> x(30011);
  uint32_t state = 12345;
  for (auto& s : x) {
    state = state * 1664525u + 1013904223u;
    s = static_cast<int16_t>(state >> 16);
  }
  x[0] = -32768;
  x[1] = 32767;
  const fs::path path = dir_ / "noise.wav";
  ASSERT_TRUE(WriteWav16(path, x, 44100));

  RecordingReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, 44100, error)) << error;
  EXPECT_EQ(reader.Channels(), 1);
  EXPECT_EQ(reader.SourceRate(), 44100);
  EXPECT_EQ(reader.SourceFrames(), 30011);
  EXPECT_EQ(reader.Path(), path.string());
  EXPECT_EQ(ReadAll(reader), x);

  ASSERT_TRUE(reader.Rewind());
  EXPECT_EQ(ReadAll(reader), x);
}

TEST_F(AudioFileTest, ResamplingKeepsLengthFrequencyAndAmplitude) {
  for (const auto& [from, to] : {std::pair{48000, 44100}, {8000, 48000}, {44100, 12000}}) {
    SCOPED_TRACE(::testing::Message() << from << " -> " << to << " Hz");
    const fs::path path = dir_ / "tone.wav";
    ASSERT_TRUE(WriteWav16(path, Sine(1000.0, from, from, 0.5), from));

    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, to, error)) << error;
    EXPECT_EQ(reader.SourceRate(), from);
    const std::vector<int16_t> y = ReadAll(reader);
    // One second in, one second out; the filter's delay must be flushed, not lost.
    EXPECT_NEAR(static_cast<double>(y.size()), to, 3.0);

    // Measure over the middle, clear of the filter's start-up and end transients.
    const size_t a = static_cast<size_t>(to / 10);
    const size_t b = y.size() - a;
    int upward = 0;
    double power = 0.0;
    for (size_t i = a; i < b; ++i) {
      if (y[i - 1] < 0 && y[i] >= 0) ++upward;
      power += (y[i] / 32768.0) * (y[i] / 32768.0);
    }
    EXPECT_NEAR(upward, 800, 1);
    EXPECT_NEAR(std::sqrt(2.0 * power / static_cast<double>(b - a)), 0.5, 0.005);
    // The tone runs right up to the end of the file.
    double tail = 0.0;
    for (size_t i = y.size() - to / 100; i < y.size() - to / 1000; ++i)
      tail = std::max<double>(tail, y[i]);
    EXPECT_GT(tail / 32768.0, 0.4);

    ASSERT_TRUE(reader.Rewind());
    EXPECT_EQ(ReadAll(reader), y);
  }
}

TEST_F(AudioFileTest, KeepsFirstTwoChannelsInOrder) {
  // Three channels at distinct DC levels: left, right, and one to drop.
  std::vector<float> frames;
  for (int i = 0; i < 24000; ++i) frames.insert(frames.end(), {0.25f, -0.125f, 0.75f});
  const fs::path path = dir_ / "three.wav";
  ASSERT_TRUE(WriteWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 3, frames));

  for (int rate : {48000, 44100}) {
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, rate, error)) << error;
    ASSERT_EQ(reader.Channels(), 2);
    const std::vector<int16_t> y = ReadAll(reader);
    ASSERT_GT(y.size(), 20000u);
    const size_t mid = (y.size() / 4) * 2;
    EXPECT_NEAR(y[mid], 8192, 2) << rate;
    EXPECT_NEAR(y[mid + 1], -4096, 2) << rate;
  }
}

TEST_F(AudioFileTest, ClipsFloatInputBeyondFullScale) {
  const fs::path path = dir_ / "loud.wav";
  ASSERT_TRUE(WriteWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1,
                               {1.5f, -1.5f, 0.5f, 0.99999f}));
  RecordingReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, 8000, error)) << error;
  EXPECT_EQ(ReadAll(reader), (std::vector<int16_t>{32767, -32768, 16384, 32767}));
}

TEST_F(AudioFileTest, ReportsBadInputOnOneLine) {
  std::ofstream(dir_ / "notes.txt") << "73 de someone\nthis is not audio\n";
  std::ofstream(dir_ / "zero.wav");
  ASSERT_TRUE(WriteWav16(dir_ / "empty.wav", {}, 44100));
  ASSERT_TRUE(WriteWav16(dir_ / "ok.wav", Sine(700, 8000, 800, 0.5), 8000));

  // One reader throughout: a failed Open leaves nothing of the recording before it, and
  // the reader usable for the next one.
  RecordingReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir_ / "ok.wav", 8000, error)) << error;
  const struct {
    fs::path path;
    int rate;
    std::string says;
  } cases[] = {{dir_ / "missing.wav", 44100, "missing.wav"},
               {dir_ / "notes.txt", 44100, "notes.txt': not an audio file"},
               {dir_ / "zero.wav", 44100, "zero.wav"},
               {dir_ / "empty.wav", 44100, "empty.wav"},
               {dir_, 44100, dir_.filename().string()},
               {dir_ / "ok.wav", 0, "invalid output sample rate 0 Hz"}};
  for (const auto& c : cases) {
    EXPECT_FALSE(reader.Open(c.path, c.rate, error)) << c.path;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    int16_t sample[2];
    EXPECT_EQ(reader.Read(sample, 1), 0);
    EXPECT_FALSE(reader.Rewind());
  }
  EXPECT_TRUE(reader.Open(dir_ / "ok.wav", 8000, error)) << error;
  EXPECT_EQ(ReadAll(reader).size(), 800u);
}

// Puts a pipe fed with `bytes`, or the file `path`, on standard input for the lifetime of
// the object.
class Stdin {
 public:
  explicit Stdin(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    close(fds[0]);
    writer_ = std::thread([this, fd = fds[1]] {
      sigset_t block;
      sigemptyset(&block);
      sigaddset(&block, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &block, nullptr);
      size_t done = 0;
      while (done < bytes_.size()) {
        const ssize_t n = write(fd, bytes_.data() + done, bytes_.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  explicit Stdin(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    dup2(fd, 0);
    close(fd);
  }
  ~Stdin() {
    dup2(saved_, 0);  // drops our read end, so a stalled writer gets EPIPE
    close(saved_);
    if (writer_.joinable()) writer_.join();
  }

 private:
  const int saved_ = dup(0);
  std::vector<uint8_t> bytes_;
  std::thread writer_;
};

TEST_F(AudioFileTest, ReadsStandardInput) {
  const std::vector<int16_t> x = Sine(600.0, 8000, 20000, 0.3);
  std::vector<float> xf(x.begin(), x.end());
  for (float& v : xf) v /= 32768.0f;
  ASSERT_TRUE(WriteWav16(dir_ / "in.wav", x, 8000));
  ASSERT_TRUE(WriteWithSndfile(dir_ / "in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, xf));

  // WAV streams from the pipe as it arrives; FLAC has to be read whole first.
  for (const char* name : {"in.wav", "in.flac"}) {
    Stdin in(FileBytes(dir_ / name));
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open("-", 8000, error)) << name << ": " << error;
    EXPECT_EQ(ReadAll(reader), x) << name;
  }
  // Much more than the pipes hold, so the writer is still blocked when the reader goes away.
  ASSERT_TRUE(WriteWav16(dir_ / "long.wav", Sine(600.0, 8000, 400000, 0.3), 8000));
  {
    Stdin in(FileBytes(dir_ / "long.wav"));
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open("-", 8000, error)) << error;
    EXPECT_EQ(reader.SourceFrames(), 0);
    EXPECT_FALSE(reader.Rewind());
    // Closed long before the writer is done: must neither hang nor raise SIGPIPE.
  }
  // Redirected from a file, standard input is seekable.
  Stdin in(dir_ / "in.wav");
  RecordingReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open("-", 8000, error)) << error;
  EXPECT_EQ(ReadAll(reader), x);
  EXPECT_TRUE(reader.Rewind());
  EXPECT_EQ(ReadAll(reader), x);
}

}  // namespace
}  // namespace kestrix
