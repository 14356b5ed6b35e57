// The send threads of the transmit controller: TCharThread, which sends what is typed as
// the keys arrive, and TSendThread, which sends one buffer. Their start, stop and joining
// are in transmit_controller.cpp with the GUI-thread handlers.
#include "transmit/transmit_controller.h"

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
