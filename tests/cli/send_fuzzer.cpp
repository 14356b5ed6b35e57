// libFuzzer entry for kestrix-send's inputs (clang builds only; scripts/fuzz runs it).
// The input up to its first newline is the command line, arguments separated by NUL
// bytes; what follows (at most 256 bytes) is the text to key, or without it the TEXT
// words of the command line. The command line must either be refused with a reason or
// give options that are in range and agree with each other; every argument also goes
// through the port and address parsers on their own, against a model of the forms they
// accept. The text is keyed through the port keyer on a fake line with a waiter that only
// counts milliseconds: the line must come out exactly as the send table and the element
// timing say, end key up, and (at the standard ratios) read back as the characters that
// have patterns.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/send_cwdaemon.h"
#include "cli/send_options.h"
#include "fake_line.h"
#include "line_reader.h"
#include "transmit/element_timing.h"
#include "transmit/morse_send_table.h"
#include "transmit/port_keyer.h"

namespace {

using namespace kestrix;

constexpr size_t kMaxText = 256;

[[noreturn]] void Fail(const std::string& what, const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) line += "[" + a + "] ";
  std::fprintf(stderr, "send fuzzer: %s\n  args: %s\n", what.c_str(), line.c_str());
  std::abort();
}

// A port number as the parsers take it: one to five ASCII digits, at most 65535.
bool ModelPort(std::string_view s, uint16_t& port) {
  if (s.empty() || s.size() > 5) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

// "[HOST]", "[HOST]:PORT" (HOST without ']'), "HOST" or "HOST:PORT" (HOST without ':');
// HOST never empty. `port` keeps its value when none is given.
bool ModelListen(std::string_view s, std::string& host, uint16_t& port) {
  std::string_view rest;
  if (!s.empty() && s.front() == '[') {
    const size_t close = s.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(s.substr(1, close - 1));
    rest = s.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
  } else {
    const size_t colon = s.find(':');
    host = std::string(s.substr(0, colon));
    if (colon != std::string_view::npos) {
      rest = s.substr(colon);
      if (rest.find(':', 1) != std::string_view::npos) return false;
    }
  }
  if (host.empty()) return false;
  if (rest.empty()) return true;
  return ModelPort(rest.substr(1), port);
}

void CheckPortParsers(const std::string& arg, const std::vector<std::string>& args) {
  uint16_t port = 1;
  uint16_t want = 1;
  std::string error;
  const bool ok = cli::ParseUdpPort(arg, port, error);
  if (ok != ModelPort(arg, want)) Fail("--udp-port accepts " + arg + " wrongly", args);
  if (ok && port != want) Fail("--udp-port " + arg + " gives " + std::to_string(port), args);
  if (!ok && error.empty()) Fail("--udp-port refused " + arg + " without a reason", args);

  std::string address = "unset";
  std::string wantAddress;
  port = 4321;
  want = 4321;
  error.clear();
  const bool listen = cli::ParseListenAddress(arg, address, port, error);
  if (listen != ModelListen(arg, wantAddress, want)) {
    Fail("--listen accepts " + arg + " wrongly", args);
  }
  if (listen && (address != wantAddress || port != want)) {
    Fail("--listen " + arg + " gives " + address + " port " + std::to_string(port), args);
  }
  if (!listen && error.empty()) Fail("--listen refused " + arg + " without a reason", args);
}

bool Ratio(float r) {
  return r >= 50.0f && r <= 200.0f && r == static_cast<float>(int(r));
}

void CheckOptions(const cli::SendOptions& o, const std::vector<std::string>& args) {
  using cli::SendMode;
  if (o.wpm < transmit::kMinTransmitWpm || o.wpm > transmit::kMaxTransmitWpm) {
    Fail("speed " + std::to_string(o.wpm) + " out of range", args);
  }
  const transmit::TimingRatios& r = o.ratios;
  if (!Ratio(r.DotRatio) || !Ratio(r.DashRatio) || !Ratio(r.CharRatio) || !Ratio(r.WordRatio)) {
    Fail("a ratio outside whole 50..200", args);
  }
  if (!(o.toneHz > 0.0f) || !(o.toneHz < 22050.0f)) Fail("tone outside 0..22050 Hz", args);
  if (o.readStdin && !o.text.empty()) Fail("both TEXT and standard input", args);
  if (!o.wavPath.empty() && !o.soundDevice.empty()) Fail("both --wav and --device", args);
  const bool tone = !o.wavPath.empty() || !o.soundDevice.empty();
  const bool hasText = !o.text.empty() || o.readStdin;
  switch (o.mode) {
    case SendMode::kKeyText:
      if (tone || o.cwdaemon) Fail("keying the line with tone or network options", args);
      if (!hasText) Fail("keying with no text and no standard input", args);
      break;
    case SendMode::kTone:
      if (!tone || o.cwdaemon || o.line != cli::SendLine::kNone) Fail("tone mode mixed", args);
      if (!hasText) Fail("tone with no text and no standard input", args);
      break;
    case SendMode::kTune:
      if (!(o.tuneSeconds > 0.0) || o.tuneSeconds > 3600.0) Fail("tune time out of range", args);
      if (tone || o.cwdaemon) Fail("tune with tone or network options", args);
      if (hasText) Fail("tune with text that is never sent", args);
      break;
    case SendMode::kCwdaemon:
      // The requests key the line or the sound card (a card or a file), never both.
      if (!o.cwdaemon || hasText) Fail("network keying mixed", args);
      if (tone && o.line != cli::SendLine::kNone) Fail("network keying on a line and a tone", args);
      if (o.listenAddress.empty()) Fail("network keying without an address", args);
      break;
    case SendMode::kListPorts:
    case SendMode::kListDevices:
    case SendMode::kHelp:
      break;
    default:
      Fail("mode out of the enumeration", args);
  }
  if (o.cwdaemon &&
      (o.mode == SendMode::kKeyText || o.mode == SendMode::kTone || o.mode == SendMode::kTune)) {
    Fail("--cwdaemon given but another send chosen", args);
  }
}

// What reading the line back gives for one byte of the text: its character, '#' for a
// pattern the reader does not know, ' ' for a word space, 0 for a byte that sends nothing.
char Reading(uint8_t b) {
  if (std::isalpha(b)) return static_cast<char>(std::toupper(b));
  if (std::isdigit(b)) return static_cast<char>(b);
  if (b < 128 && std::string_view("?/=.,-+@").find(static_cast<char>(b)) != std::string::npos) {
    return static_cast<char>(b);
  }
  switch (b) {
    case 0:
    case 32:
    case 186:
    case 219:
    case 220:
    case 221:
    case 222:
      return ' ';
    case 187:
      return '=';
    case 188:
      return ',';
    case 189:
      return '-';
    case 190:
      return '.';
    case 191:
      return '/';
    case 192:
      return '?';
    case 230:
      return '+';
    case 33:
    case 37:
    case 38:
    case 40:
    case 42:
      return '#';
    default:
      return b >= 231 && b <= 239 ? '#' : 0;
  }
}

// The reader puts one space in a gap however many word spaces made it, and none before
// the first or after the last character.
std::string ExpectedReading(std::string_view text) {
  std::string out;
  bool gap = false;
  for (char c : text) {
    const char r = Reading(static_cast<uint8_t>(c));
    if (r == ' ') {
      gap = true;
    } else if (r != 0) {
      if (gap && !out.empty()) out += ' ';
      gap = false;
      out += r;
    }
  }
  return out;
}

void KeyText(std::string_view text, const cli::SendOptions& o,
             const std::vector<std::string>& args) {
  transmit::ElementTiming timing;
  transmit::ComputeElementTiming(timing, o.wpm, o.ratios);
  const transmit::ElementTimingValues t = timing.Load();
  test::FakeClock clock;
  test::FakeKeyLine line(clock);
  std::atomic<uint8_t> keyState{transmit::kKeyUp};
  const transmit::MorseSendTable& table = transmit::SendTable();
  transmit::PortKeyer keyer(table, timing, line, clock, keyState);
  for (char c : text) keyer.SendCharToPort(static_cast<uint8_t>(c));

  // The line as the table's patterns and the timing make it.
  std::vector<test::LineEdge> want;
  int64_t now = 0;
  auto wait = [&](int32_t ms) { now += ms > 0 ? ms : 0; };
  for (char c : text) {
    for (char symbol : table.Pattern(static_cast<uint8_t>(c))) {
      if (symbol == '.' || symbol == '-') {
        want.push_back({now, transmit::kKeyDown});
        wait(symbol == '.' ? t.DotMs : t.DashMs);
        want.push_back({now, transmit::kKeyUp});
        wait(t.ElementSpaceMs);
      } else if (symbol == '*') {
        wait(t.CharSpaceMs);
      } else if (symbol == '^') {
        wait(t.WordSpaceMs);
      }
    }
  }
  const std::vector<test::LineEdge> edges = line.Edges();
  for (size_t i = 0; i < edges.size(); ++i) {
    const uint8_t expect = i % 2 == 0 ? transmit::kKeyDown : transmit::kKeyUp;
    if (edges[i].state != expect) Fail("edges do not alternate: " + line.Describe(), args);
  }
  if (!edges.empty() && edges.back().state != transmit::kKeyUp) Fail("ends key down", args);
  if (keyState.load() != transmit::kKeyUp) Fail("key state left down", args);
  if (edges != want) Fail("line differs from the table: " + line.Describe(), args);
  if (clock.NowMs() != now) {
    Fail("took " + std::to_string(clock.NowMs()) + " ms, not " + std::to_string(now), args);
  }
  const transmit::TimingRatios standard;
  const transmit::TimingRatios& r = o.ratios;
  if (r.DotRatio == standard.DotRatio && r.DashRatio == standard.DashRatio &&
      r.CharRatio == standard.CharRatio && r.WordRatio == standard.WordRatio) {
    const std::string read = test::ReadLine(edges, t.UnitMs);
    const std::string expected = ExpectedReading(text);
    if (read != expected) Fail("reads back as \"" + read + "\", not \"" + expected + "\"", args);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string_view commandLine = input.substr(0, newline);
  std::string_view text =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  if (text.size() > kMaxText) text = text.substr(0, kMaxText);

  std::vector<std::string> args;
  if (!commandLine.empty()) {
    for (size_t at = 0;;) {
      const size_t nul = commandLine.find('\0', at);
      args.emplace_back(commandLine.substr(at, nul - at));
      if (nul == std::string_view::npos) break;
      at = nul + 1;
    }
  }
  for (const std::string& arg : args) CheckPortParsers(arg, args);

  cli::SendOptions options;
  std::string error;
  if (cli::ParseSendOptions(args, options, error)) {
    CheckOptions(options, args);
  } else {
    if (error.empty()) Fail("refused without a reason", args);
    options = cli::SendOptions();  // key at the start speed and ratios
  }
  // Without a text part, the words of the command line as kestrix-send joins them.
  std::string words;
  if (text.empty()) {
    for (const std::string& word : options.text) words += (words.empty() ? "" : " ") + word;
    text = std::string_view(words).substr(0, kMaxText);
  }
  KeyText(text, options, args);
  return 0;
}
