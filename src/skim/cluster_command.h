// The commands a logger sends the spot server after login, and our answers. Pure: no
// sockets, no clocks, so the tests and the fuzzer drive it directly.
//
// Loggers and cluster nodes send a few DX cluster commands as soon as they are logged in
// (to ask for the recent spots, to choose which spots they get) and some wait for an
// answer. What a skimmer makes of them:
//
//   sh/dx [N] [CALL]   the last N spots (default 10, at most kMaxShowDx), oldest first, in
//                      the spot line format; with CALL only the spots of calls starting
//                      with it. "show/dx", "sho/dx" and "sh/dx/N" too.
//   set/skimmer        spots on (the default); unset/skimmer, set/noskimmer: spots off
//   set/nobeacon       no BEACON spots for this client; set/beacon, unset/nobeacon: back
//   unset/beacon       the same as set/nobeacon
//   set/raw            accepted: the server sends nothing but spot lines and answers
//   unset/raw          accepted, the same
//   other set/, unset/ accepted with a line saying there is nothing to set here
//   anything else      one line saying the command is unknown
//
// Every command is answered with at least one line, so a logger that waits for one goes
// on. "bye" and "quit" are taken by TelnetInput before they get here. Case does not matter.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "skim/spot.h"

namespace kestrix::skim {

inline constexpr int kDefaultShowDx = 10;
inline constexpr int kMaxShowDx = 100;

// What one client asked for.
struct ClusterClientSettings {
  bool spots = true;    // set/skimmer, unset/skimmer
  bool beacons = true;  // set/beacon, set/nobeacon
};

// A spot line as the server keeps it for sh/dx and per-client filtering.
struct PublishedSpot {
  std::string line;  // without line end
  SpotKind kind = SpotKind::Cq;
};

struct ClusterCommand {
  enum class Kind { ShowDx, SetSpots, SetBeacons, Raw, OtherSetting, Unknown };
  Kind kind = Kind::Unknown;
  int count = kDefaultShowDx;  // ShowDx
  std::string call;            // ShowDx: upper-case call prefix, "" for any
  bool on = true;              // SetSpots, SetBeacons
  std::string word;            // the command as typed (first word), for the answers
};

ClusterCommand ParseClusterCommand(std::string_view line);

// Whether a client with `settings` gets `spot` as it is published.
bool WantsSpot(const ClusterClientSettings& settings, const PublishedSpot& spot);

// The call in a spot line (from kSpotCallColumn to the next space), "" when none.
std::string_view CallOfSpotLine(std::string_view line);

// Applies `line` to `settings` and returns the answer, each line ended with CR LF.
// `history` holds the spots published so far, oldest first.
std::string AnswerClusterCommand(std::string_view line, ClusterClientSettings& settings,
                                 const std::deque<PublishedSpot>& history);

}  // namespace kestrix::skim
