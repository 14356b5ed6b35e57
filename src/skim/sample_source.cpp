#include "skim/sample_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "skim/sigmf.h"

namespace kestrix::skim {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// Whether libsndfile's log says the header promised more data than the file holds.
bool SndfileSaysTruncated(SNDFILE* f) {
  char log[4096] = {};
  sf_command(f, SFC_GET_LOG_INFO, log, sizeof log);
  return std::strstr(log, "should be") != nullptr || std::strstr(log, "truncated") != nullptr ||
         std::strstr(log, "Truncated") != nullptr;
}

// Anything libsndfile reads: 2-channel I/Q or 1-channel audio, as floats at full scale 1.
class SndfileSource final : public SampleSource {
 public:
  SndfileSource(SNDFILE* file, const SF_INFO& info, bool complex, std::string name)
      : file_(file), info_(info), complex_(complex) {
    name_ = std::move(name);
    sf_command(file_, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    if (SndfileSaysTruncated(file_)) {
      warning_ = Quoted(name_) + " is truncated: its header promises more samples than it holds";
    }
  }
  ~SndfileSource() override { sf_close(file_); }
  double Rate() const override { return info_.samplerate; }
  bool IsComplex() const override { return complex_; }
  int64_t TotalSamples() const override { return info_.frames; }
  long Read(float* out, size_t count) override {
    const int channels = info_.channels;
    if (complex_ || channels == 1) {
      const sf_count_t n = sf_readf_float(file_, out, static_cast<sf_count_t>(count));
      if (n < 0) return Failed();
      return static_cast<long>(n);
    }
    // Audio from a file with more channels: the first one.
    scratch_.resize(count * static_cast<size_t>(channels));
    const sf_count_t n = sf_readf_float(file_, scratch_.data(), static_cast<sf_count_t>(count));
    if (n < 0) return Failed();
    for (sf_count_t i = 0; i < n; ++i) out[i] = scratch_[static_cast<size_t>(i) * channels];
    return static_cast<long>(n);
  }

 private:
  long Failed() {
    error_ = "cannot read " + Quoted(name_) + ": " + sf_strerror(file_);
    return -1;
  }
  SNDFILE* file_;
  SF_INFO info_;
  bool complex_;
  std::vector<float> scratch_;
};

// Raw interleaved I/Q from a file or standard input, in any of the SigMF sample types.
class RawSource final : public SampleSource {
 public:
  RawSource(FILE* file, bool ownsFile, SigmfType type, double rate, int64_t total, std::string name)
      : file_(file), owns_(ownsFile), type_(type), rate_(rate), total_(total) {
    name_ = std::move(name);
    meta_.type = type;
  }
  ~RawSource() override {
    if (owns_) std::fclose(file_);
  }
  double Rate() const override { return rate_; }
  bool IsComplex() const override { return true; }
  int64_t TotalSamples() const override { return total_; }
  double CentreHz() const override { return centre_; }
  double StartUtc() const override { return start_; }
  void SetCentre(double hz) { centre_ = hz; }
  void SetStart(double utc) { start_ = utc; }

  long Read(float* out, size_t count) override {
    const size_t bytesPer = meta_.BytesPerSample();
    bytes_.resize(count * bytesPer + bytesPer);
    // Keep the odd bytes of a sample cut by the previous read.
    if (!carry_.empty()) std::memcpy(bytes_.data(), carry_.data(), carry_.size());
    size_t have = carry_.size();
    carry_.clear();
    while (have < count * bytesPer) {
      const size_t got = std::fread(bytes_.data() + have, 1, count * bytesPer - have, file_);
      if (got == 0) break;
      have += got;
    }
    if (std::ferror(file_)) {
      error_ = "cannot read " + Quoted(name_) + ": " + std::strerror(errno);
      return -1;
    }
    const size_t samples = have / bytesPer;
    const size_t rest = have - samples * bytesPer;
    if (rest > 0) {
      if (std::feof(file_)) {
        warning_ = Quoted(name_) + " ends in the middle of a sample (truncated)";
      } else {
        carry_.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(samples * bytesPer),
                      bytes_.begin() + static_cast<std::ptrdiff_t>(have));
      }
    }
    Convert(bytes_.data(), samples, out);
    return static_cast<long>(samples);
  }

 private:
  void Convert(const unsigned char* b, size_t samples, float* out) const {
    switch (type_) {
      case SigmfType::Cf32Le:
        for (size_t i = 0; i < 2 * samples; ++i) {
          uint32_t u = static_cast<uint32_t>(b[4 * i]) | static_cast<uint32_t>(b[4 * i + 1]) << 8 |
                       static_cast<uint32_t>(b[4 * i + 2]) << 16 |
                       static_cast<uint32_t>(b[4 * i + 3]) << 24;
          float f;
          std::memcpy(&f, &u, 4);
          out[i] = std::isfinite(f) ? f : 0.0f;
        }
        break;
      case SigmfType::Ci16Le:
        for (size_t i = 0; i < 2 * samples; ++i) {
          const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(b[2 * i]) |
                                                 static_cast<uint16_t>(b[2 * i + 1]) << 8);
          out[i] = static_cast<float>(v) / 32768.0f;
        }
        break;
      case SigmfType::Ci8:
        for (size_t i = 0; i < 2 * samples; ++i)
          out[i] = static_cast<float>(static_cast<int8_t>(b[i])) / 128.0f;
        break;
      case SigmfType::Cu8:
        for (size_t i = 0; i < 2 * samples; ++i)
          out[i] = (static_cast<float>(b[i]) - 127.5f) / 128.0f;
        break;
    }
  }

  FILE* file_;
  bool owns_;
  SigmfType type_;
  SigmfMeta meta_;
  double rate_;
  int64_t total_;
  double centre_ = std::nan("");
  double start_ = std::nan("");
  std::vector<unsigned char> bytes_;
  std::vector<unsigned char> carry_;
};

class MemSource final : public SampleSource {
 public:
  MemSource(const float* s, size_t count, double rate, bool complex)
      : s_(s), count_(count), rate_(rate), complex_(complex) {
    name_ = "memory";
  }
  double Rate() const override { return rate_; }
  bool IsComplex() const override { return complex_; }
  int64_t TotalSamples() const override { return static_cast<int64_t>(count_); }
  long Read(float* out, size_t count) override {
    const size_t n = std::min(count, count_ - at_);
    const size_t w = complex_ ? 2 : 1;
    std::copy(s_ + at_ * w, s_ + (at_ + n) * w, out);
    at_ += n;
    return static_cast<long>(n);
  }

 private:
  const float* s_;
  size_t count_;
  size_t at_ = 0;
  double rate_;
  bool complex_;
};

std::unique_ptr<SampleSource> OpenSigmf(const std::string& path, double rate, std::string& error) {
  std::string base = path;
  for (const char* ext : {".sigmf-meta", ".sigmf-data", ".sigmf"}) {
    if (EndsWith(base, ext)) {
      base.resize(base.size() - std::strlen(ext));
      break;
    }
  }
  const std::string metaPath = base + ".sigmf-meta";
  const std::string dataPath = base + ".sigmf-data";
  std::ifstream meta(metaPath, std::ios::binary);
  if (!meta) {
    error = "cannot open " + Quoted(metaPath) + ": " + std::strerror(errno);
    return nullptr;
  }
  std::ostringstream text;
  text << meta.rdbuf();
  SigmfMeta m;
  std::string why;
  if (!ParseSigmfMeta(text.str(), m, why)) {
    error = Quoted(metaPath) + ": " + why;
    return nullptr;
  }
  if (rate > 0.0 && std::abs(rate - m.sampleRate) > 0.5) {
    error = "--rate " + std::to_string(static_cast<long>(rate)) + " contradicts " +
            Quoted(metaPath) + " (core:sample_rate " +
            std::to_string(static_cast<long>(m.sampleRate)) + ")";
    return nullptr;
  }
  FILE* f = std::fopen(dataPath.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open " + Quoted(dataPath) + ": " + std::strerror(errno);
    return nullptr;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size <= 0) {
    std::fclose(f);
    error = Quoted(dataPath) + " holds no samples";
    return nullptr;
  }
  auto src = std::make_unique<RawSource>(f, true, m.type, m.sampleRate,
                                         size / static_cast<long>(m.BytesPerSample()), dataPath);
  if (!std::isnan(m.frequency)) src->SetCentre(m.frequency);
  double utc = 0.0;
  if (!m.datetime.empty() && ParseIsoUtc(m.datetime, utc)) src->SetStart(utc);
  return src;
}

}  // namespace

std::unique_ptr<SampleSource> OpenIqRecording(const std::string& path, double rate,
                                              std::string& error) {
  if (EndsWith(path, ".sigmf-meta") || EndsWith(path, ".sigmf-data") || EndsWith(path, ".sigmf")) {
    return OpenSigmf(path, rate, error);
  }
  const bool raw = path == "-" || EndsWith(path, ".cf32") || EndsWith(path, ".raw") ||
                   EndsWith(path, ".iq") || EndsWith(path, ".fc32");
  if (raw) {
    if (rate <= 0.0) {
      error = "raw I/Q samples (" + (path == "-" ? std::string("standard input") : Quoted(path)) +
              ") need --rate";
      return nullptr;
    }
    if (path == "-")
      return std::make_unique<RawSource>(stdin, false, SigmfType::Cf32Le, rate, 0,
                                         "standard input");
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
      error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
      return nullptr;
    }
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    return std::make_unique<RawSource>(f, true, SigmfType::Cf32Le, rate, size / 8, path);
  }
  // A SigMF recording named without its extension.
  if (std::ifstream(path + ".sigmf-meta").good()) return OpenSigmf(path, rate, error);
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    std::ifstream probe(path);
    error = probe.good() ? Quoted(path) + ": not an I/Q recording kestrix-skim reads (" +
                               sf_strerror(nullptr) + ")"
                         : "cannot open " + Quoted(path) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (info.channels != 2) {
    sf_close(f);
    error = Quoted(path) + " has " + std::to_string(info.channels) +
            (info.channels == 1 ? " channel" : " channels") +
            "; an I/Q recording has 2 (I left, Q right). A receiver's audio goes with --audio";
    return nullptr;
  }
  if (info.frames <= 0) {
    sf_close(f);
    error = Quoted(path) + " holds no samples";
    return nullptr;
  }
  if (rate > 0.0 && std::abs(rate - info.samplerate) > 0.5) {
    sf_close(f);
    error = "--rate " + std::to_string(static_cast<long>(rate)) + " contradicts " + Quoted(path) +
            " (" + std::to_string(info.samplerate) + " Hz)";
    return nullptr;
  }
  return std::make_unique<SndfileSource>(f, info, true, path);
}

std::unique_ptr<SampleSource> OpenAudioRecording(const std::string& path, std::string& error) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    std::ifstream probe(path);
    error = probe.good() ? Quoted(path) + ": not an audio file (" + sf_strerror(nullptr) + ")"
                         : "cannot open " + Quoted(path) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (info.frames <= 0) {
    sf_close(f);
    error = Quoted(path) + " holds no samples";
    return nullptr;
  }
  auto src = std::make_unique<SndfileSource>(f, info, false, path);
  return src;
}

std::unique_ptr<SampleSource> MemorySource(const float* samples, size_t count, double rate,
                                           bool complex) {
  return std::make_unique<MemSource>(samples, count, rate, complex);
}

}  // namespace kestrix::skim
