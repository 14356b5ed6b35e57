#include "shell/cwdaemon_link.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextCursor>
#include <algorithm>
#include <utility>

#include "shell/keying_panel.h"
#include "shell/main_window.h"
#include "transmit/cwdaemon_request.h"
#include "transmit/element_timing.h"
#include "transmit/key_translation.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

bool TypedKeyFor(char c, int32_t& key, bool& shift) {
  shift = false;
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') {
    key = c;
    return true;
  }
  namespace vk = transmit::vk;
  switch (c) {
    case ',':
      key = 188;
      return true;
    case '-':
      key = 189;
      return true;
    case '.':
      key = 190;
      return true;
    case '/':
      key = vk::kOemSlash;
      return true;
    case '=':
      key = vk::kOemPlus;
      return true;
    default:
      break;
  }
  // The shifted keys whose send code keys the same character.
  shift = true;
  switch (c) {
    case '?':
      key = vk::kOemSlash;
      return true;
    case '+':
      key = vk::kOemPlus;
      return true;
    case '@':
      key = '2';
      return true;
    case '!':
      key = '1';
      return true;
    case '%':
      key = '5';
      return true;
    case '&':
      key = '7';
      return true;
    case '(':
      key = '9';
      return true;
    case '*':
      key = '8';
      return true;
    default:
      shift = false;
      return false;
  }
}

// --- WindowCwdaemonSink ----------------------------------------------------------------------

WindowCwdaemonSink::WindowCwdaemonSink(MainWindow& window, transmit::LineLog& log)
    : w_(window), log_(log), startWpm_(window.Tx().SpeedWpm) {
  feed_.setInterval(kNetworkFeedMs);
  connect(&feed_, &QTimer::timeout, this, [this] { Feed(); });
  tuneEnd_.setSingleShot(true);
  connect(&tuneEnd_, &QTimer::timeout, this, [this] { TuneOff(); });
}

WindowCwdaemonSink::~WindowCwdaemonSink() {
  DropPending();
}

template <typename F>
void WindowCwdaemonSink::Post(F&& f) {
  // Queued onto the GUI thread; dropped by Qt if this object is gone by then (the server
  // is stopped before that, so nothing is posted during destruction).
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

bool WindowCwdaemonSink::Key(transmit::CwdaemonMessage message) {
  auto held = std::make_shared<transmit::CwdaemonMessage>(std::move(message));
  Post([this, held] { KeyOnGui(*held); });
  return true;
}

void WindowCwdaemonSink::SetSpeed(int wpm) {
  Post([this, wpm] { SetSpeedOnGui(wpm); });
}

void WindowCwdaemonSink::SetWeighting(int weighting) {
  log_.Line("ESC 7 " + std::to_string(weighting) +
            ": no effect in the window (Character Timing sets the ratios)");
}

void WindowCwdaemonSink::SetTone(int hz) {
  log_.Line("ESC 3 " + std::to_string(hz) + ": no effect in the window (its tone menu sets it)");
}

void WindowCwdaemonSink::SetWordMode(bool) {
  log_.Line("ESC 6: no effect in the window (an abort stops at the next character)");
}

void WindowCwdaemonSink::Abort() {
  Post([this] { AbortOnGui(); });
}

void WindowCwdaemonSink::Tune(int seconds) {
  Post([this, seconds] { TuneOnGui(seconds); });
}

void WindowCwdaemonSink::Reset() {
  Post([this] { SetSpeedOnGui(startWpm_); });
}

void WindowCwdaemonSink::SelectDevice(const std::string& name) {
  log_.Line("ESC 8 " + name + ": no effect in the window (its output menus choose the port)");
}

void WindowCwdaemonSink::Exit() {
  // The window is not a logger's to close.
}

void WindowCwdaemonSink::DropPending() {
  feed_.stop();
  EndOffset();
  gapUntil_ = {};
  std::deque<Entry> dropped;
  dropped.swap(pending_);
  for (Entry& e : dropped)
    if (e.done) e.done(false);
}

bool WindowCwdaemonSink::TypingRefusal(std::string& why) {
  const TransmitState& tx = w_.Tx();
  if (tx.XmitEnable.load(kRelaxed) != 3) {
    why = "Xmit Enable is OFF";
  } else if (!w_.Transmitter().CharThreadRunning()) {
    why = "reception has not been started (START)";
  } else if (tx.ScreenMode.load(kRelaxed) == 1) {
    why = "the transmit pane is in SC&N mode";
  } else {
    return false;
  }
  return true;
}

void WindowCwdaemonSink::KeyOnGui(transmit::CwdaemonMessage& message) {
  std::string why;
  if (TypingRefusal(why)) {
    log_.Line("network message not keyed: " + why);
    if (message.done) message.done(false);
    return;
  }
  if (pending_.size() >= kNetworkQueueCapacity) {
    log_.Line("network message not keyed: " + std::to_string(pending_.size()) +
              " messages are waiting already");
    if (message.done) message.done(false);
    return;
  }
  Entry e;
  e.done = std::move(message.done);
  size_t skipped = 0;
  // The offset as the speed's range allows it from the speed now, step by step.
  const int base = w_.Tx().SpeedWpm;
  int offset = 0;
  int gaps = 0;
  for (const transmit::TextItem& item : message.items) {
    switch (item.kind) {
      case transmit::TextItem::Kind::Faster:
      case transmit::TextItem::Kind::Slower: {
        const int step = item.kind == transmit::TextItem::Kind::Faster ? transmit::kSpeedStepWpm
                                                                       : -transmit::kSpeedStepWpm;
        offset =
            std::clamp(base + offset + step, transmit::kMinTransmitWpm, transmit::kMaxTransmitWpm) -
            base;
        continue;
      }
      case transmit::TextItem::Kind::Gap:
        ++gaps;
        continue;
      case transmit::TextItem::Kind::Char:
        break;
    }
    TypedKey k;
    k.echo = static_cast<char>(item.code);
    if (TypedKeyFor(k.echo, k.key, k.shift)) {
      k.wpmOffset = offset;
      k.gaps = gaps;
      gaps = 0;
      e.keys.push_back(k);
    } else {
      ++skipped;
    }
  }
  if (skipped > 0)
    log_.Line("network message: " + std::to_string(skipped) +
              " character(s) with no Morse not keyed");
  pending_.push_back(std::move(e));
  if (!feed_.isActive()) feed_.start();
  Feed();
}

bool WindowCwdaemonSink::ControllerIdle() {
  auto& txc = w_.Transmitter();
  MainWindow& w = w_;
  // TxActive is raised before the sender takes a key and lowered once it has been sent,
  // so a drained queue with it low means every key fed so far has gone out.
  return txc.KeyQueueRead.load(kRelaxed) >= txc.KeyQueueWrite.load(kRelaxed) &&
         txc.Text.SendPos.load(kRelaxed) >= txc.Text.Count.load(kRelaxed) &&
         w.Loop().TxActive.load(kRelaxed) == 0 && w.Tx().SendingState.load(kRelaxed) == 0;
}

void WindowCwdaemonSink::Feed() {
  while (!pending_.empty()) {
    std::string why;
    if (TypingRefusal(why)) {
      log_.Line("network keying stopped: " + why);
      DropPending();
      return;
    }
    // Text waits for a tune to end: keying over it would cut the carrier into pieces.
    if (w_.Tx().TuneActive.load(kRelaxed) == 1) return;
    Entry& e = pending_.front();
    auto& txc = w_.Transmitter();
    if (!e.started) {
      e.started = true;
      baseWpm_ = w_.Tx().SpeedWpm;
      offsetShown_ = 0;
    }
    while (e.next < e.keys.size()) {
      const TypedKey& k = e.keys[e.next];
      if (k.wpmOffset != offsetShown_ || (k.gaps > 0 && !e.gapTaken)) {
        // A speed change or a gap takes effect after the characters before it.
        if (!ControllerIdle()) return;
        if (k.wpmOffset != offsetShown_) {
          offsetShown_ = k.wpmOffset;
          ShowSpeed(baseWpm_ + offsetShown_);
        }
        if (k.gaps > 0 && !e.gapTaken) {
          e.gapTaken = true;
          gapUntil_ = std::chrono::steady_clock::now() +
                      std::chrono::milliseconds(k.gaps * 2 * w_.Tx().Timing.DotMs.load());
        }
      }
      if (std::chrono::steady_clock::now() < gapUntil_) return;
      const int32_t wr = txc.KeyQueueWrite.load(kRelaxed);
      const int32_t rd = txc.KeyQueueRead.load(kRelaxed);
      // Three slots per character at most (Shift, the key, its release), and never up to
      // the index at which the controller drops unsent keys.
      if (wr - rd >= kNetworkFeedAhead || wr + 3 >= transmit::kKeyQueueResetAt) return;
      ++e.next;
      e.gapTaken = false;
      if (k.shift) txc.Memo1KeyDown(transmit::vk::kShift);
      txc.Memo1KeyDown(k.key);
      if (k.shift) txc.Memo1KeyUp(transmit::vk::kShift);
      QPlainTextEdit* pane = w_.TransmitControls().Memo1;
      // Typed text appears in the pane unless it is read-only (a buffer send is going out);
      // the controller then echoes what it sends.
      if (!pane->isReadOnly()) {
        QTextCursor end = pane->textCursor();
        end.movePosition(QTextCursor::End);
        end.insertText(QString(QChar::fromLatin1(k.echo)));
        pane->setTextCursor(end);
      }
    }
    if (!ControllerIdle()) return;
    EndOffset();
    Entry finished = std::move(pending_.front());
    pending_.pop_front();
    if (finished.done) finished.done(true);
  }
  feed_.stop();
}

void WindowCwdaemonSink::SetSpeedOnGui(int wpm) {
  // A running message's '+' / '-' stay on top of the new speed.
  baseWpm_ = wpm;
  ShowSpeed(wpm + offsetShown_);
}

void WindowCwdaemonSink::EndOffset() {
  if (offsetShown_ == 0) return;
  offsetShown_ = 0;
  ShowSpeed(baseWpm_);
}

void WindowCwdaemonSink::ShowSpeed(int wpm) {
  wpm = std::clamp(wpm, transmit::kMinTransmitWpm, transmit::kMaxTransmitWpm);
  QSlider* bar = w_.TransmitControls().SpeedTrackBar;
  {
    // The bar keeps the speed within its 5..100 wpm range.
    const QSignalBlocker quiet(bar);
    bar->setValue(wpm);
  }
  w_.Keying().SpeedTrackBarChange();
}

void WindowCwdaemonSink::AbortOnGui() {
  const bool ours = !pending_.empty();
  DropPending();
  if (tuneEnd_.isActive()) TuneOff();  // a tune the operator started is theirs to end
  const TransmitState& tx = w_.Tx();
  if (ours || tx.SendActive.load(kRelaxed) == 1 || tx.SendingState.load(kRelaxed) != 0 ||
      !ControllerIdle()) {
    // SEND's stop for a buffer send, and the typed text not sent yet dropped.
    w_.Transmitter().StopSending();
  }
}

void WindowCwdaemonSink::TuneOnGui(int seconds) {
  if (seconds <= 0) {
    TuneOff();
    return;
  }
  if (w_.Tx().XmitEnable.load(kRelaxed) != 3) {
    log_.Line("ESC c: not tuning, Xmit Enable is OFF");
    return;
  }
  if (!pending_.empty() || !ControllerIdle()) {
    // The key line belongs to the text going out until it has ended.
    log_.Line("ESC c: not tuning while text is being sent");
    return;
  }
  if (w_.Tx().TuneActive.load(kRelaxed) != 1) w_.Keying().TuneButtonClick();
  tuneEnd_.start(seconds * 1000);
}

void WindowCwdaemonSink::TuneOff() {
  tuneEnd_.stop();
  if (w_.Tx().TuneActive.load(kRelaxed) == 1) w_.Keying().TuneButtonClick();
}

// --- CwdaemonLink ----------------------------------------------------------------------------

CwdaemonLink::CwdaemonLink(MainWindow& window, std::ostream& log)
    : log_(log), sink_(window, log_), server_(sink_, log_) {}

CwdaemonLink::~CwdaemonLink() {
  // No sink call arrives after this; then the messages still waiting are dropped.
  server_.Stop();
  sink_.DropPending();
}

bool CwdaemonLink::Start(const transmit::CwdaemonServerOptions& options, std::string& error) {
  return server_.Start(options, error);
}

}  // namespace kestrix::shell
