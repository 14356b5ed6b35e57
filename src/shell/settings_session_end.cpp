#include "shell/settings_session_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace kestrix {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the signal handler, read on the GUI thread. Plain ints: a handler may only
// touch lock-free objects, and the pipe does the hand-over.
volatile sig_atomic_t gWriteFd = -1;
int gReadFd = -1;
struct sigaction gPrevious[std::size(kSignals)];

extern "C" void OnQuitSignal(int signo) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  // A full pipe means a request is already waiting; dropping this one loses nothing.
  [[maybe_unused]] const ssize_t n = ::write(gWriteFd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

SessionEndWatcher::SessionEndWatcher(std::function<void()> quit, QObject* parent)
    : QObject(parent), quit_(std::move(quit)) {
  int fds[2];
  if (gReadFd >= 0) {
    std::fprintf(stderr, "kestrix: a second quit-signal watcher was not installed\n");
    return;
  }
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "kestrix: no pipe for quit signals (%s); they will not save\n",
                 std::strerror(errno));
    return;
  }
  gReadFd = fds[0];
  gWriteFd = fds[1];
  notifier_ = new QSocketNotifier(gReadFd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SessionEndWatcher::ReadSignals);

  active_ = true;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    if (::sigaction(kSignals[i], &sa, &gPrevious[i]) != 0) {
      std::fprintf(stderr, "kestrix: signal %d handler not installed (%s)\n", kSignals[i],
                   std::strerror(errno));
      active_ = false;
    }
  }

  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    // The session manager asks running programs to save before the desktop session ends.
    connect(app, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { Request(); });
    // Any other way the application is made to quit (the session manager's "die", say).
    connect(app, &QCoreApplication::aboutToQuit, this, &SessionEndWatcher::Request);
  }
}

SessionEndWatcher::~SessionEndWatcher() {
  if (gReadFd < 0 || notifier_ == nullptr) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  delete notifier_;
  ::close(gWriteFd);
  ::close(gReadFd);
  gWriteFd = -1;
  gReadFd = -1;
}

void SessionEndWatcher::ReadSignals() {
  unsigned char bytes[16];
  ssize_t n;
  bool any = false;
  while ((n = ::read(gReadFd, bytes, sizeof bytes)) > 0) {
    lastSignal_ = bytes[n - 1];
    any = true;
  }
  if (any) Request();
}

void SessionEndWatcher::Request() {
  ++requests_;
  if (quit_) quit_();
}

}  // namespace kestrix
