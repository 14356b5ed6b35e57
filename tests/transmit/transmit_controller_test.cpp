// The transmit controller against a fake window, a recording keyer and a fake clock. The
// test thread plays the GUI thread: it calls the handlers and serves the workers' window
// calls while it waits for a condition (never a sleep followed by an assertion).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transmit/gui_call_queue.h"
#include "transmit/key_translation.h"
#include "transmit/transmit_controller.h"

namespace kestrix::transmit {
namespace {

// Records every code; with a gate set, blocks once `gateAt` codes have been keyed until
// the test opens or moves it (a character that is still going out). Counts the calls that
// were under way at once: two senders on one key line garble both.
class FakeKeyers final : public SendKeyers {
 public:
  void SendCharToPort(uint8_t code) override { Key(code); }
  void SoundKeyChar(uint8_t code, int32_t) override { Key(code); }
  void SoundKeyBuffer(const char* text, int32_t& position,
                      const std::atomic<uint8_t>& stop) override {
    for (; text[position] && stop.load() == 0; ++position)
      Key(static_cast<uint8_t>(text[position]));
  }
  void AbortTone() override { aborts.fetch_add(1); }

  void CloseGateAt(size_t n) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      gateAt_ = n;
    }
    cv_.notify_all();
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      gateAt_ = SIZE_MAX;
    }
    cv_.notify_all();
  }
  std::string Keyed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return keyed_;
  }
  bool Blocked() const {
    std::lock_guard<std::mutex> lock(mu_);
    return blocked_;
  }
  int MostAtOnce() const {
    std::lock_guard<std::mutex> lock(mu_);
    return mostAtOnce_;
  }
  std::atomic<int> aborts{0};

 private:
  void Key(uint8_t code) {
    std::unique_lock<std::mutex> lock(mu_);
    mostAtOnce_ = std::max(mostAtOnce_, ++underWay_);
    keyed_ += static_cast<char>(code);
    blocked_ = keyed_.size() >= gateAt_;
    cv_.wait(lock, [&] { return keyed_.size() < gateAt_; });
    blocked_ = false;
    --underWay_;
  }
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::string keyed_;
  size_t gateAt_ = SIZE_MAX;
  bool blocked_ = false;
  int underWay_ = 0;
  int mostAtOnce_ = 0;
};

// The window as the controller sees it; touched only on the test (GUI) thread.
class FakeHost final : public TransmitHost {
 public:
  explicit FakeHost(TransmitState& tx) : tx_(tx) {}
  bool CallOnGui(const std::function<void()>& fn) override { return queue.Call(fn); }
  void PostToGui(std::function<void()> fn) override { queue.Post(std::move(fn)); }
  void CloseGuiCalls() override { queue.Close(); }

  std::string PaneText() override { return pane; }
  void SetPaneText(std::string_view text) override { SetPane(std::string(text)); }
  void AppendPaneText(std::string_view text) override { SetPane(pane + std::string(text)); }
  void SetCaret(int position) override { caret = position; }
  void SetPaneReadOnly(bool ro) override { readOnly = ro; }
  void FocusPane() override { ++focus; }
  void ShowXmitEnable(bool on) override { xmitCaption = on ? "ON" : "OFF"; }
  void ShowSendButton(bool active) override { sendRed = active; }
  void ShowTypingMode(int screenMode) override { typingMode = screenMode; }
  void ShowLoop(bool on) override { loopRed = on; }
  void ResetMessageButtons() override {}
  void ResetMemoryOpButtons() override {}
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  void EnableSpeedUpDn(bool enabled) override { speedEnabled = enabled; }
  void ShowDisplay(bool waterfall) override { displays.push_back(waterfall ? 'W' : 'S'); }
  // The memory button's sending path: append the memory to the pane and SEND it.
  void MemoryButtonClick(int n) override {
    memoryClicks.push_back(n);
    if (tx_.XmitEnable != 3 || tx_.ScreenMode != 0 || tx_.SendThreadIdle != 1) return;
    tx_.SelectedBuffer = n;
    tx_.RecallAppends = 1;
    AppendPaneText(tx_.Buffer(n));
    tx_.FinishOnEnd = 1;
    tx_.EchoSuppressed = 0;
    send->SendBtnClick();
    tx_.MemoryOp = 3;
  }
  void ApplyMemoryOperation(int) override {}

  // What the pane widget does with a typed character.
  void Typed(char c) {
    if (!readOnly) SetPane(pane + c);
  }
  void SetPane(std::string text) {
    pane = std::move(text);
    tx_.PaneTextLength = static_cast<int32_t>(pane.size());
  }

  GuiCallQueue queue{[this] { cv.notify_all(); }};
  std::condition_variable cv;
  SendControl* send = nullptr;
  std::string pane;
  int caret = 0;
  bool readOnly = false;
  int focus = 0;
  std::string xmitCaption = "OFF";
  bool sendRed = false;
  int typingMode = -1;
  bool loopRed = false;
  bool speedEnabled = true;
  std::vector<std::string> messages;
  std::string displays;
  std::vector<int> memoryClicks;

 private:
  TransmitState& tx_;
};

class Controller : public ::testing::Test {
 protected:
  void SetUp() override { host.send = &ctrl; }
  void TearDown() override { keyers.OpenGate(); }

  // Serves the workers' window calls until `done` holds (10 s at most).
  bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::mutex m;
    for (;;) {
      host.queue.ServePending();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > until) return false;
      std::unique_lock<std::mutex> lock(m);
      host.cv.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
  // Serves the window calls for 50 ms: time for a worker that ought to wait to go wrong
  // where it would show. What the tests expect never depends on it.
  void Settle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    WaitUntil([&] { return std::chrono::steady_clock::now() > until; });
  }
  bool AllSendThreadsEnded() { return ctrl.SendThreadsEnded() == ctrl.SendThreadsStarted(); }
  bool Idle() {
    return tx.SendActive == 0 && tx.SendThreadIdle == 1 && tx.SendingState == 0 && txActive == 0 &&
           ctrl.KeyQueueWrite == ctrl.KeyQueueRead && host.speedEnabled;
  }
  // START as reception does it, then Xmit Enable on, in immediate mode.
  void StartImmediate() {
    ctrl.MsgButton13Click();
    ctrl.StartWorkers();
    ASSERT_TRUE(WaitUntil([&] { return AllSendThreadsEnded() && tx.SendActive == 0; }));
    ctrl.XmitButtonClick();
  }
  void Key(int vk, bool shift = false) {
    if (shift) ctrl.Memo1KeyDown(vk::kShift);
    ctrl.Memo1KeyDown(vk);
    if (shift) ctrl.Memo1KeyUp(vk::kShift);
  }
  void Type(const std::string& text) {
    for (char c : text) {
      const bool upper = c >= 'a' && c <= 'z';
      Key(upper ? c - 'a' + 'A' : c);
      host.Typed(c);
    }
  }
  bool KeyedIs(const std::string& want) {
    return WaitUntil([&] { return keyers.Keyed() == want && Idle(); });
  }

  TransmitState tx;
  std::atomic<uint8_t> txActive{0};
  std::atomic<uint8_t> receiveStop{0};
  FakeKeyers keyers;
  FakeHost host{tx};
  TransmitController ctrl{tx, ReceiveFlags{txActive, receiveStop}, host, keyers};
};

TEST(KeyTranslation, SendCodes) {
  struct Case {
    int key;
    bool shift;
    int code;
  };
  const Case cases[] = {
      {'A', false, 'A'},          {'A', true, 'A'},          {vk::kUp, false, 32},
      {vk::kDown, true, 32},      {vk::kHome, false, 32},    {vk::kNumLock, false, 32},
      {vk::kNumpad0, false, '0'}, {105, false, '9'},         {110, false, '.'},
      {111, false, '/'},          {106, false, 231},         {109, false, 189},
      {107, false, 230},          {191, true, '?'},          {191, false, 191},
      {'2', true, '@'},           {187, true, 230},          {187, false, 187},
      {'8', true, 231},           {'9', true, 232},          {'6', true, 238},
      {'7', true, 233},           {'1', true, 234},          {'5', true, 235},
      {'3', true, 236},           {'4', true, 239},          {192, true, 237},
      {192, false, 192},          {vk::kF3, false, vk::kF3}, {vk::kShift, false, 16},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TranslateKey(c.key, c.shift), c.code) << c.key << (c.shift ? " shifted" : "");
  }
  EXPECT_EQ(MemoryForCode(vk::kF1), 1);
  EXPECT_EQ(MemoryForCode(vk::kF10), 10);
  EXPECT_EQ(MemoryForCode(122), 0);
}

TEST(TextQueueLimit, CodesBeyondTheLimitAreDropped) {
  TextQueue q;
  for (int i = 0; i < kTextQueueSlots + 10; ++i) q.Append(i & 0x7F);
  EXPECT_EQ(q.Count.load(), kTextQueueSlots);
  EXPECT_EQ(q.At(kTextQueueSlots - 1), (kTextQueueSlots - 1) & 0x7F);
}

TEST_F(Controller, KeyQueueResetsAtTwoHundredFiftyFiveAndBackspaceTakesBack) {
  // No thread reads the queue here: only the pane's key handler works on it.
  for (int i = 0; i < 255; ++i) ctrl.Memo1KeyDown('A');
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 255);
  ctrl.Memo1KeyDown('B');  // unsent keys dropped, then queued
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 1);
  EXPECT_EQ(ctrl.KeyQueueRead.load(), 0);
  EXPECT_EQ(ctrl.KeyAt(0), 'B');
  ctrl.Memo1KeyDown(vk::kBackspace);
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 0);
  ctrl.Memo1KeyDown(vk::kBackspace);  // nothing left to take back
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 0);
  EXPECT_TRUE(ctrl.Memo1KeyDown(vk::kF10)) << "F10 is swallowed";
  EXPECT_FALSE(ctrl.Memo1KeyDown('C'));
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 2) << "and queued";
  EXPECT_EQ(tx.TypedWhileIdle.load(), 1);
}

TEST_F(Controller, SendMessages) {
  struct Case {
    const char* name;
    bool xmitOn;
    std::string want;
  };
  const Case cases[] = {
      {"xmit off", false, "Error Message: Xmit Enable must be ON"},
      {"nothing selected", true, "Error Message: No Memory Button has beeen selected"},
  };
  for (const Case& c : cases) {
    host.messages.clear();
    if (c.xmitOn != (tx.XmitEnable == 3)) ctrl.XmitButtonClick();
    host.messages.clear();
    ctrl.SendBtnClick();
    ASSERT_EQ(host.messages.size(), 1u) << c.name;
    EXPECT_EQ(host.messages[0], c.want) << c.name;
    EXPECT_EQ(tx.SendActive.load(), 0) << c.name;
  }
  // Xmit Enable on with no port chosen for the serial output.
  ctrl.XmitButtonClick();
  host.messages.clear();
  ctrl.XmitButtonClick();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0],
            "Communications I/O Error: No output COM port has been selected, continue for code "
            "practice");
  EXPECT_EQ(host.xmitCaption, "ON");
}

TEST_F(Controller, StartThreadTidiesUpAndTypingKeysAsTyped) {
  StartImmediate();
  EXPECT_EQ(ctrl.SendThreadsStarted(), 1);
  EXPECT_EQ(tx.SelectedBuffer.load(), 0);
  Type("cq");
  ASSERT_TRUE(KeyedIs("CQ")) << keyers.Keyed();
  EXPECT_EQ(host.pane, "cq") << "typed while idle: the pane shows it, no echo";
  EXPECT_EQ(receiveStop.load(), 0);
  EXPECT_TRUE(host.speedEnabled);
  // Shifted keys and the arrows.
  Key(191, true);
  Key(vk::kUp);
  Key(vk::kDown);
  ASSERT_TRUE(KeyedIs("CQ?  ")) << keyers.Keyed();
  EXPECT_EQ(host.displays, "SW");
}

TEST_F(Controller, TypingDuringABufferSendQueuesAndEchoesAfterIt) {
  tx.SetBuffer(1, "TEST");
  StartImmediate();
  keyers.CloseGateAt(1);
  host.MemoryButtonClick(1);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  EXPECT_TRUE(host.sendRed);
  EXPECT_EQ(txActive.load(), 1);
  Type("ab");  // the pane is read-only while the buffer goes out
  EXPECT_EQ(host.pane, "TEST");
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("TESTAB")) << keyers.Keyed();
  EXPECT_EQ(host.pane, "TESTab");
  EXPECT_FALSE(host.sendRed);
}

TEST_F(Controller, KeysTypedDuringABufferSendAreEchoedAfterEarlierTyping) {
  tx.SetBuffer(1, "TEST");
  StartImmediate();
  Type("cq");  // typed while idle: the pane shows them, no echo
  ASSERT_TRUE(KeyedIs("CQ")) << keyers.Keyed();
  keyers.CloseGateAt(3);
  host.MemoryButtonClick(1);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  Type("ab");  // the pane is read-only: only the echo shows them
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("CQTESTAB")) << keyers.Keyed();
  EXPECT_EQ(host.pane, "cqTESTab");
}

TEST_F(Controller, BackspaceBeforeSendingTakesTheKeyBack) {
  StartImmediate();
  keyers.CloseGateAt(1);
  Type("x");
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  Type("ab");
  Key(vk::kBackspace);
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("XA")) << keyers.Keyed();
}

TEST_F(Controller, FunctionKeySendsTheMemoryAfterTheTypedText) {
  tx.SetBuffer(3, "M3");
  StartImmediate();
  keyers.CloseGateAt(1);
  Type("ab");
  Key(vk::kF1 + 2);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  EXPECT_TRUE(host.memoryClicks.empty()) << "M3 waits for the typed text";
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("ABM3")) << keyers.Keyed();
  EXPECT_EQ(host.memoryClicks, std::vector<int>{3});
}

TEST_F(Controller, EscapeStopsABufferSendAndClearsThePane) {
  tx.SetBuffer(2, "LONG MESSAGE");
  StartImmediate();
  keyers.CloseGateAt(2);
  host.MemoryButtonClick(2);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  Key(vk::kEscape);
  ASSERT_TRUE(WaitUntil([&] { return tx.SendActive == 0; }));
  keyers.OpenGate();
  ASSERT_TRUE(WaitUntil([&] { return Idle() && host.pane.empty(); }));
  EXPECT_EQ(keyers.Keyed(), "LO") << "stopped at the next character";
  EXPECT_GE(keyers.aborts.load(), 1);
  EXPECT_FALSE(host.readOnly);
}

TEST_F(Controller, SendStopsTypedTextWithinACharacter) {
  StartImmediate();
  keyers.CloseGateAt(1);
  Type("abcdef");
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  ctrl.SendBtnClick();
  EXPECT_EQ(ctrl.KeyQueueWrite.load(), 0);
  EXPECT_EQ(txActive.load(), 0);
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("A")) << keyers.Keyed();
  Type("k");  // the queue works on afterwards
  ASSERT_TRUE(KeyedIs("AK")) << keyers.Keyed();
}

TEST_F(Controller, LoopRepeatsUntilSwitchedOff) {
  tx.SetBuffer(4, "E");
  StartImmediate();
  ctrl.LoopButtonClick();
  EXPECT_TRUE(host.loopRed);
  host.MemoryButtonClick(4);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Keyed().size() >= 3; }));
  ctrl.LoopButtonClick();
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  const std::string sent = keyers.Keyed();
  EXPECT_EQ(sent, std::string(sent.size(), 'E'));
  EXPECT_FALSE(host.loopRed);
  EXPECT_FALSE(host.sendRed);
}

TEST_F(Controller, ScreenModeSendsThePane) {
  StartImmediate();
  ctrl.MsgButton14Click();
  EXPECT_EQ(tx.SelectedBuffer.load(), kScreenBuffer);
  EXPECT_EQ(host.typingMode, 1);
  Type("hi de k");
  EXPECT_EQ(keyers.Keyed(), "") << "screen mode keys nothing as it is typed";
  ctrl.SendBtnClick();
  ASSERT_TRUE(KeyedIs("hi de k")) << keyers.Keyed();
  EXPECT_EQ(tx.Buffer(kScreenBuffer), "hi de k");
  EXPECT_EQ(tx.SelectedBuffer.load(), kScreenBuffer);
}

TEST_F(Controller, ShutdownReleasesAWorkerWaitingForTheWindow) {
  tx.SetBuffer(5, "EEEE");
  StartImmediate();
  host.MemoryButtonClick(5);
  // The send thread ends and asks for the window while the GUI thread does not serve it.
  ASSERT_TRUE(WaitUntil([&] { return keyers.Keyed() == "EEEE"; }));
  ctrl.Shutdown();
  EXPECT_FALSE(ctrl.CharThreadRunning());
  ctrl.SendBtnClick();  // no new thread after shutdown
  EXPECT_EQ(ctrl.SendThreadsStarted(), 2);
}

TEST_F(Controller, StartWithXmitEnableOnKeysNothingAndKeepsThePane) {
  struct Case {
    const char* name;
    bool screenMode;
    const char* pane;
    const char* immediateBuffer;
  };
  const Case cases[] = {
      {"screen mode", true, "hi de k", ""},
      {"immediate mode", false, "cq cq", "ZZ"},
  };
  StartImmediate();
  for (const Case& c : cases) {
    if (c.screenMode) {
      ctrl.MsgButton14Click();
    } else {
      ctrl.MsgButton13Click();
    }
    tx.SetBuffer(kImmediateBuffer, c.immediateBuffer);
    host.SetPane(c.pane);
    const std::string keyedBefore = keyers.Keyed();
    const int started = ctrl.SendThreadsStarted();
    ctrl.StartWorkers();  // reception stopped and started again
    EXPECT_EQ(ctrl.SendThreadsStarted(), started + 1) << c.name;
    ASSERT_TRUE(WaitUntil([&] { return AllSendThreadsEnded() && Idle(); })) << c.name;
    EXPECT_EQ(keyers.Keyed(), keyedBefore) << c.name;
    EXPECT_EQ(host.pane, c.pane) << c.name;
  }
}

// A key typed during a buffer send waits for it; then the send is ended one way or another
// while its thread is still in its character.
struct StopCase {
  const char* name;
  void (*stop)(TransmitController&, FakeHost&);
  const char* want;  // keyed in all, with a "k" typed afterwards
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class ControllerStop : public Controller, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ControllerStop, TheWaitingKeyGoesOutOnlyIfTheStopKeepsIt) {
  tx.SetBuffer(1, "TEST");
  StartImmediate();
  keyers.CloseGateAt(1);
  host.MemoryButtonClick(1);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  Type("a");
  ASSERT_TRUE(WaitUntil([&] { return ctrl.Text.Count == 1; }));
  Settle();
  GetParam().stop(ctrl, host);
  ASSERT_TRUE(WaitUntil([&] { return tx.SendActive == 0; }));
  Settle();
  keyers.OpenGate();
  if (tx.XmitEnable != 3) ctrl.XmitButtonClick();
  Type("k");
  ASSERT_TRUE(WaitUntil([&] { return keyers.Keyed().back() == 'K' && Idle(); })) << keyers.Keyed();
  EXPECT_EQ(keyers.Keyed(), GetParam().want);
  EXPECT_EQ(keyers.MostAtOnce(), 1) << "two senders keyed at once";
  EXPECT_FALSE(host.readOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, ControllerStop,
    ::testing::Values(
        StopCase{"Send", [](TransmitController& c, FakeHost&) { c.SendBtnClick(); }, "TAK"},
        StopCase{"Escape", [](TransmitController& c, FakeHost&) { c.Memo1KeyDown(vk::kEscape); },
                 "TAK"},
        StopCase{"Stop", [](TransmitController& c, FakeHost&) { c.StopSending(); }, "TK"},
        StopCase{"XmitOff", [](TransmitController& c, FakeHost&) { c.XmitButtonClick(); }, "TK"}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(Controller, ASendRightAfterAStoppedOneWaitsForItsCharacter) {
  tx.SetBuffer(1, "TEST");
  tx.SetBuffer(2, "MM");
  StartImmediate();
  keyers.CloseGateAt(1);
  host.MemoryButtonClick(1);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  ctrl.SendBtnClick();
  host.MemoryButtonClick(2);
  Settle();
  keyers.OpenGate();
  ASSERT_TRUE(KeyedIs("TMM")) << keyers.Keyed();
  EXPECT_EQ(keyers.MostAtOnce(), 1) << "two senders keyed at once";
}

TEST_F(Controller, AKeyAfterABufferSendIsTypingThatSendStops) {
  tx.SetBuffer(1, "TE");
  StartImmediate();
  keyers.CloseGateAt(1);
  host.MemoryButtonClick(1);
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  Type("a");
  ASSERT_TRUE(WaitUntil([&] { return ctrl.Text.Count == 1; }));  // waiting for the send
  keyers.CloseGateAt(3);  // the memory goes out, the typed A stays in its character
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked() && keyers.Keyed() == "TEA"; }));
  host.queue.ServePending();
  EXPECT_EQ(tx.SendingState.load(), 3);
  EXPECT_FALSE(host.speedEnabled) << "no speed change in the middle of a character";
  Type("b");
  host.messages.clear();
  ctrl.SendBtnClick();  // drops the typed text not sent yet
  EXPECT_TRUE(host.messages.empty()) << host.messages.front();
  keyers.OpenGate();
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  Type("k");
  ASSERT_TRUE(KeyedIs("TEAK")) << keyers.Keyed();
}

TEST_F(Controller, PaneStaysWritableForKeysTypedAfterAScreenSendWasStopped) {
  StartImmediate();
  ctrl.MsgButton14Click();
  Type("abc");
  keyers.CloseGateAt(1);
  ctrl.SendBtnClick();
  ASSERT_TRUE(WaitUntil([&] { return keyers.Blocked(); }));
  EXPECT_TRUE(host.readOnly);
  ctrl.SendBtnClick();  // its thread is still in its character
  EXPECT_FALSE(host.readOnly);
  Type("d");
  Key(vk::kOemTilde);  // LOOP toggles once the sender has taken the keys before it
  ASSERT_TRUE(WaitUntil([&] { return host.loopRed; }));
  keyers.OpenGate();
  ASSERT_TRUE(WaitUntil([&] { return AllSendThreadsEnded() && Idle(); }));
  EXPECT_FALSE(host.readOnly);
  EXPECT_EQ(host.pane, "abcd");
  EXPECT_EQ(keyers.Keyed(), "a");
}

// Waits for `done` without serving the window calls (10 s at most).
bool WaitUnserved(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST_F(Controller, StopBeforeTheWindowRunsAFunctionKeysMemoryButtonCancelsIt) {
  tx.SetBuffer(3, "M3");
  StartImmediate();
  Key(vk::kF3);
  // The sender has taken F3 and asks the GUI thread for M3's button, which has not run.
  ASSERT_TRUE(WaitUnserved([&] { return ctrl.Text.SendPos == 1; }));
  ctrl.StopSending();
  Type("k");
  ASSERT_TRUE(KeyedIs("K")) << keyers.Keyed();
  EXPECT_TRUE(host.memoryClicks.empty());
}

TEST_F(Controller, SendStoppedBeforeItsThreadReachedTheWindowChangesNothing) {
  struct Case {
    const char* name;
    int selected;
    uint8_t fileLoaded;
  };
  const Case cases[] = {
      {"loaded file", 15, 1},
      {"memory chosen by an armed button", 3, 0},
  };
  StartImmediate();
  tx.SetBuffer(3, "M3 TEXT");
  for (const Case& c : cases) {
    host.SetPane("pane text");
    tx.SelectedBuffer = c.selected;
    tx.XmitFileLoaded = c.fileLoaded;
    ctrl.SendBtnClick();
    ctrl.SendBtnClick();  // stopped at once: the GUI thread has served nothing in between
    ASSERT_TRUE(WaitUntil([&] { return AllSendThreadsEnded() && Idle(); })) << c.name;
    EXPECT_EQ(host.pane, "pane text") << c.name;
    EXPECT_EQ(host.caret, kCaretEnd) << c.name;
    EXPECT_EQ(tx.XmitFileLoaded.load(), c.fileLoaded) << c.name;
    EXPECT_EQ(keyers.Keyed(), "") << c.name;
  }
}

}  // namespace
}  // namespace kestrix::transmit
