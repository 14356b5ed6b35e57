#include "skim/cluster_command.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace kestrix::skim {

namespace {

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < s.size()) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    size_t end = at;
    while (end < s.size() && s[end] != ' ' && s[end] != '\t') ++end;
    if (end > at) words.push_back(s.substr(at, end - at));
    at = end;
  }
  return words;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A count as typed: 0 and absurd values are clamped to 1..kMaxShowDx.
int ShowCount(std::string_view digits) {
  int n = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec == std::errc::result_out_of_range) return kMaxShowDx;
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return kDefaultShowDx;
  return std::clamp(n, 1, kMaxShowDx);
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsShow(std::string_view verb) {
  return verb == "sh" || verb == "sho" || verb == "show";
}

}  // namespace

ClusterCommand ParseClusterCommand(std::string_view line) {
  ClusterCommand cmd;
  const std::vector<std::string_view> words = Words(line);
  if (words.empty()) return cmd;
  cmd.word = std::string(words[0]);
  const std::string first = Lower(words[0]);
  const size_t slash = first.find('/');
  const std::string verb = first.substr(0, slash);
  std::string object = slash == std::string::npos ? "" : first.substr(slash + 1);
  std::string_view rest;  // "sh/dx/5": what follows the object
  if (const size_t second = object.find('/'); second != std::string::npos) {
    rest = std::string_view(first).substr(slash + 1 + second + 1);
    object.resize(second);
  }

  if (IsShow(verb) && object == "dx") {
    cmd.kind = ClusterCommand::Kind::ShowDx;
    if (AllDigits(rest)) cmd.count = ShowCount(rest);
    for (size_t i = 1; i < words.size(); ++i) {
      if (AllDigits(words[i])) {
        cmd.count = ShowCount(words[i]);
      } else if (cmd.call.empty()) {
        cmd.call = Upper(words[i]);
      }
    }
    return cmd;
  }
  if ((verb == "set" || verb == "unset") && !object.empty()) {
    bool on = verb == "set";
    if (object.rfind("no", 0) == 0 && object.size() > 2) {
      object.erase(0, 2);
      on = !on;
    }
    cmd.on = on;
    if (object == "skimmer") {
      cmd.kind = ClusterCommand::Kind::SetSpots;
    } else if (object == "beacon") {
      cmd.kind = ClusterCommand::Kind::SetBeacons;
    } else if (object == "raw") {
      cmd.kind = ClusterCommand::Kind::Raw;
    } else {
      cmd.kind = ClusterCommand::Kind::OtherSetting;
    }
    return cmd;
  }
  return cmd;
}

bool WantsSpot(const ClusterClientSettings& settings, const PublishedSpot& spot) {
  return settings.spots && (settings.beacons || spot.kind != SpotKind::Beacon);
}

std::string_view CallOfSpotLine(std::string_view line) {
  if (line.size() < kSpotCallColumn) return {};
  std::string_view call = line.substr(kSpotCallColumn - 1);
  return call.substr(0, call.find(' '));
}

std::string AnswerClusterCommand(std::string_view line, ClusterClientSettings& settings,
                                 const std::deque<PublishedSpot>& history) {
  const ClusterCommand cmd = ParseClusterCommand(line);
  switch (cmd.kind) {
    case ClusterCommand::Kind::ShowDx: {
      // Newest first while choosing, written oldest first.
      std::vector<const PublishedSpot*> chosen;
      for (auto it = history.rbegin();
           it != history.rend() && chosen.size() < static_cast<size_t>(cmd.count); ++it) {
        if (!settings.beacons && it->kind == SpotKind::Beacon) continue;
        if (!cmd.call.empty() && CallOfSpotLine(it->line).rfind(cmd.call, 0) != 0) continue;
        chosen.push_back(&*it);
      }
      if (chosen.empty()) return "No spots" + (cmd.call.empty() ? "" : " of " + cmd.call) + ".\r\n";
      std::string out;
      for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) out += (*it)->line + "\r\n";
      return out;
    }
    case ClusterCommand::Kind::SetSpots:
      settings.spots = cmd.on;
      return cmd.on ? "Skimmer spots on.\r\n" : "Skimmer spots off.\r\n";
    case ClusterCommand::Kind::SetBeacons:
      settings.beacons = cmd.on;
      return cmd.on ? "Beacon spots on.\r\n" : "Beacon spots off.\r\n";
    case ClusterCommand::Kind::Raw:
      return "Spot lines are all this skimmer sends.\r\n";
    case ClusterCommand::Kind::OtherSetting:
      return cmd.word + ": nothing to set on a skimmer.\r\n";
    case ClusterCommand::Kind::Unknown:
      break;
  }
  return "Unknown command: " + std::string(line) + "\r\n";
}

}  // namespace kestrix::skim
