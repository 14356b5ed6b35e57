// What Kestrix sends, Kestrix must decode: text rendered through the sound-card keyer into
// a WAV file, as kestrix-send --wav writes it, then decoded from that file the way
// kestrix-decode does, at several speeds, tones and both waveforms.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "cli/decode_session.h"
#include "cli/send_tone.h"
#include "support/text_metrics.h"

namespace kestrix {
namespace {

const std::string kPreamble = "VVV VVV ";
const std::string kText = "CQ CQ DE K1ABC/P K1ABC? THE QUICK BROWN FOX 0123456789 PSE K";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct RoundTrip {
  int wpm;
  float hz;
  bool square;
};

class ToneRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ToneRoundTrip, DecodesTheSameTextAfterTheLearnPhase) {
  const RoundTrip c = GetParam();
  const std::string path = ::testing::TempDir() + "kestrix_tone_" + std::to_string(c.wpm) + "_" +
                           std::to_string(static_cast<int>(c.hz)) + (c.square ? "_sq" : "") +
                           ".wav";
  cli::ToneSendOptions o;
  o.wavPath = path;
  o.wpm = c.wpm;
  o.toneHz = c.hz;
  o.square = c.square;
  std::ostringstream err;
  ASSERT_EQ(cli::RunToneSend(o, kPreamble + kText, err), cli::kToneSendOk) << err.str();

  DecodeOptions d;
  d.input = path;
  std::ostringstream out;
  std::string error;
  ASSERT_EQ(RunDecode(d, out, error), kExitOk) << error;
  std::remove(path.c_str());
  const std::string decoded = out.str();
  EXPECT_NE(decoded.find(Lower(kText)), std::string::npos) << decoded;
  EXPECT_EQ(testing::CharacterErrorRate(Lower(kText), decoded), 0.0) << decoded;
}

INSTANTIATE_TEST_SUITE_P(Speeds, ToneRoundTrip,
                         ::testing::Values(RoundTrip{15, 600.0f, false},
                                           RoundTrip{20, 750.0f, false},
                                           RoundTrip{30, 1000.0f, false},
                                           RoundTrip{40, 750.0f, false},
                                           RoundTrip{25, 750.0f, true}),
                         [](const ::testing::TestParamInfo<RoundTrip>& i) {
                           return std::to_string(i.param.wpm) + "wpm" +
                                  std::to_string(static_cast<int>(i.param.hz)) + "Hz" +
                                  (i.param.square ? "Square" : "Sine");
                         });

}  // namespace
}  // namespace kestrix
