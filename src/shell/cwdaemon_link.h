// Network keying from the window: `kestrix --cwdaemon-port N` serves the UDP keying
// protocol loggers speak (see transmit/cwdaemon.h) and keys its messages through the
// transmit pane, as if the operator typed them: each character goes into the pane's key
// queue as its key press, and into the pane as typed text.
//
//   CwdaemonLink         owns the server and the sink; the program keeps one while the
//                        window lives and destroys it first.
//   WindowCwdaemonSink   the server's sink. Its calls come on the server's receive thread;
//                        each is handed to the GUI thread as a queued call and returns.
//                        On the GUI thread a feed timer passes the message's keys to the
//                        transmit controller a few at a time (its key queue drops unsent
//                        keys when it fills) and reports the message done once the
//                        controller has sent it and is idle again. Messages go out one
//                        after the other, so each caret echo follows its own message.
//
// Inline '+' / '-' move the speed bar once the characters before them have gone out, and
// the message's end puts it back; '~' holds the next key back by two dots. What the
// window does not follow: weighting, tone, word mode and the device choice (the window's
// own controls set those; one line each on standard error). ESC 5 is ignored.
//
// A tune is refused while text goes out, and network text waits while a tune holds the
// key down. Keying needs Xmit Enable ON, START pressed once (the character sender runs)
// and the IMM typing mode: otherwise the message is refused with one line on standard
// error.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "transmit/cwdaemon.h"

namespace kestrix::shell {

class MainWindow;

// The key that types `c` on the transmit pane (a US keyboard's virtual key) and whether
// Shift goes with it. False for characters the pane's keys do not send as that character
// (they key nothing in the headless keyer either).
bool TypedKeyFor(char c, int32_t& key, bool& shift);

// Keys the controller's queue may hold unread from us at once.
inline constexpr int32_t kNetworkFeedAhead = 32;
inline constexpr int kNetworkFeedMs = 10;
// Messages accepted and waiting behind the one being keyed; later ones are refused.
inline constexpr size_t kNetworkQueueCapacity = 64;

class WindowCwdaemonSink final : public QObject, public transmit::CwdaemonSink {
 public:
  WindowCwdaemonSink(MainWindow& window, transmit::LineLog& log);
  ~WindowCwdaemonSink() override;

  // CwdaemonSink: server thread, queued onto the GUI thread.
  bool Key(transmit::CwdaemonMessage message) override;
  void SetSpeed(int wpm) override;
  void SetWeighting(int weighting) override;
  void SetTone(int hz) override;
  void SetWordMode(bool on) override;
  void Abort() override;
  void Tune(int seconds) override;
  void Reset() override;
  void SelectDevice(const std::string& name) override;
  void Exit() override;

  // Messages accepted and not yet reported done (GUI thread).
  size_t Pending() const { return pending_.size(); }

  // Calls done(false) for every message still pending (GUI thread, at shutdown).
  void DropPending();

 private:
  struct TypedKey {
    int32_t key = 0;
    bool shift = false;
    char echo = 0;
    int wpmOffset = 0;  // the message's '+' / '-' before this key, wpm
    int gaps = 0;       // '~' just before this key
  };
  struct Entry {
    std::vector<TypedKey> keys;
    size_t next = 0;        // the next key to feed
    bool started = false;   // its first key has been fed
    bool gapTaken = false;  // the next key's gap has begun
    transmit::CwdaemonDone done;
  };

  template <typename F>
  void Post(F&& f);

  // GUI thread.
  void KeyOnGui(transmit::CwdaemonMessage& message);
  void SetSpeedOnGui(int wpm);
  void AbortOnGui();
  void TuneOnGui(int seconds);
  void Feed();
  bool ControllerIdle();
  bool TypingRefusal(std::string& why);
  void TuneOff();
  void ShowSpeed(int wpm);  // the speed bar and its handler
  void EndOffset();         // the bar back to the speed without the message's offset

  MainWindow& w_;
  transmit::LineLog& log_;
  QTimer feed_;
  QTimer tuneEnd_;
  std::deque<Entry> pending_;
  int startWpm_ = 0;  // the speed when serving began; ESC 0 returns to it
  // The speed without the running message's '+' / '-' (ESC 2 sets it), and that offset as
  // the bar shows it now.
  int baseWpm_ = 0;
  int offsetShown_ = 0;
  std::chrono::steady_clock::time_point gapUntil_{};
};

class CwdaemonLink {
 public:
  CwdaemonLink(MainWindow& window, std::ostream& log);
  ~CwdaemonLink();
  CwdaemonLink(const CwdaemonLink&) = delete;
  CwdaemonLink& operator=(const CwdaemonLink&) = delete;

  // Binds and starts serving; false with the reason in `error`.
  bool Start(const transmit::CwdaemonServerOptions& options, std::string& error);
  uint16_t Port() const { return server_.Port(); }
  WindowCwdaemonSink& Sink() { return sink_; }

 private:
  transmit::LineLog log_;
  WindowCwdaemonSink sink_;
  transmit::CwdaemonServer server_;
};

}  // namespace kestrix::shell
