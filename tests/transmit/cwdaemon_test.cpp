#include "transmit/cwdaemon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cwdaemon_rig.h"
#include "fake_line.h"
#include "line_reader.h"
#include "platform/monotonic_wait.h"

namespace kestrix::transmit {
namespace {

using namespace std::string_literals;
using test::LineEdge;
using test::WaitFor;

std::string Esc(std::string_view rest) {
  return "\x1b"s + std::string(rest);
}

// An independent model of network speed: PARIS, a unit of 1200 / wpm ms, in µs.
int64_t Unit(int wpm) {
  return 1200000 / wpm;
}

// Key-down lengths and the key-up gaps between them (in the edges' unit).
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
// The times of the key-downs.
std::vector<int64_t> Downs(const std::vector<LineEdge>& edges) {
  std::vector<int64_t> out;
  for (const LineEdge& e : edges)
    if (e.state == kKeyDown) out.push_back(e.atMs);
  return out;
}

// The line read back as patterns: marks of two units or more are dashes, a gap of two
// units or more ends a character, six or more a word (" ").
std::vector<std::string> Patterns(const std::vector<LineEdge>& edgesUs, int64_t unitUs) {
  std::vector<std::string> out;
  std::string cur;
  int64_t down = -1, up = -1;
  for (const LineEdge& e : edgesUs) {
    if (e.state == kKeyDown && down < 0) {
      if (up >= 0 && e.atMs - up >= 2 * unitUs) {
        out.push_back(cur);
        cur.clear();
        if (e.atMs - up >= 6 * unitUs) out.push_back(" ");
      }
      down = e.atMs;
    } else if (e.state != kKeyDown && down >= 0) {
      cur += e.atMs - down >= 2 * unitUs ? '-' : '.';
      up = e.atMs;
      down = -1;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

constexpr int kStartWpm = 20;

// A PTT output that records its changes on the fake clock.
class FakePtt final : public PttLine {
 public:
  explicit FakePtt(test::FakeClock& clock) : clock_(clock) {}
  bool SetPtt(bool on) override {
    std::lock_guard<std::mutex> lock(mu_);
    changes_.push_back({clock_.NowUs(), static_cast<uint8_t>(on ? 1 : 0)});
    return true;
  }
  std::vector<LineEdge> Changes() const {  // atMs holds µs
    std::lock_guard<std::mutex> lock(mu_);
    return changes_;
  }
  bool On() const {
    std::lock_guard<std::mutex> lock(mu_);
    return !changes_.empty() && changes_.back().state == 1;
  }

 private:
  test::FakeClock& clock_;
  mutable std::mutex mu_;
  std::vector<LineEdge> changes_;
};

// The keyer's surroundings: a fake line and clock, a wait that can be held, a PTT output
// and a log the test can read.
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
  FakePtt ptt{clock};
  std::atomic<uint8_t> keyState{kKeyUp};
  std::ostringstream errText;
  LineLog log{errText};
};

// A keyer at 20 wpm behind a server on an ephemeral loopback port.
struct Rig : Parts {
  // `withPtt`: the keyer drives the Parts' fake PTT.
  explicit Rig(CwdaemonKeyerOptions o = Defaults(), bool withPtt = false)
      : keyer(line, waiter, keyState, log, WithPtt(std::move(o), withPtt ? &ptt : nullptr)),
        server(keyer, log) {
    keyer.Start();
    std::string error;
    if (!server.Start({"127.0.0.1", 0}, error)) throw std::runtime_error(error);
  }
  static CwdaemonKeyerOptions WithPtt(CwdaemonKeyerOptions o, PttLine* p) {
    o.ptt = p;
    return o;
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
    return test::ReadLine(line.Edges(), static_cast<int>(Unit(kStartWpm) / 1000));
  }
  std::vector<int64_t> MarksUs() const { return Marks(line.EdgesUs()); }

  CwdaemonKeyer keyer;
  CwdaemonServer server;
  test::UdpClient client;
};

// A rig whose keyer drives the fake PTT.
struct PttRig : Rig {
  PttRig() : Rig(Defaults(), true) {}
};

struct MarkCase {
  const char* name;
  std::vector<std::string> requests;
  std::vector<int64_t> marks;  // µs
};

TEST(Cwdaemon, SpeedsAreWordsPerMinuteAsLoggersCountThem) {
  const int64_t u20 = Unit(20);
  const std::vector<MarkCase> cases = {
      {"start speed: a dot of 1200 / 20 = 60 ms", {"E"}, {60000}},
      {"ESC 2 24: a dot of 50 ms, not the window's 45", {Esc("224"), "E"}, {50000}},
      {"ESC 2 30", {Esc("230"), "ET"}, {40000, 120000}},
      {"inline + and - for the rest of the message only",
       {Esc("210"), "E+E--E", "E"},
       {Unit(10), Unit(12), Unit(8), Unit(10)}},
      {"inline steps clamp at 100", {Esc("299"), "E+E+E-E"}, {Unit(99), 12000, 12000, Unit(98)}},
      {"inline steps clamp at 5", {Esc("25"), "E-E"}, {Unit(5), Unit(5)}},
      {"reset returns to the start values",
       {Esc("240"), Esc("730"), Esc("0"), "ET"},
       {u20, 3 * u20}},
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
    EXPECT_EQ(rig.MarksUs(), c.marks) << rig.line.Describe();
    EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  }
}

TEST(Cwdaemon, ParisTakesFiftyUnitsAtEveryWeighting) {
  // From the first mark of one PARIS to the first of the next: 50 units, so W words take
  // one minute; weighting moves time from the spaces to the marks and keeps it.
  for (int wpm : {12, 24, 40}) {
    for (int weighting : {0, 30, -30, 50, -50}) {
      SCOPED_TRACE(std::to_string(wpm) + " wpm, weighting " + std::to_string(weighting));
      Rig rig;
      rig.SendAll({Esc("2" + std::to_string(wpm)), Esc("7" + std::to_string(weighting)),
                   "PARIS PARIS PARIS"});
      const std::vector<int64_t> downs = Downs(rig.line.EdgesUs());
      ASSERT_EQ(downs.size(), 3u * 14);  // P 4, A 2, R 3, I 2, S 3
      EXPECT_EQ(downs[14] - downs[0], 50 * Unit(wpm));
      EXPECT_EQ(downs[28] - downs[14], 50 * Unit(wpm));
      const std::vector<int64_t> marks = rig.MarksUs();
      // d = 2 × 0.6 w % of a unit: libcw's weighting 50 + 0.6 w.
      const int64_t d = Unit(wpm) * 12 * weighting / 1000;
      EXPECT_NEAR(static_cast<double>(marks[0]), static_cast<double>(Unit(wpm) + d), 1.0)
          << "P's first dot";
      EXPECT_NEAR(static_cast<double>(marks[1]), static_cast<double>(3 * Unit(wpm) + d), 1.0)
          << "P's first dash";
      const std::vector<int64_t> gaps = Gaps(rig.line.EdgesUs());
      EXPECT_NEAR(static_cast<double>(gaps[0]), static_cast<double>(Unit(wpm) - d), 1.0);
    }
  }
}

TEST(Cwdaemon, CharacterSetIsCwdaemonsAndLibcws) {
  // cwdaemon's README and libcw's cw(7) tables, written out here.
  const std::map<char, std::string> documented = {
      {'<', "...-.-"}, {'>', "-...-.-"}, {':', "---..."},  {';', "-.-.-."}, {')', "-.--.-"},
      {'"', ".-..-."}, {'\'', ".----."}, {'$', "...-..-"}, {'_', "..--.-"}, {'!', "...-."},
      {'&', ".-..."},  {'(', "-.--."},   {'=', "-...-"},   {'@', ".--.-."}, {'?', "..--.."},
      {',', "--..--"}, {'.', ".-.-.-"},  {'/', "-..-."},   {'*', ".-.-."},  {'Q', "--.-"},
      {'q', "--.-"},   {'0', "-----"},
  };
  for (const auto& [c, pattern] : documented) {
    SCOPED_TRACE(std::string(1, c));
    Rig rig;
    rig.SendAll({std::string(1, c)});
    EXPECT_EQ(Patterns(rig.line.EdgesUs(), Unit(kStartWpm)), std::vector<std::string>{pattern});
  }
  // Skipped: nothing keyed, no time taken ('%' was KA; cwdaemon skips it).
  for (const char* skipped : {"E%E", "E#E", "E[E", "E|E", "E`E"}) {
    SCOPED_TRACE(skipped);
    Rig rig;
    rig.SendAll({skipped});
    EXPECT_EQ(Gaps(rig.line.EdgesUs()), std::vector<int64_t>{3 * Unit(kStartWpm)});
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
       {Case{"EE", 3 * u}, Case{"E~E", 5 * u}, Case{"E~~E", 7 * u}, Case{"E E", 7 * u}}) {
    SCOPED_TRACE(c.text);
    Rig r;
    r.SendAll({c.text});
    EXPECT_EQ(Gaps(r.line.EdgesUs()), std::vector<int64_t>{c.gap});
  }
}

TEST(Cwdaemon, CaretEchoAndReplyComeBackAtTheLastKeyUp) {
  Rig rig;
  rig.Send("cq test^");
  EXPECT_EQ(rig.client.Receive(), "cq test\r\n");
  EXPECT_EQ(rig.Text(), "CQ TEST") << "the echo waits for the keying";
  EXPECT_EQ(rig.clock.NowUs(), rig.line.EdgesUs().back().atMs)
      << "no trailing space is waited before the echo";

  rig.Send("+e~^\0"s);
  EXPECT_EQ(rig.client.Receive(), "+e~\r\n") << "the text as sent, without the caret";

  rig.Send(Esc("hmark 1"));
  rig.Send("e");
  EXPECT_EQ(rig.client.Receive(), "hmark 1\r\n");
  EXPECT_EQ(rig.clock.NowUs(), rig.line.EdgesUs().back().atMs);
  rig.Send("^");
  EXPECT_EQ(rig.client.Receive(), "\r\n") << "the reply went with the message after it only";

  rig.Send(Esc("hx"));
  rig.Send(Esc("0"));
  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "reset dropped the pending reply";

  // The space the echo did not wait for still comes before the next message.
  Rig spaced;
  spaced.Send("e^");
  EXPECT_EQ(spaced.client.Receive(), "e\r\n");
  spaced.SendAll({"e"});
  EXPECT_EQ(Gaps(spaced.line.EdgesUs()), std::vector<int64_t>{3 * Unit(kStartWpm)});
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
  const int64_t dot40 = Unit(40) + Unit(40) * 12 * 30 / 1000;
  EXPECT_EQ(rig.MarksUs(), (std::vector<int64_t>{Unit(20), dot40, dot40}));
}

TEST(Cwdaemon, AbortStopsAfterTheElementBeingKeyed) {
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
  EXPECT_EQ(rig.MarksUs(), std::vector<int64_t>{Unit(kStartWpm)})
      << "the dot completes; nothing of P's dashes: " << rig.line.Describe();
  EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  EXPECT_EQ(rig.keyState.load(), kKeyUp);

  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "no echo for the aborted messages, keying resumes";
}

TEST(Cwdaemon, AbortInsideADashCompletesTheDashOnly) {
  Rig rig;
  rig.Send(Esc("25"));  // 240 ms units
  rig.waiter.Hold();
  rig.Send("tt");
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  rig.Send(Esc("4"));
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  EXPECT_EQ(rig.MarksUs(), std::vector<int64_t>{3 * Unit(5)});
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

TEST(Cwdaemon, PttRisesTheDelayBeforeTheFirstElementAndFallsAfterTheLastSpace) {
  PttRig rig;
  rig.SendAll({Esc("d30"), "e^"});
  EXPECT_EQ(rig.client.Receive(), "e\r\n");
  ASSERT_TRUE(WaitFor([&] { return !rig.ptt.On(); }));
  const auto ptt = rig.ptt.Changes();
  const auto edges = rig.line.EdgesUs();
  ASSERT_EQ(ptt.size(), 2u);
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_EQ(edges[0].atMs - ptt[0].atMs, 30000) << "ESC d 30: 30 ms from PTT to the first mark";
  EXPECT_EQ(ptt[1].atMs - edges[1].atMs, 3 * Unit(kStartWpm))
      << "PTT falls once the character space after the last mark has passed";
}

TEST(Cwdaemon, PttStaysUpBetweenQueuedMessagesAndAroundATune) {
  PttRig rig;
  rig.waiter.Hold();
  rig.Send("e");
  ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
  rig.Send("t");
  rig.Send(Esc("c1"));
  rig.waiter.Release();
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle() && !rig.ptt.On(); }));
  EXPECT_EQ(rig.ptt.Changes().size(), 2u) << "one rise, one fall";
  EXPECT_EQ(rig.ptt.Changes().back().atMs, rig.line.EdgesUs().back().atMs)
      << "after a tune the PTT falls with the key";
}

TEST(Cwdaemon, ManualPttIsHeldAcrossMessagesUntilEscAZero) {
  PttRig rig;
  rig.SendAll({Esc("d20"), Esc("a1")});
  EXPECT_TRUE(rig.ptt.On());
  rig.clock.Advance(100);  // the PTT has been up longer than the delay
  const int64_t before = rig.clock.NowUs();
  rig.SendAll({"e"});
  EXPECT_EQ(rig.line.EdgesUs().front().atMs, before) << "no second delay";
  ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle(); }));
  EXPECT_TRUE(rig.ptt.On()) << "held after the message";
  rig.SendAll({Esc("a0")});
  EXPECT_FALSE(rig.ptt.On());
  EXPECT_EQ(rig.ptt.Changes().size(), 2u);
}

TEST(Cwdaemon, PttFallsAtOnceOnAbortAndWhateverHappensOnStop) {
  {
    PttRig rig;
    rig.waiter.Hold();
    rig.Send("paris");
    ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
    rig.Send(Esc("4"));
    rig.waiter.Release();
    ASSERT_TRUE(WaitFor([&] { return rig.keyer.Idle() && !rig.ptt.On(); }));
    EXPECT_EQ(rig.ptt.Changes().back().atMs, rig.line.EdgesUs().back().atMs)
        << "no tail after an abort";
  }
  {
    PttRig rig;
    rig.SendAll({Esc("a1")});
    rig.waiter.Hold();
    rig.Send("paris");
    ASSERT_TRUE(WaitFor([&] { return rig.waiter.Blocked(); }));
    std::thread stopper([&] { rig.keyer.Stop(); });
    ASSERT_TRUE(WaitFor([&] { return rig.keyer.Stopping(); }));
    rig.waiter.Release();
    stopper.join();
    EXPECT_FALSE(rig.ptt.On()) << "stop releases even a held PTT";
    EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  }
}

TEST(Cwdaemon, WithoutAPttOutputEscAAndEscDAreRemembered) {
  Rig rig;
  rig.SendAll({Esc("d25"), Esc("a1"), "e", Esc("a0")});
  EXPECT_EQ(rig.keyer.PttDelayMs(), 25);
  EXPECT_EQ(rig.MarksUs(), std::vector<int64_t>{Unit(kStartWpm)});
  rig.SendAll({Esc("0")});
  EXPECT_EQ(rig.keyer.PttDelayMs(), 0);
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
  const auto marks = rig.MarksUs();
  ASSERT_EQ(marks.size(), 5u);
  EXPECT_EQ(marks[0], Unit(20));
  EXPECT_EQ(marks[1], Unit(30)) << "the speed changed at the next character";
  EXPECT_NE(rig.Log().find("queue full"), std::string::npos);
  rig.Send("e^");
  EXPECT_EQ(rig.client.Receive(), "e\r\n") << "the dropped \"t^\" sent no echo";
}

// A line that fails: its second key-down keys down and throws.
class FailingLine final : public KeyLine {
 public:
  explicit FailingLine(KeyLine& inner) : inner_(inner) {}
  void SetKeyLine(uint8_t state) override {
    inner_.SetKeyLine(state);
    if (state == kKeyDown && ++downs_ == 2) throw std::runtime_error("port gone");
  }

 private:
  KeyLine& inner_;
  int downs_ = 0;
};

TEST(Cwdaemon, AnErrorWhileKeyingLeavesTheKeyUpAndTheNextMessageKeys) {
  Parts p;
  FailingLine failing{p.line};
  CwdaemonKeyer keyer(failing, p.waiter, p.keyState, p.log, Parts::Defaults());
  keyer.Start();
  bool firstKeyed = true;
  keyer.Key({{{TextItem::Kind::Char, 'e'}, {TextItem::Kind::Char, 'e'}},
             [&](bool keyed) { firstKeyed = keyed; }});
  keyer.Key({{{TextItem::Kind::Char, 't'}}, nullptr});
  ASSERT_TRUE(WaitFor([&] { return keyer.Idle(); }));
  EXPECT_FALSE(firstKeyed);
  EXPECT_EQ(Marks(p.line.EdgesUs()), (std::vector<int64_t>{Unit(20), 0, 3 * Unit(20)}))
      << p.line.Describe();
  EXPECT_NE(p.Log().find("port gone"), std::string::npos);
}

TEST(Cwdaemon, DestructionMidMessageKeysUp) {
  Parts p;
  int dropped = 0;
  auto keyer =
      std::make_unique<CwdaemonKeyer>(p.line, p.waiter, p.keyState, p.log, Parts::Defaults());
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
  EXPECT_EQ(Marks(p.line.EdgesUs()), std::vector<int64_t>{3 * Unit(20)})
      << "the dash being keyed completes, nothing after it";
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

TEST(Cwdaemon, SoundCardKeyingToneAndNetworkTiming) {
  SoundRecorder sound;
  ElementTiming toneTiming;
  std::vector<int> tones;
  std::atomic<int> toneAborts{0};
  CwdaemonKeyerOptions o = Parts::Defaults();
  o.sound = &sound;
  o.toneTiming = &toneTiming;
  o.abortOutput = [&] { ++toneAborts; };
  o.startToneHz = 750;
  o.setTone = [&](int hz) { tones.push_back(hz); };
  {
    Rig rig(o);
    rig.SendAll({"a+b*", Esc("3600"), Esc("30"), Esc("0"), Esc("224"), Esc("710"), "e"});
    EXPECT_EQ(rig.keyer.ToneHz(), 750);
    EXPECT_TRUE(rig.line.Edges().empty()) << "the line keys nothing";
    const ElementTimingValues t = toneTiming.Load();
    // 24 wpm: 50 ms units; weighting 10: marks 6 ms longer, spaces 6 ms shorter.
    EXPECT_EQ(t.DotMs, 56);
    EXPECT_EQ(t.DashMs, 156);
    EXPECT_EQ(t.ElementSpaceMs, 44);
    EXPECT_EQ(t.DotSamples, 2470) << "44.1 samples a millisecond";
    rig.Send(Esc("4"));
    EXPECT_EQ(toneAborts.load(), 1);
  }
  EXPECT_EQ(sound.sound, "ab+e");
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

// The real clock: a line that stamps its edges with the monotonic clock.
class StampedLine final : public KeyLine {
 public:
  void SetKeyLine(uint8_t state) override {
    std::lock_guard<std::mutex> lock(mu_);
    edges.push_back({platform::MonotonicNowUs(), state});
  }
  std::vector<LineEdge> Edges() {
    std::lock_guard<std::mutex> lock(mu_);
    return edges;
  }

 private:
  std::mutex mu_;
  std::vector<LineEdge> edges;  // atMs holds µs
};

TEST(CwdaemonRealTime, EchoWithinTenMsOfTheLastKeyUpAndAbortWithinOneElement) {
  StampedLine line;
  platform::MonotonicWaiter waiter;
  std::atomic<uint8_t> keyState{kKeyUp};
  std::ostringstream err;
  LineLog log(err);
  CwdaemonKeyerOptions o;
  o.startWpm = 40;  // 30 ms units
  CwdaemonKeyer keyer(line, waiter, keyState, log, o);
  CwdaemonServer server(keyer, log);
  keyer.Start();
  std::string error;
  ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
  test::UdpClient client;

  client.Send(server.Port(), "\x1bhdone");
  client.Send(server.Port(), "test");
  ASSERT_EQ(client.Receive(), "hdone\r\n");
  const int64_t received = platform::MonotonicNowUs();
  const int64_t lastUp = line.Edges().back().atMs;
  EXPECT_LE(received - lastUp, 10000) << "the reply within 10 ms of the last key-up";

  // Abort somewhere inside a long message: the element being keyed completes, then nothing.
  client.Send(server.Port(), "paris paris paris");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const int64_t abortAt = platform::MonotonicNowUs();
  client.Send(server.Port(),
              "\x1b"
              "4");
  ASSERT_TRUE(WaitFor([&] { return keyer.Idle(); }));
  const std::vector<LineEdge> edges = line.Edges();
  EXPECT_EQ(edges.back().state, kKeyUp);
  int64_t lastDown = 0;
  for (const LineEdge& e : edges)
    if (e.state == kKeyDown) lastDown = e.atMs;
  EXPECT_LT(lastDown, abortAt + 2000) << "no element begun after the abort";
  // A dash is 90 ms; its key-up comes on time, plus scheduling slack.
  EXPECT_LE(edges.back().atMs - abortAt, 90000 + 40000);
  server.Stop();
  keyer.Stop();
}

TEST(CwdaemonServer, RefusesWhatItCannotBind) {
  Parts p;
  CwdaemonKeyer keyer(p.line, p.waiter, p.keyState, p.log, Parts::Defaults());
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
