// The sound card dialog's logic: clamping, trial open, and how it hands reception back.
#include "receive/sound_card_select.h"

#include <gtest/gtest.h>

#include "loop_fakes.h"

namespace kestrix {
namespace {

// The scripted loop with three cards and the dialog on it.
struct DialogRig : test::LoopRig {
  SoundCardSelect dialog{loop};
  DialogRig() { device.devices = 3; }
};

TEST(SoundCardSelect, UpDownStaysOnExistingDevices) {
  struct Case {
    int devices;
    int click;
    int position;
    std::string name;
  };
  const Case cases[] = {
      {3, 1, 1, "Card B"},  {3, 2, 2, "Card C"}, {3, 3, 2, "Card C"},  {3, 32, 2, "Card C"},
      {3, 40, 2, "Card C"}, {1, 1, 0, "Card A"}, {3, -1, 0, "Card A"},
  };
  for (const Case& c : cases) {
    DialogRig r;
    r.device.devices = c.devices;
    const SoundCardView& v = r.dialog.WaveUpDownClick(c.click);
    EXPECT_EQ(v.Position, c.position) << c.devices << " devices, click " << c.click;
    EXPECT_EQ(v.Name, c.name);
    EXPECT_EQ(v.Colour, NameColour::kBlue);
  }
}

TEST(SoundCardSelect, ShowsTheCurrentDeviceOnlyWhenItExists) {
  DialogRig r;
  r.rx.Capture.InputDevice = 1;
  SoundCardView v = r.dialog.FormShow();
  EXPECT_TRUE(v.Visible);
  EXPECT_EQ(v.Position, 1);
  EXPECT_EQ(v.Name, "Card B");

  DialogRig gone;
  gone.rx.Capture.InputDevice = 5;  // stored in the settings, card since removed
  v = gone.dialog.FormShow();
  EXPECT_EQ(v.Position, 0);
  EXPECT_EQ(v.Name, "");
}

TEST(SoundCardSelect, OpeningTheDialogPausesReception) {
  DialogRig r;
  r.loop.ReceiveHalted.store(1);
  r.host.ArmTimer(LoopTimer::kSystemTimer);
  r.dialog.SelectSoundCardClick();
  EXPECT_FALSE(r.host.Armed(LoopTimer::kSystemTimer));
  EXPECT_EQ(r.loop.ReceiveHalted.load(), 0);
  EXPECT_EQ(r.loop.TxActive.load(), 1);
  EXPECT_EQ(r.loop.RestartRequested.load(), 1);
  EXPECT_TRUE(r.dialog.View().Visible);
}

TEST(SoundCardSelect, ADeviceThatWillNotOpenKeepsTheDialogOnDeviceZero) {
  DialogRig r;
  r.device.faults = {{"TrialOpen", 1, kCaptureError}};
  r.dialog.SelectSoundCardClick();
  r.dialog.WaveUpDownClick(2);
  const SoundCardView& v = r.dialog.CloseBtnClick();
  EXPECT_EQ(r.device.trialDevice, 2);
  ASSERT_EQ(r.host.messages.size(), 1u);
  EXPECT_EQ(r.host.messages[0].title, "Wave Device Message");
  EXPECT_EQ(r.host.messages[0].text, "Error Opening Input wave device, try a different device");
  EXPECT_TRUE(v.Visible);
  EXPECT_EQ(v.Position, 0);
  EXPECT_EQ(v.Name, "Card A");
  EXPECT_EQ(r.rx.Capture.InputDevice, 0);
  EXPECT_EQ(r.loop.TxActive.load(), 1);  // still paused
  EXPECT_FALSE(r.host.Armed(LoopTimer::kSystemTimer));
}

TEST(SoundCardSelect, SelectOrCloseHandsReceptionBack) {
  for (bool select : {true, false}) {
    DialogRig r;
    r.dialog.SelectSoundCardClick();
    r.dialog.WaveUpDownClick(1);
    const SoundCardView& v = select ? r.dialog.CloseBtnClick() : r.dialog.FormClose();
    EXPECT_FALSE(v.Visible);
    EXPECT_EQ(v.Colour, NameColour::kBlack);
    EXPECT_EQ(r.rx.Capture.InputDevice, select ? 1 : 0);
    EXPECT_EQ(r.loop.TxActive.load(), 0);
    EXPECT_EQ(r.loop.AutoStartPending.load(), 1);
    EXPECT_TRUE(r.host.Armed(LoopTimer::kSystemTimer));
    EXPECT_TRUE(r.host.messages.empty());
  }
}

TEST(SoundCardSelect, ChoosingACardWhileReceivingRestartsOnIt) {
  DialogRig r;
  r.host.At(1000, [&] {
    r.dialog.SelectSoundCardClick();
    r.dialog.WaveUpDownClick(2);
  });
  r.host.At(1500, [&] { r.dialog.CloseBtnClick(); });
  r.Run(4000);
  ASSERT_EQ(r.device.openedDevices, (std::vector<int>{0, 2}));
  // The reopen came from the automatic start about a second after "Select".
  const auto reopen = std::find_if(r.device.log.rbegin(), r.device.log.rend(),
                                   [](const auto& e) { return e.first == "Open"; });
  EXPECT_GE(reopen->second, 2500);
  EXPECT_LE(reopen->second, 2510);
  EXPECT_GT(r.loop.BlocksProcessed(), 10);
  EXPECT_FALSE(r.host.deadlineHit);
}

}  // namespace
}  // namespace kestrix
