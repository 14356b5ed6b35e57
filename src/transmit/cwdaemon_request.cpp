#include "transmit/cwdaemon_request.h"

#include <optional>

#include "transmit/element_timing.h"

namespace kestrix::transmit {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// A decimal integer with an optional sign and surrounding blanks ("25", " -30 ", "+5").
// Anything else, or more digits than any valid value has, is not a number.
std::optional<int> ParseInt(std::string_view s) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 6) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return negative ? -v : v;
}

// Printable ASCII only, so a value can be quoted on standard error as it is.
std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s.substr(0, 40)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (s.size() > 40) out += "...";
  return out;
}

struct Parser {
  CwdaemonRequest out;

  void Warn(std::string line) { out.warnings.push_back(std::move(line)); }

  void Add(CwdaemonOp op, int value = 0, std::string text = {}) {
    CwdaemonAction a;
    a.op = op;
    a.value = value;
    a.text = std::move(text);
    out.actions.push_back(std::move(a));
  }

  // Adds `op` with the number in `arg` when it lies in lo..hi.
  void Ranged(CwdaemonOp op, char code, std::string_view arg, int lo, int hi, const char* what) {
    const std::optional<int> v = ParseInt(arg);
    if (!v || *v < lo || *v > hi) {
      Warn(std::string("ESC ") + code + ": ignored " + what + " \"" + Printable(arg) +
           "\" (accepted " + std::to_string(lo) + ".." + std::to_string(hi) + ")");
      return;
    }
    Add(op, *v);
  }

  void Escape(std::string_view body) {
    if (body.empty()) {
      Warn("ESC without a code: ignored");
      return;
    }
    const char code = body.front();
    const std::string_view arg = body.substr(1);
    switch (code) {
      case '0':
        Add(CwdaemonOp::Reset);
        break;
      case '2':
        Ranged(CwdaemonOp::Speed, code, arg, kMinTransmitWpm, kMaxTransmitWpm, "speed");
        break;
      case '3':
        Ranged(CwdaemonOp::Tone, code, arg, 0, kMaxToneHz, "tone");
        break;
      case '4':
        Add(CwdaemonOp::Abort);
        break;
      case '5':
        Add(CwdaemonOp::Exit);
        break;
      case '6':
        Add(CwdaemonOp::WordMode);
        break;
      case '7':
        Ranged(CwdaemonOp::Weighting, code, arg, kMinWeighting, kMaxWeighting, "weighting");
        break;
      case '8': {
        const std::string_view name = Trim(arg);
        bool printable = !name.empty() && name.size() <= kMaxDeviceNameBytes;
        for (unsigned char c : name) printable = printable && c > 0x20 && c < 0x7F;
        if (!printable) {
          Warn("ESC 8: ignored device name \"" + Printable(arg) + "\"");
          break;
        }
        Add(CwdaemonOp::Device, 0, std::string(name));
        break;
      }
      case 'a':
        Ranged(CwdaemonOp::Ptt, code, arg, 0, 1, "PTT state");
        break;
      case 'c': {
        const std::optional<int> v = ParseInt(arg);
        if (!v || *v < 0) {
          Warn("ESC c: ignored tune time \"" + Printable(arg) + "\" (seconds, at most 10)");
          break;
        }
        if (*v > kMaxTuneSeconds)
          Warn("ESC c: tune time " + std::to_string(*v) + " s cut to " +
               std::to_string(kMaxTuneSeconds) + " s");
        Add(CwdaemonOp::Tune, *v > kMaxTuneSeconds ? kMaxTuneSeconds : *v);
        break;
      }
      case 'd':
        Ranged(CwdaemonOp::PttDelay, code, arg, 0, kMaxPttDelayMs, "PTT delay");
        break;
      case 'b':
      case 'e':
      case 'f':
      case 'g':
        Add(CwdaemonOp::NoEffect, 0, std::string(1, code));
        break;
      case 'h':
        Add(CwdaemonOp::Reply, 0, std::string(arg));
        break;
      default:
        Warn("ESC " + Printable(std::string_view(&code, 1)) + ": unknown code, ignored");
        break;
    }
  }

  void Text(std::string_view text) {
    CwdaemonAction a;
    a.op = CwdaemonOp::Key;
    // Some loggers (tlf) end every message with a line end: it keys nothing, and a caret
    // before it still asks for the echo.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (!text.empty() && text.back() == '^') {
      a.echo = true;
      text.remove_suffix(1);
      a.text = std::string(text);
    }
    size_t dropped = 0;
    for (unsigned char c : text) {
      switch (c) {
        case '+':
          a.items.push_back({TextItem::Kind::Faster, 0});
          break;
        case '-':
          a.items.push_back({TextItem::Kind::Slower, 0});
          break;
        case '~':
          a.items.push_back({TextItem::Kind::Gap, 0});
          break;
        case '*':
          a.items.push_back({TextItem::Kind::Char, '+'});
          break;
        case '\r':
        case '\n':
          break;  // line ends key nothing, silently
        default:
          // Only printable ASCII is text here: the pattern table's upper half holds the
          // transmit pane's key codes, not characters, and control bytes key nothing.
          if (c >= 0x20 && c < 0x7F) {
            a.items.push_back({TextItem::Kind::Char, c});
          } else {
            ++dropped;
          }
          break;
      }
    }
    if (dropped > 0)
      Warn("text: " + std::to_string(dropped) + " byte(s) outside printable ASCII not keyed");
    if (a.items.empty() && !a.echo) return;
    out.actions.push_back(std::move(a));
  }
};

}  // namespace

CwdaemonRequest ParseCwdaemonRequest(std::string_view datagram) {
  Parser p;
  const size_t nul = datagram.find('\0');
  if (nul != std::string_view::npos) {
    if (datagram.find_first_not_of('\0', nul) != std::string_view::npos)
      p.Warn("request: bytes after a NUL ignored");
    datagram = datagram.substr(0, nul);
  }
  if (datagram.size() > kMaxRequestBytes) {
    p.Warn("request of " + std::to_string(datagram.size()) + " bytes ignored (at most " +
           std::to_string(kMaxRequestBytes) + ")");
    return std::move(p.out);
  }
  if (datagram.empty()) return std::move(p.out);
  if (static_cast<uint8_t>(datagram.front()) == kEscape) {
    p.Escape(datagram.substr(1));
  } else {
    p.Text(datagram);
  }
  return std::move(p.out);
}

std::string KeyedText(const std::vector<TextItem>& items) {
  std::string s;
  for (const TextItem& i : items)
    if (i.kind == TextItem::Kind::Char) s += static_cast<char>(i.code);
  return s;
}

}  // namespace kestrix::transmit
