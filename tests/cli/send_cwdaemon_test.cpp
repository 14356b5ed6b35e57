#include "cli/send_cwdaemon.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/decode_session.h"
#include "cwdaemon_rig.h"
#include "fake_line.h"
#include "fake_playback.h"
#include "line_reader.h"
#include "platform/wav_playback.h"
#include "transmit/element_timing.h"

namespace kestrix::cli {
namespace {

using namespace std::string_literals;

TEST(SendCwdaemon, ListenAddressForms) {
  struct Case {
    const char* text;
    bool ok;
    const char* address;
    uint16_t port;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1:6789", true, "127.0.0.1", 6789},
      {"0.0.0.0:7000", true, "0.0.0.0", 7000},
      {"[::1]:6790", true, "::1", 6790},
      {"[::1]", true, "::1", 6789},
      {"192.168.1.5", true, "192.168.1.5", 6789},
      {"127.0.0.1:0", true, "127.0.0.1", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1:x", false, "", 0},
      {":6789", false, "", 0},
      {"::1:6789", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]6789", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string address = "unchanged", error;
    uint16_t port = 6789;
    EXPECT_EQ(ParseListenAddress(c.text, address, port, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(address, c.address);
      EXPECT_EQ(port, c.port);
    } else {
      EXPECT_EQ(address, "unchanged");
      EXPECT_EQ(port, 6789) << "nothing changes on bad input";
      EXPECT_NE(error.find("--listen"), std::string::npos);
    }
  }
  uint16_t port = 1;
  std::string error;
  EXPECT_TRUE(ParseUdpPort("6789", port, error));
  EXPECT_EQ(port, 6789);
  for (const char* bad : {"", "-1", "65536", "12a", "999999"})
    EXPECT_FALSE(ParseUdpPort(bad, port, error)) << bad;
}

struct HeadlessRun {
  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  std::atomic<bool> stop{false};
  std::atomic<uint16_t> port{0};
  std::ostringstream err;
  int rc = -1;
  transmit::SendKeyers* sound = nullptr;
  std::thread thread;

  void Start(CwdaemonOptions options) {
    options.udpPort = 0;
    options.onListening = [&](uint16_t p) { port.store(p); };
    thread =
        std::thread([this, options] { rc = RunCwdaemon(options, line, clock, sound, stop, err); });
  }
  ~HeadlessRun() {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
};

TEST(SendCwdaemon, ServesUntilTheLoggerSaysExitOrStopIsSet) {
  for (bool byExit : {true, false}) {
    SCOPED_TRACE(byExit ? "ESC 5" : "stop");
    HeadlessRun run;
    CwdaemonOptions options;
    options.wpm = 30;
    run.Start(options);
    ASSERT_TRUE(test::WaitFor([&] { return run.port.load() != 0; }));
    test::UdpClient client;
    client.Send(run.port, "test^");
    EXPECT_EQ(client.Receive(), "test\r\n");
    EXPECT_EQ(test::ReadLine(run.line.Edges(), 36), "TEST") << "keyed at the start speed";
    if (byExit) {
      client.Send(run.port,
                  "\x1b"
                  "5");
    } else {
      run.stop.store(true);
    }
    run.thread.join();
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.line.Edges().front().state, transmit::kKeyUp) << "key up at start";
    EXPECT_EQ(run.line.Edges().back().state, transmit::kKeyUp);
    EXPECT_NE(run.err.str().find("listening on 127.0.0.1"), std::string::npos);
  }
}

// Counts what reaches the sound-card side.
class SoundCounter final : public transmit::SendKeyers {
 public:
  void SendCharToPort(uint8_t) override { ++port; }
  void SoundKeyChar(uint8_t code, int32_t) override { text += static_cast<char>(code); }
  void SoundKeyBuffer(const char*, int32_t&, const std::atomic<uint8_t>&) override {}
  void AbortTone() override {}
  std::string text;
  int port = 0;
};

TEST(SendCwdaemon, SoundCardRunKeysTheToneAndTakesTheToneRequest) {
  SoundCounter sound;
  std::atomic<int> tone{-1};
  HeadlessRun run;
  run.sound = &sound;
  CwdaemonOptions options;
  options.setTone = [&](int hz) { tone.store(hz); };
  run.Start(options);
  ASSERT_TRUE(test::WaitFor([&] { return run.port.load() != 0; }));
  test::UdpClient client;
  client.Send(run.port,
              "\x1b"
              "3600");
  client.Send(run.port, "73^");
  EXPECT_EQ(client.Receive(), "73\r\n");
  EXPECT_EQ(tone.load(), 600);
  run.stop.store(true);
  run.thread.join();
  EXPECT_EQ(sound.text, "73");
  EXPECT_EQ(sound.port, 0);
  EXPECT_TRUE(run.line.Edges().empty() || run.line.Edges().back().state == transmit::kKeyUp);
}

TEST(SendCwdaemon, APortInUseEndsTheRunWithOneAndTheReason) {
  HeadlessRun running;
  running.Start(CwdaemonOptions{});
  ASSERT_TRUE(test::WaitFor([&] { return running.port.load() != 0; }));

  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  std::atomic<bool> stop{false};
  std::ostringstream err;
  CwdaemonOptions options;
  options.udpPort = running.port.load();
  EXPECT_EQ(RunCwdaemon(options, line, clock, nullptr, stop, err), 1);
  EXPECT_NE(err.str().find("cannot bind"), std::string::npos) << err.str();
  EXPECT_EQ(line.Edges().back().state, transmit::kKeyUp);
}

// ---------------------------------------------------------------------------------------
// The sound card's run, on a WAV in memory (the --wav device) or a scripted device.

// The tone server on a thread, on `device` with its file clock (as --wav runs it).
struct ToneServer {
  explicit ToneServer(PlaybackDevice& d) : device(d) {}
  PlaybackDevice& device;
  std::atomic<bool> stop{false};
  std::atomic<uint16_t> port{0};
  std::atomic<int> rc{-1};
  std::ostringstream err;  // read once the thread has ended
  std::thread thread;

  void Start(ToneSendOptions tone, CwdaemonOptions options = {}) {
    options.udpPort = 0;
    options.wpm = tone.wpm;
    options.onListening = [this](uint16_t p) { port.store(p); };
    thread = std::thread([this, tone, options] {
      rc.store(RunCwdaemonToneOn(device, 0, ToneClock::kFile, options, tone, stop, err));
    });
  }
  // Waits for the server to end on its own (or stops it after 20 s); its exit status.
  int End() {
    if (!test::WaitFor([&] { return rc.load() != -1; })) stop.store(true);
    if (thread.joinable()) thread.join();
    return rc.load();
  }
  int Stop() {
    stop.store(true);
    return End();
  }
  ~ToneServer() {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
};

// ESC and a request code with its value.
std::string Esc(const char* request) {
  return "\x1b" + std::string(request);
}

// Sends each request; one ending in '^' is waited for (its echo) before the next goes.
void SendAll(ToneServer& server, const test::UdpClient& client,
             const std::vector<std::string>& requests) {
  ASSERT_TRUE(test::WaitFor([&] { return server.port.load() != 0; }));
  for (const std::string& r : requests) {
    client.Send(server.port, r);
    if (!r.empty() && r.back() == '^') {
      ASSERT_EQ(client.Receive(), r.substr(0, r.size() - 1) + "\r\n");
    }
  }
}

// Tone and silence as runs of samples. A lone zero sample between two of tone (a sine near
// its crossing) is tone; the zero a sine mark starts on counts to the silence before it.
struct Span {
  bool tone;
  int64_t length;
};

std::vector<Span> Spans(const std::vector<int16_t>& s) {
  std::vector<Span> spans;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool on = s[i] != 0 || (i > 0 && i + 1 < s.size() && s[i - 1] != 0 && s[i + 1] != 0);
    if (spans.empty() || spans.back().tone != on) spans.push_back({on, 0});
    ++spans.back().length;
  }
  // A file that starts with a mark starts on that zero.
  if (spans.size() > 1 && !spans[0].tone && spans[0].length == 1) {
    spans.erase(spans.begin());
    ++spans[0].length;
  }
  return spans;
}

// The marks of the characters the tests key, written out here rather than taken from the
// send table.
const std::map<char, std::string> kPatterns = {{'E', "."},   {'T', "-"},   {'P', ".--."},
                                               {'A', ".-"},  {'R', ".-."}, {'I', ".."},
                                               {'S', "..."}, {'K', "-.-"}};

// One expected piece: a character at a speed, or (c == 0) silence of `gap` samples.
struct Piece {
  char c;
  int wpm;
  int64_t gap = 0;
};

std::vector<Span> Expected(const std::vector<Piece>& pieces) {
  std::vector<Span> out;
  auto add = [&](bool tone, int64_t n) {
    if (n <= 0) return;
    if (!out.empty() && out.back().tone == tone) {
      out.back().length += n;
    } else {
      out.push_back({tone, n});
    }
  };
  for (const Piece& p : pieces) {
    if (p.c == 0) {
      add(false, p.gap);
      continue;
    }
    // Network speed: a unit of 1200 / wpm ms, 44.1 samples a millisecond.
    const int64_t unitUs = 1200000 / p.wpm;
    auto samples = [](int64_t us) { return (us * 441 + 5000) / 10000; };
    if (p.c == ' ') {
      add(false, samples(4 * unitUs));
      continue;
    }
    for (char e : kPatterns.at(p.c)) {
      add(true, samples(e == '.' ? unitUs : 3 * unitUs));
      add(false, samples(unitUs));
    }
    add(false, samples(2 * unitUs));
  }
  return out;
}

TEST(SendCwdaemonTone, RequestsAreKeyedAtTheSpeedTheyAsk) {
  // The '~' gap is two dots of silence (2 × 60 ms at 20 wpm), 44.1 samples a millisecond as
  // a card plays it.
  const int64_t gap20 = 120 * 441 / 10;
  struct Case {
    const char* name;
    std::vector<std::string> requests;
    std::vector<Piece> expected;
  };
  const std::vector<Case> cases = {
      {"start speed",
       {"PARIS ^"},
       {{'P', 20}, {'A', 20}, {'R', 20}, {'I', 20}, {'S', 20}, {' ', 20}}},
      {"speed request, then the next message",
       {"E^", Esc("230"), "TEST^"},
       {{'E', 20}, {'T', 30}, {'E', 30}, {'S', 30}, {'T', 30}}},
      {"+ and - for this message only",
       {"E++E-E^", "E^"},
       {{'E', 20}, {'E', 24}, {'E', 22}, {'E', 20}}},
      {"~ gap before a character", {"E~E^"}, {{'E', 20}, {0, 0, gap20}, {'E', 20}}},
      {"reset returns to the start speed",
       {Esc("240"), "T^", Esc("0"), "T^"},
       {{'T', 40}, {'T', 20}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WavPlayback wav("");
    {
      ToneServer server(wav);
      ToneSendOptions tone;
      tone.wpm = 20;
      server.Start(tone);
      test::UdpClient client;
      ASSERT_NO_FATAL_FAILURE(SendAll(server, client, c.requests));
      ASSERT_EQ(server.Stop(), 0) << server.err.str();
    }
    const std::vector<Span> got = Spans(wav.Samples());
    const std::vector<Span> want = Expected(c.expected);
    std::string shown;
    for (const Span& g : got) shown += (g.tone ? "+" : "-") + std::to_string(g.length) + " ";
    ASSERT_EQ(got.size(), want.size()) << shown;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].tone, want[i].tone) << i;
      // A sine mark begins on a zero sample, which counts to the silence before it.
      EXPECT_NEAR(static_cast<double>(got[i].length), static_cast<double>(want[i].length), 2.0)
          << "span " << i << (got[i].tone ? " (tone)" : " (silence)");
    }
  }
}

TEST(SendCwdaemonTone, KeyedToneDecodesBackToTheRequests) {
  const std::string path = ::testing::TempDir() + "kestrix_cwdaemon_tone.wav";
  {
    WavPlayback wav(path);
    ToneServer server(wav);
    ToneSendOptions tone;
    tone.wpm = 25;
    tone.toneHz = 600.0f;
    server.Start(tone);
    test::UdpClient client;
    ASSERT_NO_FATAL_FAILURE(
        SendAll(server, client, {"VVV VVV ^", "CQ CQ DE K1ABC/P ^", "PSE K ^"}));
    ASSERT_EQ(server.Stop(), 0) << server.err.str();
  }
  // The file written at exit, read back as kestrix-decode reads it.
  DecodeOptions d;
  d.input = path;
  std::ostringstream out;
  std::string error;
  ASSERT_EQ(RunDecode(d, out, error), kExitOk) << error;
  std::remove(path.c_str());
  EXPECT_NE(out.str().find("cq cq de k1abc/p pse k"), std::string::npos) << out.str();
}

// Hz of the tone in samples [from, from + n): rising zero crossings over the time.
double Pitch(const std::vector<int16_t>& s, size_t from, size_t n) {
  int rising = 0;
  size_t first = 0, last = 0;
  for (size_t i = from + 1; i < from + n && i < s.size(); ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      if (rising == 0) first = i;
      last = i;
      ++rising;
    }
  }
  if (rising < 2) return 0.0;
  return (rising - 1) * 44100.0 / static_cast<double>(last - first);
}

TEST(SendCwdaemonTone, ToneRequestSetsThePitchOfTheCharactersThatFollow) {
  struct Case {
    const char* name;
    float startHz;
    bool silent;
    bool square;
    std::vector<std::string> requests;  // each "E^" is one character
    std::vector<double> pitches;        // of each E; 0: silence of the same length
  };
  const std::vector<Case> cases = {
      {"pitch, silence, reset to the start tone",
       750.0f,
       false,
       false,
       {"E^", Esc("3600"), "E^", Esc("31000"), "E^", Esc("30"), "E^", Esc("0"), "E^"},
       {750, 600, 1000, 0, 750}},
      {"a silent start stays silent after reset",
       750.0f,
       true,
       false,
       {"E^", Esc("3800"), "E^", Esc("0"), "E^"},
       {0, 800, 0}},
      {"square wave at the new pitch",
       1000.0f,
       false,
       true,
       {"E^", Esc("3500"), "E^"},
       {1000, 500}},
  };
  const int64_t perE = Expected({{'E', 20}})[0].length + Expected({{'E', 20}})[1].length;
  const int64_t dot = Expected({{'E', 20}})[0].length;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WavPlayback wav("");
    {
      ToneServer server(wav);
      ToneSendOptions tone;
      tone.wpm = 20;
      tone.toneHz = c.startHz;
      tone.silent = c.silent;
      tone.square = c.square;
      server.Start(tone);
      test::UdpClient client;
      ASSERT_NO_FATAL_FAILURE(SendAll(server, client, c.requests));
      ASSERT_EQ(server.Stop(), 0) << server.err.str();
    }
    const std::vector<int16_t>& s = wav.Samples();
    ASSERT_EQ(static_cast<int64_t>(s.size()), perE * static_cast<int64_t>(c.pitches.size()))
        << "every E keeps its length, silent or not";
    for (size_t i = 0; i < c.pitches.size(); ++i) {
      const size_t at = i * static_cast<size_t>(perE);
      EXPECT_NEAR(Pitch(s, at, static_cast<size_t>(dot)), c.pitches[i], 20.0) << "E " << i;
      if (c.square && c.pitches[i] > 0) {
        EXPECT_EQ(std::abs(s[at + 10]), 15000);
      }
    }
  }
}

TEST(SendCwdaemonTone, AFailingDeviceEndsTheServerWithOneLineAndNoEcho) {
  struct Case {
    const char* name;
    const char* failingCall;
    int use;
    std::vector<std::string> requests;  // sent without waiting for echoes
    const char* line;
    bool listening;  // the failure came after the socket was bound
  };
  const std::vector<Case> cases = {
      {"open at start",
       "Open",
       1,
       {},
       "kestrix-send: Error Opening Output wave device (fake failure of Open)\n",
       false},
      {"format at start",
       "QueryFormat",
       1,
       {},
       "kestrix-send: Could not handle the output WAVE format (fake failure of QueryFormat)\n",
       false},
      {"write inside the first character",
       "Write",
       3,
       {"EE^"},
       "kestrix-send: Error writing to the output device a (fake failure of Write)\n",
       true},
      {"reset of the second character",
       "Reset",
       2,
       {"EE^"},
       "kestrix-send: Error Resetting the output wave device (fake failure of Reset)\n",
       true},
      {"the silence of a gap",
       "Write",
       4,
       {"E~E^"},
       "kestrix-send: Error writing to the output device a (fake failure of Write)\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakePlayback card;
    card.mode = test::FakePlayback::Mode::kInstant;
    card.failOn[c.failingCall] = c.use;
    ToneServer server(card);
    server.Start(ToneSendOptions{});
    test::UdpClient client;
    if (c.listening) {
      ASSERT_TRUE(test::WaitFor([&] { return server.port.load() != 0; }));
      for (const std::string& r : c.requests) client.Send(server.port, r);
    }
    EXPECT_EQ(server.End(), 1) << "ends by itself";
    const std::string err = server.err.str();
    EXPECT_NE(err.find(c.line), std::string::npos) << err;
    EXPECT_EQ(err.find("kestrix-send:"), err.rfind("kestrix-send:")) << "one line: " << err;
    EXPECT_EQ(err.find("listening on") != std::string::npos, c.listening) << err;
    EXPECT_EQ(client.Receive(0), "<nothing>") << "a message the card did not play is not echoed";
  }
}

TEST(SendCwdaemonTone, AFileThatCannotBeFinishedIsReportedAtExit) {
  test::FakePlayback card;
  card.mode = test::FakePlayback::Mode::kInstant;
  card.failOn["Close"] = 1;
  ToneServer server(card);
  server.Start(ToneSendOptions{});
  test::UdpClient client;
  ASSERT_NO_FATAL_FAILURE(SendAll(server, client, {"E^", Esc("5")}));
  EXPECT_EQ(server.End(), 1);
  EXPECT_NE(server.err.str().find("kestrix-send: fake failure of Close\n"), std::string::npos)
      << server.err.str();
}

}  // namespace
}  // namespace kestrix::cli
