#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cwdaemon_invariants.h"
#include "transmit/cwdaemon_request.h"

namespace kestrix::transmit {
namespace {

using namespace std::string_literals;
using K = TextItem::Kind;

std::string Esc(std::string_view rest) {
  return "\x1b"s + std::string(rest);
}

struct EscCase {
  std::string datagram;
  bool acted;  // one action of `op` with `value`/`text`, else none and a warning
  CwdaemonOp op;
  int value;
  std::string text;
};

TEST(CwdaemonRequest, EscapeCodesAndTheirValues) {
  const std::vector<EscCase> cases = {
      {Esc("0"), true, CwdaemonOp::Reset, 0, ""},
      {Esc("225"), true, CwdaemonOp::Speed, 25, ""},
      {Esc("2 30 "), true, CwdaemonOp::Speed, 30, ""},
      {Esc("25"), true, CwdaemonOp::Speed, 5, ""},
      {Esc("2100"), true, CwdaemonOp::Speed, 100, ""},
      {Esc("24"), false, {}, 0, ""},
      {Esc("2101"), false, {}, 0, ""},
      {Esc("2"), false, {}, 0, ""},
      {Esc("22x"), false, {}, 0, ""},
      {Esc("299999999999"), false, {}, 0, ""},
      {Esc("30"), true, CwdaemonOp::Tone, 0, ""},
      {Esc("3800"), true, CwdaemonOp::Tone, 800, ""},
      {Esc("3-1"), false, {}, 0, ""},
      {Esc("4"), true, CwdaemonOp::Abort, 0, ""},
      {Esc("5"), true, CwdaemonOp::Exit, 0, ""},
      {Esc("6"), true, CwdaemonOp::WordMode, 0, ""},
      {Esc("7-50"), true, CwdaemonOp::Weighting, -50, ""},
      {Esc("7+50"), true, CwdaemonOp::Weighting, 50, ""},
      {Esc("751"), false, {}, 0, ""},
      {Esc("8ttyUSB0"), true, CwdaemonOp::Device, 0, "ttyUSB0"},
      {Esc("8"), false, {}, 0, ""},
      {Esc("8a b"), false, {}, 0, ""},
      {Esc("a1"), true, CwdaemonOp::Ptt, 1, ""},
      {Esc("a2"), false, {}, 0, ""},
      {Esc("c5"), true, CwdaemonOp::Tune, 5, ""},
      {Esc("c0"), true, CwdaemonOp::Tune, 0, ""},
      {Esc("c-1"), false, {}, 0, ""},
      {Esc("d20"), true, CwdaemonOp::PttDelay, 20, ""},
      {Esc("d51"), false, {}, 0, ""},
      {Esc("e3"), true, CwdaemonOp::NoEffect, 0, "e"},
      {Esc("hhello there"), true, CwdaemonOp::Reply, 0, "hello there"},
      {Esc("h"), true, CwdaemonOp::Reply, 0, ""},
      {Esc("z"), false, {}, 0, ""},
      {Esc("1"), false, {}, 0, ""},
      {Esc(""), false, {}, 0, ""},
  };
  for (const EscCase& c : cases) {
    SCOPED_TRACE(c.datagram.substr(1));
    const CwdaemonRequest r = ParseCwdaemonRequest(c.datagram);
    if (!c.acted) {
      EXPECT_TRUE(r.actions.empty());
      EXPECT_EQ(r.warnings.size(), 1u);
      continue;
    }
    ASSERT_EQ(r.actions.size(), 1u);
    EXPECT_EQ(r.actions[0].op, c.op);
    EXPECT_EQ(r.actions[0].value, c.value);
    EXPECT_EQ(r.actions[0].text, c.text);
    EXPECT_TRUE(r.warnings.empty());
  }
}

TEST(CwdaemonRequest, TuneAboveTenSecondsIsCutWithAWarning) {
  const CwdaemonRequest r = ParseCwdaemonRequest(Esc("c15"));
  ASSERT_EQ(r.actions.size(), 1u);
  EXPECT_EQ(r.actions[0].value, 10);
  EXPECT_EQ(r.warnings.size(), 1u);
}

struct TextCase {
  std::string datagram;
  std::vector<TextItem> items;
  bool echo;
  std::string echoText;
  size_t warnings;
};

TEST(CwdaemonRequest, TextItemsEchoAndNuls) {
  const std::vector<TextItem> cq = {{K::Char, 'c'}, {K::Char, 'q'}};
  const std::vector<TextCase> cases = {
      {"cq", cq, false, "", 0},
      {"cq\0"s, cq, false, "", 0},
      {"cq\0\0\0"s, cq, false, "", 0},
      {"cq\0xyz"s, cq, false, "", 1},
      {"cq^", cq, true, "cq", 0},
      {"cq^\0"s, cq, true, "cq", 0},
      {"^", {}, true, "", 0},
      {"^cq", {{K::Char, '^'}, {K::Char, 'c'}, {K::Char, 'q'}}, false, "", 0},
      {"a+b-~c*",
       {{K::Char, 'a'},
        {K::Faster, 0},
        {K::Char, 'b'},
        {K::Slower, 0},
        {K::Gap, 0},
        {K::Char, 'c'},
        {K::Char, '+'}},
       false,
       "",
       0},
      {"+~^", {{K::Faster, 0}, {K::Gap, 0}}, true, "+~", 0},
      {"a\tb\xe9\r\n", {{K::Char, 'a'}, {K::Char, 'b'}}, false, "", 1},
      {"cq\n", cq, false, "", 0},
      {"c\r\nq", cq, false, "", 0},
      {"cq^\r\n", cq, true, "cq", 0},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.datagram);
    const CwdaemonRequest r = ParseCwdaemonRequest(c.datagram);
    ASSERT_EQ(r.actions.size(), 1u);
    const CwdaemonAction& a = r.actions[0];
    EXPECT_EQ(a.op, CwdaemonOp::Key);
    EXPECT_EQ(a.items, c.items);
    EXPECT_EQ(a.echo, c.echo);
    EXPECT_EQ(a.text, c.echoText);
    EXPECT_EQ(r.warnings.size(), c.warnings);
  }
}

TEST(CwdaemonRequest, NothingToDo) {
  for (const std::string& d : {""s, "\0"s, "\r\n"s, "\x01\x02"s}) {
    SCOPED_TRACE(d.size());
    EXPECT_TRUE(ParseCwdaemonRequest(d).actions.empty());
  }
}

TEST(CwdaemonRequest, OversizedRequestsAreIgnoredWholeAndTheLimitCountsWithoutNuls) {
  struct Case {
    std::string datagram;
    size_t keyed;  // 0: ignored
  };
  const std::vector<Case> cases = {
      {std::string(256, 'e'), 256},
      {std::string(256, 'e') + '\0', 256},
      {std::string(255, 'e') + '^', 255},
      {std::string(257, 'e'), 0},
      {std::string(300, 'e') + '^', 0},
      {Esc(std::string(255, '2')), 0},  // an ESC request is limited the same way
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.datagram.size());
    const CwdaemonRequest r = ParseCwdaemonRequest(c.datagram);
    if (c.keyed == 0) {
      EXPECT_TRUE(r.actions.empty());
      ASSERT_EQ(r.warnings.size(), 1u);
      EXPECT_NE(r.warnings[0].find("ignored"), std::string::npos) << r.warnings[0];
    } else {
      ASSERT_EQ(r.actions.size(), 1u);
      EXPECT_EQ(r.actions[0].items.size(), c.keyed);
    }
  }
}

TEST(CwdaemonRequest, KeyedTextIsWhatTheLineSends) {
  EXPECT_EQ(KeyedText(ParseCwdaemonRequest("5nn+tu-~ *").actions[0].items), "5nntu +");
}

// Datagrams shaped like requests (ESC codes with numbers, text with the inline controls,
// NULs, high bytes, lengths around the limit), from a fixed seed.
TEST(CwdaemonRequest, SeededRandomDatagramsKeepEveryRule) {
  std::mt19937 rng(20260117);
  const std::string codes = "0123456789abcdefghz";
  const std::string textBytes = "abcxyzEST059 ?/=+-~*^\0\t\r\n\x1b\x7f\xe9\xff"s;
  const std::string valueBytes = "0123456789+- \0x"s;
  auto pick = [&](const std::string& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
  };
  int acted = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string d;
    const int shape = std::uniform_int_distribution<int>(0, 3)(rng);
    const size_t length = std::uniform_int_distribution<size_t>(0, shape == 3 ? 300 : 12)(rng);
    if (shape <= 1) {
      d = "\x1b"s + pick(codes);
      for (size_t i = 0; i < length; ++i) d += pick(valueBytes);
    } else if (shape == 2) {
      for (size_t i = 0; i < length; ++i) d += pick(textBytes);
    } else {
      for (size_t i = 0; i < length; ++i)
        d += static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
    }
    const CwdaemonRequest r = ParseCwdaemonRequest(d);
    const std::string fault = test::CheckRequest(d, r);
    ASSERT_TRUE(fault.empty()) << fault << " for datagram #" << n << " of " << d.size() << " bytes";
    acted += r.actions.empty() ? 0 : 1;
  }
  EXPECT_GT(acted, 5000) << "the generator should mostly make valid requests";
}

}  // namespace
}  // namespace kestrix::transmit
