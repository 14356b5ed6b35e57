#include "decoder/timing.h"

#include <cstddef>

namespace kestrix {

void ElementTiming::LearnStep(bool down) {
  if (down) {
    t_.OnCounter += t_.TickStep;
    return;
  }
  const int a = t_.OnCounter;
  if (a <= 0) return;
  if (t_.Counterdot != 0) {
    // A pair was found on the interval before: learning ends, this one is not measured.
    t_.Counterdot = 0;
    t_.Counterdash = 0;
    t_.Learning = false;
  } else if (t_.LearnFirst == 0) {
    t_.LearnFirst = a;
  } else {
    const int s = a < t_.LearnFirst ? a : t_.LearnFirst;
    const int l = a < t_.LearnFirst ? t_.LearnFirst : a;
    if (2 * s < l) {
      t_.DotHistory[0] = t_.Sumdots = t_.AvgDot = s;
      t_.DashHistory[0] = t_.SumDashes = t_.AvgDash = l;
      t_.Counterdot = 1;
      t_.Counterdash = 1;
    } else {
      t_.LearnFirst = a;
    }
  }
  t_.OnCounter = 0;
}

void ElementTiming::Classify(bool down) {
  if (down) {
    t_.OnCounter += t_.TickStep;
    if (t_.OffCounter > 0) {
      int limit;
      switch (o_.Spacing) {
        case SpaceTime::kShort:
          limit = (t_.AvgDash / 2 + t_.AvgDash) >> 2;
          break;
        case SpaceTime::kLong:
          limit = (3 * t_.AvgDash) >> 2;
          break;
        case SpaceTime::kMedium:
        default:
          limit = t_.SpeedWpm > 25 ? (2 * t_.AvgDash) >> 2 : (t_.AvgDot + 2 * t_.AvgDash) >> 2;
          break;
      }
      if (t_.OffCounter > limit) t_.CharEndFlag = 1;
      t_.OffCounter = 0;
    }
    return;
  }

  t_.OffCounter += t_.TickStep;
  if (t_.OnCounter <= 0) return;
  const int limit = (t_.AvgDot / 2 + t_.AvgDash) >> 1;
  if (t_.OnCounter > limit) {
    t_.DashFlag = 1;
    t_.DotDash += 1;
    const size_t slot = static_cast<size_t>(t_.Counterdash);
    t_.SumDashes = t_.SumDashes - t_.DashHistory[slot] + t_.OnCounter;
    t_.DashHistory[slot] = t_.OnCounter;
    t_.AvgDash = t_.SumDashes >> 1;
    t_.Counterdash = t_.Counterdash == 0 ? 1 : 0;
  } else {
    t_.DotFlag = 1;
    t_.DotDash -= 1;
    const size_t slot = static_cast<size_t>(t_.Counterdot);
    t_.Sumdots = t_.Sumdots - t_.DotHistory[slot] + t_.OnCounter;
    t_.DotHistory[slot] = t_.OnCounter;
    t_.AvgDot = t_.Sumdots >> 1;
    t_.Counterdot = t_.Counterdot == 0 ? 1 : 0;
  }
  t_.OnCounter = 0;
}

void ElementTiming::WordSpaceStep() {
  switch (t_.SpaceState) {
    case 0: {
      int margin;
      switch (o_.Spacing) {
        case SpaceTime::kShort:
          margin = -(t_.AvgDot / 6);
          break;
        case SpaceTime::kLong:
          margin = 2 * t_.AvgDot;
          break;
        case SpaceTime::kMedium:
        default:
          margin = t_.AvgDot / 4;
          break;
      }
      if (t_.AvgDash + margin < t_.OffCounter) t_.SpaceState = 1;
      break;
    }
    case 1:
      t_.SpaceState = 2;
      t_.OffCounter = 0;
      t_.CharEndFlag = 1;
      break;
    default:
      break;
  }
}

void ElementTiming::PerBlockChecks() {
  ++t_.BlockCounter;
  if (t_.BlockCounter % 4 == 0) t_.DotDash = 0;
  if (t_.DotDash * t_.AvgDot < -499 || t_.DashHistory[1] < t_.DotHistory[1]) RestoreCounters();
  if (t_.AvgDot > 0) {
    if (static_cast<double>(t_.AvgDash) / t_.AvgDot < 6.0 || t_.RatioCount < 6) {
      ++t_.RatioCount;
    } else {
      RestoreCounters();
      t_.RatioCount = 0;
    }
  }
  if (!o_.LockWpmOn) SpeedUpdate(t_.AvgDash);
}

void ElementTiming::SpeedUpdate(int a) {
  if (t_.RawWpm < 0) {
    t_.RawWpm = 15;
    a = 45;
  }
  if (a > 10) t_.RawWpm = 3960 / (a + 1);
  if (t_.RawWpm < 120 && t_.DirectSpeed) {
    t_.SpeedWpm = t_.RawWpm;
    ++t_.DirectCount;
  } else {
    t_.SpeedWpm = (t_.RawWpm + 2 * t_.SpeedWpm) / 3;
  }
  if (t_.DirectCount > 15) {
    t_.DirectSpeed = false;
    t_.DirectCount = 0;
  }

  const bool fast = o_.Speed == ReceiveSpeed::k50Plus;
  if (fast && t_.SpeedWpm > 110) {
    t_.ShownWpm = t_.SpeedWpm;
    t_.SpeedWpm = t_.RawWpm = 110;
    t_.AvgDash = 39;
    t_.AvgDot = 13;
  } else if (fast || t_.SpeedWpm <= 50) {
    t_.ShownWpm = t_.SpeedWpm;
    t_.OverSpeedCount = 0;
    t_.LastGoodSpeed = t_.SpeedWpm;
  } else {
    ++t_.OverSpeedCount;
    if (t_.OverSpeedCount <= 10) {
      t_.SpeedWpm = t_.LastGoodSpeed;
    } else {
      t_.ShownWpm = t_.SpeedWpm;
      t_.SpeedWpm = t_.RawWpm = 45;
      t_.AvgDash = 100;
      t_.AvgDot = 33;
      t_.OverSpeedCount = 0;
    }
  }

  if (t_.SpeedWpm >= 0 && t_.SpeedWpm <= 4) {
    if (t_.AvgDot > 0) {
      if (static_cast<double>(t_.AvgDash) / t_.AvgDot > 4.0) {
        RestoreCounters();
      } else {
        RestartLearning();
      }
    }
    t_.SpeedWpm = 15;
  }
}

void ElementTiming::SaveCounters() {
  t_.Saved = static_cast<const TimingCheckpoint&>(t_);
}

void ElementTiming::RestoreCounters() {
  static_cast<TimingCheckpoint&>(t_) = t_.Saved;
}

void ElementTiming::RestartLearning() {
  t_.Learning = true;
  t_.TickStep = 3;
  t_.DotHistory[1] = 0;
  t_.DashHistory[1] = 0;
  t_.Counterdot = 0;
  t_.Counterdash = 0;
  t_.Sumdots = 0;
  t_.SumDashes = 0;
  t_.AvgDot = 0;
  t_.AvgDash = 0;
  t_.DotFlag = 0;
  t_.DashFlag = 0;
  t_.CharEndFlag = 0;
  t_.OnCounter = 0;
  t_.OffCounter = 0;
  t_.LearnFirst = 0;
  t_.ElementCode = 0;
  t_.ElementWeight = 1;
}

void ElementTiming::DecoderReset() {
  RestartLearning();
  t_.SpeedWpm = 50;
  t_.RawWpm = 50;
  t_.DirectSpeed = true;
  t_.AvgDash = 93;
  t_.AvgDot = 31;
}

void ElementTiming::SetLockWpm(bool on, ReceiveOptions& options) {
  options.LockWpmOn = on;
  if (on) t_.LockedWpm = t_.SpeedWpm;
}

}  // namespace kestrix
