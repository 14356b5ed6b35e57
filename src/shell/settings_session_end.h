// Quitting from outside: SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C in the starting terminal,
// the terminal closing) and the end of the desktop session run the window's own quit
// sequence, the same one its close box runs, so the settings file is written as at any
// other quit.
//
// The signal handlers only write the signal number into a pipe (nothing else is safe in a
// signal handler); a QSocketNotifier on the GUI thread reads it and calls `quit`. Each
// handler is installed with SA_RESETHAND: if the quit sequence hangs, a second Ctrl+C ends
// the program the ordinary way. One watcher at a time; construct it after QApplication.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kestrix {

class SessionEndWatcher : public QObject {
  Q_OBJECT

 public:
  // `quit` runs on the GUI thread for each request; it must cope with being called when
  // the window is already quitting (the session's end and a signal may both arrive).
  explicit SessionEndWatcher(std::function<void()> quit, QObject* parent = nullptr);
  ~SessionEndWatcher() override;  // puts the previous signal handlers back
  SessionEndWatcher(const SessionEndWatcher&) = delete;
  SessionEndWatcher& operator=(const SessionEndWatcher&) = delete;

  // False when the pipe or a handler could not be set up (the reason went to stderr);
  // the program then quits on signals the default way, without saving.
  bool Active() const { return active_; }
  // The last signal that asked to quit (0: none yet).
  int LastSignal() const { return lastSignal_; }
  int Requests() const { return requests_; }

 private:
  void ReadSignals();
  void Request();

  std::function<void()> quit_;
  QSocketNotifier* notifier_ = nullptr;
  bool active_ = false;
  int lastSignal_ = 0;
  int requests_ = 0;
};

}  // namespace kestrix
