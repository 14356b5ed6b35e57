#include "transmit/transmit_controller.h"

#include <chrono>
#include <string>

#include "transmit/key_translation.h"

namespace kestrix::transmit {

namespace {
constexpr auto r = std::memory_order_relaxed;
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

}  // namespace kestrix::transmit
