#include "transmit/partner_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace kestrix::transmit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Record(uint32_t message, int64_t first, int64_t second) {
  const PartnerRecordBytes r = EncodePartnerRecord(message, first, second);
  return Bytes(r.begin(), r.end());
}

void Append(Bytes& to, const Bytes& more) {
  to.insert(to.end(), more.begin(), more.end());
}

std::vector<PartnerRecord> ParseAll(PartnerRecordParser& p, const Bytes& bytes) {
  p.Push(bytes.data(), bytes.size());
  std::vector<PartnerRecord> out;
  PartnerRecord r;
  while (p.Next(r)) out.push_back(r);
  return out;
}

TEST(PartnerRecord, LayoutIsLittleEndianWithMagicVersionAndLength) {
  const Bytes r = Record(kPartnerCharacter, 0x0102030405060708, -2);
  const Bytes expected = {
      0x4B, 0x58, 0x50, 0x4D,                          // "KXPM"
      0x01, 0x00, 0x20, 0x00,                          // version 1, 32 bytes
      0x02, 0x04, 0x00, 0x00,                          // 1026
      0x00, 0x00, 0x00, 0x00,                          // reserved
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // first
      0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // second = -2
  };
  EXPECT_EQ(r, expected);
}

TEST(PartnerRecord, CharacterParameterIsTheSignExtendedByte) {
  struct Case {
    char c;
    int64_t param;
  };
  for (const Case& k : {Case{'a', 97}, Case{' ', 32}, Case{'@', 64}, Case{'\xE9', -23},
                        Case{'\x80', -128}, Case{'\xFF', -1}}) {
    EXPECT_EQ(CharacterParameter(k.c), k.param) << int(static_cast<uint8_t>(k.c));
    EXPECT_EQ(static_cast<char>(CharacterParameter(k.c) & 0xFF), k.c);
  }
}

TEST(PartnerRecordParser, ReassemblesRecordsSplitAtEveryByte) {
  Bytes stream = Record(kPartnerAnnounce, 0, 77);
  Append(stream, Record(kPartnerGoodbye, -5, INT64_MIN));
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    PartnerRecordParser p;
    auto got = ParseAll(p, Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)));
    const auto rest =
        ParseAll(p, Bytes(stream.begin() + static_cast<ptrdiff_t>(cut), stream.end()));
    got.insert(got.end(), rest.begin(), rest.end());
    ASSERT_EQ(got.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(got[0].Message, kPartnerAnnounce);
    EXPECT_EQ(got[0].Second, 77);
    EXPECT_EQ(got[1].Message, kPartnerGoodbye);
    EXPECT_EQ(got[1].First, -5);
    EXPECT_EQ(got[1].Second, INT64_MIN);
    EXPECT_EQ(p.SkippedBytes(), 0u);
    EXPECT_EQ(p.Pending(), 0u);
  }
}

TEST(PartnerRecordParser, SkipsWhatIsNotARecordAndKeepsWhatFollows) {
  const Bytes good = Record(kPartnerAnnounce, 0, 9);
  auto header = [](uint16_t version, uint16_t length) {
    return Bytes{0x4B,
                 0x58,
                 0x50,
                 0x4D,
                 static_cast<uint8_t>(version),
                 static_cast<uint8_t>(version >> 8),
                 static_cast<uint8_t>(length),
                 static_cast<uint8_t>(length >> 8)};
  };
  struct Case {
    const char* what;
    Bytes before;
  };
  const Case cases[] = {
      {"text", {'h', 'e', 'l', 'l', 'o', '\n'}},
      {"half a magic", {0x4B, 0x58, 0x00}},
      {"version 0", header(0, 32)},
      {"too short", header(1, 31)},
      {"too long", header(1, 257)},
      {"zeros", Bytes(100, 0)},
  };
  for (const Case& k : cases) {
    Bytes stream = k.before;
    Append(stream, good);
    PartnerRecordParser p;
    const auto got = ParseAll(p, stream);
    ASSERT_EQ(got.size(), 1u) << k.what;
    EXPECT_EQ(got[0].Second, 9) << k.what;
    EXPECT_EQ(p.SkippedBytes(), k.before.size()) << k.what;
    EXPECT_EQ(p.Pending(), 0u) << k.what;
  }
}

TEST(PartnerRecordParser, TakesKnownFieldsOfALongerLaterVersion) {
  Bytes later = Record(kPartnerCharacter, 0, 'k');
  later[4] = 2;   // version 2
  later[6] = 40;  // with 8 more bytes
  later.resize(40, 0xEE);
  Append(later, Record(kPartnerGoodbye, 0, 0));
  PartnerRecordParser p;
  const auto got = ParseAll(p, later);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Version, 2);
  EXPECT_EQ(got[0].Second, 'k');
  EXPECT_EQ(got[1].Message, kPartnerGoodbye);
  EXPECT_EQ(p.SkippedBytes(), 0u);
}

TEST(PartnerRecordParser, HoldsAnUnfinishedRecordUntilTheRestArrives) {
  const Bytes r = Record(kPartnerAnnounce, 0, 1);
  PartnerRecordParser p;
  EXPECT_TRUE(ParseAll(p, Bytes(r.begin(), r.begin() + 20)).empty());
  EXPECT_EQ(p.Pending(), 20u);
  EXPECT_EQ(ParseAll(p, Bytes(r.begin() + 20, r.end())).size(), 1u);
}

// Valid records mixed with garbage that never contains the magic's first byte, cut into
// random pieces: every record comes out, in order, and exactly the garbage is skipped.
// Then the same streams with random bytes overwritten: whatever comes out, the parser
// accounts for every byte and holds at most one record's worth.
TEST(PartnerRecordParser, SeededRandomStreams) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 300; ++round) {
    Bytes stream;
    std::vector<int64_t> sent;
    size_t garbage = 0;
    const int records = static_cast<int>(rng() % 40);
    for (int i = 0; i < records; ++i) {
      const int junk = static_cast<int>(rng() % 4 == 0 ? rng() % 50 : 0);
      for (int j = 0; j < junk; ++j) {
        uint8_t b = static_cast<uint8_t>(rng());
        if (b == 0x4B) b = 0x4C;
        stream.push_back(b);
      }
      garbage += static_cast<size_t>(junk);
      const int64_t value = static_cast<int64_t>(rng()) - (1LL << 31);
      sent.push_back(value);
      Append(stream, Record(1024 + rng() % 8, 0, value));
    }
    for (int mutated = 0; mutated < 2; ++mutated) {
      Bytes bytes = stream;
      if (mutated) {
        for (int k = static_cast<int>(rng() % 8); k > 0 && !bytes.empty(); --k) {
          bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        }
      }
      PartnerRecordParser p;
      std::vector<PartnerRecord> got;
      size_t taken = 0;
      for (size_t at = 0; at < bytes.size();) {
        const size_t piece = std::min<size_t>(bytes.size() - at, 1 + rng() % 70);
        p.Push(bytes.data() + at, piece);
        at += piece;
        PartnerRecord r;
        while (p.Next(r)) {
          got.push_back(r);
          taken += r.Length;
        }
        ASSERT_LE(p.Pending(), kPartnerMaxRecordBytes);
      }
      // Every byte is in a record, skipped, or held for the record still unfinished.
      EXPECT_EQ(taken + p.SkippedBytes() + p.Pending(), bytes.size()) << "round " << round;
      if (!mutated) {
        ASSERT_EQ(got.size(), sent.size()) << "round " << round;
        for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(got[i].Second, sent[i]);
        EXPECT_EQ(p.SkippedBytes(), garbage);
        EXPECT_EQ(p.Pending(), 0u);
      }
    }
  }
}

}  // namespace
}  // namespace kestrix::transmit
