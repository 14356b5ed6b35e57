#include "shell/tone_menu.h"

#include <QMetaObject>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>
#include <functional>
#include <iostream>

#include "platform/portaudio_capture.h"
#include "platform/portaudio_playback.h"
#include "platform/wav_playback.h"
#include "shell/main_window.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {

namespace {

constexpr int kDefaultOutputDevice = 0;  // the system's default output comes first

// Runs `f` on the window's thread: at once there, queued (without waiting) from a worker.
void OnGui(MainWindow& w, std::function<void()> f) {
  if (QThread::currentThread() == w.thread()) {
    f();
  } else {
    QMetaObject::invokeMethod(&w, std::move(f), Qt::QueuedConnection);
  }
}

}  // namespace

// --- What the keyer asks of the window ------------------------------------------------

class ToneMenu::Host final : public transmit::ToneHost {
 public:
  explicit Host(MainWindow& w) : w_(w) {}
  void ShowMessage(const std::string& title, const std::string& text) override {
    OnGui(w_, [w = &w_, title, text] { w->ShowMessage(title, text); });
  }
  void HandleWaveError(int code) override {
    OnGui(w_, [w = &w_, code] { w->HandleWaveError(code); });
  }

 private:
  MainWindow& w_;
};

class ToneMenu::Watchdog final : public transmit::ToneWatchdog {
 public:
  explicit Watchdog(MainWindow& w) : w_(w) {}
  void ArmWatchdog() override {
    w_.Loop().WaveWatchdog.store(0, std::memory_order_relaxed);
    backstop_.store(transmit::DeadlineWatchdog::SteadyMs(nullptr) + 2 * transmit::kToneWatchdogMs,
                    std::memory_order_relaxed);
    OnGui(w_, [w = &w_] { w->Timers().TimeoutTimer2->start(); });
  }
  void DisarmWatchdog() override {
    OnGui(w_, [w = &w_] { w->Timers().TimeoutTimer2->stop(); });
  }
  bool WatchdogFired() override {
    return w_.Loop().WaveWatchdog.load(std::memory_order_relaxed) != 0 ||
           transmit::DeadlineWatchdog::SteadyMs(nullptr) >=
               backstop_.load(std::memory_order_relaxed);
  }

 private:
  MainWindow& w_;
  std::atomic<int64_t> backstop_{0};
};

// --- The serial-port tone dialog ---------------------------------------------------------

SerialPortFreqDialog::SerialPortFreqDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("SerialPortFreqForm");
  setWindowTitle("Serial Port Sound Frequency");
  setModal(false);
  ToneFreqBar2 = new QSlider(Qt::Horizontal, this);
  ToneFreqBar2->setObjectName("ToneFreqBar2");
  ToneFreqBar2->setRange(50, 100);
  ToneFreqBar2->setValue(75);
  ToneFreqBar2->setPageStep(1);
  auto* box = new QVBoxLayout(this);
  box->addWidget(ToneFreqBar2);
  setFixedSize(260, sizeHint().height());
}

std::unique_ptr<PlaybackDevice> MakeWindowPlayback(CaptureDevice& capture) {
  if (dynamic_cast<PortAudioCapture*>(&capture) != nullptr) {
    return std::make_unique<PortAudioPlayback>();
  }
  return std::make_unique<WavPlayback>("", false);
}

// --- ToneMenu ----------------------------------------------------------------------------------

ToneMenu::ToneMenu(MainWindow& window, std::unique_ptr<PlaybackDevice> playback)
    : w_(window),
      playback_(playback ? std::move(playback) : MakeWindowPlayback(window.Loop().Device())),
      host_(std::make_unique<Host>(window)),
      watchdog_(std::make_unique<Watchdog>(window)),
      midiOut_(std::make_unique<platform::MidiOut>(std::cerr)) {
  midi_ = midiOut_.get();
  // The port is there from the start, so a synthesiser can be connected before the first
  // note.
  midiOut_->Open();
  dialog_ = new SerialPortFreqDialog(&window);
  output_ =
      std::make_unique<transmit::ToneOutput>(*playback_, transmit::SendTable(), window.Tx().Timing,
                                             waiter_, *watchdog_, *host_, std::cerr);
  SyncFromSettings();
  QObject::connect(window.TransmitControls().ToneFreqBar, &QSlider::valueChanged, &window,
                   [this] { ToneFreqBarChange(); });
  QObject::connect(dialog_->ToneFreqBar2, &QSlider::valueChanged, &window,
                   [this] { ToneFreqBar2Change(); });
  // The side-tone switch and the output device have their handlers elsewhere; connected
  // after them, this hands a user's choice to the keyer at once (a settings load is
  // handed over at START).
  const MainMenu& m = window.Menu();
  for (QAction* item : {m.SideToneOn, m.SideToneOFF, m.SoundCard1, m.SerialPort1}) {
    QObject::connect(item, &QAction::triggered, &window, [this] { SyncFromSettings(); });
  }
}

ToneMenu::~ToneMenu() {
  Close();
}

void ToneMenu::SyncFromSettings() {
  const TransmitState& tx = w_.Tx();
  output_->SideToneEnabled.store(tx.SideToneOn == 1 ? 1 : 0);
  output_->OutputDevice.store(tx.OutputDevice);
  output_->SideToneFrequency.store(tx.ToneFrequency);
  output_->ToneWaveform.store(tx.ToneWaveform);
}

void ToneMenu::SetFrequency(float hz) {
  w_.Tx().ToneFrequency = hz;
  output_->SideToneFrequency.store(hz);
}

void ToneMenu::StoreToneFrequency(float hz) {
  SetFrequency(hz);
}

void ToneMenu::Freq1Click() {
  w_.Menu().Freq1->setChecked(true);
  SetFrequency(600.0f);
}

void ToneMenu::Freq2Click() {
  w_.Menu().Freq2->setChecked(true);
  SetFrequency(750.0f);
}

void ToneMenu::Freq3Click() {
  w_.Menu().Freq3->setChecked(true);
  SetFrequency(1000.0f);
}

void ToneMenu::Sinewave1Click() {
  w_.Menu().Sinewave1->setChecked(true);
  w_.Tx().ToneWaveform = 0;
  output_->ToneWaveform.store(0);
}

void ToneMenu::Squarewave1Click() {
  w_.Menu().Squarewave1->setChecked(true);
  w_.Tx().ToneWaveform = 1;
  output_->ToneWaveform.store(1);
}

void ToneMenu::ToneFreqBarChange() {
  QSlider* bar = w_.TransmitControls().ToneFreqBar;
  const QSignalBlocker quiet(bar);
  // The form's bar follows the dialog's; with the sound card it goes back to the note.
  bar->setValue(dialog_->ToneFreqBar2->value());
  if (w_.Tx().OutputDevice == 0) {
    bar->setValue(currentNote_);
    return;
  }
  MoveNote(bar->value());
}

void ToneMenu::ToneFreqBar2Change() {
  if (w_.Tx().OutputDevice == 0) {
    w_.ShowMessage(kSidetoneErrorTitle, kSidetoneErrorText);
    return;
  }
  MoveNote(dialog_->ToneFreqBar2->value());
}

void ToneMenu::MoveNote(int position) {
  TransmitState& tx = w_.Tx();
  platform::MidiNoteOff(*midi_, currentNote_);
  currentNote_ = static_cast<uint8_t>(position);
  tx.SerialToneNote = position;
  if (tx.TuneActive == 1) {
    if (tx.SideToneOn == 1) {
      platform::MidiNoteOn(*midi_, currentNote_, platform::kSideToneVelocity);
    }
    tx.KeyState = transmit::kKeyDown;
    if (keyLine_ != nullptr) keyLine_->SetKeyLine(transmit::kKeyDown);
    SetCaption(w_.TransmitControls().TuneButton, "ON", kRed);
  }
  w_.TransmitControls().Memo1->setFocus();
}

void ToneMenu::SetToneFreqBar2(int32_t position) {
  {
    const QSignalBlocker quiet(dialog_->ToneFreqBar2);
    dialog_->ToneFreqBar2->setValue(position);  // the bar keeps it within 50..100
  }
  currentNote_ = static_cast<uint8_t>(dialog_->ToneFreqBar2->value());
  w_.Tx().SerialToneNote = currentNote_;
}

void ToneMenu::InitToneOutput() {
  SyncFromSettings();
  output_->OpenToneOutput(kDefaultOutputDevice);
}

void ToneMenu::ReceiverStopped() {
  platform::MidiNoteOff(*midi_, currentNote_);
  midi_->AllNotesOff();
}

void ToneMenu::Close() {
  if (midiOut_) midiOut_->Close();
  if (output_) output_->Close();
}

}  // namespace kestrix::shell
