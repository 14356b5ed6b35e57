#include "skim/spot.h"

#include "skim/call_sign.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace kestrix::skim {
namespace {

// 2259 UTC on some day.
constexpr int64_t kAt2259 = 1700000000 - 1700000000 % 86400 + 22 * 3600 + 59 * 60 + 30;

TEST(Spot, LineMatchesTheClusterFormatByteForByte) {
  const Spot spot{"W9XG", 14057.6, "K7GT", 7, 21, SpotKind::Cq, kAt2259};
  EXPECT_EQ(FormatSpotLine(spot),
            "DX de W9XG-#:    14057.6  K7GT           CW     7 dB  21 WPM  CQ      2259Z");
}

TEST(Spot, FieldsKeepTheirColumns) {
  const struct {
    Spot spot;
    const char* line;
  } cases[] = {
      {{"W9XG", 3512.04, "DL/K1ABC/P", -3, 8, SpotKind::Dx, 0},
       "DX de W9XG-#:     3512.0  DL/K1ABC/P     CW    -3 dB   8 WPM  DX      0000Z"},
      {{"W9XG", 28199.96, "W1ABC/B", 35, 18, SpotKind::Beacon, 86399},
       "DX de W9XG-#:    28200.0  W1ABC/B        CW    35 dB  18 WPM  BEACON  2359Z"},
      {{"K1TTT", 1822.56, "OH2AB", 12, 120, SpotKind::Cq, -60},  // before 1970: 2359
       "DX de K1TTT-#:    1822.6  OH2AB          CW    12 dB 120 WPM  CQ      2359Z"},
      {{"W9XG", 50090.0, "K7GT", 5000, -5, SpotKind::Cq, 3600},  // clamped
       "DX de W9XG-#:    50090.0  K7GT           CW   999 dB   0 WPM  CQ      0100Z"},
  };
  for (const auto& c : cases) {
    const std::string line = FormatSpotLine(c.spot);
    EXPECT_EQ(line, c.line);
    // Where loggers read them by column: frequency ends at column 24, call from 27, time
    // in columns 71-74 (1-based).
    EXPECT_EQ(line.size(), 75u);
    EXPECT_EQ(line.substr(26, c.spot.call.size()), c.spot.call);
  }
}

// Whatever the own call and the band, the frequency ends in column 24 and the call starts
// in column 27: tlf and xdx read those columns, and a long spotter must not push them.
TEST(Spot, LongSpotterCallsAreCutSoTheColumnsHold) {
  const char* spotters[] = {"W9XG",     "K1TTT",  "KX1TST",      "VE3ABCD",
                            "KX1TST/P", "W9XG-2", "DL/KX1TST/P", "A"};
  const struct {
    double khz;
    const char* text;
  } freqs[] = {
      {1822.56, "1822.6"},
      {3512.0, "3512.0"},
      {7012.3, "7012.3"},
      {14057.6, "14057.6"},
      {28199.96, "28200.0"},
      {50090.0, "50090.0"},
      {144050.0, "144050.0"},
      {432050.0, "432050.0"},
      {1296050.0, "1296050.0"},
      {2320050.0, "2320050.0"},
      {10368100.0, "10368100.0"},
      {24048100.0, "24048100.0"},
      {0.1, "0.1"},
  };
  for (const char* spotter : spotters) {
    for (const auto& f : freqs) {
      const Spot spot{spotter, f.khz, "K7GT", 7, 21, SpotKind::Cq, kAt2259};
      const std::string line = FormatSpotLine(spot);
      SCOPED_TRACE(line);
      const size_t len = std::strlen(f.text);
      ASSERT_GE(line.size(), kSpotCallColumn + 4);
      EXPECT_EQ(line.substr(kSpotFreqEndColumn - len, len), f.text);
      EXPECT_EQ(line[kSpotFreqEndColumn - len - 1], ' ');  // never glued to the spotter
      EXPECT_EQ(line.substr(kSpotFreqEndColumn, 2), "  ");
      EXPECT_EQ(line.substr(kSpotCallColumn - 1, 5), "K7GT ");
      EXPECT_EQ(line.substr(70, 5), "2259Z");
      // The spotter is a prefix of the own call, marked as a skimmer's.
      const size_t mark = line.find("-#:");
      ASSERT_NE(mark, std::string::npos);
      EXPECT_EQ(std::string(spotter).rfind(line.substr(6, mark - 6), 0), 0u);
      EXPECT_GT(mark, 6u);
    }
  }
  EXPECT_EQ(FormatSpotLine({"KX1TST/P", 14057.6, "K7GT", 7, 21, SpotKind::Cq, kAt2259}),
            "DX de KX1TST-#:  14057.6  K7GT           CW     7 dB  21 WPM  CQ      2259Z");
  EXPECT_EQ(FormatSpotLine({"VE3ABCD", 10368100.0, "K7GT", 7, 21, SpotKind::Cq, kAt2259}),
            "DX de VE3A-#: 10368100.0  K7GT           CW     7 dB  21 WPM  CQ      2259Z");
}

TEST(Spot, DecimalPointUnderACommaLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  // Not every machine has one; the line must be the same either way.
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  const std::string line = FormatSpotLine({"W9XG", 7012.3, "K1ABC", 9, 25, SpotKind::Cq, 0});
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_NE(line.find("   7012.3  K1ABC"), std::string::npos) << line;
}

TEST(Spot, PolicyRespotsAfterTenMinutesOrAMoveOfMoreThan100Hz) {
  SpotPolicy policy;
  const struct {
    const char* call;
    double hz;
    SpotKind kind;
    double t;
    bool spot;
  } steps[] = {
      {"K1ABC", 14025000, SpotKind::Cq, 0, true},     // first time
      {"K1ABC", 14025000, SpotKind::Cq, 30, false},   // heard again
      {"K1ABC", 14025090, SpotKind::Dx, 60, false},   // 90 Hz, type changed: no
      {"W1AW", 14025000, SpotKind::Dx, 61, true},     // another call
      {"K1ABC", 14025150, SpotKind::Cq, 120, true},   // moved 150 Hz
      {"K1ABC", 14025010, SpotKind::Cq, 130, false},  // back where it was: flip-flop
      {"K1ABC", 14025160, SpotKind::Cq, 140, false},
      {"K1ABC", 14025150, SpotKind::Cq, 719, false},  // 599 s after its last spot
      {"K1ABC", 14025150, SpotKind::Cq, 720, true},   // 600 s
      {"K1ABC", 14030000, SpotKind::Cq, 721, true},   // a real move
  };
  for (const auto& s : steps) {
    EXPECT_EQ(policy.Offer(s.call, s.hz, s.kind, s.t), s.spot) << s.call << " at " << s.t;
  }
  policy.Prune(721 + 600);
  EXPECT_EQ(policy.Remembered(), 0u);
}

// A second detection beside a strong station misreads a letter twice: that bust is held
// back while the call it came from was spotted nearby; far away, or read more often, it is
// a station of its own.
TEST(Spot, PolicyHoldsBackABustOfACallSpottedNearby) {
  SpotPolicy policy;
  const struct {
    const char* call;
    double hz;
    double t;
    int reads;
    bool spot;
  } steps[] = {
      {"K1ABC", 14025000, 0, 2, true},
      {"K1ABG", 14025060, 10, 2, false},   // one letter changed, 60 Hz away
      {"K1AB", 14025100, 20, 2, false},    // one dropped
      {"K1ABCD", 14024800, 30, 0, false},  // one added; reads unknown
      {"K1ABG", 14026000, 40, 2, true},    // 1 kHz away: another station
      {"W1ABC", 14025000, 50, 3, true},    // more reads than K1ABC has
      {"K1XYZ", 14025000, 60, 2, true},    // not a bust of anything
      {"K1ABD", 14025050, 700, 2, true},   // K1ABC's spot is older than the re-spot time
  };
  for (const auto& s : steps) {
    EXPECT_EQ(policy.Offer(s.call, s.hz, SpotKind::Cq, s.t, s.reads), s.spot) << s.call;
  }
}

TEST(Spot, OneEditApartTable) {
  const struct {
    const char* a;
    const char* b;
    bool apart;
  } cases[] = {
      {"K1ABC", "K1ABG", true},  {"K1ABC", "K1AB", true},   {"K1AB", "K1ABC", true},
      {"K1ABC", "K1XABC", true}, {"K1ABC", "K1ABC", false}, {"K1ABC", "K1AGG", false},
      {"K1ABC", "K1A", false},   {"", "K", true},           {"K1ABC", "1ABC", true},
  };
  for (const auto& c : cases) EXPECT_EQ(OneEditApart(c.a, c.b), c.apart) << c.a << " " << c.b;
}

TEST(Spot, CqOnlyPassesCqAndBeaconSpots) {
  SpotPolicy policy({600, 100, true, 300});
  EXPECT_FALSE(policy.Offer("W1AW", 7000000, SpotKind::Dx, 0));
  EXPECT_TRUE(policy.Offer("W1AW", 7000000, SpotKind::Cq, 1));
  EXPECT_TRUE(policy.Offer("K1ABC/B", 7000000, SpotKind::Beacon, 2));
}

}  // namespace
}  // namespace kestrix::skim
