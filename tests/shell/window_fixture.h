// What the window tests share: a capture device that never delivers sound, and a window
// built with seams that record message boxes, quitting, sleeps and help launches instead of
// doing them, with the settings folder pointed at an empty temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../platform/fake_key_device.h"
#include "platform/capture_device.h"
#include "platform/file_capture.h"
#include "shell/keying_panel.h"
#include "shell/main_window.h"
#include "shell/memories_panel.h"
#include "shell/receive_side.h"
#include "shell/tone_menu.h"
#include "shell/ui_helpers.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell::testing {

// A sound system with `count` cards named "Card 0", "Card 1", ...; opening card
// `refused` fails. Buffers are accepted but never filled.
class FakeCapture : public CaptureDevice {
 public:
  explicit FakeCapture(int count = 2, int refused = -1) : count_(count), refused_(refused) {}
  int DeviceCount() override { return count_; }
  std::string ProductName(int index) override {
    return index >= 0 && index < count_ ? "Card " + std::to_string(index) : "";
  }
  int QueryFormat(int device, const CaptureFormat&) override { return Result(device); }
  int Open(int device, const CaptureFormat&) override { return Result(device); }
  int TrialOpen(int device, const CaptureFormat&) override { return Result(device); }
  int Close() override { return kCaptureOk; }
  int Prepare(CaptureHeader&) override { return kCaptureOk; }
  int Add(CaptureHeader&) override { return kCaptureOk; }
  int Start() override { return kCaptureOk; }
  int Position(uint32_t& bytes) override {
    bytes = 0;
    return kCaptureOk;
  }
  int Reset() override { return kCaptureOk; }
  int Unprepare(CaptureHeader&) override { return kCaptureOk; }

 private:
  int Result(int device) const {
    return device == refused_ || device >= count_ ? kCaptureBadDevice : kCaptureOk;
  }
  int count_;
  int refused_;
};

struct Message {
  std::string title;
  std::string text;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    qputenv("KESTRIX_HOME", home_.path().toLocal8Bit());
  }
  void TearDown() override { qunsetenv("KESTRIX_HOME"); }

  // Builds the window; files put into Home() before this are found at creation.
  MainWindow& Make(std::unique_ptr<CaptureDevice> device = std::make_unique<FakeCapture>(),
                   const WindowOptions& options = {}) {
    WindowSeams seams;
    seams.message = [this](const std::string& t, const std::string& x) {
      messages_.push_back({t, x});
    };
    seams.terminate = [this] { ++terminated_; };
    seams.sleep = [](int) {};
    seams.openHelp = [this](const std::string& path) {
      helpOpened_.push_back(path);
      return true;
    };
    seams.playback = playback_;
    // The keying line never reaches a real device: a fake one with two printer ports and
    // four USB adapters as COM 1..4.
    keyDevice_.present = {"/dev/parport0", "/dev/parport1", "/dev/ttyUSB0",
                          "/dev/ttyUSB1",  "/dev/ttyUSB2",  "/dev/ttyUSB3"};
    seams.keyDevice = &keyDevice_;
    seams.serialPorts = [this] { return serialPorts_; };
    window_ = std::make_unique<MainWindow>(std::move(device), options, seams);
    return *window_;
  }
  MainWindow& W() { return *window_; }
  void Destroy() { window_.reset(); }

  template <typename T>
  T* Find(const char* name) {
    return window_->findChild<T*>(QString::fromLatin1(name));
  }
  QString Home() const { return home_.path(); }

  // The first tick of Timer1, as 250 ms after creation.
  void FirstTick() { window_->Timer1Timer(); }
  // Builds and shows the window and runs the first tick: Text mode as after start.
  void Start(std::unique_ptr<CaptureDevice> device = std::make_unique<FakeCapture>()) {
    Make(std::move(device)).show();
    FirstTick();
  }
  QPlainTextEdit* Memo2() { return Find<QPlainTextEdit>("Memo2"); }
  // Runs the window's receive loop on `device` until `after` blocks past the end of the
  // recording, then STOP; false when that took over two minutes.
  bool PlayToEnd(const FileCapture& device, int64_t after) {
    QEventLoop wait;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    bool timedOut = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      const int64_t end = device.EndBuffer();
      if (end > 0 && W().Loop().BlocksProcessed() >= end + after) {
        W().Receive().StopButtonClick();
      } else if (clock.elapsed() > 120000) {
        timedOut = true;
        W().Receive().StopButtonClick();
      }
      if (W().Loop().ReceiveHalted.load() && !W().Loop().Running()) wait.quit();
    });
    poll.start(20);
    wait.exec();
    return !timedOut;
  }
  // Decoded text arriving from the receiver (Windows-1252 bytes).
  void Receive(std::string_view bytes) { window_->Text().InsertText(bytes.data(), bytes.size()); }

  QTemporaryDir home_;
  kestrix::test::FakeKeyDevice keyDevice_;
  std::vector<platform::SerialPortInfo> serialPorts_ = {{"/dev/ttyUSB0", "Adapter A"},
                                                        {"/dev/ttyUSB1", "Adapter B"},
                                                        {"/dev/ttyUSB2", "Adapter C"},
                                                        {"/dev/ttyUSB3", "Adapter D"}};
  std::unique_ptr<MainWindow> window_;
  std::vector<Message> messages_;
  std::vector<std::string> helpOpened_;
  int terminated_ = 0;
  // The tone keyer's sound output for the next Make (unset: the window's default).
  std::function<std::unique_ptr<PlaybackDevice>()> playback_;
};

inline QString Caption(const QAbstractButton* b) {
  return b->text();
}
inline QColor Colour(const QPushButton* b) {
  return CaptionColour(b);
}

}  // namespace kestrix::shell::testing
