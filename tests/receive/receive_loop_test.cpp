// Run control of the receive loop against a scripted card and window on a fake clock.
#include "receive/receive_loop.h"

#include <gtest/gtest.h>

#include "loop_fakes.h"

namespace kestrix {
namespace {

using test::LeftSample;
using test::RightSample;
using test::ScriptedDevice;
using test::ScriptedHost;

constexpr double kBlockMs = 1000.0 * kBlockFrames / 44100.0;  // 185.8 ms

// A receive loop wired to the scripted card and window, with a sink that notes what each
// TEXT block held.
struct Rig : TextSink, ReceiverSink {
  struct Block {
    int64_t at;
    int32_t first;
    int32_t last;
  };

  ScriptedDevice device;
  ScriptedHost host;
  Receiver rx{*this, this};
  ReceiveLoop loop{rx, device, host};
  std::vector<Block> blocks;
  int64_t startReturnedAt = -1;  // the latest START's
  std::vector<int64_t> startReturns;

  Rig() {
    host.loop = &loop;
    host.device = &device;
    device.clock = &host.now;
  }
  void InsertText(const char*, size_t) override {}
  void BlockFinished(const Receiver& r) override {
    blocks.push_back({host.now, r.RawBlock[0], r.RawBlock[kBlockFrames - 1]});
  }
  // START from the window's event loop at `at`; notes when the loop gave control back.
  void StartAt(int64_t at) {
    host.At(at, [this] {
      loop.StartButtonClick();
      startReturnedAt = host.now;
      startReturns.push_back(host.now);
    });
  }
  void StopAt(int64_t at) {
    host.At(at, [this] { loop.StopButtonClick(); });
  }
  int BlocksBetween(int64_t from, int64_t to) const {
    return static_cast<int>(std::count_if(
        blocks.begin(), blocks.end(), [&](const Block& b) { return b.at > from && b.at <= to; }));
  }
};

// Every TEXT block continues the one before it, frame for frame, in the chosen channel.
void ExpectContiguous(const std::vector<Rig::Block>& blocks, ChannelMode channel) {
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Rig::Block& b = blocks[i];
    const int32_t first = channel == ChannelMode::kRight ? -b.first - 1 : b.first;
    const int32_t last = channel == ChannelMode::kRight ? -b.last - 1 : b.last;
    ASSERT_GE(first, 0) << "block " << i << " is not from the expected channel";
    EXPECT_EQ(last, (first + kBlockFrames - 1) % 20000) << "block " << i;
    if (i > 0) {
      const Rig::Block& p = blocks[i - 1];
      const int32_t prevLast = channel == ChannelMode::kRight ? -p.last - 1 : p.last;
      EXPECT_EQ(first, (prevLast + 1) % 20000) << "frames lost before block " << i;
    }
  }
}

TEST(PositionRule, DecidesWhenTheOtherBufferMayBeQueued) {
  struct Case {
    ReceiveMode mode;
    uint32_t position;
    int phase;
    bool allowed;
  };
  const uint32_t bb = 16384;
  const Case cases[] = {
      // TEXT: first half of the recording buffer, or a whole number of buffer pairs.
      {ReceiveMode::kText, 0, 0, true},
      {ReceiveMode::kText, 8192, 0, true},
      {ReceiveMode::kText, 8193, 0, false},
      {ReceiveMode::kText, 16383, 1, false},
      {ReceiveMode::kText, 16384, 1, true},
      {ReceiveMode::kText, 16384 + 100, 1, true},
      {ReceiveMode::kText, 32768, 0, true},
      // MANUAL: second half of the recording buffer; a pair boundary only in phase 0.
      {ReceiveMode::kManual, 0, 0, true},
      {ReceiveMode::kManual, 0, 1, false},
      {ReceiveMode::kManual, 100, 0, false},
      {ReceiveMode::kManual, 8191, 1, false},
      {ReceiveMode::kManual, 8192, 1, true},
      {ReceiveMode::kManual, 16384, 1, false},
      {ReceiveMode::kManual, 32768, 0, true},
      {ReceiveMode::kManual, 32768, 1, false},
      {ReceiveMode::kManual, 32768 + 12000, 1, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PositionAllowsExchange(c.mode, c.position, bb, c.phase), c.allowed)
        << "mode " << static_cast<int>(c.mode) << " position " << c.position << " phase "
        << c.phase;
  }
}

TEST(ReceiveLoop, TextBlocksFollowEachOtherWithoutLosingFrames) {
  Rig r;
  r.StartAt(0);
  r.StopAt(3000);
  r.host.RunUntil(4000);
  // 3 s of sound at 185.8 ms per block.
  EXPECT_NEAR(static_cast<double>(r.blocks.size()), 3000.0 / kBlockMs, 1.5);
  ExpectContiguous(r.blocks, ChannelMode::kMic);
  EXPECT_EQ(r.device.openedFormats.size(), 1u);
  // Each block's buffer was released; so was the one that completed during STOP's settle
  // time, which is not processed.
  EXPECT_GE(r.device.calls["Unprepare"], static_cast<int>(r.blocks.size()));
  EXPECT_LE(r.device.calls["Unprepare"], static_cast<int>(r.blocks.size()) + 1);
  // Buffers alternate a, b, a, ... starting with a.
  ASSERT_GE(r.device.adds.size(), 3u);
  EXPECT_EQ(r.device.adds[0].header, &r.loop.HeaderA());
  EXPECT_EQ(r.device.adds[1].header, &r.loop.HeaderB());
  EXPECT_EQ(r.device.adds[2].header, &r.loop.HeaderA());
  // START's window steps ran once, in order, and STOP coloured the buttons.
  EXPECT_EQ(r.host.HookCount("StartTransmitWorkers"), 1);
  EXPECT_EQ(r.host.HookCount("InitToneOutput"), 1);
  EXPECT_EQ(r.host.HookCount("ShowStopped"), 1);
  EXPECT_FALSE(r.host.deadlineHit);
  // Released when the loop ended.
  EXPECT_FALSE(r.device.IsOpen());
}

TEST(ReceiveLoop, StopEndsTheLoopAfterItsSettleTimeAndStartThenDoesNothing) {
  Rig r;
  r.StartAt(0);
  r.StopAt(1000);
  r.StartAt(2000);  // START after STOP, before any send
  r.host.RunUntil(3000);
  EXPECT_EQ(r.loop.ReceiveStop.load(), 1);
  EXPECT_EQ(r.loop.ReceiveHalted.load(), 1);
  EXPECT_EQ(r.device.openedDevices.size(), 1u);
  EXPECT_EQ(r.host.HookCount("ShowStarted"), 1);
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
  r.StartAt(0);
  r.StopAt(1000);
  r.host.RunUntil(2000);
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
  Rig r;
  r.host.At(1000, [&] { r.loop.TxActive.store(1); });
  r.host.At(2000, [&] { r.loop.TxActive.store(0); });
  r.StartAt(0);
  r.StopAt(3500);
  r.host.RunUntil(4500);
  // At most the block in flight finishes after the send starts.
  EXPECT_EQ(r.BlocksBetween(1000 + kBlockMs + 5, 2000), 0);
  EXPECT_GT(r.BlocksBetween(2000, 3500), 4);
  // One reset when the pause ended, then buffer a first, recording from position 0.
  ASSERT_EQ(r.device.resetTimes.size(), 2u);  // the pause's and the loop end's
  EXPECT_GE(r.device.resetTimes[0], 2000);
  EXPECT_LE(r.device.resetTimes[0], 2040);  // the pause polls every 20 ms
  const auto firstAddAfter = std::find_if(r.device.adds.begin(), r.device.adds.end(),
                                          [&](const auto& a) { return a.at >= 2000; });
  ASSERT_NE(firstAddAfter, r.device.adds.end());
  EXPECT_EQ(firstAddAfter->header, &r.loop.HeaderA());
  EXPECT_EQ(firstAddAfter->position, 0u);
  // No late-buffer restarts while transmitting.
  for (int64_t t : r.device.startTimes) {
    EXPECT_FALSE(t > 1000 + kBlockMs + 5 && t < 2000) << "device restarted at " << t;
  }
}

TEST(ReceiveLoop, ASendUnderwayAtStartHoldsCaptureWithoutLateBufferRestarts) {
  Rig r;
  r.loop.TxActive.store(1);
  r.host.At(1500, [&] { r.loop.TxActive.store(0); });
  r.StartAt(0);
  r.StopAt(2500);
  r.host.RunUntil(3500);
  EXPECT_EQ(r.device.startTimes.size(), 2u);  // at the open and after the pause
  EXPECT_EQ(r.BlocksBetween(0, 1500), 0);
  EXPECT_GT(r.BlocksBetween(1500, 2500), 3);
}

TEST(ReceiveLoop, StopWhileTransmittingEndsReception) {
  Rig r;
  r.host.At(1000, [&] { r.loop.TxActive.store(1); });
  r.StartAt(0);
  r.StopAt(1500);
  r.host.RunUntil(3000);
  EXPECT_GE(r.startReturnedAt, 1900);
  EXPECT_LT(r.startReturnedAt, 1950);
  EXPECT_FALSE(r.loop.Running());
  EXPECT_FALSE(r.device.IsOpen());
}

TEST(ReceiveLoop, ChannelChangeRestartsASecondLaterWithTheNewFormat) {
  struct Case {
    void (ReceiveLoop::*click)();
    ChannelMode mode;
    uint16_t channels;
    uint16_t bufferBytes;
    const char* hint;
  };
  const Case cases[] = {
      {&ReceiveLoop::LeftInputClick, ChannelMode::kLeft, 2, 32768,
       "Be sure to set the mixer panel recording input to Line in"},
      {&ReceiveLoop::RightInputClick, ChannelMode::kRight, 2, 32768,
       "Be sure to set the mixer panel recording input to Line in"},
      {&ReceiveLoop::MicInputClick, ChannelMode::kMic, 1, 16384,
       "Be sure to set the mixer panel recording input to Microphone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    Rig r;
    r.StartAt(0);
    r.host.At(1000, [&] { (r.loop.*c.click)(); });
    r.StopAt(4000);
    r.host.RunUntil(5000);

    ASSERT_EQ(r.host.messages.size(), 1u);
    EXPECT_EQ(r.host.messages[0].title, "Operating Hint");
    EXPECT_EQ(r.host.messages[0].text, c.hint);
    // The first run returned after the buffer it was waiting for.
    EXPECT_GT(r.startReturnedAt, 1000);
    EXPECT_LE(r.startReturnedAt, 1000 + kBlockMs + 10);
    // The automatic start reopened the device about a second later, in the new format.
    ASSERT_EQ(r.device.openedFormats.size(), 2u);
    const auto reopen = std::find_if(r.device.log.begin(), r.device.log.end(), [](const auto& e) {
      return e.first == "Open" && e.second > 0;
    });
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
  EXPECT_EQ(r.host.HookCount("InputChannelChecked"), 1);
}

TEST(ReceiveLoop, ALateBufferRestartsTheDeviceEvery375Ms) {
  Rig r;
  r.device.stalledUntilStart = 4;  // the first start and three restarts get no sound
  r.loop.WaveWatchdog.store(1);
  r.StartAt(0);
  r.StopAt(3000);
  r.host.RunUntil(4000);
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
  struct Case {
    ScriptedDevice::Fault fault;
    bool pause;  // transmit for a while, so that the device is reset
    const char* text;
    bool quits;
  };
  const Case cases[] = {
      {{"Prepare", 1, kCaptureError}, false, "Error preparing the header_a", true},
      {{"Prepare", 2, kCaptureError}, false, "Error preparing the header_b", true},
      {{"Add", 1, kCaptureError}, false, "Error in sending a buffer_a", true},
      {{"Add", 2, kCaptureError}, false, "Error in sending a buffer_b", true},
      {{"Start", 1, kCaptureError}, false, "Error starting the input wave device", true},
      {{"Position", 3, kCaptureError}, false, "Error getting the byte position", true},
      {{"Unprepare", 1, kCaptureError}, false, "Error unpreparing the Header a", true},
      {{"Unprepare", 2, kCaptureError}, false, "Error unpreparing the Header b", true},
      {{"Reset", 1, kCaptureError}, true, "Error Resetting the input wave device", true},
      {{"Open", 1, kCaptureBadDevice}, false, "Error Opening Input wave device", false},
  };
  for (const Case& c : cases) {
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
    r.host.RunUntil(2000);
    ASSERT_GE(r.host.messages.size(), 1u);
    EXPECT_EQ(r.host.messages[0].title, "Wave Device Message");
    EXPECT_EQ(r.host.messages[0].text, c.text);
    EXPECT_EQ(r.host.messages.size(), 1u);
    EXPECT_EQ(r.host.quits, c.quits ? 1 : 0);
    EXPECT_EQ(r.loop.QuitRequested(), c.quits);
    EXPECT_FALSE(r.loop.Running());
    EXPECT_FALSE(r.host.deadlineHit);
    if (!c.quits) {
      // Open: the program goes on without capture; the next start uses device 0.
      EXPECT_EQ(r.rx.Capture.InputDevice, 0);
      EXPECT_EQ(r.device.calls["Prepare"], 0);
    }
  }
}

TEST(ReceiveLoop, AFailedFormatQueryFallsBackToDeviceZeroAndReceives) {
  Rig r;
  r.device.devices = 3;
  r.rx.Capture.InputDevice = 2;
  r.device.faults = {{"QueryFormat", 1, kCaptureBadFormat}};
  r.StartAt(0);
  r.StopAt(1500);
  r.host.RunUntil(2500);
  ASSERT_EQ(r.host.messages.size(), 1u);
  EXPECT_EQ(r.host.messages[0].text, "Could not status the input wave device");
  EXPECT_EQ(r.host.quits, 0);
  ASSERT_EQ(r.device.openedDevices.size(), 1u);
  EXPECT_EQ(r.device.openedDevices[0], 0);
  EXPECT_EQ(r.rx.Capture.InputDevice, 0);
  EXPECT_GT(r.loop.BlocksProcessed(), 4);
}

TEST(ReceiveLoop, HandleWaveErrorQuitsForEveryCodeButOne) {
  for (int code : {1, 0, 26, 30, 36}) {
    Rig r;
    EXPECT_EQ(r.loop.HandleWaveError(code), code == 1);
    EXPECT_EQ(r.host.quits, code == 1 ? 0 : 1) << code;
    r.loop.HandleWaveError(code);  // quitting is asked for once
    EXPECT_EQ(r.host.quits, code == 1 ? 0 : 1) << code;
  }
}

TEST(ReceiveLoop, BuffersAreQueuedAtThePositionTheModeAllows) {
  for (ReceiveMode mode : {ReceiveMode::kText, ReceiveMode::kManual}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Rig r;
    r.rx.Mode = mode;
    r.StartAt(0);
    r.StopAt(3000);
    r.host.RunUntil(4000);
    EXPECT_NEAR(static_cast<double>(r.loop.BlocksProcessed()), 3000.0 / kBlockMs, 1.5);
    // Every queuing after the first buffer (a at start) obeys the rule for its phase.
    ASSERT_GT(r.device.adds.size(), 5u);
    for (size_t i = 1; i < r.device.adds.size(); ++i) {
      const auto& a = r.device.adds[i];
      const int phase = a.header == &r.loop.HeaderB() ? 0 : 1;
      EXPECT_TRUE(PositionAllowsExchange(mode, a.position, 16384, phase))
          << "add " << i << " at position " << a.position;
    }
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
    r.device.onCall = [&](const std::string& op, int) {
      if (op == "Position" && !poked && r.host.now > 1000) {
        poked = true;
        r.loop.ReceiveStop.store(1);
        r.loop.ReceiveHalted.store(halted ? 1 : 0);
      }
    };
    r.StartAt(0);
    r.StopAt(3000);
    r.host.RunUntil(4000);
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
  r.StartAt(0);
  r.StopAt(2000);
  r.host.RunUntil(3000);
  const auto firstPosition = std::find_if(r.device.log.begin(), r.device.log.end(),
                                          [](const auto& e) { return e.first == "Position"; });
  ASSERT_NE(firstPosition, r.device.log.end());
  EXPECT_GE(firstPosition->second, 1000);
  EXPECT_GT(r.loop.BlocksProcessed(), 2);
}

TEST(ReceiveLoop, AutomaticStartWaitsForARunningLoopToEnd) {
  Rig r;
  r.StartAt(0);
  // A channel change while running arms the automatic start; a further tick that comes
  // while the loop is still running its last buffer must not nest a second loop.
  r.host.At(1000, [&] {
    r.loop.LeftInputClick();
    r.loop.SystemTimerTimer();
  });
  r.StopAt(3500);
  r.host.RunUntil(4500);
  EXPECT_EQ(r.device.openedDevices.size(), 2u);
  EXPECT_TRUE(r.device.log.size() > 0);
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
