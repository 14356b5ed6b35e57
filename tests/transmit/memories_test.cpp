#include "transmit/memories.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrix::transmit {
namespace {

// The pane, captions, scratch pad and memory window as plain values.
class FakeHost : public MemoriesHost {
 public:
  std::string pane;
  bool writable = false;
  int caret = -1;               // -1 end, 0 start
  int32_t armed = kMemoryNone;  // which of STORE / RECALL / CLR MSG shows red
  int chosenMemory = 0;         // the memory button shown red, 0 none
  int chosenContest = -1;       // the contest button shown red, -1 none
  std::string pad;
  Memories* memories = nullptr;  // the pad reports its changes here, as the window's does
  int serialShown = 0;
  bool windowVisible = false;
  std::string windowText;
  int focus = 0;

  std::string PaneText() override { return pane; }
  void SetPaneText(std::string_view t) override { pane = t; }
  void AppendPaneText(std::string_view t) override { pane += t; }
  void PaneCaretToStart() override { caret = 0; }
  void PaneCaretToEnd() override { caret = -1; }
  void ShowPaneWritable() override { writable = true; }
  void FocusPane() override { ++focus; }
  void ShowArmedButton(int32_t op) override { armed = op; }
  void ResetSendButtonColours() override {
    chosenMemory = 0;
    chosenContest = -1;
  }
  void ShowMemoryButtonChosen(int n) override { chosenMemory = n; }
  void ShowContestButtonChosen(ContestButton b) override { chosenContest = static_cast<int>(b); }
  void SetScratchPadText(std::string_view t) override {
    pad = t;
    if (memories) memories->ScatchPadMemoChange(pad);
  }
  void ShowContestSerial(int serial) override { serialShown = serial; }
  bool MemoryWindowVisible() override { return windowVisible; }
  void ShowMemoryWindow() override { windowVisible = true; }
  void SetMemoryWindowText(std::string_view t) override { windowText = t; }
};

// Records what SEND would send: the selected buffer's text at the moment it is pressed.
class FakeSend : public SendControl {
 public:
  explicit FakeSend(TransmitState& tx) : tx_(tx) {}
  void SendBtnClick() override {
    sent.emplace_back(tx_.Buffer(tx_.SelectedBuffer));
    buffers.push_back(tx_.SelectedBuffer);
  }
  void LoopButtonClick() override {
    ++loopClicks;
    tx_.LoopMode = tx_.LoopMode == 3 ? 0 : 3;
  }
  std::vector<std::string> sent;
  std::vector<int> buffers;
  int loopClicks = 0;

 private:
  TransmitState& tx_;
};

struct Rig {
  Rig() {
    host.memories = &memories;
    memories.FillContestBuffers("Call", "My Call");
  }
  void XmitOn() { tx.XmitEnable = 3; }
  TransmitState tx;
  FakeHost host;
  FakeSend send{tx};
  Memories memories{tx, host, send};
};

TEST(Memories, StoreThenMemoryCopiesThePaneAndShowsItInTheWindow) {
  Rig r;
  r.memories.TransmitData1Click();
  r.host.pane = "cq cq de k1abc";
  r.memories.StoreButtonClick();
  EXPECT_EQ(r.host.armed, kMemoryStore);
  r.memories.MemoryButtonClick(3);
  EXPECT_EQ(r.tx.Buffer(3), "cq cq de k1abc");
  EXPECT_EQ(r.host.windowText,
            "M1 = \nM2 = \nM3 = cq cq de k1abc\nM4 = \nM5 = \nM6 = \nM7 = \nM8 = \nM9 = \nM10 = ");
  EXPECT_TRUE(r.send.sent.empty()) << "storing sends nothing";
}

// Each row: the buttons pressed (S store, R recall, C clear, digits memory buttons) on a pane
// holding "pane" with M3 = "three"; then the pane, M3 and the arming left behind.
struct ArmingCase {
  const char* name;
  const char* presses;
  const char* pane;
  const char* m3;
  int32_t op;
  int armed;
};

class ArmingTest : public ::testing::TestWithParam<ArmingCase> {};

TEST_P(ArmingTest, LeavesPaneMemoryAndArming) {
  const ArmingCase& c = GetParam();
  Rig r;
  r.tx.SetBuffer(3, "three");
  r.host.pane = "pane";
  for (const char* p = c.presses; *p; ++p) {
    if (*p == '!') r.tx.SendingState = 3;               // from here on something is being sent
    if (*p == 'X') r.memories.DisarmMemoryOperation();  // as SEND's stop path does
    if (*p == 'S') r.memories.StoreButtonClick();
    if (*p == 'R') r.memories.RecallButtonClick();
    if (*p == 'C') r.memories.ClearMsgButtonClick();
    if (*p >= '1' && *p <= '9') r.memories.MemoryButtonClick(*p - '0');
  }
  EXPECT_EQ(r.host.pane, c.pane);
  EXPECT_EQ(r.tx.Buffer(3), c.m3);
  EXPECT_EQ(r.tx.MemoryOp, c.op);
  EXPECT_EQ(r.tx.MemoryOpArmed, c.armed);
  EXPECT_EQ(r.host.armed, c.op) << "the armed button shows red, the others blue";
  EXPECT_TRUE(r.send.sent.empty()) << "Xmit Enable is off";
}

INSTANTIATE_TEST_SUITE_P(
    Memories, ArmingTest,
    ::testing::Values(
        ArmingCase{"RecallReplacesThePane", "R3", "three", "three", kMemoryNone, 0},
        ArmingCase{"RecallTwiceDisarms", "RR", "pane", "three", kMemoryNone, 0},
        ArmingCase{"RecallTwiceThenMemoryDoesNothing", "RR3", "pane", "three", kMemoryNone, 0},
        // STORE and CLR MSG disarm but stay "armed": the next memory only selects itself.
        ArmingCase{"StoreTwiceKeepsArmed", "SS", "pane", "three", kMemoryNone, 1},
        ArmingCase{"StoreTwiceThenMemorySelectsOnly", "SS3", "pane", "three", kMemoryNone, 0},
        ArmingCase{"ClearTwiceKeepsArmed", "CC", "pane", "three", kMemoryNone, 1},
        ArmingCase{"ClearEmptiesPaneAndMemory", "C3", "", "", kMemoryNone, 0},
        ArmingCase{"StoreOverwrites", "S3", "pane", "pane", kMemoryNone, 0},
        ArmingCase{"RecallThenStoreSwitches", "RS", "pane", "three", kMemoryStore, 1},
        ArmingCase{"StoreThenClearSwitches", "SC3", "", "", kMemoryNone, 0},
        ArmingCase{"LockedWhileSending", "!SRC", "pane", "three", kMemoryNone, 0},
        ArmingCase{"StoppedSendDisarmsFully", "SSX", "pane", "three", kMemoryNone, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Memories, MemoryInImmediateModeAppendsAndSends) {
  Rig r;
  r.XmitOn();
  r.tx.SetBuffer(3, "test de k1abc");
  r.host.pane = "cq ";
  r.memories.MemoryButtonClick(3);
  EXPECT_EQ(r.host.pane, "cq test de k1abc");
  EXPECT_EQ(r.tx.PaneTextLength, 16);
  ASSERT_EQ(r.send.sent.size(), 1u);
  EXPECT_EQ(r.send.sent[0], "test de k1abc");
  EXPECT_EQ(r.tx.EchoSuppressed, 0);
  EXPECT_EQ(r.tx.MemoryOp, kMemoryNone);
}

TEST(Memories, FunctionKeySendsEvenWithAnOperationArmed) {
  Rig r;
  r.XmitOn();
  r.tx.SetBuffer(5, "five");
  r.host.pane = "typed";
  r.memories.StoreButtonClick();
  r.memories.MemoryKeyClick(5);
  EXPECT_EQ(r.send.sent, std::vector<std::string>{"five"});
  EXPECT_EQ(r.host.pane, "typedfive");
  EXPECT_EQ(r.tx.Buffer(5), "five") << "the armed store did not run";
}

// An unarmed memory button sends only with Xmit Enable on, in immediate mode, when no
// buffer send runs; looping stops first.
struct GateCase {
  const char* name;
  int xmit, screen, idle, sending, loop;
  bool sends;
  int loopClicks;
};

class GateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(GateTest, MemoryAndContestButtons) {
  const GateCase& c = GetParam();
  for (int contest = 0; contest < 2; ++contest) {
    Rig r;
    r.tx.XmitEnable = c.xmit;
    r.tx.ScreenMode = c.screen;
    r.tx.SendThreadIdle = static_cast<uint8_t>(c.idle);
    r.tx.SendingState = c.sending;
    r.tx.LoopMode = c.loop;
    r.tx.SetBuffer(2, "two");
    r.host.pane = "x";
    if (contest) {
      r.memories.ContestButtonClick(ContestButton::kClosing);
    } else {
      r.memories.MemoryButtonClick(2);
    }
    EXPECT_EQ(r.send.sent.size(), c.sends ? 1u : 0u) << (contest ? "tu" : "M2");
    EXPECT_EQ(r.send.loopClicks, c.loopClicks);
    EXPECT_EQ(r.host.pane, c.sends ? (contest ? "xtu" : "xtwo") : "x");
    EXPECT_GT(r.host.focus, 0) << "the pane takes the focus in every case";
  }
}

INSTANTIATE_TEST_SUITE_P(Memories, GateTest,
                         ::testing::Values(GateCase{"Sends", 3, 0, 1, 0, 0, true, 0},
                                           GateCase{"XmitEnableOff", 0, 0, 1, 0, 0, false, 0},
                                           GateCase{"ScreenMode", 3, 1, 1, 0, 0, false, 0},
                                           GateCase{"BufferSending", 3, 0, 0, 3, 0, false, 0},
                                           GateCase{"TypedTextGoingOut", 3, 0, 1, 3, 0, true, 0},
                                           GateCase{"LoopingStops", 3, 0, 1, 3, 3, true, 1},
                                           GateCase{"LoopOnButIdleStays", 3, 0, 1, 0, 3, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// What each contest button sends, with the boxes as at start and with calls typed in.
struct ContestCase {
  const char* name;
  ContestButton button;
  const char* remote;
  const char* own;
  int serial;
  int buffer;
  const char* sent;
};

class ContestTest : public ::testing::TestWithParam<ContestCase> {};

TEST_P(ContestTest, ComposesAndSends) {
  const ContestCase& c = GetParam();
  Rig r;
  r.XmitOn();
  if (*c.remote) r.memories.RemoteCallMemoChange(c.remote);
  if (*c.own) r.memories.MyCallMemoChange(c.own);
  r.memories.XmitUpDnClick(c.serial);
  r.memories.ContestButtonClick(c.button);
  ASSERT_EQ(r.send.sent.size(), 1u);
  EXPECT_EQ(r.send.sent[0], c.sent);
  EXPECT_EQ(r.send.buffers[0], c.buffer);
  EXPECT_EQ(r.host.pane, c.sent) << "appended to the (empty) pane";
  EXPECT_EQ(r.host.chosenContest, static_cast<int>(c.button));
  EXPECT_EQ(r.tx.ContestSerial, c.serial) << "sending does not advance the number";
}

INSTANTIATE_TEST_SUITE_P(
    Memories, ContestTest,
    ::testing::Values(
        ContestCase{"SendBothAtStart", ContestButton::kSendBoth, "", "", 1, 18, "Call de My Call "},
        ContestCase{"RemoteCall", ContestButton::kRemoteCall, "dl2xyz", "k1abc", 1, 18, "dl2xyz "},
        ContestCase{"MyCall", ContestButton::kMyCall, "dl2xyz", "k1abc", 1, 18, "k1abc "},
        ContestCase{"SendBothTyped", ContestButton::kSendBoth, "dl2xyz", "k1abc", 1, 18,
                    "dl2xyz de k1abc "},
        ContestCase{"TwoLineBoxGivesFirstLine", ContestButton::kSendBoth, "dl2xyz\r\nnext",
                    "k1abc\nx", 1, 18, "dl2xyz de k1abc "},
        ContestCase{"Serial", ContestButton::kSerial, "", "", 427, 18, "427 "},
        ContestCase{"Report", ContestButton::kReport, "", "", 1, 19, "599"},
        ContestCase{"Closing", ContestButton::kClosing, "", "", 1, 20, "tu"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Memories, ReportAndClosingAfterASettingsLoadSendTheLoadersTexts) {
  // A settings load always leaves these two buffers as below, whatever the file held.
  Rig r;
  r.XmitOn();
  r.tx.SetBuffer(19, "5nn ");
  r.tx.SetBuffer(20, "tu ");
  r.memories.ContestButtonClick(ContestButton::kReport);
  r.memories.ContestButtonClick(ContestButton::kClosing);
  EXPECT_EQ(r.send.sent, (std::vector<std::string>{"5nn ", "tu "}));
  EXPECT_EQ(r.host.pane, "5nn tu ");
}

// The first line of a box: cut at the first CR or LF among the first 65 characters, never
// longer than 4095 characters.
TEST(Memories, FirstLineLimits) {
  const std::string at64 = std::string(64, 'a') + "\nrest";
  const std::string at65 = std::string(65, 'a') + "\nrest";
  const std::string huge(5000, 'b');
  const struct {
    std::string in;
    std::string want;
  } cases[] = {
      {"k1abc", "k1abc"},
      {"k1abc\r\ndl2xyz", "k1abc"},
      {"k1abc\rdl2xyz", "k1abc"},
      {"\nk1abc", ""},
      {at64, std::string(64, 'a')},
      {at65, at65},  // the break lies past the scanned characters
      {huge, std::string(4095, 'b')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstLine(c.in), c.want) << c.in.substr(0, 70);
    Rig r;
    r.memories.RemoteCallMemoChange(c.in);
    r.memories.MyCallMemoChange(c.in);
    r.memories.ScatchPadMemoChange(c.in);
    for (int n : {16, 17, 10}) EXPECT_EQ(r.tx.Buffer(n), c.want) << "buffer " << n;
  }
}

TEST(Memories, StartupFillOfTheContestBuffers) {
  TransmitState tx;
  FakeHost host;
  FakeSend send(tx);
  Memories m(tx, host, send);
  m.FillContestBuffers("dl2xyz\nx", "k1abc");
  EXPECT_EQ(tx.Buffer(16), "dl2xyz");
  EXPECT_EQ(tx.Buffer(17), "k1abc");
  EXPECT_EQ(tx.Buffer(18), "dl2xyz de k1abc") << "no trailing space";
}

TEST(Memories, ScratchPadIsMemoryTen) {
  Rig r;
  r.XmitOn();
  r.host.windowVisible = true;
  r.memories.ScatchPadMemoChange("qrz?");
  EXPECT_EQ(r.tx.Buffer(10), "qrz?");
  EXPECT_NE(r.host.windowText.find("\nM10 = qrz?"), std::string::npos);
  EXPECT_EQ(r.host.windowText.back(), '?') << "nothing after M10";

  // F10 in the pad sends M10.
  r.memories.MemoryKeyClick(10);
  EXPECT_EQ(r.send.sent, std::vector<std::string>{"qrz?"});

  // Storing into M10 puts the pane into the pad; M10 keeps its first line.
  r.tx.SendThreadIdle = 1;
  r.host.pane = "agn\nsecond";
  r.memories.StoreButtonClick();
  r.memories.MemoryButtonClick(10);
  EXPECT_EQ(r.host.pad, "agn\nsecond");
  EXPECT_EQ(r.tx.Buffer(10), "agn");

  // Clearing M10 clears the pad.
  r.memories.ClearMsgButtonClick();
  r.memories.MemoryButtonClick(10);
  EXPECT_EQ(r.host.pad, "");
  EXPECT_EQ(r.tx.Buffer(10), "");
  EXPECT_NE(r.host.windowText.find("M10 = "), std::string::npos);
}

}  // namespace
}  // namespace kestrix::transmit
