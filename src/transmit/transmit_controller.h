// The transmit pane and the two send threads: TCharThread sends what is typed into the
// pane one character at a time as the keys arrive; TSendThread sends one text buffer (a
// memory, the pane in screen mode, a loaded file) and ends. Owns the key queue and the
// text queue, Xmit Enable, SEND, the typing modes, LOOP and the pane's key handlers, and
// sets the receive loop's TxActive while anything goes out. No Qt: the window is reached
// through TransmitHost, the keying output through SendKeyers.
//
// Threads: the handlers (Xmit Enable, SEND, IMM/SC&N, LOOP, Memo1*, StartWorkers,
// StopSending, Shutdown) run on the GUI thread. The send threads share the run flags of
// TransmitState and the queue indexes below, all atomics written whole, and hand every
// window change to the GUI thread (TransmitHost::CallOnGui), so they see the window's
// effects in order. Stopping is cooperative, checked between characters; every thread is
// joined by Shutdown (or the destructor): none outlives the controller.
//
// One sender on the key line at a time: a send stopped by SEND, Escape or STOP reports
// idle at once but finishes the character it is in, so a buffer send holds the key line
// (keyLine_) for its whole run and TCharThread for each typed character; the GUI thread
// never takes it. START's buffer-send thread only tidies up: it keys nothing and leaves
// the pane alone, since the pane's text (screen mode) or buffer 13 would otherwise go
// out, or replace the pane, each time reception starts. A typed key waiting for a buffer
// send is dropped by STOP or Xmit Enable OFF (it would go out after them), an Escape typed
// behind it stops that send at once, and once it goes out it is typing again (SendingState
// 3, the speed spinner off), which SEND stops.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "transmit/send_control.h"
#include "transmit/send_keyers.h"
#include "transmit/transmit_host.h"
#include "transmit/transmit_state.h"

namespace kestrix::transmit {

inline constexpr int kKeyQueueSlots = 256;
inline constexpr int32_t kKeyQueueResetAt = 255;   // a write index this high drops unsent keys
inline constexpr int32_t kTextQueueSlots = 16384;  // the pane's maximum length
inline constexpr int kKeyWaitMs = 10;              // TCharThread's poll round

inline constexpr int kImmediateBuffer = 13;
inline constexpr int kScreenBuffer = 14;

inline constexpr const char* kErrorTitle = "Error Message";
inline constexpr const char* kXmitOffText = "Xmit Enable must be ON";
inline constexpr const char* kNoMemoryText = "No Memory Button has beeen selected";
inline constexpr const char* kComErrorTitle = "Communications I/O Error";
inline constexpr const char* kNoComPortText =
    "No output COM port has been selected, continue for code practice";

// The receive loop's flags the transmitter sets and clears.
struct ReceiveFlags {
  std::atomic<uint8_t>& TxActive;
  std::atomic<uint8_t>& ReceiveStop;
};

// The text queue: up to 16384 send codes appended and sent by TCharThread; the counts are
// atomics because SEND, STOP and Xmit Enable empty the queue from the GUI thread. Append,
// Clear and Advance are serialised, so a code is never sent, nor a count kept, from a
// queue emptied under it.
class TextQueue {
 public:
  TextQueue() : codes_(kTextQueueSlots, 0) {}
  // Appends `code` while the queue holds fewer than 16384 codes; later ones are dropped.
  void Append(int32_t code);
  int32_t At(int32_t i) const { return codes_[static_cast<size_t>(i)]; }
  void Clear();
  // Moves the send position past `pos` if that code is still queued there. False: the
  // queue was emptied (or moved on) meanwhile and the code must not go out.
  bool Advance(int32_t pos);
  std::atomic<int32_t> Count{0};    // TextQueueCount
  std::atomic<int32_t> SendPos{0};  // TextQueueSendPos

 private:
  std::mutex mu_;
  std::vector<int32_t> codes_;
};

class TransmitController final : public SendControl {
 public:
  TransmitController(TransmitState& tx, ReceiveFlags rx, TransmitHost& host, SendKeyers& keyers);
  TransmitController(const TransmitController&) = delete;
  TransmitController& operator=(const TransmitController&) = delete;
  ~TransmitController() override;

  // --- Handlers (GUI thread) -----------------------------------------------------------
  void XmitButtonClick();
  void SendBtnClick() override;
  void LoopButtonClick() override;
  void MsgButton13Click();  // "&IMM"
  void MsgButton14Click();  // "SC&N"
  void Memo1Click();
  void Memo1MouseDown();
  // A key pressed in the pane (Windows virtual-key code). True: the pane must not see it.
  bool Memo1KeyDown(int32_t key);
  void Memo1KeyUp(int32_t key);

  // START: the character thread (one serves the key queue; a later START keeps it) and
  // one buffer-send thread, as each start of reception creates.
  void StartWorkers();
  // STOP and quitting: ends a buffer send as SEND does and drops the typed text that has
  // not gone out. The key line is released by the caller.
  void StopSending();
  // Asks every thread to end, releases any waiting for the GUI, and joins them.
  void Shutdown();

  // --- Observation (tests, the window) ------------------------------------------------
  std::atomic<int32_t> KeyQueueWrite{0};
  std::atomic<int32_t> KeyQueueRead{0};
  int32_t KeyAt(int32_t i) const {
    return static_cast<int32_t>(keyQueue_[static_cast<size_t>(i & 255)].load() & 0xFFFF);
  }
  TextQueue Text;
  bool CharThreadRunning() const { return charThread_ != nullptr; }
  // A buffer-send thread is running that has not ended yet (GUI thread).
  bool BufferSendRunning() const { return currentSend_ != nullptr; }
  // Send threads started so far (START's included), and those that have ended (any thread).
  int SendThreadsStarted() const { return sendThreadsStarted_; }
  int SendThreadsEnded() const { return sendThreadsEnded_.load(std::memory_order_acquire); }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    bool keys = true;  // false: START's buffer-send thread, which only tidies up
  };

  // Wakes TCharThread's waits early (a key arrived, a buffer send ended, shutdown).
  class Doorbell {
   public:
    void Ring();
    void Wait(int ms);

   private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool rung_ = false;
  };

  // TCharThread and its steps.
  void CharThreadBody(Worker& self);
  bool WaitForKey(Worker& self);
  // Waits for the buffer send to end; false on a stop, or on an Escape typed meanwhile
  // (the caller goes back for it: it stops that very send).
  bool WaitForIdleSender(Worker& self);
  // WaitForIdleSender, then the key line once no buffer send holds it.
  bool TakeKeyLine(Worker& self, std::unique_lock<std::mutex>& line);
  bool EscapeWaiting() const;
  void SendTextQueue(Worker& self);
  void KeyCode(int32_t code, int32_t firstBlock);
  // TSendThread: SendMessageBuffer, then the end of the thread on the GUI thread.
  void SendThreadBody(Worker& self);
  void SendMessageBuffer(Worker& self);
  void SendBuffer(Worker& self, const std::string& text);
  void StartSendThread(bool keys = true);
  void ReapSendThreads();

  int32_t IdleBuffer() const;  // 14 in screen mode, else 0
  // The memory-operation arming cancelled, its buttons blue.
  void DisarmMemoryOperation();
  // XmitSpeedUpDn enabled or disabled, from either thread; only changes reach the window.
  void SpeedUpDnFromGui(bool enabled);
  void SpeedUpDnFromWorker(bool enabled);
  bool KeyQueueDrained() const;
  // Stores a key-queue slot: a virtual key in the low 16 bits, or kShiftRelease.
  void QueueKey(uint32_t slot);
  static constexpr uint32_t kShiftRelease = 0x10000 | 16;
  uint32_t KeyAtSlot(int32_t i) const { return keyQueue_[static_cast<size_t>(i & 255)].load(); }
  void EmptyQueues();

  TransmitState& tx_;
  ReceiveFlags rx_;
  TransmitHost& host_;
  SendKeyers& keyers_;

  std::array<std::atomic<uint32_t>, kKeyQueueSlots> keyQueue_{};
  Doorbell doorbell_;
  std::mutex keyLine_;                  // held by whoever keys; never by the GUI thread
  std::atomic<int8_t> speedWanted_{1};  // what XmitSpeedUpDn was last asked to be
  std::atomic<bool> closing_{false};
  std::atomic<int> sendThreadsEnded_{0};

  // GUI thread only.
  std::unique_ptr<Worker> charThread_;
  std::vector<std::unique_ptr<Worker>> sendThreads_;
  Worker* currentSend_ = nullptr;  // the buffer send SEND would stop
  int sendThreadsStarted_ = 0;
};

}  // namespace kestrix::transmit
