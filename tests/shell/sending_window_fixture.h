// The window keying a recording line on a fake clock, its transmitter started as START
// starts it but without entering the receive loop: the base of the sending and the
// network-keying window tests.
#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "shell/main_window.h"
#include "shell/window_fixture.h"
#include "transmit/fake_line.h"
#include "transmit/line_reader.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell::testing {

class SendingWindowTest : public WindowTest {
 protected:
  // Builds and shows the window with `waiter` timing the keyer, runs the first tick and
  // lets START's send thread finish.
  void StartSending(transmit::Waiter& waiter) {
    WindowSeams seams;
    seams.message = [this](const std::string& t, const std::string& x) {
      messages_.push_back({t, x});
    };
    seams.terminate = [this] { ++terminated_; };
    seams.sleep = [](int) {};
    seams.keyLine = &line_;
    seams.keyWaiter = &waiter;
    window_ = std::make_unique<MainWindow>(std::make_unique<FakeCapture>(), WindowOptions{}, seams);
    W().show();
    FirstTick();
    W().Transmitter().MsgButton13Click();
    W().Transmitter().StartWorkers();
    ASSERT_TRUE(WaitFor([&] { return !W().Transmitter().BufferSendRunning(); }));
  }
  void TearDown() override {
    window_.reset();
    WindowTest::TearDown();
  }
  // Runs the window's events until `done` holds (10 s at most).
  bool WaitFor(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      QCoreApplication::processEvents();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // What the line keyed, read back at the window's unit.
  std::string Sent() { return test::ReadLine(line_.Edges(), W().Tx().Timing.UnitMs.load()); }

  test::FakeClock clock_;
  test::FakeKeyLine line_{clock_};
};

}  // namespace kestrix::shell::testing
