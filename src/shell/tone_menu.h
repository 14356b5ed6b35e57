// The window's tone output: the Sound Frequency and Sound Waveform menus, the serial-port
// side-tone bars (ToneFreqBar on the form, ToneFreqBar2 on the "Serial Port Sound
// Frequency" dialog) with their MIDI notes, and the sound-card keyer the send threads key
// through (Output(), for ToneKeyers).
//
// The keyer runs on a send thread. What it asks of the window is handed to the GUI thread
// without waiting: a failure's message box and HandleWaveError, and the watchdog timer
// TimeoutTimer2 (armed and stopped by queued calls; a deadline of twice its interval backs
// it up should the GUI thread be blocked).
//
// Threads: every method on the GUI thread.
#pragma once

#include <QDialog>
#include <QSlider>
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/midi_out.h"
#include "platform/monotonic_wait.h"
#include "platform/playback_device.h"
#include "transmit/key_line.h"
#include "transmit/tone_output.h"

namespace kestrix {
class CaptureDevice;
}

namespace kestrix::shell {

class MainWindow;

inline constexpr const char* kSidetoneErrorTitle = "Sidetone Frequency Error";
inline constexpr const char* kSidetoneErrorText =
    "Sets output tone frequency only when ouput device = Serial Port";
inline constexpr uint8_t kStartupSideToneNote = 96;

// TSerialPortFreqForm: the dialog of the serial-port tone bar; no menu opens it.
class SerialPortFreqDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SerialPortFreqDialog(QWidget* parent);
  QSlider* ToneFreqBar2 = nullptr;  // 50..100, 75
};

// The sound output the window plays the tone on: the default sound card when reception
// listens to a sound card, else (a recording, a test's device) a silent stand-in.
std::unique_ptr<PlaybackDevice> MakeWindowPlayback(CaptureDevice& capture);

class ToneMenu {
 public:
  // `playback` null: MakeWindowPlayback for the window's capture device.
  ToneMenu(MainWindow& window, std::unique_ptr<PlaybackDevice> playback);
  ~ToneMenu();
  ToneMenu(const ToneMenu&) = delete;
  ToneMenu& operator=(const ToneMenu&) = delete;

  // --- Menu handlers ------------------------------------------------------------------
  void Freq1Click();  // "600 hz"
  void Freq2Click();  // "750 Hz"
  void Freq3Click();  // "1000 Hz"
  void Sinewave1Click();
  void Squarewave1Click();
  // --- Bars ---------------------------------------------------------------------------
  void ToneFreqBarChange();
  void ToneFreqBar2Change();
  // The settings file's field 5: the dialog's bar, copied into the current note.
  void SetToneFreqBar2(int32_t position);
  // The settings file's field 65 before its menu item (any value, none checked).
  void StoreToneFrequency(float hz);

  // --- Life cycle -----------------------------------------------------------------------
  // START: OpenToneOutput on the default output device (it stays open).
  void InitToneOutput();
  // STOP: the current note off, and every note on the side tone's channel.
  void ReceiverStopped();
  // Destruction: notes off, MIDI closed, the output device closed.
  void Close();
  // Copies the transmit settings the keyer reads (side tone, output device, frequency,
  // waveform) into its atomics. The side-tone and output-device handlers call it.
  void SyncFromSettings();

  // --- Seams and state -------------------------------------------------------------------
  transmit::ToneOutput& Output() { return *output_; }
  PlaybackDevice& Playback() { return *playback_; }
  SerialPortFreqDialog& SerialPortFreqForm() { return *dialog_; }
  // The MIDI side tone (a test's recorder instead of the sequencer).
  void SetMidi(platform::MidiSink* midi) { midi_ = midi != nullptr ? midi : midiOut_.get(); }
  // The keying line that Tune holds down (none until a port is open).
  void SetKeyLine(transmit::KeyLine* line) { keyLine_ = line; }
  uint8_t CurrentNote() const { return currentNote_; }

 private:
  class Host;
  class Watchdog;
  // Steps 3 and 4 of a bar change: the note moves to `position`, Tune keeps the key down.
  void MoveNote(int position);
  void SetFrequency(float hz);

  MainWindow& w_;
  std::unique_ptr<PlaybackDevice> playback_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<Watchdog> watchdog_;
  platform::MonotonicWaiter waiter_;
  std::unique_ptr<platform::MidiOut> midiOut_;
  platform::MidiSink* midi_ = nullptr;
  transmit::KeyLine* keyLine_ = nullptr;
  SerialPortFreqDialog* dialog_ = nullptr;
  std::unique_ptr<transmit::ToneOutput> output_;
  uint8_t currentNote_ = kStartupSideToneNote;
};

}  // namespace kestrix::shell
