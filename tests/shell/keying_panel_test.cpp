// The window's keying controls on a fake keying device: speed limits per output device,
// Tune, polarity, the COM Port Selection and Character Timing dialogs, the keying fields of
// a settings file, a line that vanishes while keying, and the key left up at quit.
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <cstring>
#include <thread>

#include "settings_test_util.h"
#include "shell/char_timing_dialog.h"
#include "shell/com_port_dialog.h"
#include "shell/keying_panel.h"
#include "shell/settings_bridge.h"
#include "shell/up_down.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

constexpr int kBoth = TIOCM_DTR | TIOCM_RTS;

class KeyingPanelTest : public WindowTest {
 protected:
  MainWindow& Window() {
    Make().show();
    return W();
  }
  KeyingPanel& Panel() { return W().Keying(); }
  int Modem(const char* device) { return keyDevice_.Modem(device); }
  int CountMessages(const std::string& title) const {
    int n = 0;
    for (const Message& m : messages_) n += m.title == title;
    return n;
  }
};

TEST_F(KeyingPanelTest, SpeedUpDownAboveFiftyOnlyWithTheSoundCard) {
  struct Case {
    bool soundCard;
    int want;
    int messages;
  };
  for (const Case& c : {Case{false, 50, 1}, Case{true, 51, 0}}) {
    MainWindow& w = Window();
    messages_.clear();
    c.soundCard ? w.Keying().SoundCard1Click() : w.Keying().SerialPort1Click();
    const TransmitPanel& tp = w.TransmitControls();
    tp.XmitSpeedUpDn->SetPosition(50);
    w.Keying().XmitSpeedUpDnClick();
    tp.XmitSpeedUpDn->StepUp();  // 50 -> 51, runs XmitSpeedUpDnClick
    EXPECT_EQ(tp.XmitSpeedUpDn->Position(), c.want);
    EXPECT_EQ(tp.SpeedTrackBar->value(), c.want);
    EXPECT_EQ(w.Status().CodeLabel->text(), QString::number(c.want));
    EXPECT_EQ(tp.XmitSpeedPnl->text(), QString::number(c.want));
    EXPECT_EQ(w.Tx().Timing.UnitMs.load(), 12000 / (11 * c.want)) << "the keyers follow the speed";
    ASSERT_EQ(static_cast<int>(messages_.size()), c.messages);
    if (c.messages) {
      EXPECT_EQ(messages_[0].title, "Transmit Speed Error");
      EXPECT_EQ(messages_[0].text,
                "Use the sound card output for code speeds greater than 50 wpm!");
    }
    Destroy();
  }
}

TEST_F(KeyingPanelTest, TuneKeysOnlyWithXmitEnableOn) {
  MainWindow& w = Window();
  w.Keying().OpenNamedComPort("/dev/ttyUSB0");
  w.Keying().TuneButtonClick();
  EXPECT_EQ(Modem("/dev/ttyUSB0"), 0) << "Xmit Enable off: the line stays up";
  EXPECT_EQ(w.Tx().TuneActive.load(), 0);
  EXPECT_EQ(Caption(w.TransmitControls().TuneButton), "OFF");
  ASSERT_EQ(CountMessages("Error Message"), 1);
  EXPECT_EQ(messages_.back().text, "Xmit Enable must be ON");

  w.Tx().XmitEnable = 3;
  w.Keying().TuneButtonClick();
  EXPECT_EQ(Modem("/dev/ttyUSB0"), kBoth);
  EXPECT_EQ(Caption(w.TransmitControls().TuneButton), "ON");
  EXPECT_EQ(Colour(w.TransmitControls().TuneButton), kRed);
  w.Keying().Invert2Click();
  EXPECT_EQ(Modem("/dev/ttyUSB0"), 0) << "inverted key down clears the lines at once";
  w.Keying().Normal3Click();
  EXPECT_EQ(Modem("/dev/ttyUSB0"), kBoth);
  w.Keying().TuneButtonClick();
  EXPECT_EQ(Modem("/dev/ttyUSB0"), 0);
  EXPECT_EQ(CountMessages("Error Message"), 1);
}

TEST_F(KeyingPanelTest, ComPortDialogListsDevicesAndOpensTheChosenOne) {
  MainWindow& w = Window();
  w.Keying().PortNumber1Click();
  ComPortDialog& dialog = w.Keying().ComPortSelectForm();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), "COM Port Selection");
  EXPECT_TRUE(dialog.PortList->text().contains("COM 2   /dev/ttyUSB1   Adapter B"))
      << dialog.PortList->text().toStdString();
  EXPECT_TRUE(w.Menu().PortNumber1->isChecked());

  dialog.ComPortSpinBtn->setValue(3);
  dialog.ComPortCancelBtn->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Accepted, 0);
  EXPECT_EQ(w.Tx().PortNameText(), "NONE") << "Cancel changes nothing";

  w.Keying().PortNumber1Click();
  dialog.ComPortSpinBtn->setValue(3);
  dialog.SelectComPortBtn->click();
  EXPECT_EQ(dialog.Accepted, 1);
  EXPECT_EQ(w.Tx().PortNameText(), "\\\\.\\COM3");
  EXPECT_EQ(w.Tx().ComPortNumber, 3);
  EXPECT_EQ(w.Tx().PortKind, 1);
  EXPECT_EQ(w.Keying().Port().OpenDevice(), "/dev/ttyUSB2");

  // A number beyond the devices found: the message, then "None".
  w.Keying().PortNumber1Click();
  dialog.ComPortSpinBtn->setValue(9);
  dialog.SelectComPortBtn->click();
  ASSERT_EQ(CountMessages("Communications I/O Error"), 1);
  EXPECT_TRUE(messages_.back().text.rfind("Failed to open the comms device", 0) == 0)
      << messages_.back().text;
  EXPECT_TRUE(w.Menu().None2->isChecked());
  EXPECT_FALSE(w.Menu().PortNumber1->isChecked());
  EXPECT_EQ(w.Tx().PortNameText(), "NONE");
  EXPECT_EQ(keyDevice_.OpenCount(), 0);
}

TEST_F(KeyingPanelTest, CharacterTimingDialogSetsRatiosOnClick) {
  MainWindow& w = Window();
  w.TransmitControls().SpeedTrackBar->setValue(25);
  w.Keying().CharacterConfigClick();
  CharTimingDialog& d = w.Keying().CharTimingForm();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.windowTitle(), "Character Timing");
  EXPECT_EQ(w.Tx().DashRatio, 100.0f) << "opening the dialog changes nothing";
  for (QLineEdit* memo : {d.DotLengthMemo, d.DashLengthMemo, d.CharSpaceMemo, d.WordSpaceMemo})
    EXPECT_EQ(memo->text(), "1");
  EXPECT_EQ(d.DashUpDn->Position(), 150);

  d.DashUpDn->StepUp();  // 151
  EXPECT_EQ(w.Tx().DashRatio, 151.0f);
  EXPECT_EQ(d.DashLengthMemo->text(), "1.51");
  EXPECT_EQ(w.Tx().Timing.DashMs.load(), 129 * 151 / 100);
  d.DotUpDn->SetPosition(76);
  d.DotUpDn->StepDown();
  EXPECT_EQ(d.DotLengthMemo->text(), "0.75");
  EXPECT_EQ(w.Tx().Timing.DotMs.load(), 43 * 75 / 100);
  d.WordUpDn->StepUp();
  EXPECT_EQ(d.WordUpDn->Position(), 160) << "the word space steps by 10";
  EXPECT_EQ(d.WordSpaceMemo->text(), "1.6");
  d.CharUpDn->SetPosition(200);
  d.CharUpDn->StepUp();
  EXPECT_EQ(d.CharSpaceMemo->text(), "2");
  EXPECT_EQ(w.Tx().Timing.CharSpaceMs.load(), 2 * 43 * 2);
  for (const char* label :
       {"Ratio Increase/Decrease", "Standard Lengths", "Dash Length         = 3 * Code Speed",
        "Word Length         = 7 * Code Speed"}) {
    bool found = false;
    for (QLabel* l : d.findChildren<QLabel*>()) found |= l->text() == label;
    EXPECT_TRUE(found) << label;
  }
}

void PutInt(std::vector<uint8_t>& b, size_t at, int32_t v) {
  std::memcpy(&b[at], &v, 4);
}
void PutFloat(std::vector<uint8_t>& b, size_t at, float v) {
  std::memcpy(&b[at], &v, 4);
}

TEST_F(KeyingPanelTest, KeyingFieldsOfASettingsFileRunThroughTheHandlers) {
  std::vector<uint8_t> bytes = SerializeSettings(DefaultSettings());
  PutInt(bytes, 0, 0x3BC);  // printer-port dialog address, kept as is
  PutInt(bytes, 8, 30);     // speed
  PutInt(bytes, 81972, 1);  // serial port
  std::memset(&bytes[81976], 0, 16);
  std::memcpy(&bytes[81976], "\\\\.\\COM3", 8);
  PutInt(bytes, 82038, 2);  // inverted
  bytes[82045] = 1;         // side tone on
  PutInt(bytes, 82057, 3);  // COM dialog number
  PutInt(bytes, 82074, 0);  // sound card output
  PutFloat(bytes, 82094, 75.0f);
  PutFloat(bytes, 82098, 150.0f);
  PutFloat(bytes, 82102, 120.5f);
  PutFloat(bytes, 82106, 300.0f);  // beyond the up-down's range
  const std::string path = (Home() + "/known.cfc").toStdString();
  kestrix::testing::WriteBytes(path, bytes);

  MainWindow& w = Window();
  w.Settings().Load(path);
  const TransmitState& tx = w.Tx();
  EXPECT_EQ(tx.ParallelPortSetting, 0x3BC);
  EXPECT_EQ(w.TransmitControls().XmitSpeedUpDn->Position(), 30);
  EXPECT_EQ(w.Status().CodeLabel->text(), "30");
  EXPECT_EQ(w.Keying().Port().OpenDevice(), "/dev/ttyUSB2") << "COM 3 is the third adapter";
  EXPECT_TRUE(w.Menu().PortNumber1->isChecked());
  EXPECT_TRUE(w.Menu().Invert2->isChecked());
  EXPECT_EQ(Modem("/dev/ttyUSB2"), kBoth) << "inverted key up asserts the lines";
  EXPECT_FALSE(keyDevice_.HangUpOnClose("/dev/ttyUSB2"));
  EXPECT_TRUE(w.Menu().SideToneOn->isChecked());
  EXPECT_EQ(tx.SideToneOn, 1);
  EXPECT_EQ(w.Keying().ComPortSelectForm().ComPortSpinBtn->value(), 3);
  EXPECT_TRUE(w.Menu().SoundCard1->isChecked());
  EXPECT_EQ(tx.OutputDevice, 0);
  const CharTimingDialog& d = w.Keying().CharTimingForm();
  EXPECT_EQ(d.DotUpDn->Position(), 75);
  EXPECT_EQ(d.DotLengthMemo->text(), "0.75");
  EXPECT_EQ(d.CharUpDn->Position(), 120);
  EXPECT_EQ(d.CharSpaceMemo->text(), "1.21");  // 1.205 shown with 3 digits
  EXPECT_EQ(d.WordUpDn->Position(), 200);
  EXPECT_EQ(d.WordSpaceMemo->text(), "3");
  // The timing the keyers use: 30 wpm (unit 36) with the loaded ratios.
  const transmit::ElementTimingValues t = tx.Timing.Load();
  EXPECT_EQ(t.UnitMs, 36);
  EXPECT_EQ(t.DotMs, 27);
  EXPECT_EQ(t.DashMs, 162);
  EXPECT_EQ(t.CharSpaceMs, 86);
  EXPECT_EQ(t.WordSpaceMs, 648);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(KeyingPanelTest, StoredPrinterAndNoneNames) {
  struct Case {
    const char* name;
    int32_t kind;
    const char* device;
  };
  for (const Case& c :
       {Case{"LPT1", 0, "/dev/parport0"}, Case{"LPT2", 0, "/dev/parport0"}, Case{"NONE", 2, ""}}) {
    SettingsRecord r = DefaultSettings();
    CopyFieldText(r.PortName, c.name);
    const std::string path = (Home() + "/p.cfc").toStdString();
    kestrix::testing::WriteBytes(path, SerializeSettings(r));
    MainWindow& w = Window();
    w.Settings().Load(path);
    EXPECT_EQ(w.Tx().PortKind, c.kind) << c.name;
    EXPECT_EQ(w.Keying().Port().OpenDevice(), c.device) << c.name;
    if (c.kind == 0) {
      EXPECT_EQ(w.Tx().ParallelAddress, 0x378) << c.name;
      EXPECT_EQ(keyDevice_.Data("/dev/parport0"), 0) << c.name;
    }
    Destroy();
  }
}

TEST_F(KeyingPanelTest, VanishedAdapterGivesOneMessageAndNone) {
  MainWindow& w = Window();
  w.Keying().OpenNamedComPort("/dev/ttyUSB0");
  keyDevice_.vanishAfter = 3;
  std::thread keyer([&] {
    for (int i = 0; i < 50; ++i)
      w.Keying().Port().SetKeyLine(i % 2 ? transmit::kKeyUp : transmit::kKeyDown);
  });
  keyer.join();
  QCoreApplication::processEvents();
  ASSERT_EQ(CountMessages("Communications I/O Error"), 1);
  EXPECT_NE(messages_.back().text.find("/dev/ttyUSB0"), std::string::npos);
  EXPECT_TRUE(w.Menu().None2->isChecked());
  EXPECT_EQ(w.Tx().PortNameText(), "NONE");
  EXPECT_EQ(w.Tx().PortKind, 2);

  keyDevice_.vanishAfter = 0;
  w.Keying().OpenNamedComPort("/dev/ttyUSB1");
  w.Keying().Port().SetKeyLine(transmit::kKeyDown);
  EXPECT_EQ(Modem("/dev/ttyUSB1"), kBoth) << "the port can be chosen again";
}

TEST_F(KeyingPanelTest, QuitAndStopLeaveTheKeyUp) {
  MainWindow& w = Window();
  w.Keying().OpenNamedComPort("/dev/ttyUSB1");
  w.Tx().XmitEnable = 3;
  w.Keying().TuneButtonClick();
  ASSERT_EQ(Modem("/dev/ttyUSB1"), kBoth);
  w.QuitButtonClick();
  EXPECT_EQ(Modem("/dev/ttyUSB1"), 0);
  EXPECT_EQ(keyDevice_.OpenCount(), 0);
  EXPECT_EQ(w.Tx().PortNameText(), "/dev/ttyUSB1") << "the port is kept for the settings file";
}

}  // namespace
}  // namespace kestrix::shell::testing
