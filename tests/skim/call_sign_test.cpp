#include "skim/call_sign.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace kestrix::skim {
namespace {

struct ShapeCase {
  const char* call;
  CallRarity rarity;
  const char* holder;  // ITU allocation, nullptr when none
};

// Shapes, prefixes and the reads each needs, in one table.
TEST(CallSign, ShapeAndItuAllocationDecideValidityAndRarity) {
  const ShapeCase cases[] = {
      {"K1ABC", CallRarity::Common, "United States of America"},  // 1x3
      {"W1AW", CallRarity::Common, "United States of America"},   // 1x2
      {"KA1A", CallRarity::Common, "United States of America"},   // 2x1
      {"DL1AB", CallRarity::Common, "Germany"},                   // 2x2
      {"JA1ABC", CallRarity::Common, "Japan"},                    // 2x3
      {"G4ABC", CallRarity::Common, "United Kingdom"},            // one-letter block
      {"2E0ABC", CallRarity::Common, "United Kingdom"},           // digit-first block
      {"9A2AB", CallRarity::Common, "Croatia"},                   // digit + letter
      {"S51AB", CallRarity::Common, "Slovenia"},                  // letter + digit
      {"4X1AB", CallRarity::Common, "Israel"},
      {"VE3ABC", CallRarity::Common, "Canada"},
      {"R3ABC", CallRarity::Common, "Russian Federation"},
      {"SU1AB", CallRarity::Common, "Egypt"},                     // split block SSA-SSM
      {"K1A", CallRarity::Rare, "United States of America"},      // 1x1
      {"OH2ABCD", CallRarity::Rare, "Finland"},                   // four-letter suffix
      {"3DA0AB", CallRarity::Rare, "Eswatini"},                   // three-character prefix
      {"3D2AB", CallRarity::Common, "Eswatini"},                  // 3D + digit: the first 3D block
      {"DL/K1ABC", CallRarity::Rare, "Germany"},                  // country in front
      {"K1ABC/P", CallRarity::Rare, "United States of America"},  // designator
      {"K1ABC/3", CallRarity::Rare, "United States of America"},  // area
      {"K1ABC/VE3", CallRarity::Rare, "Canada"},                  // country behind
      {"W1ABC/B", CallRarity::Rare, "United States of America"},  // beacon
      {"QRZ", CallRarity::Invalid, nullptr},                      // no digit
      {"Q1ABC", CallRarity::Invalid, nullptr},                    // Q series holds no calls
      {"1A1AB", CallRarity::Invalid, nullptr},                    // digit 1 first
      {"5NN", CallRarity::Invalid, nullptr},
      {"TEST", CallRarity::Invalid, nullptr},
      {"U1ABC", CallRarity::Invalid, nullptr},  // U is shared: needs a second letter
      {"K1ABC1", CallRarity::Invalid, nullptr},
      {"K1ABCDE", CallRarity::Invalid, nullptr},  // five-letter suffix
      {"K1ABC/W1AW", CallRarity::Invalid, nullptr},
      {"K1ABC/", CallRarity::Invalid, nullptr},
      {"/K1ABC", CallRarity::Invalid, nullptr},
      {"k1abc", CallRarity::Invalid, nullptr},  // decoders write upper case
      {"K1ABC/P/P/P", CallRarity::Invalid, nullptr},
      {"", CallRarity::Invalid, nullptr},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(ShapeRarity(c.call), c.rarity);
    const char* holder = ItuAllocation(c.call);
    // Invalid shapes may still start with an allocated prefix (K1ABC1): only the valid
    // ones are checked for their holder.
    if (c.holder != nullptr) {
      ASSERT_NE(holder, nullptr);
      EXPECT_STREQ(holder, c.holder);
    }
    CallBook book;
    EXPECT_EQ(book.ReadsNeeded(c.call), c.rarity == CallRarity::Common ? 2
                                        : c.rarity == CallRarity::Rare ? 3
                                                                       : 0);
  }
}

TEST(CallSign, HomeCallAndOperatingPrefixSplitSlashParts) {
  const struct {
    const char* call;
    const char* home;
    const char* prefix;
  } cases[] = {
      {"K1ABC", "K1ABC", "K1ABC"},   {"DL/K1ABC", "K1ABC", "DL"},     {"K1ABC/P", "K1ABC", "K1ABC"},
      {"K1ABC/KH6", "K1ABC", "KH6"}, {"VE3/K1ABC/M", "K1ABC", "VE3"}, {"XYZ", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HomeCall(c.call), c.home) << c.call;
    EXPECT_EQ(OperatingPrefix(c.call), c.prefix) << c.call;
  }
}

TEST(CallSign, ScpMakesUnlistedCallsRareAndSkipsJunkLines) {
  CallBook book;
  size_t skipped = 0;
  const size_t taken = book.LoadScpText(
      "# MASTER.SCP\r\nK1ABC\r\nw1aw\n\n  DL1AB  \nnot a call\n5NN\n"
      "K1ABC\n" +
          std::string(300, 'X') + "\n",
      &skipped);
  EXPECT_EQ(taken, 3u);  // K1ABC twice counts once
  EXPECT_EQ(skipped, 3u);
  EXPECT_TRUE(book.InScp("W1AW"));
  EXPECT_TRUE(book.InScp("K1ABC/P"));  // the home call is listed
  EXPECT_EQ(book.Rarity("K1ABC"), CallRarity::Common);
  EXPECT_EQ(book.Rarity("K1ABD"), CallRarity::Rare);  // valid but not active
  EXPECT_EQ(book.Rarity("QRZ"), CallRarity::Invalid);
}

constexpr const char* kCty =
    "Sov Mil Order of Malta:   15:  28:  EU:   41.90:   -12.43:    -1.0:  1A:\n"
    "    1A;\n"
    "Hawaii:                   31:  61:  OC:   21.12:   157.48:    10.0:  KH6:\n"
    "    AH6,AH7,KH6,KH7,NH6,NH7,WH6,WH7,=KH7ZZ(31)[61];\n"
    "United States:            05:  08:  NA:   37.53:    91.67:     5.0:  K:\n"
    "    AA,K,N,W,=W1AW/KH6;\n"
    "Fed. Rep. of Germany:     14:  28:  EU:   51.00:   -10.00:    -1.0:  DL:\n"
    "    DA,DB,DC,DD,DF,DG,DH,DJ,DK,DL,DM,DN,DO,DP,DQ,DR,Y2,Y3{EU}<51.0/-10.0>;\n"
    "Vienna Intl Ctr:          15:  28:  EU:   48.20:   -16.30:    -1.0:  *4U1V:\n"
    "    =4U1VIC;\n";

TEST(CallSign, CtyEntitiesByExactCallThenLongestPrefix) {
  CallBook book;
  size_t skipped = 0;
  EXPECT_GT(book.LoadCtyText(kCty, &skipped), 25u);
  EXPECT_EQ(skipped, 0u);
  const struct {
    const char* call;
    const char* entity;
  } cases[] = {
      {"KH6ABC", "Hawaii"},
      {"K1ABC", "United States"},
      {"KH7ZZ", "Hawaii"},
      {"W1AW/KH6", "United States"},  // exact call beats the prefix part
      {"DL/K1ABC", "Fed. Rep. of Germany"},
      {"Y21AB", "Fed. Rep. of Germany"},
      {"4U1VIC", "Vienna Intl Ctr"},
      {"G4ABC", "United Kingdom"},  // falls back to the ITU table
  };
  for (const auto& c : cases) {
    const char* entity = book.Entity(c.call);
    ASSERT_NE(entity, nullptr) << c.call;
    EXPECT_STREQ(entity, c.entity) << c.call;
  }
}

TEST(CallSign, CtyGarbageIsSkippedAndLaterRecordsStillLoad) {
  CallBook book;
  size_t skipped = 0;
  const std::string text = std::string("no colons here;\n") + "A:B:C;\n" + std::string(5000, ':') +
                           ";\n" + "\x01\xff\x80:;;;,,\n" + kCty;
  EXPECT_GT(book.LoadCtyText(text, &skipped), 0u);
  EXPECT_GT(skipped, 0u);
  ASSERT_NE(book.Entity("KH6ABC"), nullptr);
  EXPECT_STREQ(book.Entity("KH6ABC"), "Hawaii");
}

TEST(CallSign, FilesThatCannotBeReadSayWhich) {
  CallBook book;
  std::string error;
  EXPECT_FALSE(book.LoadScpFile("/nonexistent/MASTER.SCP", error));
  EXPECT_NE(error.find("/nonexistent/MASTER.SCP"), std::string::npos);
  error.clear();
  EXPECT_FALSE(book.LoadCtyFile("/nonexistent/cty.dat", error));
  EXPECT_NE(error.find("cty.dat"), std::string::npos);
}

// Seeded random bytes through both parsers and the shape checks: no crash, no hang, and
// anything the book then calls valid really has a call's shape.
TEST(CallSign, RandomBytesNeverBreakTheParsers) {
  std::mt19937 rng(7);
  const char alphabet[] = "K1ABCDLW2/:;,=()[]<>{}~ \n\r#*\x01\xff";
  for (int round = 0; round < 300; ++round) {
    std::string text(static_cast<size_t>(rng() % 400), ' ');
    for (char& c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
    CallBook book;
    book.LoadCtyText(text);
    book.LoadScpText(text);
    for (size_t start = 0; start + 1 < text.size(); start += 7) {
      const std::string word = text.substr(start, 1 + rng() % 12);
      if (book.IsValid(word)) {
        EXPECT_TRUE(IsCallShape(word)) << word;
      }
    }
  }
}

}  // namespace
}  // namespace kestrix::skim
