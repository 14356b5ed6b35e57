#include "platform/sound_cards.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace kestrix {
namespace {

struct Cards {
  std::vector<std::string> names;
  std::vector<std::string> apis;
  int DeviceCount() const { return static_cast<int>(names.size()); }
  std::string ProductName(int i) const { return names[static_cast<size_t>(i)]; }
  std::string HostApiName(int i) const { return apis[static_cast<size_t>(i)]; }
};

TEST(SoundCards, ListedOneALineWithTheHostApiWhenThereIsOne) {
  Cards cards{{"USB Audio", "HDA Intel PCH"}, {"ALSA", ""}};
  std::ostringstream out;
  ListSoundCards(cards, out);
  EXPECT_EQ(out.str(), "0: USB Audio (ALSA)\n1: HDA Intel PCH\n");
  std::string error;
  EXPECT_EQ(ChooseSoundCard(cards, "intel", error), 1);

  Cards none;
  std::ostringstream empty;
  ListSoundCards(none, empty);
  EXPECT_EQ(empty.str(), std::string(kNoSoundCardText) + "\n");
  EXPECT_EQ(ChooseSoundCard(none, "0", error), -1);
  EXPECT_EQ(error, kNoSoundCardText);
}

}  // namespace
}  // namespace kestrix
