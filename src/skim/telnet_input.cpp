#include "skim/telnet_input.h"

#include <algorithm>

namespace kestrix::skim {

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsBye(std::string_view line) {
  std::string lower(line);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower == "bye" || lower == "quit" || lower == "exit" || lower == "q";
}

// A login: letters, digits, '/', '-', '#', starting with a letter or digit and holding at
// least one letter ("W9XG", "W9XG-2", "DL/K1ABC", "SKIMMER").
bool LooksLikeLogin(std::string_view s) {
  if (s.empty() || s.size() > kMaxLoginCall) return false;
  bool letter = false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool alpha = (c >= 'A' && c <= 'Z');
    const bool digit = (c >= '0' && c <= '9');
    if (i == 0 && !alpha && !digit) return false;
    if (!alpha && !digit && c != '/' && c != '-' && c != '#') return false;
    letter = letter || alpha;
  }
  return letter;
}

}  // namespace

void TelnetInput::Feed(std::string_view bytes, std::vector<TelnetEvent>& out) {
  for (const char ch : bytes) {
    if (ended_) return;
    const auto b = static_cast<unsigned char>(ch);
    switch (iac_) {
      case Iac::None:
        break;
      case Iac::Command:
        // IAC IAC is a data byte 0xFF: not printable, so dropped like any other.
        if (b >= kWill && b <= kDont)
          iac_ = Iac::Option;
        else if (b == kSb) {
          iac_ = Iac::Sub;
          subBytes_ = 0;
        } else
          iac_ = Iac::None;
        continue;
      case Iac::Option:
        iac_ = Iac::None;
        continue;
      case Iac::Sub:
        if (b == kIac) iac_ = Iac::SubIac;
        if (++subBytes_ > kMaxSubnegotiation) iac_ = Iac::None;
        continue;
      case Iac::SubIac:
        iac_ = b == kSe ? Iac::None : Iac::Sub;
        continue;
    }
    if (b == kIac) {
      iac_ = Iac::Command;
      continue;
    }
    if (b == '\r') {
      EndLine(out);
      lastWasCr_ = true;
      continue;
    }
    if (b == '\n' || b == 0) {
      // CR LF and CR NUL are one line end.
      if (!lastWasCr_) EndLine(out);
      lastWasCr_ = false;
      continue;
    }
    lastWasCr_ = false;
    if (b == 8 || b == 127) {
      if (!line_.empty()) line_.pop_back();
      continue;
    }
    if (b < 0x20 || b >= 0x7f) continue;
    if (line_.size() >= kMaxTelnetLine) {
      if (!overlong_) out.push_back({TelnetEvent::Kind::Overlong, {}});
      overlong_ = true;
      continue;
    }
    line_.push_back(static_cast<char>(b));
  }
}

void TelnetInput::EndLine(std::vector<TelnetEvent>& out) {
  const std::string text(Trim(line_));
  line_.clear();
  overlong_ = false;
  if (text.empty()) return;
  if (IsBye(text)) {
    ended_ = true;
    out.push_back({TelnetEvent::Kind::Bye, {}});
    return;
  }
  if (!LoggedIn()) {
    std::string call = text;
    for (char& c : call)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (LooksLikeLogin(call)) {
      call_ = call;
      out.push_back({TelnetEvent::Kind::Login, call_});
    } else {
      out.push_back({TelnetEvent::Kind::BadLogin, text});
    }
    return;
  }
  out.push_back({TelnetEvent::Kind::Command, text});
}

}  // namespace kestrix::skim
