// A scripted playback device for the tone keyer's tests: it plays on fake time (88 bytes,
// 44 samples, per fake millisecond, advanced by PlayingClock's waits), or marks buffers
// done at once, or never; any call can be made to fail on its n-th use; every call is
// logged ("Write A 8192") so a test can check the order of the streaming.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_line.h"
#include "platform/playback_device.h"
#include "transmit/tone_output.h"

namespace kestrix::test {

class FakePlayback final : public PlaybackDevice {
 public:
  enum class Mode { kInstant, kTimed, kNeverDone };
  static constexpr uint32_t kBytesPerMs = 88;

  Mode mode = Mode::kTimed;
  // Position() reports this instead of the real position when set (a stuck device).
  int64_t stuckPosition = -1;
  // Call name -> the use (1-based) that fails with kPlaybackError.
  std::map<std::string, int> failOn;
  // Runs after every successful Write with the number of writes so far.
  std::function<void(int)> onWrite;
  // Names the headers "A"/"B" in the log by their address.
  const PlaybackHeader* headerA = nullptr;

  std::vector<std::string> calls;
  std::vector<int16_t> samples;  // every written sample, in order
  std::vector<uint32_t> writes;  // byte length of every Write

  int DeviceCount() override { return 1; }
  std::string ProductName(int index) override { return index == 0 ? "Fake card" : ""; }
  int QueryFormat(int, const PlaybackFormat& f) override {
    return Call("QueryFormat", IsMonoPcm16(f) ? kPlaybackOk : kPlaybackBadFormat);
  }
  int Open(int, const PlaybackFormat&) override { return Call("Open"); }
  int SetVolume(uint32_t v) override {
    volume = v;
    return Call("SetVolume");
  }
  int Close() override { return Call("Close"); }
  int Prepare(PlaybackHeader& h) override {
    const int r = Call("Prepare", kPlaybackOk, Name(h));
    if (r == kPlaybackOk) h.Flags.fetch_or(kPlaybackPrepared);
    return r;
  }
  int Write(PlaybackHeader& h) override {
    const int r = Call("Write", kPlaybackOk, Name(h) + " " + std::to_string(h.BufferLength));
    if (r != kPlaybackOk) return r;
    for (uint32_t i = 0; i + 1 < h.BufferLength; i += 2) {
      samples.push_back(static_cast<int16_t>(h.Data[i] | (h.Data[i + 1] << 8)));
    }
    writes.push_back(h.BufferLength);
    if (mode == Mode::kInstant) {
      // A card that has just begun the newest buffer.
      position_ += newest_;
      newest_ = h.BufferLength;
      h.Done.store(true);
    } else {
      h.Done.store(false);
      queue_.push_back(&h);
    }
    if (onWrite) onWrite(static_cast<int>(writes.size()));
    return kPlaybackOk;
  }
  int Position(uint32_t& bytes) override {
    const int r = Call("Position", kPlaybackOk, "", /*log=*/false);
    if (r == kPlaybackOk) {
      bytes = stuckPosition >= 0 ? static_cast<uint32_t>(stuckPosition) : position_;
    }
    return r;
  }
  int Reset() override {
    const int r = Call("Reset");
    for (PlaybackHeader* h : queue_) h->Done.store(true);
    queue_.clear();
    position_ = played_ = newest_ = 0;
    return r;
  }
  int Unprepare(PlaybackHeader& h) override {
    if (!h.IsDone()) return Call("Unprepare", kPlaybackStillPlaying, Name(h));
    const int r = Call("Unprepare", kPlaybackOk, Name(h));
    if (r == kPlaybackOk) h.Flags.fetch_and(~kPlaybackPrepared);
    return r;
  }
  std::string LastError() const override { return lastError_; }

  // Plays `ms` fake milliseconds (timed mode).
  void Play(int64_t ms) {
    if (mode != Mode::kTimed) return;
    uint32_t budget = static_cast<uint32_t>(ms) * kBytesPerMs;
    while (budget > 0 && !queue_.empty()) {
      PlaybackHeader& h = *queue_.front();
      const uint32_t n = std::min(budget, h.BufferLength - played_);
      played_ += n;
      position_ += n;
      budget -= n;
      if (played_ == h.BufferLength) {
        h.Done.store(true);
        queue_.pop_front();
        played_ = 0;
      }
    }
  }

  uint32_t volume = 0;

 private:
  std::string Name(const PlaybackHeader& h) const { return &h == headerA ? "A" : "B"; }
  int Call(const std::string& name, int ok = kPlaybackOk, const std::string& detail = "",
           bool log = true) {
    const int use = ++uses_[name];
    if (log) calls.push_back(detail.empty() ? name : name + " " + detail);
    auto it = failOn.find(name);
    if (it != failOn.end() && it->second == use) {
      lastError_ = "fake failure of " + name;
      return kPlaybackError;
    }
    return ok;
  }

  std::map<std::string, int> uses_;
  std::deque<PlaybackHeader*> queue_;
  uint32_t position_ = 0;
  uint32_t played_ = 0;  // bytes of the front buffer played
  uint32_t newest_ = 0;
  std::string lastError_;
};

// The keyer's wait: advances the fake clock and lets the device play for that long.
class PlayingClock final : public transmit::Waiter {
 public:
  explicit PlayingClock(FakePlayback& device) : device_(device) {}
  void WaitMs(int32_t ms) override {
    if (ms <= 0) return;
    clock.Advance(ms);
    device_.Play(ms);
  }
  FakeClock clock;

 private:
  FakePlayback& device_;
};

// Records what the keyer tells the window.
class RecordingToneHost final : public transmit::ToneHost {
 public:
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  void HandleWaveError(int code) override { codes.push_back(code); }
  std::vector<std::string> messages;
  std::vector<int> codes;
};

}  // namespace kestrix::test
