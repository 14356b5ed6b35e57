// The window's tone output: the frequency and waveform menus, the serial-port tone bars
// with their MIDI notes and messages, the output device opened at START, and a keyer on a
// worker thread reaching the window (messages, quit, the TimeoutTimer2 watchdog).
#include <QAction>
#include <QElapsedTimer>
#include <QSlider>
#include <thread>

#include "fake_line.h"
#include "fake_playback.h"
#include "platform/midi_out.h"
#include "shell/tone_menu.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class RecordingMidi final : public platform::MidiSink {
 public:
  void ShortMessage(uint32_t packed) override { sent.push_back(packed); }
  void AllNotesOff() override { sent.push_back(0); }
  std::vector<uint32_t> sent;
};

constexpr uint32_t NoteOn(uint8_t note) {
  return platform::PackShortMessage(0x90, note, 127);
}
constexpr uint32_t NoteOff(uint8_t note) {
  return platform::PackShortMessage(0x80, note, 0);
}

class ToneMenuTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    playback_ = [this] {
      auto d = std::make_unique<test::FakePlayback>();
      fake_ = d.get();
      fake_->mode = test::FakePlayback::Mode::kInstant;
      return d;
    };
    Start();
    W().Tone().SetMidi(&midi_);
    fake_->headerA = &W().Tone().Output().Header(0);
  }
  void TearDown() override {
    Destroy();
    WindowTest::TearDown();
  }
  QSlider* Bar2() { return W().Tone().SerialPortFreqForm().ToneFreqBar2; }
  QSlider* Bar() { return Find<QSlider>("ToneFreqBar"); }

  test::FakePlayback* fake_ = nullptr;
  RecordingMidi midi_;
};

TEST_F(ToneMenuTest, FrequencyAndWaveformItemsSetTheKeyersTone) {
  struct Item {
    void (ToneMenu::*handler)();
    const char* checked;
    float hz;
    int32_t waveform;
  };
  const Item items[] = {{&ToneMenu::Freq1Click, "Freq1", 600.0f, -1},
                        {&ToneMenu::Freq3Click, "Freq3", 1000.0f, -1},
                        {&ToneMenu::Freq2Click, "Freq2", 750.0f, -1},
                        {&ToneMenu::Squarewave1Click, "Squarewave1", 0, 1},
                        {&ToneMenu::Sinewave1Click, "Sinewave1", 0, 0}};
  for (const Item& i : items) {
    SCOPED_TRACE(i.checked);
    (W().Tone().*i.handler)();
    EXPECT_TRUE(Find<QAction>(i.checked)->isChecked());
    if (i.waveform < 0) {
      EXPECT_EQ(W().Tx().ToneFrequency, i.hz);
      EXPECT_EQ(W().Tone().Output().SideToneFrequency.load(), i.hz);
      for (const char* other : {"Freq1", "Freq2", "Freq3"}) {
        if (std::string(other) != i.checked) {
          EXPECT_FALSE(Find<QAction>(other)->isChecked());
        }
      }
    } else {
      EXPECT_EQ(W().Tx().ToneWaveform, i.waveform);
      EXPECT_EQ(W().Tone().Output().ToneWaveform.load(), i.waveform);
    }
  }
  // A stored frequency without an item still reaches the keyer.
  W().Tone().StoreToneFrequency(800.0f);
  EXPECT_EQ(W().Tone().Output().SideToneFrequency.load(), 800.0f);
}

TEST_F(ToneMenuTest, SerialPortBarsMoveTheMidiNoteAndKeepTuneKeyed) {
  test::FakeClock clock;
  test::FakeKeyLine line(clock);
  W().Tone().SetKeyLine(&line);
  EXPECT_EQ(W().Tone().CurrentNote(), kStartupSideToneNote);

  // Sound card: the dialog's bar refuses, the form's bar springs back to the note.
  W().Tx().OutputDevice = 0;
  Bar2()->setValue(80);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, kSidetoneErrorTitle);
  EXPECT_EQ(messages_[0].text, kSidetoneErrorText);
  Bar()->setValue(60);
  EXPECT_EQ(Bar()->value(), kStartupSideToneNote);
  EXPECT_TRUE(midi_.sent.empty());

  // Serial port with Tune on and the side tone on: old note off, new note on, key down.
  W().Tx().OutputDevice = 1;
  W().Tx().TuneActive = 1;
  W().Tx().SideToneOn = 1;
  Bar2()->setValue(70);
  EXPECT_EQ(midi_.sent, (std::vector<uint32_t>{NoteOff(kStartupSideToneNote), NoteOn(70)}));
  EXPECT_EQ(W().Tone().CurrentNote(), 70);
  EXPECT_EQ(W().Tx().SerialToneNote, 70);
  EXPECT_EQ(W().Tx().KeyState.load(), transmit::kKeyDown);
  EXPECT_EQ(line.Edges().back().state, transmit::kKeyDown);
  EXPECT_EQ(Caption(Find<QPushButton>("TuneButton")), "ON");
  EXPECT_EQ(Colour(Find<QPushButton>("TuneButton")), kRed);

  // The form's bar takes the dialog's position, whatever it was moved to; Tune off and
  // side tone off send only the note off.
  W().Tx().TuneActive = 0;
  midi_.sent.clear();
  Bar()->setValue(55);
  EXPECT_EQ(Bar()->value(), 70);
  EXPECT_EQ(midi_.sent, (std::vector<uint32_t>{NoteOff(70)}));
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(ToneMenuTest, SettingsNoteAndStopSilenceTheSideTone) {
  W().Tone().SetToneFreqBar2(60);
  EXPECT_EQ(Bar2()->value(), 60);
  EXPECT_EQ(W().Tone().CurrentNote(), 60);
  W().Tone().SetToneFreqBar2(120);
  EXPECT_EQ(W().Tone().CurrentNote(), 100) << "the bar's range holds";
  EXPECT_TRUE(midi_.sent.empty()) << "loading sends no note";
  W().Receive().StopButtonClick();
  EXPECT_EQ(midi_.sent, (std::vector<uint32_t>{NoteOff(100), 0u}));
}

TEST_F(ToneMenuTest, SideToneAndOutputChoicesReachTheKeyer) {
  transmit::ToneOutput& out = W().Tone().Output();
  Find<QAction>("SoundCard1")->trigger();
  Find<QAction>("SideToneOn")->trigger();
  EXPECT_EQ(out.OutputDevice.load(), 0);
  EXPECT_EQ(out.SideToneEnabled.load(), 1);
  Find<QAction>("SerialPort1")->trigger();
  Find<QAction>("SideToneOFF")->trigger();
  EXPECT_NE(out.OutputDevice.load(), 0);
  EXPECT_EQ(out.SideToneEnabled.load(), 0);
}

TEST_F(ToneMenuTest, StartOpensTheOutputOnce) {
  W().Tone().InitToneOutput();
  W().Tone().InitToneOutput();
  EXPECT_TRUE(W().Tone().Output().IsOpen());
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{"QueryFormat", "Open", "SetVolume"}));
  EXPECT_EQ(fake_->volume, kFullVolume);
}

class ToneFailureTest : public ToneMenuTest {};

TEST_F(ToneFailureTest, AFailedOpenShowsItsMessageAndQuits) {
  Destroy();
  playback_ = [this] {
    auto d = std::make_unique<test::FakePlayback>();
    fake_ = d.get();
    fake_->failOn["Open"] = 1;
    return d;
  };
  Start();
  W().Tone().InitToneOutput();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "Wave Device Message");
  EXPECT_EQ(messages_[0].text, "Error Opening Output wave device");
  EXPECT_EQ(terminated_, 1);
}

// Runs `work` on a worker, as a send thread keys, while this thread serves the window.
template <typename F>
void OnWorker(F work) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  QElapsedTimer guard;
  guard.start();
  while (!done && guard.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  worker.join();
  QCoreApplication::processEvents();
}

TEST_F(ToneFailureTest, AFailureOnASendThreadReachesTheWindow) {
  W().Keying().SoundCard1Click();
  W().Tone().InitToneOutput();  // START hands the chosen output device to the keyer
  fake_->failOn["Write"] = 2;
  OnWorker([this] { W().Tone().Output().SoundKeyChar('E', 1); });
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Error writing to the output device b");
  EXPECT_EQ(terminated_, 1);
}

TEST_F(ToneFailureTest, TheWatchdogIsTheWindowsTimeoutTimer2) {
  W().Keying().SoundCard1Click();
  W().Tone().InitToneOutput();
  fake_->mode = test::FakePlayback::Mode::kNeverDone;
  OnWorker([this] { W().Tone().Output().SoundKeyChar('E', 1); });
  EXPECT_EQ(W().Tone().Output().ToneAbort.load(), 1);
  EXPECT_EQ(W().Loop().WaveWatchdog.load(), 1) << "TimeoutTimer2 fired";
  EXPECT_FALSE(W().Timers().TimeoutTimer2->isActive()) << "and was stopped after the wait";
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace kestrix::shell::testing
