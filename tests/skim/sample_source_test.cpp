#include "skim/sample_source.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

namespace fs = std::filesystem;

class SampleSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kestrix_skim_src_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void WriteBytes(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // A WAV of `frames` frames with `channels` channels: sample k of frame i is (i + 1) / 64
  // * (k ? -1 : 1), in `format`.
  void WriteWav(const std::string& path, int format, int channels, int frames,
                int rate = 48000) const {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> x(static_cast<size_t>(frames * channels));
    for (int i = 0; i < frames; ++i) {
      for (int k = 0; k < channels; ++k)
        x[static_cast<size_t>(i * channels + k)] = (k ? -1.0f : 1.0f) * (i % 32 + 1) / 64.0f;
    }
    sf_writef_float(f, x.data(), frames);
    sf_close(f);
  }
  fs::path dir_;
};

// Every I/Q WAV sample format reads back as I (left) and Q (right) at full scale 1.
TEST_F(SampleSourceTest, IqWavInEverySampleFormatReadsAsIAndQ) {
  struct Case {
    const char* name;
    int format;
    float tolerance;
  };
  const Case cases[] = {
      {"pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1e-4f},
      {"pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1e-6f},
      {"pcm32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1e-6f},
      {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0f},
  };
  for (const Case& c : cases) {
    const std::string path = Path(std::string(c.name) + ".wav");
    WriteWav(path, c.format, 2, 1000, 96000);
    std::string error;
    auto src = OpenIqRecording(path, 0.0, error);
    ASSERT_NE(src, nullptr) << c.name << ": " << error;
    EXPECT_TRUE(src->IsComplex());
    EXPECT_EQ(src->Rate(), 96000.0);
    EXPECT_EQ(src->TotalSamples(), 1000);
    std::vector<float> iq(2 * 1000);
    ASSERT_EQ(src->Read(iq.data(), 1000), 1000) << c.name;
    for (int i = 0; i < 1000; i += 97) {
      EXPECT_NEAR(iq[2 * i], (i % 32 + 1) / 64.0f, c.tolerance) << c.name << " I " << i;
      EXPECT_NEAR(iq[2 * i + 1], -(i % 32 + 1) / 64.0f, c.tolerance) << c.name << " Q " << i;
    }
    EXPECT_EQ(src->Read(iq.data(), 10), 0);
    EXPECT_TRUE(src->Warning().empty());
  }
}

// Recordings that are not I/Q, or not there, are refused with a line that says why.
TEST_F(SampleSourceTest, BadIqRecordingsAreRefusedWithTheReason) {
  WriteWav(Path("mono.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 100);
  WriteWav(Path("four.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 100);
  WriteWav(Path("ok.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 100);
  WriteBytes(Path("text.wav"), "this is not a recording at all\n");
  WriteBytes(Path("empty.cf32"), "");
  struct Case {
    std::string path;
    double rate;
    const char* says;
  };
  const Case cases[] = {
      {Path("mono.wav"), 0, "has 1 channel; an I/Q recording has 2 (I left, Q right)"},
      {Path("four.wav"), 0, "has 4 channels"},
      {Path("missing.wav"), 0, "cannot open"},
      {Path("text.wav"), 0, "not an I/Q recording"},
      {Path("ok.wav"), 192000, "--rate 192000 contradicts"},
      {"-", 0, "need --rate"},
      {Path("x.cf32"), 0, "need --rate"},
      {Path("none.sigmf-meta"), 0, "cannot open"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(OpenIqRecording(c.path, c.rate, error), nullptr) << c.path;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.path << ": " << error;
  }
}

// A WAV whose header promises more than the file holds reads what is there, then says it
// was truncated.
TEST_F(SampleSourceTest, TruncatedWavReadsToItsEndAndSaysSo) {
  const std::string path = Path("cut.wav");
  WriteWav(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 1000);
  fs::resize_file(path, fs::file_size(path) - 1001);
  std::string error;
  auto src = OpenIqRecording(path, 0.0, error);
  ASSERT_NE(src, nullptr) << error;
  std::vector<float> iq(4000);
  long total = 0;
  for (long n; (n = src->Read(iq.data(), 1000)) > 0;) total += n;
  EXPECT_GT(total, 700);
  EXPECT_LT(total, 1000);
  EXPECT_NE(src->Warning().find("truncated"), std::string::npos) << src->Warning();
}

std::string LittleEndianFloats(const std::vector<float>& v) {
  std::string out;
  for (float f : v) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int b = 0; b < 4; ++b) out += static_cast<char>(u >> (8 * b));
  }
  return out;
}

std::string Meta(const std::string& type, double rate, const std::string& extra = "") {
  return "{\"global\": {\"core:datatype\": \"" + type +
         "\", \"core:sample_rate\": " + std::to_string(rate) + ", \"core:version\": \"1.0.0\"" +
         extra +
         "}, \"captures\": [{\"core:sample_start\": 0, \"core:frequency\": 14040000, "
         "\"core:datetime\": \"2024-05-01T12:34:56Z\"}], \"annotations\": []}";
}

// SigMF: each sample type reads back at full scale 1, with the centre frequency and start
// time from the metadata, whichever of the two files (or the base name) is given.
TEST_F(SampleSourceTest, SigmfSampleTypesReadWithTheirCentreAndTime) {
  struct Case {
    const char* type;
    std::string data;  // I, Q of two samples: (0.5, -0.25), (0, 0.75) or the nearest
    float tolerance;
  };
  const Case cases[] = {
      {"cf32_le", LittleEndianFloats({0.5f, -0.25f, 0.0f, 0.75f}), 0.0f},
      {"ci16_le", std::string("\x00\x40\x00\xe0\x00\x00\x00\x60", 8), 1e-6f},
      {"ci8", std::string("\x40\xe0\x00\x60", 4), 1e-6f},
      {"cu8", std::string("\xc0\x60\x80\xe0", 4), 0.01f},
  };
  for (const Case& c : cases) {
    const std::string base = Path(std::string("rec_") + c.type);
    WriteBytes(base + ".sigmf-meta", Meta(c.type, 48000));
    WriteBytes(base + ".sigmf-data", c.data);
    for (const std::string& name : {base + ".sigmf-meta", base + ".sigmf-data", base}) {
      std::string error;
      auto src = OpenIqRecording(name, 0.0, error);
      ASSERT_NE(src, nullptr) << name << ": " << error;
      EXPECT_EQ(src->Rate(), 48000.0);
      EXPECT_EQ(src->CentreHz(), 14040000.0);
      EXPECT_EQ(src->StartUtc(), 1714566896.0);
      EXPECT_EQ(src->TotalSamples(), 2);
      float iq[4] = {};
      ASSERT_EQ(src->Read(iq, 8), 2) << c.type;
      const float want[4] = {0.5f, -0.25f, 0.0f, 0.75f};
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(iq[i], want[i], c.tolerance) << c.type << " " << i;
      EXPECT_TRUE(src->Warning().empty());
    }
  }
}

TEST_F(SampleSourceTest, SigmfWithAnUnknownTypeOrAHalfSampleIsReported) {
  WriteBytes(Path("u.sigmf-meta"), Meta("ri16_le", 48000));
  WriteBytes(Path("u.sigmf-data"), std::string(8, '\0'));
  std::string error;
  EXPECT_EQ(OpenIqRecording(Path("u.sigmf-meta"), 0.0, error), nullptr);
  EXPECT_NE(error.find("real sample type"), std::string::npos) << error;

  WriteBytes(Path("x.sigmf-meta"), Meta("cf64_le", 48000));
  WriteBytes(Path("x.sigmf-data"), std::string(16, '\0'));
  EXPECT_EQ(OpenIqRecording(Path("x.sigmf-meta"), 0.0, error), nullptr);
  EXPECT_NE(error.find("'cf64_le' is not a sample type"), std::string::npos) << error;

  WriteBytes(Path("h.sigmf-meta"), Meta("cf32_le", 48000));
  WriteBytes(Path("h.sigmf-data"), LittleEndianFloats({1, 2, 3, 4, 5}));  // 2.5 samples
  auto src = OpenIqRecording(Path("h"), 0.0, error);
  ASSERT_NE(src, nullptr) << error;
  float iq[16];
  long total = 0;
  for (long n; (n = src->Read(iq, 8)) > 0;) total += n;
  EXPECT_EQ(total, 2);
  EXPECT_NE(src->Warning().find("truncated"), std::string::npos);
}

// Raw float I/Q pieces of any size come out whole samples in order, a sample cut between
// reads included.
TEST_F(SampleSourceTest, RawCf32ReadsWholeSamplesAcrossReads) {
  std::vector<float> v;
  for (int i = 0; i < 2 * 301; ++i) v.push_back(static_cast<float>(i));
  WriteBytes(Path("r.cf32"), LittleEndianFloats(v));
  std::string error;
  auto src = OpenIqRecording(Path("r.cf32"), 8000.0, error);
  ASSERT_NE(src, nullptr) << error;
  std::vector<float> got;
  float buf[2 * 7];
  for (long n; (n = src->Read(buf, 7)) > 0;) got.insert(got.end(), buf, buf + 2 * n);
  EXPECT_EQ(got, v);
  EXPECT_TRUE(src->Warning().empty());
}

TEST_F(SampleSourceTest, AudioRecordingGivesItsFirstChannel) {
  WriteWav(Path("st.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 64, 8000);
  std::string error;
  auto src = OpenAudioRecording(Path("st.wav"), error);
  ASSERT_NE(src, nullptr) << error;
  EXPECT_FALSE(src->IsComplex());
  float x[64];
  ASSERT_EQ(src->Read(x, 64), 64);
  EXPECT_NEAR(x[5], 6 / 64.0f, 1e-4f);
  EXPECT_EQ(OpenAudioRecording(Path("nothing.wav"), error), nullptr);
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace kestrix::skim
