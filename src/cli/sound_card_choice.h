// How the command-line tools pick a sound card from --device: a number is the card's index
// in the list (--list-devices); anything else is a name, matched exactly or, failing that,
// as the only name containing it (case-insensitive).
#pragma once

#include <functional>
#include <string>

namespace kestrix::cli {

// The chosen index among `count` cards named by `name(i)`, or -1 with one line in `error`
// (`noCardText` when there is no card at all).
int ChooseSoundCard(int count, const std::function<std::string(int)>& name, const std::string& spec,
                    const std::string& noCardText, std::string& error);

}  // namespace kestrix::cli
