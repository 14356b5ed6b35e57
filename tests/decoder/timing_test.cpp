#include "decoder/timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrix {
namespace {

struct Timing {
  TimingState t;
  ReceiveOptions o;
  ElementTiming e{t, o};

  // Feeds `ticks` key states of one value to the classifier (or the learn step).
  void Run(bool down, int ticks) {
    for (int i = 0; i < ticks; ++i) t.Learning ? e.LearnStep(down) : e.Classify(down);
  }
};

TEST(LearnStep, NeedsARatioAboveTwo) {
  Timing s;
  // Intervals are counted in thirds of a tick: 3 ticks = 9, 6 ticks = 18, 7 ticks = 21.
  s.Run(true, 3);
  s.Run(false, 2);
  s.Run(true, 6);
  s.Run(false, 2);
  EXPECT_EQ(s.t.Counterdot, 0) << "9 and 18 are not a dot/dash pair";
  EXPECT_EQ(s.t.LearnFirst, 18);

  Timing a;
  a.Run(true, 3);
  a.Run(false, 2);
  a.Run(true, 7);
  a.Run(false, 2);
  EXPECT_EQ(a.t.Counterdot, 1);
  EXPECT_EQ(a.t.AvgDot, 9);
  EXPECT_EQ(a.t.AvgDash, 21);
  EXPECT_EQ(a.t.DotHistory[0], 9);
  EXPECT_EQ(a.t.DashHistory[0], 21);
  EXPECT_TRUE(a.t.Learning);
  EXPECT_EQ(a.t.OffCounter, 0) << "learning never counts gaps";

  // The next interval ends the learn phase and is not classified; the one after is.
  a.Run(true, 7);
  a.Run(false, 1);
  EXPECT_FALSE(a.t.Learning);
  EXPECT_EQ(a.t.DashFlag, 0);
  EXPECT_EQ(a.t.AvgDash, 21);
  a.Run(true, 3);
  a.Run(false, 1);
  EXPECT_EQ(a.t.DotFlag, 1);
  // Slot 1 of the dot history still holds 0, so the average is half the new dot.
  EXPECT_EQ(a.t.AvgDot, 4);
}

TEST(Classify, AnIntervalAtTheDotDashLimitIsADot) {
  Timing s;
  s.t.Learning = false;
  s.t.AvgDot = 10;
  s.t.AvgDash = 30;
  // Limit (10 / 2 + 30) >> 1 = 17: 18 is a dash, 15 a dot; 17 is unreachable in steps of
  // 3, so use a tick step of 1 for the tie.
  s.t.TickStep = 1;
  s.Run(true, 17);
  s.Run(false, 1);
  EXPECT_EQ(s.t.DotFlag, 1);
  EXPECT_EQ(s.t.DashFlag, 0);
  s.Run(true, 18);
  s.Run(false, 1);
  EXPECT_EQ(s.t.DashFlag, 1);
  EXPECT_EQ(s.t.DotDash, 0);
}

TEST(Classify, CharacterGapLimitFollowsTheSpaceTime) {
  struct Case {
    SpaceTime spacing;
    int speed;
    int limit;  // from AvgDot 20, AvgDash 60
  };
  for (const Case c :
       {Case{SpaceTime::kShort, 20, (30 + 60) >> 2}, Case{SpaceTime::kMedium, 20, (20 + 120) >> 2},
        Case{SpaceTime::kMedium, 30, 120 >> 2}, Case{SpaceTime::kLong, 20, 180 >> 2}}) {
    for (int gap : {c.limit, c.limit + 1}) {
      Timing s;
      s.t.Learning = false;
      s.t.TickStep = 1;
      s.t.AvgDot = 20;
      s.t.AvgDash = 60;
      s.t.SpeedWpm = c.speed;
      s.o.Spacing = c.spacing;
      s.Run(false, gap);
      s.Run(true, 1);
      EXPECT_EQ(s.t.CharEndFlag, gap > c.limit ? 1 : 0)
          << "space time " << static_cast<int>(c.spacing) << " gap " << gap;
      EXPECT_EQ(s.t.OffCounter, 0);
    }
  }
}

TEST(WordSpace, FinishesTheCharacterThenCountsTheGapAgain) {
  Timing s;
  s.t.Learning = false;
  s.t.AvgDot = 20;
  s.t.AvgDash = 60;
  s.t.OffCounter = 65;  // medium margin 20 / 4 = 5: needs more than 65
  s.e.WordSpaceStep();
  EXPECT_EQ(s.t.SpaceState, 0);
  s.t.OffCounter = 66;
  s.e.WordSpaceStep();
  EXPECT_EQ(s.t.SpaceState, 1);
  s.e.WordSpaceStep();
  EXPECT_EQ(s.t.SpaceState, 2);
  EXPECT_EQ(s.t.CharEndFlag, 1);
  EXPECT_EQ(s.t.OffCounter, 0);
}

TEST(SpeedUpdate, DashAverageSetsTheSpeed) {
  Timing s;
  s.t.LastGoodSpeed = 30;
  s.e.SpeedUpdate(43);
  EXPECT_EQ(s.t.RawWpm, 90);
  EXPECT_EQ(s.t.SpeedWpm, 30) << "90 wpm without the 50+ setting holds the last good speed";

  Timing small;
  small.t.RawWpm = 33;
  small.e.SpeedUpdate(10);
  EXPECT_EQ(small.t.RawWpm, 33) << "a dash average of 10 or less leaves the speed alone";
}

TEST(SpeedUpdate, SmoothsOnceTheDirectPhaseIsOver) {
  Timing s;
  for (int i = 0; i < 16; ++i) s.e.SpeedUpdate(197);  // 20 wpm
  EXPECT_FALSE(s.t.DirectSpeed);
  EXPECT_EQ(s.t.SpeedWpm, 20);
  s.e.SpeedUpdate(131);  // 30 wpm
  EXPECT_EQ(s.t.SpeedWpm, (30 + 2 * 20) / 3);
}

TEST(SpeedUpdate, OverSpeedIsHeldForTenBlocksThenForcedTo45) {
  Timing s;
  s.t.DirectSpeed = false;
  s.t.SpeedWpm = 40;
  s.t.LastGoodSpeed = 40;
  for (int i = 0; i < 10; ++i) {
    s.t.SpeedWpm = 70;
    s.e.SpeedUpdate(50);  // 77 wpm
    EXPECT_EQ(s.t.SpeedWpm, 40) << "block " << i;
  }
  s.e.SpeedUpdate(50);
  EXPECT_EQ(s.t.SpeedWpm, 45);
  EXPECT_EQ(s.t.AvgDash, 100);
  EXPECT_EQ(s.t.AvgDot, 33);

  Timing fast;
  fast.o.Speed = ReceiveSpeed::k50Plus;
  fast.e.SpeedUpdate(34);  // 113 wpm
  EXPECT_EQ(fast.t.SpeedWpm, 110);
  EXPECT_EQ(fast.t.AvgDash, 39);
}

TEST(SpeedUpdate, CollapseRestoresOrRelearns) {
  Timing s;
  s.t.DirectSpeed = true;
  s.t.AvgDot = 300;
  s.t.AvgDash = 1500;  // 2 wpm, ratio 5
  s.t.Saved.AvgDash = 77;
  s.e.SpeedUpdate(1500);
  EXPECT_EQ(s.t.SpeedWpm, 15);
  EXPECT_EQ(s.t.AvgDash, 77) << "ratio above 4 restores the checkpoint";

  Timing r;
  r.t.Learning = false;
  r.t.AvgDot = 500;
  r.t.AvgDash = 1500;  // ratio 3
  r.e.SpeedUpdate(1500);
  EXPECT_TRUE(r.t.Learning);
  EXPECT_EQ(r.t.SpeedWpm, 15);
}

TEST(PerBlockChecks, RestoreWhenDashesAreShorterThanDots) {
  Timing s;
  s.e.SaveCounters();  // AvgDot 0 saved
  s.t.DotHistory[1] = 40;
  s.t.DashHistory[1] = 30;
  s.t.AvgDot = 35;
  s.o.LockWpmOn = true;
  s.e.PerBlockChecks();
  EXPECT_EQ(s.t.AvgDot, 0);
}

TEST(Checkpoint, StartsWithTheStartUpValues) {
  // A restore before the first finished character must leave a decoder that counts.
  Timing s;
  s.t.TickStep = 0;
  s.t.ElementWeight = 8;
  s.e.RestoreCounters();
  EXPECT_EQ(s.t.TickStep, 3);
  EXPECT_EQ(s.t.ElementWeight, 1);
  EXPECT_EQ(s.t.ElementCode, 0);
}

TEST(Checkpoint, RestartLearningKeepsSlotZeroOfTheHistories) {
  Timing s;
  s.t.DotHistory = {7, 8};
  s.t.DashHistory = {21, 22};
  s.t.Learning = false;
  s.e.RestartLearning();
  EXPECT_TRUE(s.t.Learning);
  EXPECT_EQ(s.t.DotHistory[0], 7);
  EXPECT_EQ(s.t.DotHistory[1], 0);
  EXPECT_EQ(s.t.DashHistory[0], 21);
  EXPECT_EQ(s.t.ElementWeight, 1);
}

TEST(LockWpm, KeepsTheSpeedItWasSwitchedOnAt) {
  Timing s;
  s.t.SpeedWpm = 23;
  s.e.SetLockWpm(true, s.o);
  EXPECT_EQ(s.t.LockedWpm, 23);
  EXPECT_TRUE(s.o.LockWpmOn);
  s.t.SpeedWpm = 30;
  s.e.SetLockWpm(false, s.o);
  EXPECT_EQ(s.t.LockedWpm, 23);
}

}  // namespace
}  // namespace kestrix
