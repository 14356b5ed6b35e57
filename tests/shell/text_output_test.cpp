// The receive pane: insertion at the caret, the Windows-1252 edge, scrolling, font size and
// style, the text-output and spaces switches, decoded text from a generated signal, and the
// copy pane's backslash key.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <string>

#include "../display/display_test_support.h"
#include "display/timeline_window.h"
#include "signalgen/morse_gen.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class TextOutput : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Start();
  }
  // Runs a generated 20 wpm, 700 Hz signal through the window's receiver block by block,
  // tuned as a click on the tone would tune it, with two seconds of silence at the end.
  void DecodeIntoWindow(const std::string& text) {
    kestrix::signalgen::MorseSignalParams p;
    p.wpm = 20;
    p.toneHz = 700;
    p.tailS = 2.0;
    const std::vector<int16_t> samples = kestrix::signalgen::GenerateMorse(text, p);
    Receiver& rx = W().Rx();
    rx.RestartLearning();
    rx.StartValues();
    W().Receive().SpectrumBoxMouseDown(131);  // bin 131 is 700 Hz
    for (const auto& block : kestrix::testing::CaptureBlocks(samples)) {
      rx.ProcessTextBlock(block.data());
    }
  }
};

TEST_F(TextOutput, NewTextGoesToTheCaretReplacingTheSelection) {
  struct Insert {
    const char* before;
    int anchor, position;  // selection (equal: just the caret)
    std::string bytes;     // Windows-1252
    const char* after;     // UTF-8
    int caretAfter;
  };
  const Insert cases[] = {
      {"abcdef", 6, 6, "g", "abcdefg", 7},
      {"abcdef", 3, 3, "XY", "abcXYdef", 5},
      {"abcdef", 2, 4, "Z", "abZef", 3},
      {"", 0, 0, "\xE4\xF1", "\xC3\xA4\xC3\xB1", 2},  // a-umlaut, n-tilde
      {"x", 1, 1, "\x80", "x\xE2\x82\xAC", 2},        // the euro sign
  };
  for (const Insert& c : cases) {
    SCOPED_TRACE(c.before);
    Memo2()->setPlainText(QString::fromUtf8(c.before));
    QTextCursor caret = Memo2()->textCursor();
    caret.setPosition(c.anchor);
    caret.setPosition(c.position, QTextCursor::KeepAnchor);
    Memo2()->setTextCursor(caret);
    Receive(c.bytes);
    EXPECT_EQ(Memo2()->toPlainText(), QString::fromUtf8(c.after));
    EXPECT_EQ(Memo2()->textCursor().position(), c.caretAfter);
  }
}

TEST_F(TextOutput, ThePaneFollowsTheEndOnlyWhileTheCaretIsThere) {
  for (int i = 0; i < 200; ++i) Receive("cq cq de k1abc\n");
  QScrollBar* bar = Memo2()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  Memo2()->moveCursor(QTextCursor::Start);
  Receive("x");
  EXPECT_EQ(bar->value(), 0);
  for (int i = 0; i < 5; ++i) Receive("more\n");
  EXPECT_LT(bar->value(), bar->maximum());

  Memo2()->moveCursor(QTextCursor::End);
  Receive("y");
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TextOutput, SizeAppliesToBothPanesAndBoldToTheReceivePane) {
  struct Size {
    void (ReceiveSide::*handler)();
    int size;
    int points;
  };
  const Size sizes[] = {{&ReceiveSide::SmallFont1Click, 1, 10},
                        {&ReceiveSide::MediumFont1Click, 3, 16},
                        {&ReceiveSide::LargeFont1Click, 4, 20},
                        {&ReceiveSide::NormalFont1Click, 2, 12}};
  EXPECT_EQ(Memo2()->font().pointSize(), 12);
  for (const Size& s : sizes) {
    (W().Receive().*s.handler)();
    EXPECT_EQ(W().Receive().Style().FontSize, s.size);
    EXPECT_EQ(Memo2()->font().pointSize(), s.points);
    EXPECT_EQ(Find<QPlainTextEdit>("Memo1")->font().pointSize(), s.points);
  }
  W().Receive().Bold1Click();
  EXPECT_TRUE(Memo2()->font().bold());
  EXPECT_FALSE(Find<QPlainTextEdit>("Memo1")->font().bold());
  EXPECT_EQ(W().Receive().Style().FontStyle, 1);
  W().Receive().Normal1Click();
  EXPECT_FALSE(Memo2()->font().bold());
  EXPECT_EQ(W().Receive().Style().FontStyle, 0);
}

TEST_F(TextOutput, ScrollingMenuAndButtonSwitchTheSameSettingButNotEachOther) {
  auto* button = Find<QPushButton>("TxtScrollBtn");
  W().Receive().ScrollingOff1Click();
  EXPECT_FALSE(W().Rx().Options.TextOutputOn());
  EXPECT_EQ(Caption(button), "ON");
  button->click();
  EXPECT_TRUE(W().Rx().Options.TextOutputOn());
  EXPECT_TRUE(Find<QAction>("ScrollingOff1")->isChecked());
  button->click();
  EXPECT_EQ(Caption(button), "OFF");
  EXPECT_EQ(Colour(button), kBlue);
  EXPECT_EQ(W().focusWidget(), Memo2());
}

TEST_F(TextOutput, CaseAndSpacesMenus) {
  W().Receive().Upper1Click();
  EXPECT_EQ(W().Rx().Options.Case, LetterCase::kUpper);
  W().Receive().SpacesOffClick();
  EXPECT_FALSE(W().Rx().Options.SpacesOn());
  EXPECT_TRUE(Find<QAction>("SpacesOff")->isChecked());
  // The menu leaves the button's caption as it was.
  EXPECT_EQ(Caption(Find<QPushButton>("SpaceButton")), "ON");
  W().Receive().SpacesOnClick();
  EXPECT_TRUE(W().Rx().Options.SpacesOn());
  W().Receive().ProsignDisableClick();
  EXPECT_EQ(W().Rx().Options.Prosigns, 0);
  W().Receive().EnableEnglishClick();
  EXPECT_EQ(W().Rx().Options.NonEnglish, 1);
}

TEST_F(TextOutput, DecodedSignalAppearsInTheReceivePaneAndTheTimeline) {
  W().Receive().Enable3Click();
  ASSERT_EQ(W().Timeline().LevelCopy()[64], 0);
  DecodeIntoWindow("VVV VVV CQ DE K1ABC <AR> TEST");
  EXPECT_GE(W().Timeline().LevelCopy()[64], 1);  // the timeline saw the blocks
  const std::string text = Memo2()->toPlainText().toStdString();
  EXPECT_NE(text.find("cq de k1abc AR  test"), std::string::npos) << text;
  EXPECT_EQ(Find<QLabel>("LearnPanel")->text(), "DONE");
  EXPECT_NE(Find<QLabel>("TestString")->text(), "?");
  EXPECT_NE(Find<QLabel>("FreqDisplay")->text(), "?");
}

TEST_F(TextOutput, WithTextOutputOffOnlyProsignsAndNonEnglishLettersAppear) {
  W().Receive().ScrollingOff1Click();
  W().Receive().EnableEnglishClick();
  W().Receive().Upper1Click();
  DecodeIntoWindow("VVV VVV CQ DE K1ABC <AR> TEST <AA> TEST <SK> E E");
  const QString text = Memo2()->toPlainText();
  EXPECT_EQ(text, QString::fromUtf8("AR\xC3\x84SK")) << text.toStdString();
}

TEST_F(TextOutput, BackslashInTheCopyPaneHandsTheKeyboardToTheTransmitPane) {
  W().Receive().ManualButtonClick();
  auto* copy = Find<QPlainTextEdit>("TextPanel");
  auto* memo1 = Find<QPlainTextEdit>("Memo1");
  memo1->setPlainText("cq test");
  memo1->moveCursor(QTextCursor::Start);
  auto backslash = [&] {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backslash, Qt::NoModifier, "\\");
    QCoreApplication::sendEvent(copy, &press);
  };
  // Without Xmit Enable it is an ordinary key.
  backslash();
  EXPECT_EQ(copy->toPlainText(), "\\");
  EXPECT_EQ(W().focusWidget(), copy);

  W().Tx().XmitEnable = 3;
  backslash();
  EXPECT_EQ(copy->toPlainText(), "\\");
  EXPECT_EQ(W().focusWidget(), memo1);
  EXPECT_EQ(memo1->textCursor().position(), 7);
}

}  // namespace
}  // namespace kestrix::shell::testing
