#include "shell/main_window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "receive/sound_card_select.h"
#include "shell/afc_start_dialog.h"
#include "shell/keying_panel.h"
#include "shell/layout.h"
#include "shell/memories_panel.h"
#include "shell/partner_link.h"
#include "shell/settings_bridge.h"
#include "shell/settings_paths.h"
#include "shell/sound_card_dialog.h"
#include "shell/tone_menu.h"
#include "shell/transmit_host.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"
#include "shell/window_keyers.h"
#include "transmit/transmit_controller.h"

#ifndef KESTRIX_DOC_DIR
#define KESTRIX_DOC_DIR ""
#endif

namespace kestrix::shell {

// Windows key codes the form's key handler knows.
inline constexpr int kVkUp = 38;
inline constexpr int kVkDown = 40;
inline constexpr int kVkBackslash = 220;

// The receive loop's view of the window.
class MainWindow::Host final : public ReceiveHost {
 public:
  explicit Host(MainWindow& w) : w_(w) {}

  void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  void ArmTimer(LoopTimer timer) override { w_.LoopTimerFor(timer)->start(); }
  void DisarmTimer(LoopTimer timer) override { w_.LoopTimerFor(timer)->stop(); }
  void ShowMessage(const std::string& title, const std::string& text) override {
    w_.ShowMessage(title, text);
  }
  void QuitButtonClick() override { w_.QuitButtonClick(); }
  void Sleep(int ms) override { w_.Sleep(ms); }
  // The pause while transmitting: wait for the next event (a send thread's window call,
  // input, a timer) for at most `ms`, rather than sleeping through it.
  void WaitForEvents(int ms) override {
    if (w_.seams_.sleep) {
      w_.seams_.sleep(ms);
      ProcessMessages();
      return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(ms);
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) {
      d->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  void StartTransmitWorkers() override { w_.Transmitter().StartWorkers(); }
  bool SettingsLoadPending() override { return w_.SettingsLoadPending != 0; }
  void ShowStarted(ReceiveMode mode) override { w_.ShowStarted(mode); }
  void StartValuesApplied() override { w_.StartValuesApplied(); }
  void ClearDisplayBitmaps(int /*width*/) override { w_.ClearDisplayBitmaps(); }
  void ClearSpectrumBitmap(int width) override { w_.ClearSpectrumBitmap(width); }
  void ShowStopped() override { w_.ShowStopped(); }
  void InitToneOutput() override { w_.tone_->InitToneOutput(); }
  void StopTransmit() override {
    w_.tone_->ReceiverStopped();  // no side-tone note outlives reception
    w_.StopTransmit();
  }
  void InputChannelChecked(ChannelMode mode) override { w_.InputChannelChecked(mode); }

 private:
  MainWindow& w_;
};

MainWindow::MainWindow(std::unique_ptr<CaptureDevice> device, const WindowOptions& options,
                       const WindowSeams& seams)
    : device_(std::move(device)), options_(options), seams_(seams) {
  host_ = std::make_unique<Host>(*this);
  rx_ = std::make_unique<Receiver>(static_cast<TextSink&>(*this), static_cast<ReceiverSink*>(this));
  loop_ = std::make_unique<ReceiveLoop>(*rx_, *device_, *host_, &tx_.SendingState);
  soundCard_ = std::make_unique<SoundCardSelect>(*loop_);

  BuildForm();
  keying_ = std::make_unique<KeyingPanel>(*this, seams_.keyDevice, seams_.serialPorts);
  CreateTransmitter();
  ConnectHandlers();
  ConnectMenu();
  tone_ = std::make_unique<ToneMenu>(*this, seams_.playback ? seams_.playback() : nullptr);
  memories_ = new MemoriesPanel(*this);
  // The parts of the transmitter meet: sound-card keying and Tune's note on the tone
  // output and the keying port; memories start sends through the controller, and F1..F10
  // press the memory buttons.
  keyers_->SetToneOutput(&tone_->Output());
  tone_->SetKeyLine(&keying_->Port());
  memories_->SetSendControl(*txc_);
  txHost_->SetMemoryHandlers([this](int n) { memories_->MemoryKeyClick(n); },
                             [this](int op) { memories_->ApplyMemoryOperation(op); });
  FormCreate();
  if (options_.servePartners) {
    partner_ = std::make_unique<PartnerLink>(
        [this](const std::string& title, const std::string& text) { ShowMessage(title, text); },
        tx_.MessagingOn, tx_.PartnerConnected);
    partner_->Start(options_.partnerSocket);
  }
}

MainWindow::~MainWindow() {
  FormDestroy();
  // Every send thread is joined while the widgets and the state they use still exist.
  txc_.reset();
}

// --- Composition ---------------------------------------------------------------------

void MainWindow::BuildForm() {
  setObjectName("Form1");
  setWindowTitle("Kestrix");
  // Single fixed border: system menu, minimise and close, no maximise, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  QFont font("Arial");
  font.setPixelSize(16);
  setFont(font);

  form_ = new QWidget(this);
  form_->setObjectName("ClientArea");
  form_->setFixedSize(kClientWidth, kClientHeight);
  form_->setAutoFillBackground(true);
  QPalette purple = form_->palette();
  purple.setColor(QPalette::Window, kPurple);
  purple.setColor(QPalette::WindowText, kBlack);
  form_->setPalette(purple);
  setCentralWidget(form_);

  rp_.Build(form_);
  tp_.Build(form_, rp_.ImagePanel);
  sp_.Build(form_);
  menu_.Build(menuBar());
  menuBar()->setObjectName("MainMenu1");

  // Scan mode's picture: a plain dark field with the program's name.
  QPixmap picture(rp_.Image1->size());
  picture.fill(QColor(0x00, 0x00, 0x40));
  {
    QPainter painter(&picture);
    painter.setPen(kWhite);
    QFont big = font;
    big.setPixelSize(28);
    big.setBold(true);
    painter.setFont(big);
    painter.drawText(picture.rect(), Qt::AlignCenter, "Kestrix");
  }
  rp_.Image1->setPixmap(picture);

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setInterval(kTimer1Ms);
  systemTimer_ = new QTimer(this);
  systemTimer_->setObjectName("SystemTimer");
  systemTimer_->setInterval(kSystemTimerMs);
  timeoutTimer_ = new QTimer(this);
  timeoutTimer_->setObjectName("TimeoutTimer");
  timeoutTimer_->setInterval(kTimeoutTimerMs);
  timeoutTimer2_ = new QTimer(this);
  timeoutTimer2_->setObjectName("TimeoutTimer2");
  timeoutTimer2_->setInterval(kTimeoutTimerMs);

  // The other forms exist for the whole run and are shown on demand.
  timeline_ = new TimelineWindow(this);
  timeline_->setObjectName("TimeLineForm");
  afcDialog_ = new AfcStartDialog(this);
  soundCardDialog_ = new SoundCardDialog(*soundCard_, this);

  layout()->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();
  // Centred on the desktop at creation.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    const QSize size = sizeHint();
    move(desk.center() - QPoint(size.width() / 2, size.height() / 2));
  }
}

void MainWindow::ConnectHandlers() {
  connect(timer1_, &QTimer::timeout, this, &MainWindow::Timer1Timer);
  connect(systemTimer_, &QTimer::timeout, this, &MainWindow::SystemTimerTimer);
  connect(timeoutTimer_, &QTimer::timeout, this, &MainWindow::TimeoutTimerTimer);
  connect(timeoutTimer2_, &QTimer::timeout, this, [this] { loop_->TimeoutTimer2Timer(); });

  // Receive side.
  connect(rp_.StartButton, &QPushButton::clicked, this, &MainWindow::StartButtonClick);
  connect(rp_.StopButton, &QPushButton::clicked, this, &MainWindow::StopButtonClick);
  connect(rp_.TextButton, &QPushButton::clicked, this, &MainWindow::TextButtonClick);
  connect(rp_.ScanButton, &QPushButton::clicked, this, &MainWindow::ScanButtonClick);
  connect(rp_.ManualButton, &QPushButton::clicked, this, &MainWindow::ManualButtonClick);
  connect(rp_.ClearButton, &QPushButton::clicked, this, &MainWindow::ClearButtonClick);
  connect(rp_.FrequencyBar, &QScrollBar::valueChanged, this, &MainWindow::FrequencyBarChange);
  connect(rp_.SpectrumBox, &SpectrumDisplay::mouseDown, this, &MainWindow::SpectrumBoxMouseDown);
  connect(rp_.SpectrumBox, &SpectrumDisplay::markerTextChanged, rp_.MkrLabel, &QLineEdit::setText);
  connect(rp_.SignalGainBar, &QSlider::valueChanged, this, &MainWindow::SignalGainBarChange);
  connect(rp_.CoarseGainTrackBar, &QSlider::valueChanged, this,
          &MainWindow::CoarseGainTrackBarChange);
  connect(rp_.Rx10Btn, &QRadioButton::clicked, this, &MainWindow::Rx10BtnClick);
  connect(rp_.Rx1Btn, &QRadioButton::clicked, this, &MainWindow::Rx1BtnClick);
  connect(rp_.Rx01Btn, &QRadioButton::clicked, this, &MainWindow::Rx01BtnClick);
  connect(rp_.Rx001Btn, &QRadioButton::clicked, this, &MainWindow::Rx001BtnClick);
  connect(rp_.ThresholdBar2, &QScrollBar::valueChanged, this, &MainWindow::ThresholdBar2Change);
  connect(rp_.ThresholdBar, &QScrollBar::valueChanged, this, &MainWindow::ThresholdBarChange);
  connect(rp_.FilterButton, &QPushButton::clicked, this, &MainWindow::FilterButtonClick);
  connect(rp_.RunOnButton, &QPushButton::clicked, this, &MainWindow::RunOnButtonClick);
  connect(rp_.SpaceButton, &QPushButton::clicked, this, &MainWindow::SpaceButtonClick);
  connect(rp_.TxtScrollBtn, &QPushButton::clicked, this, &MainWindow::TxtScrollBtnClick);
  connect(rp_.BlankBtn, &QPushButton::clicked, this, &MainWindow::BlankBtnClick);
  connect(rp_.SquelchBtn, &QPushButton::clicked, this, &MainWindow::SquelchBtnClick);
  connect(rp_.LockWpmBtn, &QPushButton::clicked, this, &MainWindow::LockWpmBtnClick);
  rp_.TextPanel->installEventFilter(this);

  // Transmit side.
  connect(tp_.SyncBtn, &QPushButton::clicked, this, &MainWindow::SyncBtnClick);
  connect(tp_.XmitButton, &QPushButton::clicked, this, &MainWindow::XmitButtonClick);
  ConnectSendHandlers();
  connect(tp_.TuneButton, &QPushButton::clicked, this, &MainWindow::TuneButtonClick);
  connect(tp_.SpeedTrackBar, &QSlider::valueChanged, this, &MainWindow::SpeedTrackBarChange);
  connect(tp_.XmitSpeedUpDn, &UpDown::clicked, this, &MainWindow::XmitSpeedUpDnClick);
  connect(tp_.LoopButton, &QPushButton::clicked, this, &MainWindow::LoopButtonClick);
  connect(tp_.MsgButton13, &QPushButton::clicked, this, &MainWindow::MsgButton13Click);
  connect(tp_.MsgButton14, &QPushButton::clicked, this, &MainWindow::MsgButton14Click);
  connect(tp_.MsgBtn, &QPushButton::clicked, this, &MainWindow::MsgBtnClick);
  connect(tp_.ToneVolume, &QSlider::valueChanged, this, &MainWindow::ToneVolumeChange);
  connect(tp_.QuitButton, &QPushButton::clicked, this, &MainWindow::QuitButtonClick);

  // Dialogs.
  connect(afcDialog_, &AfcStartDialog::frequencySet, this,
          [this](int hz) { rx_->Tone.AfcStartFrequency = hz; });
}

void MainWindow::ConnectMenu() {
  const MainMenu& m = menu_;
  auto on = [this](QAction* item, void (MainWindow::*handler)()) {
    connect(item, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };
  on(m.SaveRcv1, &MainWindow::SaveRcv1Click);
  on(m.SaveXmit1, &MainWindow::SaveXmit1Click);
  on(m.LoadXmit1, &MainWindow::LoadXmit1Click);
  on(m.SaveForm1, &MainWindow::SaveForm1Click);
  on(m.Quit1, &MainWindow::Quit1Click);

  on(m.SelectSoundCard, &MainWindow::SelectSoundCardClick);
  on(m.MicInput, &MainWindow::MicInputClick);
  on(m.RightInput, &MainWindow::RightInputClick);
  on(m.LeftInput, &MainWindow::LeftInputClick);
  on(m.Fade_On, &MainWindow::Fade_OnClick);
  on(m.Fade_Off, &MainWindow::Fade_OffClick);
  on(m.Printer11, &MainWindow::Printer11Click);
  on(m.Printer21, &MainWindow::Printer21Click);
  on(m.None1, &MainWindow::None1Click);
  on(m.On1, &MainWindow::On1Click);
  on(m.Off2, &MainWindow::Off2Click);
  on(m.MsgsON, &MainWindow::MsgsONClick);
  on(m.MsgsOFF, &MainWindow::MsgsOFFClick);

  on(m.Text2, &MainWindow::Text2Click);
  on(m.Manual2, &MainWindow::Manual2Click);
  on(m.Quiet1, &MainWindow::Quiet1Click);
  on(m.Normal2, &MainWindow::Normal2Click);
  on(m.Noisy2, &MainWindow::Noisy2Click);
  on(m.Auto4, &MainWindow::Auto4Click);
  on(m.Manual3, &MainWindow::Manual3Click);
  on(m.FilterOn1, &MainWindow::FilterOn1Click);
  on(m.FilterOff1, &MainWindow::FilterOff1Click);
  on(m.Auto3, &MainWindow::Auto3Click);
  on(m.N25WPM1, &MainWindow::N25WPM1Click);
  on(m.N35wpm1, &MainWindow::N35wpm1Click);
  on(m.N50wpm1, &MainWindow::N50wpm1Click);
  on(m.N50wpm2, &MainWindow::N50wpm2Click);

  on(m.Off1, &MainWindow::Off1Click);
  on(m.Narrow1, &MainWindow::Narrow1Click);
  on(m.Medium1, &MainWindow::Medium1Click);
  on(m.Wide1, &MainWindow::Wide1Click);
  on(m.AFCStartFreq, &MainWindow::AFCStartFreqClick);

  on(m.Upper1, &MainWindow::Upper1Click);
  on(m.Lower1, &MainWindow::Lower1Click);
  on(m.Normal1, &MainWindow::Normal1Click);
  on(m.Bold1, &MainWindow::Bold1Click);
  on(m.SmallFont1, &MainWindow::SmallFont1Click);
  on(m.NormalFont1, &MainWindow::NormalFont1Click);
  on(m.MediumFont1, &MainWindow::MediumFont1Click);
  on(m.LargeFont1, &MainWindow::LargeFont1Click);
  on(m.ScrollingOn1, &MainWindow::ScrollingOn1Click);
  on(m.ScrollingOff1, &MainWindow::ScrollingOff1Click);
  on(m.SpacesOn, &MainWindow::SpacesOnClick);
  on(m.SpacesOff, &MainWindow::SpacesOffClick);
  on(m.Short1, &MainWindow::Short1Click);
  on(m.Medium2, &MainWindow::Medium2Click);
  on(m.Long1, &MainWindow::Long1Click);
  on(m.ProsignEnable, &MainWindow::ProsignEnableClick);
  on(m.ProsignDisable, &MainWindow::ProsignDisableClick);
  on(m.EnableEnglish, &MainWindow::EnableEnglishClick);
  on(m.DisableEnglish, &MainWindow::DisableEnglishClick);

  on(m.Spectrum1, &MainWindow::Spectrum1Click);
  on(m.Waterfall2, &MainWindow::Waterfall2Click);
  on(m.Enable3, &MainWindow::Enable3Click);

  on(m.SoundCard1, &MainWindow::SoundCard1Click);
  on(m.SerialPort1, &MainWindow::SerialPort1Click);
  on(m.PortNumber1, &MainWindow::PortNumber1Click);
  on(m.None2, &MainWindow::None2Click);
  on(m.Normal3, &MainWindow::Normal3Click);
  on(m.Invert2, &MainWindow::Invert2Click);
  on(m.Freq1, &MainWindow::Freq1Click);
  on(m.Freq2, &MainWindow::Freq2Click);
  on(m.Freq3, &MainWindow::Freq3Click);
  on(m.Sinewave1, &MainWindow::Sinewave1Click);
  on(m.Squarewave1, &MainWindow::Squarewave1Click);
  on(m.CharacterConfig, &MainWindow::CharacterConfigClick);
  on(m.SideToneOn, &MainWindow::SideToneOnClick);
  on(m.SideToneOFF, &MainWindow::SideToneOFFClick);
  on(m.F10ScratchPad, &MainWindow::F10ScratchPadClick);
  on(m.ContestWindow, &MainWindow::ContestWindowClick);

  on(m.HelpMenu1, &MainWindow::HelpMenu1Click);
  on(m.About1, &MainWindow::About1Click);
}

// --- Creation ------------------------------------------------------------------------------

void MainWindow::FormCreate() {
  // 1. The capture buffers and the text work buffer belong to the receive loop and to
  //    messagingBuffer_, both sized when they were made.
  // 2. Defaults: the receiver, the transmit state and the pane style start at theirs.
  rx_->Mode = ReceiveMode::kText;
  // The timeline window draws only while it runs; the receiver always hands it the block.
  rx_->TimelineEnabled = true;
  displayHeight_ = kDisplayHeightButton;
  SettingsLoadPending = 1;
  StatsResetPending = 0;
  menu_.ScrollingOn1->setChecked(true);
  tp_.Memo1->setReadOnly(false);
  // 3. The contest buffers from the strip's texts.
  memories_->FillContestBuffers();
  tx_.SetBuffer(19, "599");
  tx_.SetBuffer(20, "tu");
  // 4. Both panes at 12 points.
  for (QPlainTextEdit* pane : {tp_.Memo1, rp_.Memo2}) {
    QFont f = pane->font();
    f.setPointSize(kFontPoints[2]);
    pane->setFont(f);
  }
  // 5.-7. The display bitmaps, the decoder's tables and the analysis filters were made with
  //    the display box and the receiver.
  // 8.
  ForceModeSetup = 0;
  // 9. Layout measures for the mode handlers; the copy pane sits right above the divider.
  SpectrumHeightRef = rp_.FrequencyBar->geometry().top() - rp_.Image1->geometry().top();
  TextPanelHeightRef = rp_.TextPanel->height();
  rp_.TextPanel->move(rp_.TextPanel->x(), rp_.SplitPanel->geometry().top() - TextPanelHeightRef);
  // 10.-11. The help and settings files are used only when they are already there.
  const std::string folder = SettingsFolder();
  HelpPath = ExistingFile(HelpFilePath(folder));
  if (HelpPath.empty() && *KESTRIX_DOC_DIR) {
    HelpPath = ExistingFile(std::string(KESTRIX_DOC_DIR) + "/" + kHelpFileName);
  }
#ifdef KESTRIX_DOC_DIR_FROM_BIN
  if (HelpPath.empty()) {
    // Installed under another prefix than the one built for (a package, cmake --install
    // --prefix): the documentation folder relative to the program's.
    HelpPath = ExistingFile((QCoreApplication::applicationDirPath() + "/" +
                             KESTRIX_DOC_DIR_FROM_BIN + "/" + kHelpFileName)
                                .toStdString());
  }
#endif
  if (HelpPath.empty()) {
    // Running from the build tree: the help file is copied next to the program.
    HelpPath =
        ExistingFile((QCoreApplication::applicationDirPath() + "/" + kHelpFileName).toStdString());
  }
  SettingsPath = ExistingFile(SettingsFilePath(folder));

  // A recording on the command line is an input choice: start a second after showing.
  if (options_.autoStart) loop_->AutoStartPending.store(1, std::memory_order_relaxed);

  timer1_->start();
  systemTimer_->start();
}

// --- Start-up ticks -------------------------------------------------------------------------

void MainWindow::Timer1Timer() {
  timer1_->stop();
  if (SettingsLoadPending == 1) {
    LoadSettings(SettingsPath);
    rx_->Mode = ReceiveMode::kText;
    SettingsLoadPending = 0;
    Text2Click();
  }
  if (StatsResetPending == 1) {
    StatsResetPending = 0;
    rx_->RestartLearning();
  }
}

void MainWindow::LoadSettings(const std::string& path) {
  // Raises ForceModeSetup first, so the mode handler run right after the load redoes its
  // full setup.
  LoadWindowSettings(*this, path);
}

void MainWindow::SaveSettings(const std::string& path) {
  SaveWindowSettings(*this, path);
}

// --- Quitting and destruction -----------------------------------------------------------------

void MainWindow::QuitButtonClick() {
  ++QuitCount;
  // 1. A send in progress stops as SEND stops it; 2. the keying port closes.
  if (tx_.XmitEnable == 3 && tx_.SendActive) txc_->SendBtnClick();
  // Key up and the device closed; PortKind stays as it is for the settings file.
  keying_->ShutDown();
  // 3. Reception stops.
  loop_->StopButtonClick();
  // 4. The application ends; the windows are destroyed after the event loop returns.
  if (seams_.terminate) {
    seams_.terminate();
  } else {
    QCoreApplication::quit();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // FormClose: the late-buffer timer first, then the same sequence as QUIT PROGRAM.
  timeoutTimer_->stop();
  QuitButtonClick();
  event->accept();
}

void MainWindow::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // The timeline's geometry must be current before it is saved.
  timeline_->CaptureGeometry();
  SaveSettings(SettingsPath);
  // The send threads end (each after its current character) and are joined; then the
  // key goes up and the port closes, and the tone output and MIDI port close.
  txc_->Shutdown();
  keying_->ShutDown();
  tone_->Close();  // notes off, the MIDI port and the output device closed
  // The display bitmaps and the capture buffers are released by their owners as the
  // window's members go.
  timer1_->stop();
  systemTimer_->stop();
  timeoutTimer_->stop();
  timeoutTimer2_->stop();
}

void MainWindow::HandleWaveError(int code) {
  loop_->HandleWaveError(code);
}

// --- Menu commands of the shell -----------------------------------------------------------------

void MainWindow::About1Click() {
  const std::string text =
      std::string("Kestrix: Morse code reception and sending for radio amateurs") + "\n" +
      std::string(13, ' ') + "Version 3.81";
  if (seams_.message) {
    seams_.message(kAboutTitle, text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, kAboutTitle, QString::fromStdString(text), QMessageBox::Ok,
                  this);
  box.exec();
}

void MainWindow::HelpMenu1Click() {
  bool opened = false;
  if (!HelpPath.empty()) {
    opened = seams_.openHelp
                 ? seams_.openHelp(HelpPath)
                 : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(HelpPath)));
  }
  if (!opened) ShowMessage("Kestrix", kHelpFailedText);
}

void MainWindow::On1Click() {
  menu_.On1->setChecked(true);
  SetStayOnTop(true);
}

void MainWindow::Off2Click() {
  menu_.Off2->setChecked(true);
  SetStayOnTop(false);
}

void MainWindow::SetStayOnTop(bool on) {
  StayOnTop = on ? 1 : 0;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  // Changing a window flag hides the window; show it again where it was.
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (shown) show();
}

void MainWindow::FormKeyDown(int key) {
  if (key == kVkUp) Spectrum1Click();
  if (key == kVkDown) Waterfall2Click();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // The form takes keys only while none of its controls has the focus (a control that
  // lets an arrow key pass must not switch the display).
  const QWidget* focus = QApplication::focusWidget();
  if (focus && focus != this && focus != form_) {
    QMainWindow::keyPressEvent(event);
    return;
  }
  if (event->key() == Qt::Key_Up) {
    FormKeyDown(kVkUp);
  } else if (event->key() == Qt::Key_Down) {
    FormKeyDown(kVkDown);
  } else {
    QMainWindow::keyPressEvent(event);
    return;
  }
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (Memo1Event(watched, event)) return true;
  if (watched == rp_.TextPanel) {
    // A click focuses the pane by itself (click focus); only the backslash key is ours.
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Backslash && TextPanelKeyDown(kVkBackslash)) return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// --- Host services ------------------------------------------------------------------------------

void MainWindow::ShowMessage(const std::string& title, const std::string& text) {
  if (seams_.message) {
    seams_.message(title, text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::Sleep(int ms) {
  if (seams_.sleep) {
    seams_.sleep(ms);
  } else {
    QThread::msleep(static_cast<unsigned long>(ms));
  }
}

QTimer* MainWindow::LoopTimerFor(LoopTimer timer) const {
  switch (timer) {
    case LoopTimer::kSystemTimer:
      return systemTimer_;
    case LoopTimer::kTimeoutTimer:
      return timeoutTimer_;
    case LoopTimer::kTimeoutTimer2:
      break;
  }
  return timeoutTimer2_;
}

}  // namespace kestrix::shell
