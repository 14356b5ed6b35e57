#include "transmit/transmit_controller.h"

#include <chrono>
#include <string>

#include "transmit/key_translation.h"

namespace kestrix::transmit {

namespace {
constexpr auto r = std::memory_order_relaxed;

char LowerCase(int32_t code) {
  const auto c = static_cast<unsigned char>(code);
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}
}  // namespace

void TextQueue::Append(int32_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  const int32_t n = Count.load(r);
  if (n < 0 || n >= kTextQueueSlots) return;
  codes_[static_cast<size_t>(n)] = code;
  Count.store(n + 1, r);
}

void TextQueue::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  Count.store(0, r);
  SendPos.store(0, r);
}

bool TextQueue::Advance(int32_t pos) {
  std::lock_guard<std::mutex> lock(mu_);
  if (SendPos.load(r) != pos || pos >= Count.load(r)) return false;
  SendPos.store(pos + 1, r);
  return true;
}

void TransmitController::Doorbell::Ring() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    rung_ = true;
  }
  cv_.notify_all();
}

void TransmitController::Doorbell::Wait(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return rung_; });
  rung_ = false;
}

TransmitController::TransmitController(TransmitState& tx, ReceiveFlags rx, TransmitHost& host,
                                       SendKeyers& keyers)
    : tx_(tx), rx_(rx), host_(host), keyers_(keyers) {}

TransmitController::~TransmitController() {
  Shutdown();
}

int32_t TransmitController::IdleBuffer() const {
  return tx_.ScreenMode.load(r) == 1 ? kScreenBuffer : 0;
}

bool TransmitController::KeyQueueDrained() const {
  return KeyQueueWrite.load(r) == KeyQueueRead.load(r);
}

void TransmitController::EmptyQueues() {
  // Write before read: a reader between the two stores sees read > write, which it takes
  // as "nothing queued", never as old keys to send again.
  KeyQueueWrite.store(0, r);
  KeyQueueRead.store(0, r);
  Text.Clear();
}

void TransmitController::SpeedUpDnFromGui(bool enabled) {
  speedWanted_.store(enabled ? 1 : 0, r);
  host_.EnableSpeedUpDn(enabled);
}

void TransmitController::SpeedUpDnFromWorker(bool enabled) {
  const int8_t want = enabled ? 1 : 0;
  if (speedWanted_.exchange(want, r) == want) return;
  // The GUI applies whatever was asked for last, so a later change from the GUI thread
  // is never overwritten by an older request still in the queue.
  host_.PostToGui([this] { host_.EnableSpeedUpDn(speedWanted_.load(r) == 1); });
}

void TransmitController::DisarmMemoryOperation() {
  tx_.MemoryOp.store(3, r);
  tx_.MemoryOpArmed.store(0, r);
  host_.ResetMemoryOpButtons();
}

// --- Handlers ----------------------------------------------------------------------------

void TransmitController::XmitButtonClick() {
  if (tx_.XmitEnable.load(r) == 3) {
    tx_.SendingState.store(0, r);
    tx_.XmitEnable.store(0, r);
    tx_.TextQueued.store(0, r);
    host_.ShowXmitEnable(false);
    tx_.EchoSuppressed.store(1, r);
    host_.FocusPane();
    if (tx_.SendActive.load(r) == 1) SendBtnClick();
    return;
  }
  if (tx_.PortNameText() == "NONE" && tx_.OutputDevice == 1) {
    host_.ShowMessage(kComErrorTitle, kNoComPortText);
  }
  tx_.XmitEnable.store(3, r);
  host_.ShowXmitEnable(true);
  Text.Clear();
  tx_.SelectedBuffer.store(IdleBuffer(), r);
  Memo1Click();
}

void TransmitController::SendBtnClick() {
  if (tx_.SendActive.load(r) == 1) {
    // 1. Stop a buffer send.
    if (currentSend_) {
      currentSend_->stop.store(true, r);
      currentSend_ = nullptr;
    }
    tx_.SendActive.store(0, r);
    tx_.EchoSuppressed.store(0, r);
    tx_.FinishOnEnd.store(0, r);
    host_.ShowSendButton(false);
    tx_.MemoryOp.store(3, r);
    host_.ResetMemoryOpButtons();
    tx_.SendingState.store(0, r);
    SpeedUpDnFromGui(true);
    host_.SetCaret(kCaretEnd);
    host_.SetPaneReadOnly(false);
    host_.FocusPane();
    host_.ResetMessageButtons();
    rx_.ReceiveStop.store(0, r);
    keyers_.AbortTone();
    tx_.StopRequested.store(1, r);
    tx_.SelectedBuffer.store(IdleBuffer(), r);
    if (Text.Count.load(r) == 0 && Text.SendPos.load(r) == 0 && KeyQueueDrained()) {
      rx_.ReceiveStop.store(0, r);
      rx_.TxActive.store(0, r);
    }
    // Last: typed keys waiting for the sender go out now, and see every flag above (their
    // echo reads EchoSuppressed).
    tx_.SendThreadIdle.store(1, std::memory_order_release);
    doorbell_.Ring();
    return;
  }
  if (tx_.XmitEnable.load(r) == 0) {
    // 2.
    host_.ShowMessage(kErrorTitle, kXmitOffText);
    tx_.SendInProgress.store(0, r);
    tx_.SendingState.store(0, r);
    SpeedUpDnFromGui(true);
    tx_.SendThreadIdle.store(1, r);
    tx_.SelectedBuffer.store(0, r);
    host_.ResetMessageButtons();
    host_.ShowSendButton(false);
    host_.FocusPane();
    return;
  }
  if (tx_.SelectedBuffer.load(r) == 0 && tx_.SendingState.load(r) == 0 &&
      tx_.ScreenMode.load(r) == 0 && tx_.XmitFileLoaded.load(r) == 0) {
    // 3.
    host_.ShowMessage(kErrorTitle, kNoMemoryText);
    tx_.SendThreadIdle.store(1, r);
    host_.FocusPane();
    return;
  }
  if (tx_.EchoSuppressed.load(r) == 1 && tx_.SendingState.load(r) == 3 &&
      tx_.SelectedBuffer.load(r) == 0) {
    // 4. Typed characters are going out: drop the rest.
    host_.ShowSendButton(false);
    tx_.SendingState.store(0, r);
    SpeedUpDnFromGui(true);
    EmptyQueues();
    tx_.TextQueued.store(0, r);
    host_.SetCaret(kCaretEnd);
    host_.FocusPane();
    rx_.TxActive.store(0, r);
    tx_.StopRequested.store(1, r);
    return;
  }
  // 5. Start a buffer send.
  if (closing_.load(r)) return;
  host_.ShowSendButton(true);
  rx_.TxActive.store(1, r);
  tx_.SendingState.store(3, r);
  SpeedUpDnFromGui(false);
  tx_.SendActive.store(1, r);
  tx_.SendThreadIdle.store(0, r);
  host_.SetCaret(tx_.PaneTextLength.load(r));
  host_.SetPaneReadOnly(true);
  tx_.FinishOnEnd.store(1, r);
  StartSendThread();
  host_.FocusPane();
}

void TransmitController::LoopButtonClick() {
  const bool on = tx_.LoopMode.load(r) != 3;
  tx_.LoopMode.store(on ? 3 : 0, r);
  host_.ShowLoop(on);
  host_.ResetMemoryOpButtons();
  host_.SetCaret(kCaretEnd);
}

void TransmitController::MsgButton13Click() {
  if (tx_.SendingState.load(r) != 0) return;
  tx_.SelectedBuffer.store(kImmediateBuffer, r);
  tx_.ScreenMode.store(0, r);
  host_.ShowTypingMode(0);
  DisarmMemoryOperation();
  host_.FocusPane();
}

void TransmitController::MsgButton14Click() {
  if (tx_.SendingState.load(r) != 0) return;
  tx_.SelectedBuffer.store(kScreenBuffer, r);
  tx_.ScreenMode.store(1, r);
  host_.ShowTypingMode(1);
  // An armed operation is carried out on the pane (buffer 14) before it is cancelled.
  if (tx_.MemoryOpArmed.load(r) == 1) host_.ApplyMemoryOperation(tx_.MemoryOp.load(r));
  DisarmMemoryOperation();
  host_.FocusPane();
  host_.SetCaret(0);
}

void TransmitController::Memo1Click() {
  if (tx_.XmitEnable.load(r) != 3) return;
  host_.SetPaneReadOnly(false);
  host_.FocusPane();
}

void TransmitController::Memo1MouseDown() {
  host_.SetPaneReadOnly(false);
}

bool TransmitController::Memo1KeyDown(int32_t key) {
  // 1. A full queue drops the keys not sent yet.
  if (KeyQueueWrite.load(r) >= kKeyQueueResetAt) {
    KeyQueueWrite.store(0, r);
    KeyQueueRead.store(0, r);
  }
  if (key == vk::kBackspace) {
    // 2. Take back the last key that has not gone to the sender yet.
    int32_t w = KeyQueueWrite.load(r);
    const int32_t rd = KeyQueueRead.load(r);
    if (rd >= w) return false;
    if (KeyAtSlot(w - 1) == kShiftRelease) {
      // The character before a queued Shift release is the one to take back.
      if (w - 2 < rd) return false;
      keyQueue_[static_cast<size_t>(w - 2)].store(kShiftRelease, r);
    }
    KeyQueueWrite.compare_exchange_strong(w, w - 1, r);
    return false;
  }
  // Marked before the key is queued: the sender may take it at once. A key typed during a
  // buffer send clears the mark again: the read-only pane did not take it, so its echo is
  // all that shows it (set once, the mark kept every later send's typing out of the pane).
  tx_.TypedWhileIdle.store(tx_.SendThreadIdle.load(r) == 1 ? 1 : 0, r);
  QueueKey(static_cast<uint32_t>(key) & 0xFFFF);
  return key == vk::kF10;  // F10 would open the menu
}

void TransmitController::QueueKey(uint32_t slot) {
  // 3. Queue it. The sender resets the indexes when it finds the queue drained; the
  //    exchange makes this key land after such a reset rather than vanish in it.
  for (;;) {
    int32_t w = KeyQueueWrite.load(r);
    if (w >= kKeyQueueResetAt || w < 0) {
      KeyQueueWrite.store(0, r);
      KeyQueueRead.store(0, r);
      continue;
    }
    keyQueue_[static_cast<size_t>(w)].store(slot, r);
    if (KeyQueueWrite.compare_exchange_strong(w, w + 1, std::memory_order_release, r)) break;
  }
  doorbell_.Ring();
}

void TransmitController::Memo1KeyUp(int32_t key) {
  if (key == vk::kShift) {
    // The sender may not have seen this Shift press, or the key typed with it, yet: the
    // release follows them through the queue. Cleared here at once, Shift would be lost
    // for a key still queued, or stay held for every key after it.
    if (charThread_) {
      QueueKey(kShiftRelease);
    } else {
      tx_.ShiftHeld.store(0, r);
    }
  }
  if (key == vk::kCtrl) tx_.CtrlHeld.store(0, r);
  if (key == vk::kAlt) tx_.AltHeld.store(0, r);
}

// --- Workers ---------------------------------------------------------------------------------

void TransmitController::StartWorkers() {
  if (closing_.load(r)) return;
  if (!charThread_) {
    charThread_ = std::make_unique<Worker>();
    Worker* w = charThread_.get();
    w->thread = std::thread([this, w] { CharThreadBody(*w); });
  }
  // START's buffer-send thread finds nothing to send and tidies up as a finished send
  // does; while a send runs it would only cut it short, so none is started then.
  if (tx_.SendActive.load(r) == 0 && currentSend_ == nullptr) StartSendThread(false);
}

void TransmitController::StartSendThread(bool keys) {
  ReapSendThreads();
  auto worker = std::make_unique<Worker>();
  Worker* w = worker.get();
  w->keys = keys;
  currentSend_ = w;
  ++sendThreadsStarted_;
  sendThreads_.push_back(std::move(worker));
  w->thread = std::thread([this, w] { SendThreadBody(*w); });
}

void TransmitController::ReapSendThreads() {
  for (auto it = sendThreads_.begin(); it != sendThreads_.end();) {
    if ((*it)->done.load(std::memory_order_acquire)) {
      (*it)->thread.join();
      it = sendThreads_.erase(it);
    } else {
      ++it;
    }
  }
}

void TransmitController::StopSending() {
  // Typed text that has not gone out is dropped, as SEND drops it; first, since SEND's
  // stop lets a typed key that waits for the buffer send go, and it must find nothing.
  EmptyQueues();
  tx_.TextQueued.store(0, r);
  if (tx_.SendActive.load(r) == 1) SendBtnClick();
  tx_.StopRequested.store(1, r);
  tx_.SendingState.store(0, r);
  keyers_.AbortTone();
  rx_.TxActive.store(0, r);
  SpeedUpDnFromGui(true);
}

void TransmitController::Shutdown() {
  closing_.store(true, r);
  tx_.StopRequested.store(1, r);
  if (charThread_) charThread_->stop.store(true, r);
  for (auto& w : sendThreads_) w->stop.store(true, r);
  keyers_.AbortTone();
  doorbell_.Ring();
  // A worker blocked on a GUI call is released here; the GUI thread never waits for a
  // worker that waits for it.
  host_.CloseGuiCalls();
  if (charThread_) {
    if (charThread_->thread.joinable()) charThread_->thread.join();
    charThread_.reset();
  }
  for (auto& w : sendThreads_) {
    if (w->thread.joinable()) w->thread.join();
  }
  sendThreads_.clear();
  currentSend_ = nullptr;
}

// --- TCharThread ---------------------------------------------------------------------------

bool TransmitController::WaitForKey(Worker& self) {
  for (;;) {
    if (self.stop.load(r)) return false;
    const int32_t w = KeyQueueWrite.load(std::memory_order_acquire);
    int32_t rd = KeyQueueRead.load(r);
    if (rd < w) return true;
    if (rd > w) {
      // A key was taken back (Backspace) while it was being read: carry on from the
      // write index, so the next key is not skipped.
      KeyQueueRead.compare_exchange_strong(rd, w, r);
      continue;
    }
    doorbell_.Wait(kKeyWaitMs);
    const int32_t w2 = KeyQueueWrite.load(std::memory_order_acquire);
    if (KeyQueueRead.load(r) != w2) continue;  // a key arrived in this round
    if (w2 > 0 && tx_.SendThreadIdle.load(r) == 1) {
      tx_.SendingState.store(0, r);
      SpeedUpDnFromWorker(true);
      rx_.TxActive.store(0, r);
    }
    int32_t drained = w2;
    if (drained > 0 && KeyQueueRead.load(r) == drained &&
        KeyQueueWrite.compare_exchange_strong(drained, 0, r)) {
      KeyQueueRead.store(0, r);
      Text.Clear();
    }
  }
}

bool TransmitController::EscapeWaiting() const {
  const int32_t w = KeyQueueWrite.load(std::memory_order_acquire);
  return KeyQueueRead.load(r) < w && KeyAt(w - 1) == vk::kEscape;
}

bool TransmitController::WaitForIdleSender(Worker& self) {
  while (tx_.SendThreadIdle.load(std::memory_order_acquire) != 1) {
    if (self.stop.load(r)) return false;
    // Escape stops the very send this key waits for; only the main loop acts on it.
    if (EscapeWaiting()) return false;
    doorbell_.Wait(kKeyWaitMs);
  }
  return !self.stop.load(r);
}

bool TransmitController::TakeKeyLine(Worker& self, std::unique_lock<std::mutex>& line) {
  for (;;) {
    if (!WaitForIdleSender(self)) return false;
    // A stopped send holds the line until its character is out; a send started meanwhile
    // holds it for its whole run, and this key waits for that one too.
    line.lock();
    if (tx_.SendThreadIdle.load(std::memory_order_acquire) == 1) return !self.stop.load(r);
    line.unlock();
  }
}

void TransmitController::CharThreadBody(Worker& self) {
  while (WaitForKey(self)) {
    {
      // A Shift release is no key to send: it is taken without pausing reception.
      int32_t rd = KeyQueueRead.load(r);
      if (KeyAtSlot(rd) == kShiftRelease && KeyQueueRead.compare_exchange_strong(rd, rd + 1, r)) {
        tx_.ShiftHeld.store(0, r);
        continue;
      }
    }
    rx_.TxActive.store(1, r);
    // 2. Escape as the newest key: stop and clear, before the older keys are looked at.
    const int32_t w = KeyQueueWrite.load(std::memory_order_acquire);
    if (w > 0 && KeyAt(w - 1) == vk::kEscape) {
      tx_.SelectedBuffer.store(IdleBuffer(), r);
      host_.CallOnGui([this] {
        if (tx_.SendingState.load(r) == 3) SendBtnClick();
        host_.SetPaneText("");
      });
      tx_.EchoSuppressed.store(1, r);
    }
    // 3. The oldest unread key; a queue emptied meanwhile leaves nothing to take.
    int32_t rd = KeyQueueRead.load(r);
    if (rd >= KeyQueueWrite.load(std::memory_order_acquire)) continue;
    const uint32_t slot = keyQueue_[static_cast<size_t>(rd & 255)].load(r);
    if (!KeyQueueRead.compare_exchange_strong(rd, rd + 1, r)) continue;
    if (slot == kShiftRelease) {
      tx_.ShiftHeld.store(0, r);
      continue;
    }
    const auto key = static_cast<int32_t>(slot & 0xFFFF);
    // 4.
    if ((tx_.ScreenMode.load(r) == 1 || tx_.SelectedBuffer.load(r) != 0) &&
        tx_.SendInProgress.load(r) == 1) {
      // Asked again on the GUI thread: a send stopped or ended meanwhile has made the pane
      // writable, and it stays so (a stopped send's thread may still be in its character).
      host_.CallOnGui([this] {
        if (tx_.SendActive.load(r) == 1) host_.SetPaneReadOnly(true);
      });
    }
    // 5. Translate and queue.
    if (key == vk::kCtrl) tx_.CtrlHeld.store(1, r);
    if (key == vk::kAlt) tx_.AltHeld.store(1, r);
    if (tx_.SelectedBuffer.load(r) != kScreenBuffer && tx_.CtrlHeld.load(r) == 0 &&
        tx_.AltHeld.load(r) == 0) {
      if (key == vk::kShift) {
        tx_.ShiftHeld.store(1, r);
      } else {
        if (key == vk::kUp || key == vk::kDown) {
          const bool waterfall = key == vk::kDown;
          host_.CallOnGui([this, waterfall] { host_.ShowDisplay(waterfall); });
        }
        const int32_t code = TranslateKey(key, tx_.ShiftHeld.load(r) == 1);
        if (code != vk::kEscape && code != vk::kShift) {
          Text.Append(code);
          tx_.TextQueued.store(1, r);
        }
      }
    }
    tx_.CtrlHeld.store(0, r);
    tx_.AltHeld.store(0, r);
    // 6.
    if (tx_.ScreenMode.load(r) == 0 && tx_.XmitEnable.load(r) == 3 && tx_.TextQueued.load(r) == 1) {
      SendTextQueue(self);
    }
    if (self.stop.load(r)) break;
    // 7. The key left of 1 toggles LOOP (its code has gone out as well).
    if (key == vk::kOemTilde && tx_.ShiftHeld.load(r) == 0) {
      host_.CallOnGui([this] { LoopButtonClick(); });
    }
    // 8. Typing done. A buffer send still running keeps the transmitter marked busy, so
    //    reception does not resume under it.
    if (tx_.SendThreadIdle.load(r) == 1) {
      tx_.SendingState.store(0, r);
      rx_.TxActive.store(0, r);
    }
    rx_.ReceiveStop.store(0, r);
  }
  self.done.store(true, std::memory_order_release);
}

void TransmitController::SendTextQueue(Worker& self) {
  if (Text.Count.load(r) < Text.SendPos.load(r)) {
    Text.Count.store(1, r);
    Text.SendPos.store(0, r);
  }
  while (Text.SendPos.load(r) < Text.Count.load(r)) {
    rx_.TxActive.store(1, r);
    tx_.SendingState.store(3, r);
    SpeedUpDnFromWorker(false);
    if (self.stop.load(r)) return;
    const int32_t pos = Text.SendPos.load(r);
    const int32_t code = Text.At(pos);
    if (const int n = MemoryForCode(code)) {
      // F1..F10: the memory goes out after everything typed before it, unless a stop has
      // emptied the queue meanwhile.
      if (!WaitForIdleSender(self)) return;
      if (tx_.XmitEnable.load(r) != 3 || !Text.Advance(pos)) {
        SpeedUpDnFromWorker(true);  // as after any stop
        return;
      }
      tx_.EchoSuppressed.store(0, r);
      tx_.TypedWhileIdle.store(0, r);
      tx_.SendingState.store(0, r);
      SpeedUpDnFromWorker(false);
      host_.CallOnGui([this, n, pos] {
        // STOP, SEND or Xmit Enable may have emptied the queue before this ran.
        if (Text.SendPos.load(r) != pos + 1 || Text.Count.load(r) <= pos) return;
        tx_.MemoryOpArmed.store(0, r);
        host_.MemoryButtonClick(n);
      });
      continue;
    }
    std::unique_lock<std::mutex> line(keyLine_, std::defer_lock);
    if (!TakeKeyLine(self, line)) return;
    // A buffer send's clean-up has run meanwhile and marked the transmitter idle; this
    // character is typing again, which SEND stops and during which the speed stays put.
    rx_.TxActive.store(1, r);
    tx_.SendingState.store(3, r);
    SpeedUpDnFromWorker(false);
    // STOP, SEND or Xmit Enable OFF while this key waited: it does not go out, and the
    // speed is free again as after any stop (the emptied queue leaves no idle round to
    // free it).
    if (tx_.XmitEnable.load(r) != 3 || !Text.Advance(pos)) {
      SpeedUpDnFromWorker(true);
      return;
    }
    if (tx_.EchoSuppressed.load(r) == 1 || tx_.TypedWhileIdle.load(r) == 1) {
      tx_.EchoSuppressed.store(1, r);
    } else {
      const char c = LowerCase(code);
      host_.PostToGui([this, c] { host_.AppendPaneText(std::string_view(&c, 1)); });
      if (KeyQueueDrained()) tx_.EchoSuppressed.store(1, r);
    }
    if (self.stop.load(r)) return;
    KeyCode(code, KeyQueueWrite.load(r));
    line.unlock();
    if (tx_.SendingState.load(r) == 0) {
      SpeedUpDnFromWorker(true);
      return;
    }
    if (tx_.XmitEnable.load(r) == 0) return;
  }
}

void TransmitController::KeyCode(int32_t code, int32_t firstBlock) {
  const auto c = static_cast<uint8_t>(code);
  if (tx_.OutputDevice == 1) {
    keyers_.SendCharToPort(c);
  } else {
    keyers_.SoundKeyChar(c, firstBlock);
  }
}

// --- TSendThread ---------------------------------------------------------------------------

void TransmitController::SendThreadBody(Worker& self) {
  {
    // After a stopped send's last character, never beside it.
    std::lock_guard<std::mutex> line(keyLine_);
    SendMessageBuffer(self);
  }
  tx_.SendInProgress.store(0, r);
  // The end of the thread runs on the GUI thread. A send that SEND (or a later send) has
  // replaced leaves the flags to the one that runs now; with none running, it takes back
  // the SendThreadIdle = 0 it may have written after SEND had stopped it.
  host_.CallOnGui([this, &self] {
    if (currentSend_ != &self) {
      if (currentSend_ == nullptr) tx_.SendThreadIdle.store(1, std::memory_order_release);
      return;
    }
    currentSend_ = nullptr;
    if (tx_.FinishOnEnd.load(r) == 1) {
      tx_.SendActive.store(1, r);
      SendBtnClick();  // sets SendThreadIdle last
    } else {
      tx_.SendThreadIdle.store(1, std::memory_order_release);
    }
  });
  doorbell_.Ring();
  sendThreadsEnded_.fetch_add(1, std::memory_order_release);
  self.done.store(true, std::memory_order_release);
}

void TransmitController::SendMessageBuffer(Worker& self) {
  tx_.StopRequested.store(0, r);
  if (tx_.SendInProgress.load(r) != 1) {
    tx_.SendInProgress.store(1, r);
    if (tx_.SelectedBuffer.load(r) == 0) tx_.StopRequested.store(1, r);
    tx_.SendThreadIdle.store(0, r);
    if (self.keys && !self.stop.load(r) && tx_.XmitEnable.load(r) == 3) {
      std::string text;
      bool fetched = false;
      host_.CallOnGui([this, &self, &text, &fetched] {
        // Stopped before the GUI thread got here: the pane, the caret and a loaded file
        // stay as the stop left them.
        if (self.stop.load(r)) return;
        fetched = true;
        host_.FocusPane();
        const int n = tx_.SelectedBuffer.load(r);
        if (n < 0 || n >= kSendBufferCount) return;
        if (tx_.ScreenMode.load(r) == 1 || tx_.XmitFileLoaded.load(r) == 1) {
          tx_.SetBuffer(n, host_.PaneText());
          host_.SetCaret(0);
          tx_.XmitFileLoaded.store(0, r);
        } else if (tx_.RecallAppends.load(r) == 0) {
          // A memory button has already appended the buffer when RecallAppends is 1.
          host_.SetPaneText(tx_.Buffer(n));
        }
        text = std::string(tx_.Buffer(n));
      });
      if (fetched && tx_.LoopMode.load(r) == 0) {
        SendBuffer(self, text);
      } else if (fetched && !text.empty()) {
        while (tx_.SendingState.load(r) == 3 && tx_.LoopMode.load(r) == 3 &&
               tx_.StopRequested.load(r) == 0 && !self.stop.load(r)) {
          bool again = false;
          host_.CallOnGui([this, &self, &text, &again] {
            if (self.stop.load(r)) return;
            again = true;
            host_.SetCaret(tx_.PaneTextLength.load(r));
            const int n = tx_.SelectedBuffer.load(r);
            if (n > 0 && n < kSendBufferCount) text = std::string(tx_.Buffer(n));
          });
          if (!again || text.empty()) break;
          SendBuffer(self, text);
        }
      }
    }
  }
  tx_.SendInProgress.store(0, r);
  tx_.StopRequested.store(1, r);
}

void TransmitController::SendBuffer(Worker& self, const std::string& text) {
  if (tx_.OutputDevice == 1) {
    for (const char c : text) {
      if (tx_.StopRequested.load(r) == 1 || self.stop.load(r)) return;
      keyers_.SendCharToPort(static_cast<uint8_t>(c));
    }
    return;
  }
  int32_t position = 0;
  keyers_.SoundKeyBuffer(text.c_str(), position, tx_.StopRequested);
}

}  // namespace kestrix::transmit
