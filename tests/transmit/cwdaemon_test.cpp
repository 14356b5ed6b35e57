#include "transmit/cwdaemon.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cwdaemon_rig.h"
#include "fake_line.h"
#include "line_reader.h"
#include "transmit/port_keyer.h"

namespace kestrix::transmit {
namespace {

using namespace std::string_literals;
using test::LineEdge;
using test::WaitFor;

std::string Esc(std::string_view rest) {
  return "\x1b"s + std::string(rest);
}

// An independent model of the unit length: whole milliseconds of 1200 / wpm with the
// keyer's 11-units-per-character-and-space arithmetic.
int64_t Unit(int wpm) {
  return 12000 / (11 * wpm);
}

// Key-down lengths and the key-up gaps between them.
std::vector<int64_t> Marks(const std::vector<LineEdge>& edges) {
  std::vector<int64_t> out;
  int64_t down = -1;
  for (const LineEdge& e : edges) {
    if (e.state == kKeyDown && down < 0) down = e.atMs;
    if (e.state != kKeyDown && down >= 0) {
      out.push_back(e.atMs - down);
      down = -1;
    }
  }
  return out;
}
std::vector<int64_t> Gaps(const std::vector<LineEdge>& edges) {
  std::vector<int64_t> out;
  int64_t up = -1;
  for (const LineEdge& e : edges) {
    if (e.state == kKeyDown && up >= 0) out.push_back(e.atMs - up);
    if (e.state == kKeyDown) up = -1;
    if (e.state != kKeyDown && up < 0) up = e.atMs;
  }
  return out;
}

constexpr int kStartWpm = 20;

// The keyer's surroundings: a fake line and clock, a wait that can be held, the port
// keyer, and a log the test can read.
struct Parts {
  static CwdaemonKeyerOptions Defaults() {
    CwdaemonKeyerOptions o;
    o.startWpm = kStartWpm;
    return o;
  }
  std::string Log() const { return errText.str(); }  // read once the writers are done

  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  test::HeldWaiter waiter{clock};
  ElementTiming timing;
  std::atomic<uint8_t> keyState{kKeyUp};
  PortKeyer port{SendTable(), timing, line, waiter, keyState};
  PortSendKeyers portKeyers{port};
  std::ostringstream errText;
  LineLog log{errText};
};

// A keyer at 20 wpm behind a server on an ephemeral loopback port.
struct Rig : Parts {
  explicit Rig(CwdaemonKeyerOptions o = Defaults(), SendKeyers* custom = nullptr)
      : keyer(custom ? *custom : portKeyers, line, waiter, timing, keyState, log, std::move(o)),
        server(keyer, log) {
    keyer.Start();
    std::string error;
    if (!server.Start({"127.0.0.1", 0}, error)) throw std::runtime_error(error);
  }
  // Sends one datagram and waits until the server has handled it.
  void Send(const std::string& bytes) {
    const uint64_t before = server.Datagrams();
    client.Send(server.Port(), bytes);
    ASSERT_TRUE(WaitFor([&] { return server.Datagrams() > before; })) << "never handled";
  }
  void SendAll(const std::vector<std::string>& requests) {
    for (const std::string& r : requests) Send(r);
    ASSERT_TRUE(WaitFor([&] { return keyer.Idle(); })) << "keyer never went idle";
  }
  std::string Text() const {
    return test::ReadLine(line.Edges(), static_cast<int>(Unit(kStartWpm)));
  }

  CwdaemonKeyer keyer;
  CwdaemonServer server;
  test::UdpClient client;
};

struct MarkCase {
  const char* name;
  std::vector<std::string> requests;
  std::vector<int64_t> marks;
};

TEST(Cwdaemon, SpeedRequestsSetTheMarkLengths) {
  const int64_t u20 = Unit(20);
  const std::vector<MarkCase> cases = {
      {"start speed", {"E"}, {u20}},
      {"ESC 2", {Esc("230"), "E"}, {Unit(30)}},
      {"inline + and - for the rest of the message only",
       {"E+E--E", "E"},
       {u20, Unit(22), Unit(18), u20}},
      {"inline steps clamp at 100", {Esc("299"), "E+E+E-E"}, {Unit(99), 10, 10, Unit(98)}},
      {"inline steps clamp at 5", {Esc("25"), "E-E"}, {Unit(5), Unit(5)}},
      {"reset returns to the start values",
       {Esc("240"), Esc("730"), Esc("0"), "ET"},
       {u20, 3 * u20}},
      {"weighting +30: dot ratio 130, dash ratio 110", {Esc("730"), "ET"}, {70, 178}},
      {"weighting -30: dot ratio 70, dash ratio 90", {Esc("7-30"), "ET"}, {37, 145}},
      {"bad values change nothing",
       {Esc("2abc"), Esc("24"), Esc("2101"), Esc("7 99"), Esc("z"), Esc("3-5"), "E"},
       {u20}},
      {"PTT, PTT delay and band codes key nothing",
       {Esc("a1"), Esc("d20"), Esc("e3"), Esc("f2"), "E"},
       {u20}},
      {"'*' keys '+'", {"*"}, {u20, 3 * u20, u20, 3 * u20, u20}},
      {"NUL-terminated", {"E\0"s, "T\0\0"s}, {u20, 3 * u20}},
      {"an oversized request is ignored whole", {std::string(257, 'E'), "T"}, {3 * u20}},
      {"256 bytes is keyed", {std::string(256, 'E')}, std::vector<int64_t>(256, u20)},
  };
  for (const MarkCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.SendAll(c.requests);
    EXPECT_EQ(Marks(rig.line.Edges()), c.marks) << rig.line.Describe();
    EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  }
}

TEST(Cwdaemon, BadValuesAndOversizeSayWhyOnStandardError) {
  Rig rig;
  rig.SendAll({Esc("2abc"), Esc("z"), std::string(300, 'E'), Esc("c15"), Esc("8ttyS1")});
  const std::string log = rig.Log();
  for (const char* want : {"ESC 2: ignored speed \"abc\"", "ESC z: unknown code",
                           "request of 300 bytes ignored", "cut to 10 s", "ttyS1"})
    EXPECT_NE(log.find(want), std::string::npos) << want << " missing from:\n" << log;
}

TEST(Cwdaemon, TextReadsBackAndTildeAddsTwoDotsOfSilence) {
  Rig rig;
  rig.SendAll({"cq test de k1abc?"});
  EXPECT_EQ(rig.Text(), "CQ TEST DE K1ABC?");

  const int64_t u = Unit(kStartWpm);
  struct Case {
    std::string text;
    int64_t gap;  // between the two E's
  };
  for (const Case& c :
       {Case{"EE", 3 * u}, Case{"E~E", 5 * u}, Case{"E~~E", 7 * u}, Case{"E~", -1}}) {
    SCOPED_TRACE(c.text);
    Rig r;
    r.SendAll({c.text, "E"});  // the second message shows a trailing '~' left no gap
    const std::vector<int64_t> gaps = Gaps(r.line.Edges());
    if (c.gap < 0) {
      ASSERT_EQ(gaps.size(), 1u);
      EXPECT_EQ(gaps[0], 3 * u);
    } else {
      ASSERT_EQ(gaps.size(), 2u);
      EXPECT_EQ(gaps[0], c.gap);
    }
  }
}

TEST(Cwdaemon, CaretEchoAndReplyComeBackOnceKeyed) {
  Rig rig;
  rig.Send("cq test^");
  EXPECT_EQ(rig.client.Receive(), "cq test\r\n");
  EXPECT_EQ(rig.Text(), "CQ TEST") << "the echo waits for the keying";

  rig.Send("+e~^\0"s);
  EXPECT_EQ(rig.client.Receive(), "+e~\r\n") << "the text as sent, without the caret";

  rig.Send(Esc("hmark 1"));
  rig.Send("e");
  EXPECT_EQ(rig.client.Receive(), "hmark 1\r\n");
  rig.Send("^");
  EXPECT_EQ(rig.client.Receive(), "\r\n") << "the reply went with the message after it only";

  rig.Send(Esc("hx"));
  rig.Send(Esc("0"));
  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "reset dropped the pending reply";
}

TEST(Cwdaemon, SpeedChangeDuringAMessageTakesEffectAtTheNextCharacter) {
  Rig rig;
  rig.waiter.Hold();
  rig.Send("eee");
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  rig.Send(Esc("240"));
  rig.Send(Esc("730"));
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  const int64_t dot40 = Unit(40) * 130 / 100;
  EXPECT_EQ(Marks(rig.line.Edges()), (std::vector<int64_t>{Unit(20), dot40, dot40}));
}

TEST(Cwdaemon, AbortEndsTheMessageAfterTheCharacterBeingKeyed) {
  Rig rig;
  rig.waiter.Hold();
  rig.Send("paris^");
  rig.Send("second^");
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  EXPECT_EQ(rig.keyState.load(), kKeyDown) << "held inside the first dot of P";
  rig.Send(Esc("4"));
  EXPECT_EQ(rig.keyer.Queued(), 0u) << "the queued message is dropped at once";
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  EXPECT_EQ(rig.Text(), "P");
  EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  EXPECT_EQ(rig.keyState.load(), kKeyUp);

  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "no echo for the aborted messages, keying resumes";
}

TEST(Cwdaemon, WordModeLetsTheWordFinish) {
  Rig rig;
  rig.Send(Esc("6"));
  EXPECT_TRUE(rig.keyer.WordMode());
  rig.waiter.Hold();
  rig.Send("cq cq de k1abc");
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  rig.Send(Esc("4"));
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  EXPECT_EQ(rig.Text(), "CQ");
  rig.Send(Esc("0"));
  EXPECT_FALSE(rig.keyer.WordMode());
}

TEST(Cwdaemon, TuneHoldsTheKeyForItsTimeAtMostTenSeconds) {
  struct Case {
    std::string request;
    int64_t downMs;
    int64_t callMs;  // what each line call costs: it shifts both edges alike
  };
  for (const Case& c : {Case{Esc("c3"), 3000, 0}, Case{Esc("c15"), 10000, 0}, Case{Esc("c0"), 0, 0},
                        Case{Esc("c3"), 3000, 1}}) {
    SCOPED_TRACE(c.request + " " + std::to_string(c.callMs) + " ms per call");
    Rig rig;
    rig.line.SetCallCost(c.callMs);
    rig.SendAll({c.request});
    const auto edges = rig.line.Edges();
    if (c.downMs == 0) {
      EXPECT_TRUE(edges.empty());
      continue;
    }
    EXPECT_EQ(Marks(edges), std::vector<int64_t>{c.downMs});
    EXPECT_EQ(edges.back().state, kKeyUp);
    EXPECT_EQ(rig.keyState.load(), kKeyUp);
  }
}

TEST(Cwdaemon, TuneEndsEarlyOnAbortTuneZeroAndStop) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    Rig rig;
    rig.waiter.Hold();
    rig.Send(Esc("c10"));
    ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
    EXPECT_EQ(rig.keyState.load(), kKeyDown);
    if (way == 0) rig.Send(Esc("4"));
    if (way == 1) rig.Send(Esc("c0"));
    std::thread stopper;
    if (way == 2) {
      stopper = std::thread([&] { rig.keyer.Stop(); });
      ASSERT_TRUE(WaitFor([&] { return rig.keyer.Stopping(); }));
    }
    rig.waiter.Release();
    if (stopper.joinable()) stopper.join();
    ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
    const auto edges = rig.line.Edges();
    ASSERT_FALSE(edges.empty());
    EXPECT_EQ(edges.back().state, kKeyUp);
    const auto marks = Marks(edges);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_LE(marks[0], Parts::Defaults().tuneSliceMs) << "released within the slice it was in";
  }
}

TEST(Cwdaemon, ABurstFillsTheQueueWithoutBlockingTheServer) {
  CwdaemonKeyerOptions o = Parts::Defaults();
  o.queueCapacity = 4;
  Rig rig(o);
  rig.waiter.Hold();
  rig.Send("e");  // being keyed, held
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  for (int i = 0; i < 10; ++i) rig.Send(i == 9 ? "t^"s : "e"s);
  EXPECT_EQ(rig.keyer.Queued(), 4u);
  EXPECT_EQ(rig.keyer.Dropped(), 6u);
  rig.Send(Esc("230"));  // still served while the queue is full and the keyer held
  EXPECT_EQ(rig.keyer.SpeedWpm(), 30);
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  const auto marks = Marks(rig.line.Edges());
  ASSERT_EQ(marks.size(), 5u);
  EXPECT_EQ(marks[0], Unit(20));
  EXPECT_EQ(marks[1], Unit(30)) << "the speed changed at the next character";
  EXPECT_NE(rig.Log().find("queue full"), std::string::npos);
  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "the dropped \"t^\" sent no echo";
}

// A keyer that fails: 'x' keys down and throws.
class FailingKeyers final : public SendKeyers {
 public:
  FailingKeyers(KeyLine& line, SendKeyers& inner) : line_(line), inner_(inner) {}
  void SendCharToPort(uint8_t code) override {
    if (code == 'x') {
      line_.SetKeyLine(kKeyDown);
      throw std::runtime_error("port gone");
    }
    inner_.SendCharToPort(code);
  }
  void SoundKeyChar(uint8_t, int32_t) override {}
  void SoundKeyBuffer(const char*, int32_t&, const std::atomic<uint8_t>&) override {}
  void AbortTone() override {}

 private:
  KeyLine& line_;
  SendKeyers& inner_;
};

TEST(Cwdaemon, AnErrorWhileKeyingLeavesTheKeyUpAndTheNextMessageKeys) {
  Parts p;
  FailingKeyers failing{p.line, p.portKeyers};
  CwdaemonKeyer keyer(failing, p.line, p.waiter, p.timing, p.keyState, p.log, Parts::Defaults());
  keyer.Start();
  bool firstKeyed = true;
  keyer.Key({{{TextItem::Kind::Char, 'e'}, {TextItem::Kind::Char, 'x'}},
             [&](bool keyed) { firstKeyed = keyed; }});
  keyer.Key({{{TextItem::Kind::Char, 't'}}, nullptr});
  ASSERT_TRUE(WaitFor([&] { return keyer.Idle(); }));
  EXPECT_FALSE(firstKeyed);
  EXPECT_EQ(Marks(p.line.Edges()), (std::vector<int64_t>{Unit(20), 0, 3 * Unit(20)}))
      << p.line.Describe();
  EXPECT_NE(p.Log().find("port gone"), std::string::npos);
}

TEST(Cwdaemon, DestructionMidMessageKeysUp) {
  Parts p;
  int dropped = 0;
  auto keyer = std::make_unique<CwdaemonKeyer>(p.portKeyers, p.line, p.waiter, p.timing, p.keyState,
                                               p.log, Parts::Defaults());
  keyer->Start();
  p.waiter.Hold();
  keyer->Key({{{TextItem::Kind::Char, 'o'}, {TextItem::Kind::Char, 'o'}}, nullptr});
  keyer->Key({{{TextItem::Kind::Char, 'e'}}, [&](bool keyed) { dropped += keyed ? 0 : 1; }});
  ASSERT_TRUE(WaitFor([&] { return p.waiter.Blocked(); }));
  const CwdaemonKeyer* raw = keyer.get();
  std::thread release([&] {
    WaitFor([&] { return raw->Stopping(); });  // the destructor is in Stop(), joining
    p.waiter.Release();
  });
  keyer.reset();  // joins the keyer thread once the held wait lets it go
  release.join();
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(p.line.Edges().back().state, kKeyUp);
  EXPECT_EQ(test::ReadLine(p.line.Edges(), 54), "O") << "the character being keyed completes";
}

// Records what the sound-card side was asked to key.
class SoundRecorder final : public SendKeyers {
 public:
  void SendCharToPort(uint8_t code) override { port += static_cast<char>(code); }
  void SoundKeyChar(uint8_t code, int32_t firstBlock) override {
    sound += static_cast<char>(code);
    allFirst = allFirst && firstBlock > 0;
  }
  void SoundKeyBuffer(const char*, int32_t&, const std::atomic<uint8_t>&) override {}
  void AbortTone() override { ++aborts; }
  std::string port, sound;
  bool allFirst = true;
  std::atomic<int> aborts{0};
};

TEST(Cwdaemon, SoundCardKeyingAndTone) {
  SoundRecorder sound;
  std::vector<int> tones;
  CwdaemonKeyerOptions o = Parts::Defaults();
  o.soundCard = true;
  o.startToneHz = 750;
  o.setTone = [&](int hz) { tones.push_back(hz); };
  {
    Rig rig(o, &sound);
    rig.SendAll({"a+b*", Esc("3600"), Esc("30"), Esc("0")});
    EXPECT_EQ(rig.keyer.ToneHz(), 750);
  }
  EXPECT_EQ(sound.sound, "ab+");
  EXPECT_EQ(sound.port, "");
  EXPECT_TRUE(sound.allFirst);
  EXPECT_EQ(tones, (std::vector<int>{600, 0, 750}));
  EXPECT_GE(sound.aborts.load(), 1) << "stopping ends a running tone";
}

TEST(Cwdaemon, ExitIsReportedToTheOwner) {
  Rig rig;
  EXPECT_FALSE(rig.keyer.ExitRequested());
  rig.Send(Esc("5"));
  EXPECT_TRUE(rig.keyer.ExitRequested());
}

TEST(CwdaemonServer, RefusesWhatItCannotBind) {
  Parts p;
  CwdaemonKeyer keyer(p.portKeyers, p.line, p.waiter, p.timing, p.keyState, p.log,
                      Parts::Defaults());
  CwdaemonServer first(keyer, p.log), second(keyer, p.log);
  std::string error;
  ASSERT_TRUE(first.Start({"127.0.0.1", 0}, error)) << error;
  EXPECT_FALSE(second.Start({"127.0.0.1", first.Port()}, error));
  EXPECT_NE(error.find("cannot bind"), std::string::npos) << error;
  EXPECT_FALSE(second.Start({"localhost", 0}, error)) << "names are not looked up";
  EXPECT_NE(error.find("numeric"), std::string::npos) << error;
  EXPECT_EQ(p.Log().find("warning"), std::string::npos) << "the loopback needs no warning";
}

}  // namespace
}  // namespace kestrix::transmit
