#include "platform/sound_cards.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace kestrix {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

int ChooseSoundCard(int count, const SoundCardText& name, const std::string& spec,
                    std::string& error) {
  if (count <= 0) {
    error = kNoSoundCardText;
    return -1;
  }
  if (!spec.empty() &&
      std::all_of(spec.begin(), spec.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
    const long index = spec.size() > 6 ? -1 : std::stol(spec);
    if (index < 0 || index >= count) {
      error = "no sound card " + spec + " (there " +
              (count == 1 ? "is 1" : "are " + std::to_string(count)) + "; see --list-devices)";
      return -1;
    }
    return static_cast<int>(index);
  }
  const std::string wanted = Lower(spec);
  std::vector<int> matches;
  for (int i = 0; i < count; ++i) {
    const std::string n = Lower(name(i));
    if (n == wanted) return i;
    if (n.find(wanted) != std::string::npos) matches.push_back(i);
  }
  if (matches.size() == 1) return matches[0];
  if (matches.empty()) {
    error = "no sound card named '" + spec + "' (see --list-devices)";
  } else {
    error = "'" + spec + "' matches several sound cards:";
    for (int i : matches) error += " " + std::to_string(i) + " '" + name(i) + "'";
    error += "; give the index";
  }
  return -1;
}

void ListSoundCards(int count, const SoundCardText& name, const SoundCardText& hostApi,
                    std::ostream& out) {
  if (count <= 0) {
    out << kNoSoundCardText << '\n';
    return;
  }
  for (int i = 0; i < count; ++i) {
    out << i << ": " << name(i);
    const std::string api = hostApi(i);
    if (!api.empty()) out << " (" << api << ")";
    out << '\n';
  }
}

}  // namespace kestrix
