#include "skim/telnet_input.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

using namespace std::string_literals;
using Kind = TelnetEvent::Kind;

std::vector<TelnetEvent> Parse(const std::string& bytes, size_t chunk = 1000) {
  TelnetInput input;
  std::vector<TelnetEvent> events;
  for (size_t i = 0; i < bytes.size(); i += chunk) input.Feed(bytes.substr(i, chunk), events);
  return events;
}

TEST(TelnetInput, LinesToEvents) {
  const struct {
    const char* name;
    std::string bytes;
    std::vector<TelnetEvent> events;
  } cases[] = {
      {"login then bye", "w9xg\r\nbye\r\n", {{Kind::Login, "W9XG"}, {Kind::Bye, ""}}},
      {"LF only, commands",
       "K1ABC-2\nsh/dx\nBYE\nnever\n",
       {{Kind::Login, "K1ABC-2"}, {Kind::Command, "sh/dx"}, {Kind::Bye, ""}}},
      {"CR NUL and bare CR",
       "W1AW\r\0x\rquit\r"s,
       {{Kind::Login, "W1AW"}, {Kind::Command, "x"}, {Kind::Bye, ""}}},
      {"blank lines ignored", "\r\n\r\n   \r\nW1AW\r\n", {{Kind::Login, "W1AW"}}},
      {"bad login asked again",
       "hello there\r\n!!!\r\nW1AW\r\n",
       {{Kind::BadLogin, "hello there"}, {Kind::BadLogin, "!!!"}, {Kind::Login, "W1AW"}}},
      {"telnet negotiation stripped",
       "\xff\xfb\x01\xff\xfd\x03W\xff\xfa\x18\x00xterm\xff\xff\xff\xf0"
       "9XG\r\n"s,
       {{Kind::Login, "W9XG"}}},
      {"backspace and control bytes", "W9XX\x08G\x01\x1b\x80\xfe\r\n"s, {{Kind::Login, "W9XG"}}},
      {"bye before login", "bye\r\n", {{Kind::Bye, ""}}},
      {"unterminated subnegotiation is given up",
       "\xff\xfa\x18" + std::string(kMaxSubnegotiation, 'x') + "\r\nW1AW\r\n",
       {{Kind::Login, "W1AW"}}},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{1000}}) {
      EXPECT_EQ(Parse(c.bytes, chunk), c.events) << c.name << " chunk " << chunk;
    }
  }
}

TEST(TelnetInput, OverlongLineIsCutOnceAndTheNextLineIsClean) {
  const std::string bytes = "W9XG\r\n" + std::string(10000, 'A') + "\r\nsh/dx\r\n";
  const auto events = Parse(bytes, 97);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].kind, Kind::Overlong);
  EXPECT_EQ(events[2], (TelnetEvent{Kind::Command, std::string(kMaxTelnetLine, 'A')}));
  EXPECT_EQ(events[3], (TelnetEvent{Kind::Command, "sh/dx"}));
}

TEST(TelnetInput, RandomBytesGiveOnlyPrintableBoundedText) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(static_cast<size_t>(rng() % 2000), '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 4 == 0 ? "\r\n\xff "[rng() % 4] : rng());
    TelnetInput input;
    std::vector<TelnetEvent> events;
    input.Feed(bytes, events);
    for (const TelnetEvent& e : events) {
      EXPECT_LE(e.text.size(), kMaxTelnetLine);
      for (char c : e.text) EXPECT_TRUE(c >= 0x20 && c < 0x7f);
      if (e.kind == Kind::Login) {
        EXPECT_LE(e.text.size(), kMaxLoginCall);
      }
    }
  }
}

}  // namespace
}  // namespace kestrix::skim
