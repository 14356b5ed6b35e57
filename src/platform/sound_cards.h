// The sound cards as the command-line tools show and pick them, for input (kestrix-decode)
// and output (kestrix-send) alike: --list-devices prints "index: name (host API)" lines, and
// --device takes a number, the card's index in that list, or a name, matched exactly or,
// failing that, as the only name containing it (case-insensitive). Any thread.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace kestrix {

// Shown when the sound system knows no card at all (the receive loop's message too).
inline constexpr const char* kNoSoundCardText = "No Sound Card Detected";

using SoundCardText = std::function<std::string(int index)>;

// The chosen index among `count` cards named by `name(i)`, or -1 with one line in `error`
// (kNoSoundCardText when there is no card at all).
int ChooseSoundCard(int count, const SoundCardText& name, const std::string& spec,
                    std::string& error);

// One line per card: "index: name (host API)", the host API left out when empty; or
// kNoSoundCardText when there is none.
void ListSoundCards(int count, const SoundCardText& name, const SoundCardText& hostApi,
                    std::ostream& out);

// The same for a device list with DeviceCount() and ProductName(i) (capture and playback
// devices), and HostApiName(i) for the listing (the PortAudio devices).
template <typename Devices>
int ChooseSoundCard(Devices& devices, const std::string& spec, std::string& error) {
  return ChooseSoundCard(
      devices.DeviceCount(), [&](int i) { return devices.ProductName(i); }, spec, error);
}

template <typename Devices>
void ListSoundCards(Devices& devices, std::ostream& out) {
  ListSoundCards(
      devices.DeviceCount(), [&](int i) { return devices.ProductName(i); },
      [&](int i) { return devices.HostApiName(i); }, out);
}

}  // namespace kestrix
