#include "shell/window_keyers.h"

#include "platform/realtime.h"
#include "transmit/key_mask.h"
#include "transmit/morse_send_table.h"

namespace kestrix::shell {

namespace {
constexpr auto r = std::memory_order_relaxed;
constexpr int64_t kSamplesPerMs = 44;
// As kestrix-send keys: above normal threads, below the kernel's own real-time work.
constexpr int kKeyerPriority = 50;
}  // namespace

WindowKeyers::WindowKeyers(transmit::TransmitState& tx, transmit::KeyLine& line,
                           transmit::Waiter& waiter)
    : tx_(tx),
      line_(line),
      waiter_(waiter),
      port_(transmit::SendTable(), tx.Timing, line, waiter, tx.KeyState) {}

void WindowKeyers::SendCharToPort(uint8_t code) {
  // Under normal scheduling a busy machine (a menu popping up, a repaint, another
  // program) delays the wake-up at the end of an element by several ms; the key thread
  // only sleeps between edges, so SCHED_FIFO costs the others nothing. Asked once per
  // thread; a refusal leaves normal scheduling and is not an error.
  thread_local bool realtimeAsked = false;
  if (!realtimeAsked) {
    realtimeAsked = true;
    platform::RequestRealtime(kKeyerPriority);
  }
  port_.SendCharToPort(code);
}

void WindowKeyers::AbortTone() {
  toneAbort_.store(1, r);
  if (tone_) tone_->AbortTone();
}

void WindowKeyers::SoundKeyChar(uint8_t code, int32_t firstBlock) {
  if (tone_) {
    tone_->SoundKeyChar(code, firstBlock);
    return;
  }
  toneAbort_.store(0, r);
  const int64_t samples = transmit::KeyMaskSamples(code, transmit::SendTable(), tx_.Timing.Load());
  waiter_.WaitMs(static_cast<int32_t>(samples / kSamplesPerMs));
}

void WindowKeyers::SoundKeyBuffer(const char* text, int32_t& position,
                                  const std::atomic<uint8_t>& stopRequested) {
  if (tone_) {
    tone_->SoundKeyBuffer(text, position, stopRequested);
    return;
  }
  toneAbort_.store(0, r);
  for (; text[position] != '\0'; ++position) {
    if (stopRequested.load(r) == 1 || toneAbort_.load(r) == 1) return;
    const auto code = static_cast<uint8_t>(text[position]);
    waiter_.WaitMs(static_cast<int32_t>(
        transmit::KeyMaskSamples(code, transmit::SendTable(), tx_.Timing.Load()) / kSamplesPerMs));
  }
}

void WindowKeyers::ReleaseKey() {
  tx_.KeyState.store(transmit::kKeyUp, r);
  line_.SetKeyLine(transmit::kKeyUp);
}

}  // namespace kestrix::shell
