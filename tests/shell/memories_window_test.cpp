// The memories panel in the real window (offscreen): what the buttons hand to SEND.
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "shell/memories_panel.h"
#include "shell/memory_window.h"
#include "shell/up_down.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

// Stands in for the transmit controller: records the selected buffer at each SEND.
class SendRecorder final : public transmit::SendControl {
 public:
  SendRecorder(MainWindow& w, std::vector<std::string>& sent) : w_(w), sent_(sent) {}
  void SendBtnClick() override { sent_.emplace_back(w_.Tx().Buffer(w_.Tx().SelectedBuffer)); }
  void LoopButtonClick() override { w_.Transmitter().LoopButtonClick(); }

 private:
  MainWindow& w_;
  std::vector<std::string>& sent_;
};

class MemoriesWindowTest : public WindowTest {
 protected:
  // Builds the window and records the selected buffer each time a memory presses SEND.
  void StartRecording() {
    Start();
    recorder_ = std::make_unique<SendRecorder>(W(), sent_);
    W().Memories().SetSendControl(*recorder_);
  }
  void XmitOn() {
    W().Transmitter().XmitButtonClick();
    messages_.clear();  // the port hint
  }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
  QString Pane() { return W().TransmitControls().Memo1->toPlainText(); }

  std::vector<std::string> sent_;
  std::unique_ptr<SendRecorder> recorder_;
};

TEST_F(MemoriesWindowTest, MemoryButtonSendsItsMemoryAfterThePane) {
  StartRecording();
  W().Tx().SetBuffer(3, "test de k1abc");
  XmitOn();
  W().TransmitControls().Memo1->setPlainText("cq ");
  Button("Msg3Button")->click();
  EXPECT_EQ(sent_, std::vector<std::string>{"test de k1abc"});
  EXPECT_EQ(Pane(), "cq test de k1abc");
  EXPECT_EQ(Colour(Button("Msg3Button")), kRed);
  EXPECT_EQ(Colour(Button("Msg2Button")), kBlack);
}

TEST_F(MemoriesWindowTest, ContestButtonsHandTheirTextToSend) {
  StartRecording();
  XmitOn();
  W().TransmitControls().RemoteCallMemo->setText("dl2xyz");
  W().TransmitControls().MyCallMemo->setText("k1abc");
  W().TransmitControls().XmitUpDn->StepUp();  // 2
  const struct {
    const char* button;
    const char* sent;
  } cases[] = {
      {"RemoteCallBtn", "dl2xyz "}, {"MyCallBtn", "k1abc "}, {"SendBothBtn", "dl2xyz de k1abc "},
      {"SndContactBtn", "2 "},      {"F599Btn", "599"},      {"TuBtn", "tu"}};
  for (const auto& c : cases) {
    sent_.clear();
    Button(c.button)->click();
    ASSERT_EQ(sent_.size(), 1u) << c.button;
    EXPECT_EQ(sent_[0], c.sent) << c.button;
  }
  EXPECT_EQ(W().TransmitControls().XmitCntrMemo->text(), "2");
  EXPECT_EQ(W().Tx().ContestSerial, 2);
}

TEST_F(MemoriesWindowTest, StoreRecallAndTheMemoryWindow) {
  StartRecording();
  W().Menu().TransmitData1->trigger();
  TransmitMemoryForm& form = W().Memories().MemoryForm();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(), "Tranmit Memory Data");
  EXPECT_TRUE(form.Memo()->isReadOnly());
  EXPECT_EQ(form.Memo()->lineWrapMode(), QPlainTextEdit::NoWrap);

  W().TransmitControls().Memo1->setPlainText("qrl?");
  Button("StoreButton")->click();
  EXPECT_EQ(Colour(Button("StoreButton")), kRed);
  Button("Msg4Button")->click();
  EXPECT_EQ(W().Tx().Buffer(4), "qrl?");
  EXPECT_TRUE(form.Text().contains("\nM4 = qrl?\n"));
  EXPECT_EQ(Colour(Button("StoreButton")), kBlue);

  W().TransmitControls().ScatchPadMemo->setText("agn");
  EXPECT_TRUE(form.Text().endsWith("M10 = agn"));
  EXPECT_TRUE(sent_.empty());
}

TEST_F(MemoriesWindowTest, ScratchPadKeys) {
  StartRecording();
  QLineEdit* pad = W().TransmitControls().ScatchPadMemo;
  pad->setText("qrz?");
  const struct {
    Qt::Key key;
    bool xmit;
    DisplayType display;
    size_t sends;
  } cases[] = {{Qt::Key_Down, false, DisplayType::kWaterfall, 0},
               {Qt::Key_Up, false, DisplayType::kLine, 0},
               {Qt::Key_F10, false, DisplayType::kLine, 0},
               {Qt::Key_F10, true, DisplayType::kLine, 1}};
  for (const auto& c : cases) {
    if (c.xmit && W().Tx().XmitEnable != 3) XmitOn();
    sent_.clear();
    QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
    QCoreApplication::sendEvent(pad, &press);
    EXPECT_EQ(W().Rx().Display, c.display) << c.key;
    ASSERT_EQ(sent_.size(), c.sends) << c.key;
    if (c.sends) {
      EXPECT_EQ(sent_[0], "qrz?");
      EXPECT_TRUE(press.isAccepted()) << "F10 is swallowed";
    }
  }
}

TEST_F(MemoriesWindowTest, AfterASettingsLoadTheReportAndClosingSendTheLoadersTexts) {
  StartRecording();
  const std::string path = (Home() + "/saved.cfc").toStdString();
  W().TransmitControls().RemoteCallMemo->setText("dl2xyz");
  W().Tx().SetBuffer(7, "seven");
  W().SaveSettings(path);
  W().TransmitControls().RemoteCallMemo->setText("other");
  W().LoadSettings(path);
  XmitOn();
  Button("F599Btn")->click();
  Button("TuBtn")->click();
  Button("RemoteCallBtn")->click();
  Button("Msg7Button")->click();
  EXPECT_EQ(sent_, (std::vector<std::string>{"5nn ", "tu ", "dl2xyz ", "seven"}));
}

TEST_F(MemoriesWindowTest, AcceleratorsAreUnambiguous) {
  Start();
  const TransmitPanel& tp = W().TransmitControls();
  const struct {
    QPushButton* button;
    Qt::Key key;
  } cases[] = {{tp.StoreButton, Qt::Key_S},    {tp.RecallButton, Qt::Key_R},
               {tp.ClearMsgButton, Qt::Key_C}, {tp.SendBtn, Qt::Key_D},
               {tp.MsgButton13, Qt::Key_I},    {tp.MsgButton14, Qt::Key_N},
               {tp.LoopButton, Qt::Key_L}};
  for (const auto& c : cases) {
    const QKeySequence alt(Qt::ALT | c.key);
    EXPECT_EQ(c.button->shortcut(), alt) << c.button->objectName().toStdString();
    int owners = 0;
    for (QPushButton* b : W().findChildren<QPushButton*>()) owners += b->shortcut() == alt;
    EXPECT_EQ(owners, 1) << c.button->objectName().toStdString();
  }
}

}  // namespace
}  // namespace kestrix::shell::testing
