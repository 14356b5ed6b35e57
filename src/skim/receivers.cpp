#include "skim/receivers.h"

#include <thread>

namespace kestrix::skim {

class ReceiverHub::Tagged final : public SkimListener {
 public:
  Tagged(ReceiverHub& hub, uint64_t index, double offsetS)
      : hub_(hub), tag_(index << kReceiverShift), offsetS_(offsetS) {}

  void OnSignalStarted(uint64_t signal, double timeS, double freqHz) override {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    hub_.target_.OnSignalStarted(signal | tag_, timeS + offsetS_, freqHz);
  }
  void OnText(const SkimText& text) override {
    SkimText tagged = text;
    tagged.signal |= tag_;
    tagged.timeS += offsetS_;
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    hub_.target_.OnText(tagged);
  }
  void OnSignalEnded(uint64_t signal, double timeS) override {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    hub_.target_.OnSignalEnded(signal | tag_, timeS + offsetS_);
  }

 private:
  ReceiverHub& hub_;
  uint64_t tag_;
  double offsetS_;
};

ReceiverHub::ReceiverHub(SkimListener& target) : target_(target) {}

ReceiverHub::~ReceiverHub() = default;

SkimListener& ReceiverHub::AddReceiver(double clockOffsetS) {
  receivers_.push_back(std::make_unique<Tagged>(*this, receivers_.size(), clockOffsetS));
  return *receivers_.back();
}

int RunReceivers(std::vector<ReceiverRun>& runs) {
  auto run = [](ReceiverRun& r) {
    r.status = RunSkimmer(*r.source, *r.skimmer, r.config, r.error);
  };
  std::vector<std::thread> threads;
  for (size_t i = 1; i < runs.size(); ++i) threads.emplace_back(run, std::ref(runs[i]));
  if (!runs.empty()) run(runs.front());
  for (std::thread& t : threads) t.join();
  int failed = 0;
  for (const ReceiverRun& r : runs) failed += r.status != 0;
  return failed;
}

}  // namespace kestrix::skim
