// Golden vectors of the receive chain's signal processing: every set in tests/golden/
// (written by tools/make_golden_vectors.py from a double-precision reference) run through
// the single-precision code. A set passes when every output lies within its stated
// tolerance times the largest expected magnitude of that array.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "receive/fft.h"
#include "receive/level.h"
#include "receive/spectrum.h"

namespace kestrix {
namespace {

struct GoldenSet {
  std::string kind;
  double tolerance = 0.0;
  std::map<std::string, double> params;
  std::map<std::string, std::vector<double>> arrays;
};

// Reads a set; on a malformed file returns false with the reason.
bool ReadSet(const std::filesystem::path& path, GoldenSet& set, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path.string();
    return false;
  }
  std::string word;
  while (in >> word) {
    if (word[0] == '#') {
      std::getline(in, word);
    } else if (word == "kind") {
      in >> set.kind;
    } else if (word == "tolerance") {
      in >> set.tolerance;
    } else if (word == "param") {
      std::string name;
      in >> name >> set.params[name];
    } else if (word == "array") {
      std::string name;
      size_t count = 0;
      in >> name >> count;
      std::vector<double>& values = set.arrays[name];
      values.resize(count);
      for (double& v : values) in >> v;
    } else {
      error = "unexpected '" + word + "' in " + path.string();
      return false;
    }
    if (!in) {
      error = "short or malformed " + path.string();
      return false;
    }
  }
  if (set.kind.empty() || !(set.tolerance > 0.0)) {
    error = path.string() + " has no kind or tolerance";
    return false;
  }
  return true;
}

std::vector<float> Floats(const std::vector<double>& v) {
  return std::vector<float>(v.begin(), v.end());
}

// Every `got` within tolerance * max|want| of `want`; names the worst index otherwise.
void ExpectClose(const std::string& what, const std::vector<float>& got,
                 const std::vector<double>& want, double tolerance) {
  ASSERT_EQ(got.size(), want.size()) << what;
  double scale = 0.0;
  for (double w : want) scale = std::max(scale, std::abs(w));
  double worst = 0.0;
  size_t at = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const double e = std::abs(static_cast<double>(got[i]) - want[i]);
    if (e > worst) {
      worst = e;
      at = i;
    }
  }
  EXPECT_LE(worst, tolerance * scale)
      << what << ": worst at index " << at << ", got " << got[at] << ", want " << want[at]
      << " (error " << worst / scale << " of the largest magnitude " << scale << ")";
}

void RunSet(const GoldenSet& s) {
  static const std::vector<double> kNone;
  const auto input = s.arrays.find("input");
  const std::vector<double>& in = input == s.arrays.end() ? kNone : input->second;
  if (s.kind == "fft" || s.kind == "ifft") {
    std::vector<float> x = Floats(in);
    const int n = static_cast<int>(s.params.at("n"));
    ASSERT_EQ(x.size(), static_cast<size_t>(n));
    if (s.kind == "fft") {
      RealFft(x.data(), n);
    } else {
      InverseRealFft(x.data(), n);
    }
    ExpectClose(s.kind, x, s.arrays.at("expected"), s.tolerance);
  } else if (s.kind == "power") {
    std::vector<int32_t> samples(in.begin(), in.end());
    ASSERT_EQ(samples.size(), static_cast<size_t>(kSpectrumSize));
    SpectrumAnalyzer analyzer;
    PowerSpectrumArray power;
    analyzer.WindowedPowerSpectrum(samples.data(), power);
    ExpectClose("power", std::vector<float>(power.Bins() + 1, power.Bins() + 1 + kSpectrumBins),
                s.arrays.at("expected"), s.tolerance);
  } else if (s.kind == "bandpass") {
    ToneFilter filter;
    filter.DesignBandpass(static_cast<float>(s.params.at("low")),
                          static_cast<float>(s.params.at("high")));
    ExpectClose("taps", std::vector<float>(filter.Taps().begin(), filter.Taps().end()),
                s.arrays.at("taps"), s.tolerance);
    ExpectClose("response",
                std::vector<float>(filter.FilterResponse(),
                                   filter.FilterResponse() + 2 * kFilterResponseSize),
                s.arrays.at("response"), s.tolerance);
  } else if (s.kind == "convolve") {
    ToneFilter filter;
    filter.DesignBandpass(static_cast<float>(s.params.at("low")),
                          static_cast<float>(s.params.at("high")));
    std::vector<float> x = Floats(in);
    ASSERT_EQ(x.size() % kToneBlockSize, 0u);
    for (size_t b = 0; b < x.size(); b += kToneBlockSize) filter.Convolve(x.data() + b);
    ExpectClose("convolve", x, s.arrays.at("expected"), s.tolerance);
  } else if (s.kind == "envelope") {
    const std::vector<float> x = Floats(in);
    ASSERT_EQ(x.size() % kToneBlockSize, 0u);
    EnvelopeDetector detector;
    std::vector<float> envelope(x.size() / kToneBlockSize * kEnvelopeSize);
    for (size_t b = 0; b * kToneBlockSize < x.size(); ++b) {
      detector.Process(x.data() + b * kToneBlockSize, envelope.data() + b * kEnvelopeSize);
    }
    ExpectClose("envelope", envelope, s.arrays.at("expected"), s.tolerance);
  } else {
    FAIL() << "unknown kind '" << s.kind << "'";
  }
}

std::vector<std::string> SetNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(KESTRIX_GOLDEN_DIR)) {
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, SinglePrecisionCodeMatchesTheReferenceWithinTheStatedTolerance) {
  GoldenSet set;
  std::string error;
  ASSERT_TRUE(
      ReadSet(std::filesystem::path(KESTRIX_GOLDEN_DIR) / (GetParam() + ".txt"), set, error))
      << error;
  RunSet(set);
}

INSTANTIATE_TEST_SUITE_P(Sets, Golden, ::testing::ValuesIn(SetNames()),
                         [](const auto& info) { return info.param; });

TEST(Golden, EveryKindHasASet) {
  std::map<std::string, int> kinds;
  for (const std::string& name : SetNames()) {
    GoldenSet set;
    std::string error;
    ASSERT_TRUE(ReadSet(std::filesystem::path(KESTRIX_GOLDEN_DIR) / (name + ".txt"), set, error))
        << error;
    ++kinds[set.kind];
  }
  for (const char* kind : {"fft", "ifft", "power", "bandpass", "convolve", "envelope"}) {
    EXPECT_GT(kinds[kind], 0) << kind;
  }
}

}  // namespace
}  // namespace kestrix
