// A scripted sound card and a scripted window for the receive loop tests. Time is a fake
// clock in milliseconds that moves only when the loop (or the test) sleeps; the card
// records on that clock, so a whole minute of reception runs in a moment.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture_device.h"
#include "platform/capture_queue.h"
#include "receive/receive_loop.h"

namespace kestrix::test {

// The card records frame f (counted from the device's open) as f % 20000 on the left (or
// only) channel and as -(f % 20000) - 1 on the right, so a block shows which channel it
// came from and whether any frame went missing.
class ScriptedDevice final : public CaptureDevice {
 public:
  struct Fault {
    std::string op;  // "QueryFormat", "Open", "Prepare", "Add", "Start", "Position", ...
    int nth;         // the nth call of op fails (1 = the first)
    int code;
  };
  struct AddSeen {
    int64_t at;
    const CaptureHeader* header;
    uint32_t position;
  };

  int devices = 1;
  std::vector<std::string> names = {"Card A", "Card B", "Card C", "Card D"};
  std::vector<Fault> faults;
  // Records nothing until Start has been called this many times (0: records at once).
  int stalledUntilStart = 0;
  // Called at every device call with its op, before it runs.
  std::function<void(const std::string&)> onCall;
  const int64_t* clock = nullptr;  // the host's fake time

  std::map<std::string, int> calls;
  std::vector<std::pair<std::string, int64_t>> log;  // op and fake time
  std::vector<AddSeen> adds;
  std::vector<int64_t> startTimes;
  std::vector<int64_t> resetTimes;
  std::vector<int> openedDevices;
  std::vector<CaptureFormat> openedFormats;
  int trialDevice = -1;

  int DeviceCount() override { return devices; }
  std::string ProductName(int index) override {
    return Exists(index) ? names[static_cast<size_t>(index)] : "";
  }
  int QueryFormat(int device, const CaptureFormat&) override {
    if (int f = Call("QueryFormat", false)) return f;
    return Exists(device) ? kCaptureOk : kCaptureBadDevice;
  }
  int Open(int device, const CaptureFormat& format) override {
    if (int f = Call("Open", false)) return f;
    if (!Exists(device)) return kCaptureBadDevice;
    queue_.Flush();
    open_ = true;
    started_ = false;
    format_ = format;
    frame_ = 0;
    pending_ = 0.0;
    openedDevices.push_back(device);
    openedFormats.push_back(format);
    return kCaptureOk;
  }
  int TrialOpen(int device, const CaptureFormat&) override {
    trialDevice = device;
    if (int f = Call("TrialOpen", false)) return f;
    return Exists(device) ? kCaptureOk : kCaptureError;
  }
  int Close() override {
    Call("Close", false);
    queue_.Flush();
    open_ = started_ = false;
    return kCaptureOk;
  }
  int Prepare(CaptureHeader& h) override {
    if (int f = Call("Prepare")) return f;
    return queue_.Prepare(h);
  }
  int Add(CaptureHeader& h) override {
    if (int f = Call("Add")) return f;
    adds.push_back({Now(), &h, queue_.Position()});
    return queue_.Add(h);
  }
  int Start() override {
    if (int f = Call("Start")) return f;
    startTimes.push_back(Now());
    started_ = true;
    return kCaptureOk;
  }
  int Position(uint32_t& bytes) override {
    if (int f = Call("Position")) return f;
    bytes = queue_.Position();
    return kCaptureOk;
  }
  int Reset() override {
    if (int f = Call("Reset")) return f;
    resetTimes.push_back(Now());
    started_ = false;
    queue_.Flush();
    return kCaptureOk;
  }
  int Unprepare(CaptureHeader& h) override {
    if (int f = Call("Unprepare")) return f;
    return queue_.Unprepare(h);
  }

  // The fake clock moved on by `ms`: record what a card would have recorded meanwhile.
  void Advance(int ms) {
    if (!open_ || !started_ || static_cast<int>(startTimes.size()) < stalledUntilStart) return;
    pending_ += ms * static_cast<double>(format_.SamplesPerSecond) / 1000.0;
    const int frames = static_cast<int>(pending_);
    pending_ -= frames;
    chunk_.clear();
    for (int64_t f = frame_; f < frame_ + frames; ++f) {
      chunk_.push_back(static_cast<int16_t>(f % 20000));
      if (format_.Channels == 2) chunk_.push_back(static_cast<int16_t>(-(f % 20000) - 1));
    }
    frame_ += frames;
    queue_.Deliver(reinterpret_cast<const uint8_t*>(chunk_.data()), chunk_.size() * 2);
  }

  bool IsOpen() const { return open_; }

 private:
  int64_t Now() const { return clock != nullptr ? *clock : 0; }
  bool Exists(int device) const { return device >= 0 && device < devices; }
  // Logs the call and returns its scripted fault, else kCaptureNotOpen when it needs an
  // open device and there is none, else 0.
  int Call(const std::string& op, bool needsOpen = true) {
    const int n = ++calls[op];
    log.emplace_back(op, Now());
    if (onCall) onCall(op);
    for (const Fault& f : faults) {
      if (f.op == op && f.nth == n) return f.code;
    }
    return needsOpen && !open_ ? kCaptureNotOpen : kCaptureOk;
  }

  CaptureQueue queue_;
  CaptureFormat format_;
  bool open_ = false;
  bool started_ = false;
  int64_t frame_ = 0;
  double pending_ = 0.0;
  std::vector<int16_t> chunk_;
};

class ScriptedHost final : public ReceiveHost {
 public:
  struct Message {
    std::string title;
    std::string text;
  };
  // Fake time after which the host presses STOP itself, so a broken loop cannot hang a test.
  static constexpr int64_t kDeadline = 120000;

  ReceiveLoop* loop = nullptr;
  ScriptedDevice* device = nullptr;
  int64_t now = 0;
  bool settingsLoading = false;
  bool deadlineHit = false;

  std::vector<Message> messages;
  int quits = 0;
  int processCalls = 0;
  std::map<std::string, int> hooks;           // how often each window step ran
  std::array<std::vector<int64_t>, 3> fired;  // tick times per timer

  // Runs `fn` inside the first ProcessMessages at or after fake time `at`.
  void At(int64_t at, std::function<void()> fn) {
    events_.push_back({at, std::move(fn), false});
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
  }
  // The window's own event loop, for the times the receive loop is not running.
  void RunUntil(int64_t t) {
    while (now < t) {
      ProcessMessages();
      Sleep(5);
    }
  }
  bool Armed(LoopTimer t) const { return timers_[static_cast<size_t>(t)].armed; }

  void ProcessMessages() override {
    ++processCalls;
    for (Event& e : events_) {
      if (e.done || e.at > now) continue;
      e.done = true;  // before running it: it may run the whole loop nested
      e.fn();
    }
    for (size_t i = 0; i < timers_.size(); ++i) {
      Timer& t = timers_[i];
      if (!t.armed || now < t.due) continue;
      t.due += t.interval;
      fired[i].push_back(now);
      switch (static_cast<LoopTimer>(i)) {
        case LoopTimer::kSystemTimer:
          loop->SystemTimerTimer();
          break;
        case LoopTimer::kTimeoutTimer:
          loop->TimeoutTimerTimer();
          break;
        case LoopTimer::kTimeoutTimer2:
          loop->TimeoutTimer2Timer();
          break;
      }
    }
    if (now > kDeadline && !deadlineHit && loop->Running()) {
      deadlineHit = true;
      loop->StopButtonClick();
    }
  }
  void ArmTimer(LoopTimer timer) override {
    Timer& t = timers_[static_cast<size_t>(timer)];
    t.armed = true;
    t.interval = timer == LoopTimer::kSystemTimer ? kSystemTimerMs : kTimeoutTimerMs;
    t.due = now + t.interval;
  }
  void DisarmTimer(LoopTimer timer) override { timers_[static_cast<size_t>(timer)].armed = false; }
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back({title, text});
  }
  void QuitButtonClick() override {
    ++quits;
    loop->StopButtonClick();
  }
  void Sleep(int ms) override {
    now += ms;
    if (device != nullptr) device->Advance(ms);
  }
  bool SettingsLoadPending() override { return settingsLoading; }
  void StartTransmitWorkers() override { ++hooks["StartTransmitWorkers"]; }
  void ShowStarted(ReceiveMode) override { ++hooks["ShowStarted"]; }
  void InitToneOutput() override { ++hooks["InitToneOutput"]; }
  void ShowStopped() override { ++hooks["ShowStopped"]; }
  void InputChannelChecked(ChannelMode) override { ++hooks["InputChannelChecked"]; }

 private:
  struct Event {
    int64_t at;
    std::function<void()> fn;
    bool done;
  };
  struct Timer {
    bool armed = false;
    int interval = 0;
    int64_t due = 0;
  };

  std::vector<Event> events_;
  std::array<Timer, 3> timers_{};
};

// A receive loop wired to the scripted card and window, with a sink that notes when each
// TEXT block finished and the first and last sample it held.
struct LoopRig : TextSink, ReceiverSink {
  struct Block {
    int64_t at;
    int32_t first;
    int32_t last;
  };

  ScriptedDevice device;
  ScriptedHost host;
  Receiver rx{*this, this};
  ReceiveLoop loop{rx, device, host};
  std::vector<Block> blocks;
  std::vector<int64_t> startReturns;  // when each START gave control back
  int64_t startReturnedAt = -1;       // the latest of them

  LoopRig() {
    host.loop = &loop;
    host.device = &device;
    device.clock = &host.now;
  }
  void InsertText(const char*, size_t) override {}
  void BlockFinished(const Receiver& r) override {
    blocks.push_back({host.now, r.RawBlock[0], r.RawBlock[kBlockFrames - 1]});
  }
  // START from the window's event loop at `at`.
  void StartAt(int64_t at) {
    host.At(at, [this] {
      loop.StartButtonClick();
      startReturns.push_back(startReturnedAt = host.now);
    });
  }
  void StopAt(int64_t at) {
    host.At(at, [this] { loop.StopButtonClick(); });
  }
  // START at 0, STOP at `stopAt`, and a second of the window's own event loop after it.
  void Run(int64_t stopAt) {
    StartAt(0);
    StopAt(stopAt);
    host.RunUntil(stopAt + 1000);
  }
  int BlocksBetween(int64_t from, int64_t to) const {
    return static_cast<int>(std::count_if(
        blocks.begin(), blocks.end(), [&](const Block& b) { return b.at > from && b.at <= to; }));
  }
};

}  // namespace kestrix::test
