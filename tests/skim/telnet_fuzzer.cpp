// libFuzzer entry for what telnet clients type at the spot server (clang builds only;
// scripts/fuzz runs it). Any bytes, fed in pieces as the network delivers them: events
// carry only printable text within the line limits, and nothing follows a Bye; every command
// after the login gets an answer of whole CR LF lines of printable text.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "skim/cluster_command.h"
#include "skim/telnet_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestrix::skim::TelnetEvent;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kestrix::skim::TelnetInput input;
  std::vector<TelnetEvent> events;
  // The first byte picks the piece size, so splits across IAC sequences and CR LF are tried.
  const size_t piece = size > 0 ? 1 + data[0] % 17 : 1;
  for (size_t i = 0; i < bytes.size(); i += piece) input.Feed(bytes.substr(i, piece), events);
  const std::deque<kestrix::skim::PublishedSpot> history = {
      {"DX de W9XG-#:    14057.6  K7GT           CW     7 dB  21 WPM  CQ      2259Z",
       kestrix::skim::SpotKind::Cq},
      {"DX de W9XG-#:    28200.0  W1ABC/B        CW    35 dB  18 WPM  BEACON  2359Z",
       kestrix::skim::SpotKind::Beacon},
  };
  kestrix::skim::ClusterClientSettings settings;
  bool ended = false;
  for (const TelnetEvent& e : events) {
    if (e.kind == TelnetEvent::Kind::Command) {
      const std::string answer = kestrix::skim::AnswerClusterCommand(e.text, settings, history);
      if (answer.size() < 2 || answer.compare(answer.size() - 2, 2, "\r\n") != 0) std::abort();
      for (size_t i = 0; i < answer.size(); ++i) {
        const char c = answer[i];
        const bool lineEnd = (c == '\r' && i + 1 < answer.size() && answer[i + 1] == '\n') ||
                             (c == '\n' && i > 0 && answer[i - 1] == '\r');
        if (!lineEnd && (c < 0x20 || c >= 0x7f)) std::abort();
      }
    }
    if (ended) std::abort();  // an event after Bye
    if (e.text.size() > kestrix::skim::kMaxTelnetLine) std::abort();
    for (char c : e.text)
      if (c < 0x20 || c >= 0x7f) std::abort();
    if (e.kind == TelnetEvent::Kind::Login &&
        (e.text.empty() || e.text.size() > kestrix::skim::kMaxLoginCall))
      std::abort();
    ended = e.kind == TelnetEvent::Kind::Bye;
  }
  return 0;
}
