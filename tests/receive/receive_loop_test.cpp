// Run control of the receive loop against a scripted card and window on a fake clock.
#include "receive/receive_loop.h"

#include <gtest/gtest.h>

#include "loop_fakes.h"

namespace kestrix {
namespace {

using Rig = test::LoopRig;
using test::ScriptedDevice;

constexpr double kBlockMs = 1000.0 * kBlockFrames / 44100.0;  // 185.8 ms

// Every TEXT block continues the one before it, frame for frame, in the chosen channel.
void ExpectContiguous(const std::vector<Rig::Block>& blocks, ChannelMode channel) {
  const auto frame = [&](int32_t v) { return channel == ChannelMode::kRight ? -v - 1 : v; };
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int32_t first = frame(blocks[i].first);
    ASSERT_GE(first, 0) << "block " << i << " is not from the expected channel";
    EXPECT_EQ(frame(blocks[i].last), (first + kBlockFrames - 1) % 20000) << "block " << i;
    if (i > 0) {
      EXPECT_EQ(first, (frame(blocks[i - 1].last) + 1) % 20000) << "frames lost before " << i;
    }
  }
}

template <typename T, typename Pred>
auto FindIf(const std::vector<T>& v, Pred pred) {
  return std::find_if(v.begin(), v.end(), pred);
}

TEST(PositionRule, DecidesWhenTheOtherBufferMayBeQueued) {
  // TEXT: the first half of the recording buffer, or a whole number of buffer pairs.
  // MANUAL: the second half of the recording buffer; a pair boundary only in phase 0.
  const struct {
    uint32_t position;
    int phase;
    bool text, manual;
  } cases[] = {{0, 0, true, true},      {0, 1, true, false},     {100, 0, true, false},
               {8191, 1, true, false},  {8192, 0, true, true},   {8192, 1, true, true},
               {8193, 0, false, true},  {16383, 1, false, true}, {16384, 1, true, false},
               {16484, 1, true, false}, {32768, 0, true, true},  {32768, 1, true, false},
               {44768, 1, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "position " << c.position << " phase " << c.phase);
    EXPECT_EQ(PositionAllowsExchange(ReceiveMode::kText, c.position, 16384, c.phase), c.text);
    EXPECT_EQ(PositionAllowsExchange(ReceiveMode::kManual, c.position, 16384, c.phase), c.manual);
  }
}

TEST(ReceiveLoop, BlocksFollowEachOtherOnBuffersQueuedWhereTheModeAllows) {
  for (ReceiveMode mode : {ReceiveMode::kText, ReceiveMode::kManual}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Rig r;
    r.rx.Mode = mode;
    r.Run(3000);
    // 3 s of sound at 185.8 ms per block; only TEXT blocks reach the text stages.
    const int64_t blocks = r.loop.BlocksProcessed();
    EXPECT_NEAR(static_cast<double>(blocks), 3000.0 / kBlockMs, 1.5);
    EXPECT_EQ(static_cast<int64_t>(r.blocks.size()), mode == ReceiveMode::kText ? blocks : 0);
    ExpectContiguous(r.blocks, ChannelMode::kMic);
    EXPECT_EQ(r.device.openedFormats.size(), 1u);
    // Each block's buffer was released; so was the one that completed during STOP's settle
    // time, which is not processed.
    EXPECT_GE(r.device.calls["Unprepare"], blocks);
    EXPECT_LE(r.device.calls["Unprepare"], blocks + 1);
    // Buffers alternate a, b, a, ... starting with a; each after the first is queued where
    // the rule for its phase allows.
    ASSERT_GT(r.device.adds.size(), 5u);
    for (size_t i = 0; i < r.device.adds.size(); ++i) {
      const auto& a = r.device.adds[i];
      EXPECT_EQ(a.header, i % 2 == 0 ? &r.loop.HeaderA() : &r.loop.HeaderB()) << "add " << i;
      const int phase = a.header == &r.loop.HeaderB() ? 0 : 1;
      EXPECT_TRUE(i == 0 || PositionAllowsExchange(mode, a.position, 16384, phase))
          << "add " << i << " at position " << a.position;
    }
    // START's window steps ran once, and STOP coloured the buttons.
    EXPECT_EQ(r.host.hooks["StartTransmitWorkers"], 1);
    EXPECT_EQ(r.host.hooks["InitToneOutput"], 1);
    EXPECT_EQ(r.host.hooks["ShowStopped"], 1);
    EXPECT_FALSE(r.host.deadlineHit);
    EXPECT_FALSE(r.device.IsOpen());  // released when the loop ended
  }
}

TEST(ReceiveLoop, StopEndsTheLoopAfterItsSettleTimeAndStartThenDoesNothing) {
  Rig r;
  r.StartAt(2000);  // START after STOP, before any send
  r.Run(1000);
  r.host.RunUntil(3000);
  EXPECT_EQ(r.loop.ReceiveStop.load(), 1);
  EXPECT_EQ(r.loop.ReceiveHalted.load(), 1);
  EXPECT_EQ(r.device.openedDevices.size(), 1u);
  EXPECT_EQ(r.host.hooks["ShowStarted"], 1);
  EXPECT_EQ(r.BlocksBetween(1000, 3000), 0);
  // The loop saw ReceiveStop only after STOP's 400 ms, then returned at once; the second
  // START returned at once.
  ASSERT_EQ(r.startReturns.size(), 2u);
  EXPECT_GE(r.startReturns[0], 1400);
  EXPECT_LT(r.startReturns[0], 1410);
  EXPECT_EQ(r.startReturns[1], 2000);
  EXPECT_EQ(r.loop.AutoStartPending.load(), 1);
  EXPECT_FALSE(r.host.Armed(LoopTimer::kTimeoutTimer));
  EXPECT_FALSE(r.host.Armed(LoopTimer::kSystemTimer));

  // A send that ends clears ReceiveStop; START works again.
  r.loop.ReceiveStop.store(0);
  r.StartAt(3000);
  r.StopAt(4000);
  r.host.RunUntil(5000);
  EXPECT_EQ(r.device.openedDevices.size(), 2u);
  EXPECT_GT(r.BlocksBetween(3000, 4000), 3);
}

TEST(ReceiveLoop, NoSoundCardShowsOneMessageAndQuits) {
  Rig r;
  r.device.devices = 0;
  r.loop.StartButtonClick();
  r.loop.SystemTimerTimer();  // an automatic start afterwards changes nothing
  r.loop.AutoStartPending.store(1);
  r.loop.SystemTimerTimer();
  ASSERT_EQ(r.host.messages.size(), 1u);
  EXPECT_EQ(r.host.messages[0].title, "Application Message");
  EXPECT_EQ(r.host.messages[0].text, "No Sound Card Detected");
  EXPECT_EQ(r.host.quits, 1);
  EXPECT_TRUE(r.loop.QuitRequested());
  EXPECT_EQ(r.device.calls["Open"], 0);
}

TEST(ReceiveLoop, ScanModeProcessesNoAudioButKeepsTheWindowAliveUntilStop) {
  Rig r;
  r.rx.Mode = ReceiveMode::kScan;
  r.Run(1000);
  EXPECT_EQ(r.loop.BlocksProcessed(), 0);
  EXPECT_EQ(r.device.calls["Position"], 0);
  EXPECT_EQ(r.device.calls["Unprepare"], 0);
  // Events were processed every few milliseconds while the loop ran.
  EXPECT_GT(r.host.processCalls, 150);
  EXPECT_GE(r.startReturnedAt, 1400);
  EXPECT_LT(r.startReturnedAt, 1450);
  EXPECT_EQ(r.loop.AutoStartPending.load(), 1);
}

TEST(ReceiveLoop, TransmittingPausesCaptureAndRestartsItOnBufferA) {
  // A send from 1 s to 2 s, and one already underway at START.
  for (const auto& [from, to] : {std::pair<int64_t, int64_t>{1000, 2000}, {0, 1500}}) {
    SCOPED_TRACE(from);
    Rig r;
    r.host.At(from, [&] { r.loop.TxActive.store(1); });  // before START when from is 0
    r.host.At(to, [&] { r.loop.TxActive.store(0); });
    r.Run(to + 1500);
    // At most the block in flight finishes after the send starts.
    const double inFlight = from == 0 ? 0.0 : kBlockMs + 5;
    EXPECT_EQ(r.BlocksBetween(from + inFlight, to), 0);
    EXPECT_GT(r.BlocksBetween(to, to + 1500), 4);
    // One reset when the pause ended, then buffer a first, recording from position 0.
    ASSERT_EQ(r.device.resetTimes.size(), 2u);  // the pause's and the loop end's
    EXPECT_GE(r.device.resetTimes[0], to);
    EXPECT_LE(r.device.resetTimes[0], to + 40);  // the pause polls every 20 ms
    const auto firstAddAfter = FindIf(r.device.adds, [&](const auto& a) { return a.at >= to; });
    ASSERT_NE(firstAddAfter, r.device.adds.end());
    EXPECT_EQ(firstAddAfter->header, &r.loop.HeaderA());
    EXPECT_EQ(firstAddAfter->position, 0u);
    // No late-buffer restarts while transmitting.
    for (int64_t t : r.device.startTimes) {
      EXPECT_FALSE(t > from + inFlight && t < to) << "device restarted at " << t;
    }
    EXPECT_EQ(r.device.startTimes.size(), 2u);  // at the open and after the pause
  }
}

// The band map's copy of the capture: every block the loop processes, in both audio
// modes, whole, and none while the transmitter sends.
TEST(ReceiveLoop, EveryProcessedBlockGoesToTheTapAndNoneWhileTransmitting) {
  struct Tap final : CaptureBlockTap {
    void OnCaptureBlock(const uint8_t* data, uint32_t bytes, const CaptureSettings& c) override {
      ++blocks;
      whole = whole && data != nullptr && bytes == c.BufferBytes;
      if (sending) ++duringSend;
    }
    int64_t blocks = 0;
    int64_t duringSend = 0;
    bool whole = true;
    bool sending = false;
  };
  for (ReceiveMode mode : {ReceiveMode::kText, ReceiveMode::kManual}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Rig r;
    Tap tap;
    r.rx.Mode = mode;
    r.loop.SetBlockTap(&tap);
    r.host.At(1000, [&] { r.loop.TxActive.store(1); });
    r.host.At(static_cast<int64_t>(1000 + kBlockMs + 5), [&] { tap.sending = true; });
    r.host.At(2000, [&] {
      tap.sending = false;
      r.loop.TxActive.store(0);
    });
    r.Run(3500);
    EXPECT_GT(tap.blocks, 8);
    EXPECT_EQ(tap.blocks, r.loop.BlocksProcessed());
    EXPECT_TRUE(tap.whole);
    EXPECT_EQ(tap.duringSend, 0);
  }
}

TEST(ReceiveLoop, StopWhileTransmittingEndsReception) {
  Rig r;
  r.host.At(1000, [&] { r.loop.TxActive.store(1); });
  r.Run(1500);
  EXPECT_GE(r.startReturnedAt, 1900);
  EXPECT_LT(r.startReturnedAt, 1950);
  EXPECT_FALSE(r.loop.Running());
  EXPECT_FALSE(r.device.IsOpen());
}

TEST(ReceiveLoop, ChannelChangeRestartsASecondLaterWithTheNewFormat) {
  const std::string hint = "Be sure to set the mixer panel recording input to ";
  const struct {
    void (ReceiveLoop::*click)();
    ChannelMode mode;
    uint16_t channels;
    uint16_t bufferBytes;
    std::string hint;
  } cases[] = {
      {&ReceiveLoop::LeftInputClick, ChannelMode::kLeft, 2, 32768, hint + "Line in"},
      {&ReceiveLoop::RightInputClick, ChannelMode::kRight, 2, 32768, hint + "Line in"},
      {&ReceiveLoop::MicInputClick, ChannelMode::kMic, 1, 16384, hint + "Microphone"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    Rig r;
    r.host.At(1000, [&] { (r.loop.*c.click)(); });
    r.Run(4000);

    ASSERT_EQ(r.host.messages.size(), 1u);
    EXPECT_EQ(r.host.messages[0].title, "Operating Hint");
    EXPECT_EQ(r.host.messages[0].text, c.hint);
    // The first run returned after the buffer it was waiting for.
    EXPECT_GT(r.startReturnedAt, 1000);
    EXPECT_LE(r.startReturnedAt, 1000 + kBlockMs + 10);
    // The automatic start reopened the device about a second later, in the new format.
    ASSERT_EQ(r.device.openedFormats.size(), 2u);
    const auto reopen =
        FindIf(r.device.log, [](const auto& e) { return e.first == "Open" && e.second > 0; });
    ASSERT_NE(reopen, r.device.log.end());
    EXPECT_GE(reopen->second, 1990);
    EXPECT_LE(reopen->second, 1000 + kBlockMs + 1010);
    EXPECT_EQ(r.device.openedFormats[1].Channels, c.channels);
    EXPECT_EQ(r.device.openedFormats[1].BlockAlign, c.channels * 2);
    EXPECT_EQ(r.device.openedFormats[1].AverageBytesPerSecond, 44100u * c.channels * 2);
    EXPECT_EQ(r.rx.Capture.BufferBytes, c.bufferBytes);
    EXPECT_EQ(r.device.adds.back().header->BufferLength, c.bufferBytes);
    // After the restart each block is 8192 frames of the chosen channel.
    std::vector<Rig::Block> after;
    for (const auto& b : r.blocks) {
      if (b.at > reopen->second) after.push_back(b);
    }
    EXPECT_GT(after.size(), 5u);
    ExpectContiguous(after, c.mode);
  }
}

TEST(ReceiveLoop, ChannelChoiceWhileSettingsLoadNeitherHintsNorRestarts) {
  Rig r;
  r.host.settingsLoading = true;
  r.loop.LeftInputClick();
  EXPECT_TRUE(r.host.messages.empty());
  EXPECT_EQ(r.loop.RestartRequested.load(), 0);
  EXPECT_EQ(r.loop.AutoStartPending.load(), 0);
  EXPECT_FALSE(r.host.Armed(LoopTimer::kSystemTimer));
  EXPECT_EQ(r.rx.Capture.BufferBytes, 32768);
  EXPECT_EQ(r.host.hooks["InputChannelChecked"], 1);
}

TEST(ReceiveLoop, ALateBufferRestartsTheDeviceEvery375Ms) {
  Rig r;
  r.device.stalledUntilStart = 4;  // the first start and three restarts get no sound
  r.loop.WaveWatchdog.store(1);
  r.Run(3000);
  ASSERT_GE(r.device.startTimes.size(), 4u);
  for (size_t i = 2; i < 4; ++i) {
    EXPECT_NEAR(static_cast<double>(r.device.startTimes[i] - r.device.startTimes[i - 1]), 375.0,
                6.0);
  }
  // Each restart follows its tick by the 100 ms settle.
  EXPECT_NEAR(static_cast<double>(r.device.startTimes[1] - r.host.fired[1][0]), 100.0, 1.0);
  EXPECT_EQ(r.loop.WaveWatchdog.load(), 0);
  // Once sound flows the blocks come and the timer is quiet again.
  EXPECT_GT(r.loop.BlocksProcessed(), 5);
  EXPECT_EQ(r.device.startTimes.size(), 4u);
}

TEST(ReceiveLoop, DeviceFailuresShowTheirMessageAndQuitUnlessOpening) {
  const struct {
    ScriptedDevice::Fault fault;
    bool pause;  // transmit for a while, so that the device is reset
    const char* text;
    int opened;  // the device opened, -1 for none
  } cases[] = {
      {{"Prepare", 1, kCaptureError}, false, "Error preparing the header_a", 2},
      {{"Prepare", 2, kCaptureError}, false, "Error preparing the header_b", 2},
      {{"Add", 1, kCaptureError}, false, "Error in sending a buffer_a", 2},
      {{"Add", 2, kCaptureError}, false, "Error in sending a buffer_b", 2},
      {{"Start", 1, kCaptureError}, false, "Error starting the input wave device", 2},
      {{"Position", 3, kCaptureError}, false, "Error getting the byte position", 2},
      {{"Unprepare", 1, kCaptureError}, false, "Error unpreparing the Header a", 2},
      {{"Unprepare", 2, kCaptureError}, false, "Error unpreparing the Header b", 2},
      {{"Reset", 1, kCaptureError}, true, "Error Resetting the input wave device", 2},
      // The program goes on without capture; the next start uses device 0.
      {{"Open", 1, kCaptureBadDevice}, false, "Error Opening Input wave device", -1},
      // Reception goes on, on device 0.
      {{"QueryFormat", 1, kCaptureBadFormat}, false, "Could not status the input wave device", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Rig r;
    r.rx.Capture.InputDevice = 2;
    r.device.devices = 3;
    r.device.faults = {c.fault};
    if (c.pause) {
      r.host.At(500, [&] { r.loop.TxActive.store(1); });
      r.host.At(700, [&] { r.loop.TxActive.store(0); });
    }
    r.StartAt(0);
    if (c.opened == 0) r.StopAt(1500);  // the others end on their own
    r.host.RunUntil(2500);
    const bool quits = c.opened == 2;
    ASSERT_EQ(r.host.messages.size(), 1u);
    EXPECT_EQ(r.host.messages[0].title, "Wave Device Message");
    EXPECT_EQ(r.host.messages[0].text, c.text);
    EXPECT_EQ(r.host.quits, quits ? 1 : 0);
    EXPECT_EQ(r.loop.QuitRequested(), quits);
    EXPECT_FALSE(r.loop.Running());
    EXPECT_FALSE(r.host.deadlineHit);
    EXPECT_EQ(r.device.openedDevices, c.opened < 0 ? std::vector<int>{} : std::vector{c.opened});
    EXPECT_EQ(r.rx.Capture.InputDevice, quits ? 2 : 0);
    EXPECT_EQ(r.device.calls["Prepare"] == 0, c.opened < 0);
    EXPECT_EQ(r.loop.BlocksProcessed() > 4, c.opened == 0);
  }
}

TEST(ReceiveLoop, HandleWaveErrorQuitsOnceForEveryCodeButOne) {
  for (int code : {1, 0, 26, 30, 36}) {
    Rig r;
    EXPECT_EQ(r.loop.HandleWaveError(code), code == 1) << code;
    EXPECT_EQ(r.host.quits, code == 1 ? 0 : 1) << code;
    r.loop.HandleWaveError(code);  // quitting is asked for once
    EXPECT_EQ(r.host.quits, code == 1 ? 0 : 1) << code;
  }
}

TEST(ReceiveLoop, StopSeenWhilePollingGoesBackToTheRestartPoint) {
  for (bool halted : {true, false}) {
    SCOPED_TRACE(halted ? "halted" : "not halted");
    Rig r;
    r.rx.Mode = ReceiveMode::kManual;
    bool poked = false;
    // Raised between two position reads of a pass well into the run, as another thread
    // could; halted as STOP leaves it, or not.
    r.device.onCall = [&](const std::string& op) {
      if (op == "Position" && !poked && r.host.now > 1000) {
        poked = true;
        r.loop.ReceiveStop.store(1);
        r.loop.ReceiveHalted.store(halted ? 1 : 0);
      }
    };
    r.Run(3000);
    ASSERT_TRUE(poked);
    if (halted) {
      EXPECT_LT(r.startReturnedAt, 1200);
      EXPECT_EQ(r.device.openedDevices.size(), 1u);
    } else {
      // Capture reopened (the old stream closed first) and reception went on.
      EXPECT_EQ(r.device.openedDevices.size(), 2u);
      EXPECT_GE(r.device.calls["Close"], 2);
      EXPECT_GE(r.startReturnedAt, 3400);
      EXPECT_GT(r.loop.BlocksProcessed(), 12);
    }
  }
}

TEST(ReceiveLoop, ManualModeWhileSendingSkipsTheWholePass) {
  Rig r;
  r.rx.Mode = ReceiveMode::kManual;
  r.loop.SendingState.store(3);
  r.host.At(1000, [&] { r.loop.SendingState.store(0); });
  r.Run(2000);
  const auto firstPosition =
      FindIf(r.device.log, [](const auto& e) { return e.first == "Position"; });
  ASSERT_NE(firstPosition, r.device.log.end());
  EXPECT_GE(firstPosition->second, 1000);
  EXPECT_GT(r.loop.BlocksProcessed(), 2);
}

TEST(ReceiveLoop, AutomaticStartWaitsForARunningLoopToEnd) {
  Rig r;
  // A channel change while running arms the automatic start; a further tick that comes
  // while the loop is still running its last buffer must not nest a second loop.
  r.host.At(1000, [&] {
    r.loop.LeftInputClick();
    r.loop.SystemTimerTimer();
  });
  r.Run(3500);
  EXPECT_EQ(r.device.openedDevices.size(), 2u);
  EXPECT_EQ(r.loop.AutoStartPending.load(), 1);  // the STOP's, not the channel change's
  EXPECT_FALSE(r.loop.Running());

  // Not running and nothing pending: the tick only disarms itself.
  Rig idle;
  idle.host.ArmTimer(LoopTimer::kSystemTimer);
  idle.loop.SystemTimerTimer();
  EXPECT_FALSE(idle.host.Armed(LoopTimer::kSystemTimer));
  EXPECT_EQ(idle.device.calls["Open"], 0);
}

}  // namespace
}  // namespace kestrix
