// What a telnet client types at the skimmer's spot server, turned into events. Pure: no
// sockets, no clocks, any bytes in, so the fuzzer and the tests drive it directly.
//
// The protocol is the DX cluster's: the server prompts "Please enter your callsign:", the
// first non-empty line is the client's call (the login), later lines are commands, of which
// the server acts on "bye" (also "quit", "exit", "q", any case: ends the session). Other
// commands ("sh/dx", "set/...") are reported as Command and answered by the server with
// nothing but a fresh prompt-less line, which loggers expect of a skimmer.
//
// Bytes are handled the way a tolerant line reader must on an open port:
//   - telnet IAC sequences (IAC IAC as a data 0xFF, IAC WILL/WONT/DO/DONT x, IAC SB ... IAC
//     SE, other IAC commands) are stripped and never become text; a subnegotiation longer
//     than kMaxSubnegotiation bytes is given up (a client that never sends IAC SE must not
//     make us deaf to it);
//   - CR, LF, CR LF, CR NUL and NUL end a line; an empty line is ignored;
//   - backspace and DEL remove the last character; other control bytes and bytes >= 0x80
//     are dropped;
//   - a line longer than kMaxTelnetLine characters is cut there and the rest up to the line
//     end discarded (reported once as Overlong);
//   - a login call is upper-cased and must look like a call (letters, digits, '/', '-', 1..
//     kMaxLoginCall characters; a trailing "-#" or SSID is kept); anything else is
//     BadLogin and the client is asked again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::skim {

inline constexpr size_t kMaxTelnetLine = 128;
inline constexpr size_t kMaxLoginCall = 16;
inline constexpr size_t kMaxSubnegotiation = 64;

struct TelnetEvent {
  enum class Kind : uint8_t {
    Login,     // text: the client's call, upper case
    BadLogin,  // text: what was typed (cut to kMaxTelnetLine); ask again
    Bye,       // the client ends the session
    Command,   // text: any other line after the login
    Overlong,  // a line was cut at kMaxTelnetLine (once per line)
  };
  Kind kind = Kind::Command;
  std::string text;
  bool operator==(const TelnetEvent&) const = default;
};

class TelnetInput {
 public:
  // Consumes `bytes`, appending the events they complete to `out`. Bytes after a Bye are
  // ignored.
  void Feed(std::string_view bytes, std::vector<TelnetEvent>& out);

  bool LoggedIn() const { return !call_.empty(); }
  const std::string& Call() const { return call_; }
  bool Ended() const { return ended_; }

 private:
  enum class Iac : uint8_t { None, Command, Option, Sub, SubIac };
  void EndLine(std::vector<TelnetEvent>& out);

  std::string line_;
  std::string call_;
  Iac iac_ = Iac::None;
  size_t subBytes_ = 0;
  bool lastWasCr_ = false;
  bool overlong_ = false;
  bool ended_ = false;
};

}  // namespace kestrix::skim
