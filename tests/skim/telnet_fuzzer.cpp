// libFuzzer entry for what telnet clients type at the spot server (clang builds only;
// scripts/fuzz runs it). Any bytes, fed in pieces as the network delivers them: events
// carry only printable text within the line limits, and nothing follows a Bye.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "skim/telnet_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestrix::skim::TelnetEvent;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kestrix::skim::TelnetInput input;
  std::vector<TelnetEvent> events;
  // The first byte picks the piece size, so splits across IAC sequences and CR LF are tried.
  const size_t piece = size > 0 ? 1 + data[0] % 17 : 1;
  for (size_t i = 0; i < bytes.size(); i += piece) input.Feed(bytes.substr(i, piece), events);
  bool ended = false;
  for (const TelnetEvent& e : events) {
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
