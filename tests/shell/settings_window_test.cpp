// The settings file with the real main window: start-up with a file, a save and a load
// through the window's own handlers, and the File menu's user files. (Start-up without a
// file is in life_cycle_test.cpp.)
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>

#include "display/timeline_window.h"
#include "settings_test_util.h"
#include "shell/afc_start_dialog.h"
#include "shell/settings_bridge.h"
#include "shell/up_down.h"
#include "shell/user_files.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

using kestrix::testing::ReadBytes;
using kestrix::testing::WriteBytes;

class SettingsWindowTest : public WindowTest {
 protected:
  std::string File(const char* name) const { return (Home() + "/" + name).toStdString(); }
  std::string SettingsFile() const { return File("Kestrix.cfc"); }
  MainWindow& Shown() {
    Make().show();
    return W();
  }

  // Runs the event loop until `done` holds. The time limit only keeps a broken build from
  // hanging; the tests assert on what happened, not on how long it took.
  static bool RunUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    bool reached = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!reached && done()) {
        reached = true;
        loop.quit();
      }
    });
    poll.start(5);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return reached;
  }
};

TEST_F(SettingsWindowTest, WithASettingsFileReceptionStartsByItself) {
  WriteBytes(SettingsFile(), SerializeSettings(DefaultSettings()));
  MainWindow& w = Shown();
  EXPECT_EQ(w.Files().SettingsPath, SettingsFile());

  bool running = false;
  // Inside the running loop the poll sees it and stops it again as STOP would.
  RunUntil([&] {
    if (w.Loop().Running()) {
      running = true;
      w.Receive().StopButtonClick();
    }
    return running && !w.Loop().Running();
  });
  EXPECT_TRUE(running);
  EXPECT_EQ(w.ReceiveControls().FrequencyBar->value(), 112);
  EXPECT_EQ(w.Rx().Mode, ReceiveMode::kText);
}

// Every setting changed through the window's handlers, saved, and loaded into a second
// window: the second window holds the same values, except those a load always resets.
TEST_F(SettingsWindowTest, SaveThenLoadThroughTheWindowKeepsEverySetting) {
  const std::string path = File("saved.cfc");
  SettingsRecord saved;
  {
    MainWindow& a = Shown();
    const ReceivePanel& rp = a.ReceiveControls();
    const TransmitPanel& tp = a.TransmitControls();
    a.Receive().Upper1Click();
    a.Receive().Bold1Click();
    a.Receive().N35wpm1Click();
    a.Receive().SpacesOffClick();
    a.Receive().Long1Click();
    a.Receive().Wide1Click();
    a.Receive().LargeFont1Click();
    a.Keying().Printer11Click();
    a.Tx().PortName = {'L', 'P', 'T', '1'};
    a.Timeline().Geometry = TimelineGeometry{30, 40, 500, 600};
    a.Receive().Rx10BtnClick();
    a.Receive().Manual3Click();
    a.Receive().BlankBtnClick();
    a.Receive().FilterOn1Click();
    rp.CoarseGainTrackBar->setValue(17);
    rp.SignalGainBar->setValue(4);
    a.Receive().Fade_OnClick();
    a.Keying().Invert2Click();
    a.Receive().ProsignDisableClick();
    a.Receive().SquelchBtnClick();
    a.Receive().EnableEnglishClick();
    a.Keying().SideToneOnClick();
    rp.ThresholdBar2->setValue(123);
    a.Receive().MsgsONClick();
    a.Rx().Capture.InputDevice = 3;
    a.Tx().ComPortNumber = 9;
    a.Rx().Tone.AfcStartFrequency = 900;
    a.Receive().Waterfall2Click();
    a.Settings().SetReserved(0xA5);
    a.Keying().SoundCard1Click();
    a.Tone().Freq3Click();
    a.Tone().Squarewave1Click();
    a.Tx().ContestSerial = 321;
    a.Memories().ContestWindowClick();
    tp.SpeedTrackBar->setValue(35);
    a.Tx().SerialToneNote = 90;
    a.Tx().ParallelPortSetting = 0x3BC;
    a.Tx().DotRatio = 125.0f;
    a.Tx().WordRatio = 50.0f;
    a.Tx().SetBuffer(1, "CQ CQ DE G4XYZ");
    a.Tx().SetBuffer(10, "scratch");
    a.Tx().SetBuffer(16, "DL1ABC");
    a.Tx().SetBuffer(17, "G4XYZ");
    saved = a.Settings().Current();
    a.Settings().Save(path);
    Destroy();
  }
  ASSERT_EQ(ReadBytes(path).size(), kSettingsFileSize);

  MainWindow& b = Shown();
  b.Settings().Load(path);
  const SettingsRecord loaded = b.Settings().Current();

  SettingsRecord expected = saved;
  expected.ToneVolume = 63;
  expected.FrequencyBar = 112;
  CopyFieldText(expected.SendBuffer(19), "5nn ");
  CopyFieldText(expected.SendBuffer(20), "tu ");
  EXPECT_EQ(SerializeSettings(loaded), SerializeSettings(expected));
  // The fields the window shows beyond the record.
  EXPECT_EQ(b.TransmitControls().ScatchPadMemo->text(), "scratch");
  EXPECT_EQ(b.TransmitControls().RemoteCallMemo->text(), "DL1ABC");
  EXPECT_EQ(b.TransmitControls().MyCallMemo->text(), "G4XYZ");
  EXPECT_EQ(b.ReceiveControls().MkrLabel->text(), "900");
  EXPECT_EQ(b.AfcStartForm().AFCStartSpinBtn()->value(), 900);
  EXPECT_EQ(b.TransmitControls().XmitCntrMemo->text(), "321");
  EXPECT_EQ(b.TransmitControls().XmitSpeedUpDn->Position(), 35);
  EXPECT_TRUE(b.Menu().Printer11->isChecked());
  EXPECT_TRUE(b.Timeline().isHidden());
  EXPECT_TRUE(b.Loop().AutoStartPending.load());
}

TEST_F(SettingsWindowTest, UnlistedValuesAreKeptWithoutMovingACheckMark) {
  SettingsRecord r = DefaultSettings();
  r.ThresholdType = 4;  // "Quiet"
  r.ToneFrequency = 800.0f;
  CopyFieldText(r.PortName, "LPT2");
  r.PortKind = 0;
  r.SpeedTrackBar = 3;  // below the bar's range
  r.Blanking = 1;
  const std::string path = File("odd.cfc");
  WriteBytes(path, SerializeSettings(r));

  MainWindow& w = Shown();
  const MainMenu& m = w.Menu();
  const bool noisyBefore = m.Noisy2->isChecked();
  const bool freq2Before = m.Freq2->isChecked();
  w.Settings().Load(path);

  EXPECT_EQ(w.Rx().Options.Threshold, ThresholdMode::kQuiet);
  EXPECT_EQ(m.Noisy2->isChecked(), noisyBefore);
  EXPECT_FALSE(m.Quiet1->isChecked());
  EXPECT_EQ(w.Tx().ToneFrequency, 800.0f);
  EXPECT_EQ(m.Freq2->isChecked(), freq2Before);
  EXPECT_FALSE(m.Freq1->isChecked());
  EXPECT_FALSE(m.Freq3->isChecked());
  EXPECT_TRUE(m.Printer11->isChecked());
  EXPECT_EQ(w.Tx().PortKind, 0);
  EXPECT_EQ(w.TransmitControls().SpeedTrackBar->value(), 5);
  EXPECT_EQ(w.Status().CodeLabel->text(), "5");
  EXPECT_TRUE(w.Rx().Options.BlankingOn);
  EXPECT_EQ(w.ReceiveControls().BlankBtn->text(), "ON");
}

// Answers the File menu's dialogs with fixed paths.
class PathHost : public UserFileHost {
 public:
  QString path;
  int errors = 0;
  QString ChooseSaveFile(QWidget*, const FileDialogSpec&) override { return path; }
  QString ChooseOpenFile(QWidget*, const FileDialogSpec&) override { return path; }
  void ShowError(QWidget*, const QString&, const QString&) override { ++errors; }
};

TEST_F(SettingsWindowTest, FileMenuSavesAndLoadsThePanes) {
  MainWindow& w = Shown();
  PathHost host;
  SetWindowUserFileHost(&host);

  w.ReceiveControls().Memo2->setPlainText("cq de k1abc\nk");
  host.path = QString::fromStdString(File("rcv.txt"));
  w.Menu().SaveRcv1->trigger();
  const std::vector<uint8_t> rcv = ReadBytes(File("rcv.txt"));
  EXPECT_EQ(std::string(rcv.begin(), rcv.end()), "cq de k1abc\r\nk\r\n");

  WriteBytes(File("msg.txt"), {'t', 'e', 's', 't', '\n', 'd', 'e'});
  host.path = QString::fromStdString(File("msg.txt"));
  w.Menu().LoadXmit1->trigger();
  EXPECT_EQ(w.TransmitControls().Memo1->toPlainText(), "test\nde");
  EXPECT_EQ(w.Tx().SelectedBuffer, 15);
  EXPECT_EQ(w.Tx().XmitFileLoaded, 1);
  EXPECT_EQ(w.Tx().Buffer(15), "test\r\nde");

  host.path = QString::fromStdString(File("form.bmp"));
  w.Menu().SaveForm1->trigger();
  QImage picture;
  ASSERT_TRUE(picture.load(host.path, "BMP"));
  EXPECT_EQ(picture.size(), w.Form()->size() * w.Form()->devicePixelRatio());
  EXPECT_EQ(host.errors, 0);
  SetWindowUserFileHost(nullptr);
}

}  // namespace
}  // namespace kestrix::shell::testing
