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
#include "shell/band_map_link.h"
#include "shell/decoder_choice.h"
#include "shell/keying_panel.h"
#include "shell/layout.h"
#include "shell/memories_panel.h"
#include "shell/partner_link.h"
#include "shell/receive_side.h"
#include "shell/settings_bridge.h"
#include "shell/settings_paths.h"
#include "shell/sound_card_dialog.h"
#include "shell/text_outlets.h"
#include "shell/tone_menu.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"
#include "shell/window_keyers.h"
#include "shell/window_transmit_host.h"
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
  bool SettingsLoadPending() override { return w_.receive_->Controller().SettingsLoadPending(); }
  void ShowStarted(ReceiveMode mode) override { w_.receive_->ShowStarted(mode); }
  void StartValuesApplied() override { w_.RetuneToTone(); }
  void ClearDisplayBitmaps(int /*width*/) override { w_.receive_->ClearDisplayBitmaps(); }
  void ClearSpectrumBitmap(int width) override { w_.receive_->ClearSpectrumBitmap(width); }
  void ShowStopped() override { w_.receive_->ShowStopped(); }
  void InitToneOutput() override { w_.tone_->InitToneOutput(); }
  void StopTransmit() override {
    w_.tone_->ReceiverStopped();  // no side-tone note outlives reception
    w_.StopTransmit();
  }
  void InputChannelChecked(ChannelMode mode) override { w_.receive_->InputChannelChecked(mode); }

 private:
  MainWindow& w_;
};

MainWindow::MainWindow(std::unique_ptr<CaptureDevice> device, const WindowOptions& options,
                       const WindowSeams& seams)
    : device_(std::move(device)), options_(options), seams_(seams) {
  host_ = std::make_unique<Host>(*this);
  gate_ = std::make_unique<DecoderGate>(text_);
  rx_ = std::make_unique<Receiver>(*gate_);
  loop_ = std::make_unique<ReceiveLoop>(*rx_, *device_, *host_, &tx_.SendingState);
  soundCard_ = std::make_unique<SoundCardSelect>(*loop_);

  BuildForm();
  receive_ = new ReceiveSide(
      ReceiveParts{rp_, tp_, sp_, menu_, *rx_, *loop_, tx_, *timeline_, *afcDialog_,
                   *soundCardDialog_, *timers_.Timer1, *timers_.SystemTimer},
      [this] { LoadSettings(files_.SettingsPath); }, this);
  // Decoded text: the pane first, then partner programs.
  paneText_ = std::make_unique<ReceivePaneText>(rp_);
  partnerText_ = std::make_unique<PartnerText>(tx_, rp_, [this] { return partner_.get(); });
  text_.Subscribe(*paneText_);
  text_.Subscribe(*partnerText_);
  settings_ = std::make_unique<WindowSettings>(*this);
  keying_ = std::make_unique<KeyingPanel>(*this, seams_.keyDevice, seams_.serialPorts);
  CreateTransmitter();
  ConnectHandlers();
  ConnectMenu();
  tone_ = std::make_unique<ToneMenu>(*this, seams_.playback ? seams_.playback() : nullptr);
  memories_ = new MemoriesPanel(*this);
  ConnectTransmitMenus();
  // The parts of the transmitter meet: sound-card keying and Tune's note on the tone
  // output and the keying port; memories start sends through the controller, and F1..F10
  // press the memory buttons.
  keyers_->SetToneOutput(&tone_->Output());
  tone_->SetKeyLine(&keying_->Port());
  memories_->SetSendControl(*txc_);
  txHost_->SetMemoryHandlers([this](int n) { memories_->MemoryKeyClick(n); },
                             [this](int op) { memories_->ApplyMemoryOperation(op); });
  FormCreate();
  bandMap_ = std::make_unique<BandMapLink>(*this, options_.bandMap);
  decoder_ =
      new DecoderChoice(DecoderParts{menu_, rp_, sp_, *rx_, *loop_, text_, *gate_,
                                     [this] { return bandMap_ ? bandMap_->Engine() : nullptr; }},
                        SettingsFolder(), options_.softQueueBlocks, this);
  decoder_->ChooseAtStart(options_.decoder);
  receive_->SetAfterBlock([this] { decoder_->ShowStatus(); });
  if (options_.servePartners) {
    partner_ = std::make_unique<PartnerLink>(
        [this](const std::string& title, const std::string& text) { ShowMessage(title, text); },
        tx_.MessagingOn, tx_.PartnerConnected);
    partner_->Start(options_.partnerSocket);
  }
}

MainWindow::~MainWindow() {
  FormDestroy();
  bandMap_.reset();
  receive_->SetAfterBlock(nullptr);
  delete decoder_;  // its worker stops before the receive loop goes
  decoder_ = nullptr;
  // Every send thread is joined while the widgets and the state they use still exist.
  txc_.reset();
  // The receiver outlives the pane's subscription and the receive side's read-outs.
  text_.Unsubscribe(*paneText_);
  text_.Unsubscribe(*partnerText_);
  delete receive_;
  receive_ = nullptr;
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

  auto timer = [this](const char* name, int ms) {
    auto* t = new QTimer(this);
    t->setObjectName(name);
    t->setInterval(ms);
    return t;
  };
  timers_.Timer1 = timer("Timer1", kTimer1Ms);
  timers_.SystemTimer = timer("SystemTimer", kSystemTimerMs);
  timers_.TimeoutTimer = timer("TimeoutTimer", kTimeoutTimerMs);
  timers_.TimeoutTimer2 = timer("TimeoutTimer2", kTimeoutTimerMs);

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
  ReceiveSide& r = *receive_;
  connect(timers_.Timer1, &QTimer::timeout, this, &MainWindow::Timer1Timer);
  connect(timers_.SystemTimer, &QTimer::timeout, &r, &ReceiveSide::SystemTimerTimer);
  connect(timers_.TimeoutTimer, &QTimer::timeout, &r, &ReceiveSide::TimeoutTimerTimer);
  connect(timers_.TimeoutTimer2, &QTimer::timeout, this, [this] { loop_->TimeoutTimer2Timer(); });

  // Receive side.
  r.Connect();
  rp_.TextPanel->installEventFilter(this);

  // Transmit side.
  connect(tp_.SyncBtn, &QPushButton::clicked, this, [this] {
    keying_->SyncBtnClick(rx_->Timing.RawWpm);
    receive_->FocusTextPane();
  });
  connect(tp_.XmitButton, &QPushButton::clicked, this, [this] { txc_->XmitButtonClick(); });
  ConnectSendHandlers();
  KeyingPanel& k = *keying_;
  connect(tp_.TuneButton, &QPushButton::clicked, this, [&k] { k.TuneButtonClick(); });
  connect(tp_.SpeedTrackBar, &QSlider::valueChanged, this, [&k] { k.SpeedTrackBarChange(); });
  connect(tp_.XmitSpeedUpDn, &UpDown::clicked, this, [&k] { k.XmitSpeedUpDnClick(); });
  connect(tp_.LoopButton, &QPushButton::clicked, this, [this] { txc_->LoopButtonClick(); });
  connect(tp_.MsgButton13, &QPushButton::clicked, this, [this] { txc_->MsgButton13Click(); });
  connect(tp_.MsgButton14, &QPushButton::clicked, this, [this] { txc_->MsgButton14Click(); });
  connect(tp_.MsgBtn, &QPushButton::clicked, this, [] { QCoreApplication::processEvents(); });
  connect(tp_.ToneVolume, &QSlider::valueChanged, this, [this] { txc_->Memo1Click(); });
  connect(tp_.QuitButton, &QPushButton::clicked, this, &MainWindow::QuitButtonClick);
}

void MainWindow::ConnectMenu() {
  const MainMenu& m = menu_;
  auto on = [this](QAction* item, auto target, auto handler) {
    connect(item, &QAction::triggered, this, [target, handler] { (target->*handler)(); });
  };
  on(m.SaveRcv1, this, &MainWindow::SaveRcv1Click);
  on(m.SaveXmit1, this, &MainWindow::SaveXmit1Click);
  on(m.LoadXmit1, this, &MainWindow::LoadXmit1Click);
  on(m.SaveForm1, this, &MainWindow::SaveForm1Click);
  on(m.Quit1, this, &MainWindow::QuitButtonClick);
  on(m.On1, this, &MainWindow::On1Click);
  on(m.Off2, this, &MainWindow::Off2Click);
  on(m.HelpMenu1, this, &MainWindow::HelpMenu1Click);
  on(m.About1, this, &MainWindow::About1Click);

  KeyingPanel* k = keying_.get();
  on(m.Printer11, k, &KeyingPanel::Printer11Click);
  on(m.Printer21, k, &KeyingPanel::Printer21Click);
  on(m.None1, k, &KeyingPanel::None1Click);
  on(m.SoundCard1, k, &KeyingPanel::SoundCard1Click);
  on(m.SerialPort1, k, &KeyingPanel::SerialPort1Click);
  on(m.PortNumber1, k, &KeyingPanel::PortNumber1Click);
  on(m.None2, k, &KeyingPanel::None2Click);
  on(m.Normal3, k, &KeyingPanel::Normal3Click);
  on(m.Invert2, k, &KeyingPanel::Invert2Click);
  on(m.CharacterConfig, k, &KeyingPanel::CharacterConfigClick);
  on(m.SideToneOn, k, &KeyingPanel::SideToneOnClick);
  on(m.SideToneOFF, k, &KeyingPanel::SideToneOFFClick);
}

// The tone keyer's and the memories' menu items, once those parts exist.
void MainWindow::ConnectTransmitMenus() {
  const MainMenu& m = menu_;
  auto on = [this](QAction* item, auto target, auto handler) {
    connect(item, &QAction::triggered, this, [target, handler] { (target->*handler)(); });
  };
  ToneMenu* t = tone_.get();
  on(m.Freq1, t, &ToneMenu::Freq1Click);
  on(m.Freq2, t, &ToneMenu::Freq2Click);
  on(m.Freq3, t, &ToneMenu::Freq3Click);
  on(m.Sinewave1, t, &ToneMenu::Sinewave1Click);
  on(m.Squarewave1, t, &ToneMenu::Squarewave1Click);
  on(m.F10ScratchPad, memories_, &MemoriesPanel::F10ScratchPadClick);
  on(m.ContestWindow, memories_, &MemoriesPanel::ContestWindowClick);
}

// --- Creation ------------------------------------------------------------------------------

void MainWindow::FormCreate() {
  // 1. The capture buffers and the text work buffer belong to the receive loop and to
  //    messagingBuffer_, both sized when they were made.
  // 2. Defaults: the receiver, the transmit state and the pane style start at theirs.
  receive_->Controller().StartDefaults();
  // The timeline window draws only while it runs; the receiver always hands it the block.
  rx_->TimelineEnabled = true;
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
  // 8. (ForceModeSetup is cleared by the controller's defaults.)
  // 9. Layout measures for the mode handlers; the copy pane sits right above the divider.
  receive_->MeasureLayout();
  // 10.-11. The help and settings files are used only when they are already there.
  const std::string folder = SettingsFolder();
  files_.HelpPath = ExistingFile(HelpFilePath(folder));
  if (files_.HelpPath.empty() && *KESTRIX_DOC_DIR) {
    files_.HelpPath = ExistingFile(std::string(KESTRIX_DOC_DIR) + "/" + kHelpFileName);
  }
#ifdef KESTRIX_DOC_DIR_FROM_BIN
  if (files_.HelpPath.empty()) {
    // Installed under another prefix than the one built for (a package, cmake --install
    // --prefix): the documentation folder relative to the program's.
    files_.HelpPath = ExistingFile((QCoreApplication::applicationDirPath() + "/" +
                                    KESTRIX_DOC_DIR_FROM_BIN + "/" + kHelpFileName)
                                       .toStdString());
  }
#endif
  if (files_.HelpPath.empty()) {
    // Running from the build tree: the help file is copied next to the program.
    files_.HelpPath =
        ExistingFile((QCoreApplication::applicationDirPath() + "/" + kHelpFileName).toStdString());
  }
  files_.SettingsPath = ExistingFile(SettingsFilePath(folder));

  // A recording on the command line is an input choice: start a second after showing.
  if (options_.autoStart) loop_->AutoStartPending.store(1, std::memory_order_relaxed);

  timers_.Timer1->start();
  timers_.SystemTimer->start();
}

// --- Start-up ticks -------------------------------------------------------------------------

void MainWindow::Timer1Timer() {
  timers_.Timer1->stop();
  receive_->Controller().StartupTick();
}

void MainWindow::LoadSettings(const std::string& path) {
  // Raises ForceModeSetup first, so the mode handler run right after the load redoes its
  // full setup.
  settings_->Load(path);
}

void MainWindow::SaveSettings(const std::string& path) {
  settings_->Save(path);
}

// --- Quitting and destruction -----------------------------------------------------------------

void MainWindow::QuitButtonClick() {
  ++quitCount_;
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
  timers_.TimeoutTimer->stop();
  QuitButtonClick();
  event->accept();
}

void MainWindow::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  // The band map's worker stops and is joined first; it saves only its own file.
  if (bandMap_) bandMap_->Close();
  // The timeline's geometry must be current before it is saved.
  timeline_->CaptureGeometry();
  SaveSettings(files_.SettingsPath);
  // The send threads end (each after its current character) and are joined; then the
  // key goes up and the port closes, and the tone output and MIDI port close.
  txc_->Shutdown();
  keying_->ShutDown();
  tone_->Close();  // notes off, the MIDI port and the output device closed
  // The display bitmaps and the capture buffers are released by their owners as the
  // window's members go.
  for (QTimer* t :
       {timers_.Timer1, timers_.SystemTimer, timers_.TimeoutTimer, timers_.TimeoutTimer2}) {
    t->stop();
  }
}

void MainWindow::RetuneToTone() {
  if (options_.tunePosition > 0) receive_->SpectrumBoxMouseDown(options_.tunePosition);
}

void MainWindow::StopTransmit() {
  // Sends end at their next character; the key goes up now (Tune keeps its flag and
  // caption).
  txc_->StopSending();
  tx_.KeyState = 0;
  keying_->ReleaseLine();
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
  if (!files_.HelpPath.empty()) {
    opened = seams_.openHelp ? seams_.openHelp(files_.HelpPath)
                             : QDesktopServices::openUrl(
                                   QUrl::fromLocalFile(QString::fromStdString(files_.HelpPath)));
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
  stayOnTop_ = on;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
  // Changing a window flag hides the window; show it again where it was.
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (shown) show();
}

void MainWindow::FormKeyDown(int key) {
  if (key == kVkUp) receive_->Spectrum1Click();
  if (key == kVkDown) receive_->Waterfall2Click();
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
      if (key->key() == Qt::Key_Backslash && receive_->TextPanelKeyDown(kVkBackslash)) return true;
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
      return timers_.SystemTimer;
    case LoopTimer::kTimeoutTimer:
      return timers_.TimeoutTimer;
    case LoopTimer::kTimeoutTimer2:
      break;
  }
  return timers_.TimeoutTimer2;
}

}  // namespace kestrix::shell
