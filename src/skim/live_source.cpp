#include "skim/live_source.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrix::skim {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

class Reopening final : public SampleSource {
 public:
  Reopening(std::unique_ptr<LiveStream> stream, const ReopenPolicy& policy, std::ostream& log)
      : stream_(std::move(stream)), policy_(policy), log_(log) {
    name_ = stream_->Name();
    rate_ = stream_->Rate();
    retryS_ = policy_.firstRetryS;
    CheckRate();
    lastSample_ = Clock::now();
  }
  ~Reopening() override {
    if (open_) stream_->Close();
  }

  double Rate() const override { return rate_; }
  bool IsComplex() const override { return true; }
  bool IsLive() const override { return true; }
  double CentreHz() const override { return policy_.centreHz; }

  long Read(float* out, size_t count) override {
    if (!open_) return Reopen();
    std::string why;
    const long n = stream_->Read(out, count, why);
    const Clock::time_point now = Clock::now();
    if (n > 0) {
      lastSample_ = now;
      if (const std::string why = CheckPace(n, now); !why.empty()) return Lost(why, now);
      if (outage_) {
        log_ << "kestrix-skim: " << name_ << " is receiving again after "
             << static_cast<long>(Seconds(now - lostAt_)) << " s\n";
        log_.flush();
        outage_ = false;
        retryS_ = policy_.firstRetryS;
      }
      return n;
    }
    if (n == LiveStream::kLost) return Lost(why, now);
    // Nothing but overflows is no better than nothing: some drivers report a dead device
    // (the sound server gone) that way.
    if (n == LiveStream::kOverflow) Overflow(now);
    if (Seconds(now - lastSample_) > policy_.stallS) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "no samples for %.0f s", policy_.stallS);
      return Lost(buf, now);
    }
    return kSourceAgain;
  }

 private:
  void CheckRate() {
    if (policy_.wantedRate > 0.0 &&
        std::fabs(rate_ - policy_.wantedRate) > 0.01 * policy_.wantedRate)
      log_ << "kestrix-skim: " << name_ << " runs at " << rate_ << " samples/s, not the "
           << policy_.wantedRate << " asked for; going on at " << rate_ << '\n';
  }

  // Samples far faster than the rate come from a driver that lost its device and hands
  // out whatever it has (the sound-card module with its sound server gone): a loss. Far
  // slower is said once. Counted over windows of `rateCheckS`.
  std::string CheckPace(long n, Clock::time_point now) {
    if (policy_.rateCheckS <= 0.0) return {};
    if (paceSamples_ == 0) paceStart_ = now;
    paceSamples_ += n;
    const double span = Seconds(now - paceStart_);
    // A flood is caught as soon as it is a second's worth of samples ahead of one and a half
    // times the rate, before the engine's clock has run far ahead of the wall clock.
    if (static_cast<double>(paceSamples_) > rate_ * (1.5 * span + 1.0)) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "%ld samples in %.2f s, far more than its rate", paceSamples_,
                    span);
      paceSamples_ = 0;
      return buf;
    }
    if (span < policy_.rateCheckS) return {};
    const double ratio = static_cast<double>(paceSamples_) / (span * rate_);
    paceSamples_ = 0;
    if (ratio < 0.5 && !slowSaid_) {
      log_ << "kestrix-skim: " << name_ << " gives only " << static_cast<int>(ratio * 100)
           << " % of the samples its rate promises\n";
      slowSaid_ = true;
    }
    return {};
  }

  void Overflow(Clock::time_point now) {
    ++overflows_;
    if (overflowsSaid_ == 0 || Seconds(now - overflowSaidAt_) >= 60.0) {
      log_ << "kestrix-skim: " << name_ << " dropped samples (" << overflows_
           << (overflows_ == 1 ? " overflow" : " overflows")
           << " so far): the computer does not keep up with its rate\n";
      ++overflowsSaid_;
      overflowSaidAt_ = now;
    }
  }

  // One line per outage: a device that opens again but gives nothing is still out, and
  // is tried again later each time.
  long Lost(const std::string& why, Clock::time_point now) {
    if (!outage_) {
      log_ << "kestrix-skim: " << name_ << " stopped (" << why << "); trying to reopen it\n";
      log_.flush();
      outage_ = true;
      lostAt_ = now;
    } else {
      retryS_ = std::min(retryS_ * 2.0, policy_.maxRetryS);
    }
    stream_->Close();
    open_ = false;
    nextTry_ =
        now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(retryS_));
    return kSourceAgain;
  }

  long Reopen() {
    const Clock::time_point now = Clock::now();
    if (now < nextTry_) {
      // Wait a little here so that the reader does not spin; never past the next try.
      std::this_thread::sleep_until(std::min(nextTry_, now + std::chrono::milliseconds(100)));
      return kSourceAgain;
    }
    std::string error;
    if (stream_->Open(error)) {
      open_ = true;
      lastSample_ = now;
      paceSamples_ = 0;
      const double rate = stream_->Rate();
      if (rate > 0.0 && rate != rate_) {
        rate_ = rate;
        CheckRate();
      }
      return kSourceAgain;
    }
    if (policy_.giveUpS > 0.0 && Seconds(now - lostAt_) > policy_.giveUpS) {
      error_ =
          error + " (gave up after " + std::to_string(static_cast<long>(policy_.giveUpS)) + " s)";
      return -1;
    }
    retryS_ = std::min(retryS_ * 2.0, policy_.maxRetryS);
    nextTry_ =
        now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(retryS_));
    return kSourceAgain;
  }

  std::unique_ptr<LiveStream> stream_;
  ReopenPolicy policy_;
  std::ostream& log_;
  double rate_ = 0.0;
  bool open_ = true;
  Clock::time_point lastSample_;
  Clock::time_point lostAt_;
  Clock::time_point nextTry_;
  double retryS_ = 1.0;
  bool outage_ = false;  // from a loss until samples come again
  Clock::time_point paceStart_;
  long paceSamples_ = 0;
  bool slowSaid_ = false;
  long overflows_ = 0;
  long overflowsSaid_ = 0;
  Clock::time_point overflowSaidAt_;
};

class Threaded final : public SampleSource {
 public:
  Threaded(std::unique_ptr<SampleSource> inner, std::ostream& log, double queueS)
      : inner_(std::move(inner)), log_(log) {
    name_ = inner_->Name();
    complex_ = inner_->IsComplex();
    rate_ = inner_->Rate();
    centreHz_ = inner_->CentreHz();
    live_ = inner_->IsLive();
    maxQueued_ = static_cast<size_t>(std::max(1.0, queueS * rate_));
    thread_ = std::thread([this] { Run(); });
  }
  ~Threaded() override {
    stop_.store(true, std::memory_order_release);
    cv_.notify_all();
    thread_.join();
  }

  double Rate() const override { return rate_; }
  bool IsComplex() const override { return complex_; }
  bool IsLive() const override { return live_; }
  double CentreHz() const override { return centreHz_; }

  long Read(float* out, size_t count) override {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(100),
                 [this] { return !blocks_.empty() || ended_; });
    if (blocks_.empty()) {
      if (!ended_) return kSourceAgain;
      if (status_ < 0) error_ = innerError_;
      warning_ = innerWarning_;
      return status_;
    }
    std::vector<float>& front = blocks_.front();
    const size_t perSample = complex_ ? 2 : 1;
    const size_t available = (front.size() - frontOffset_) / perSample;
    const size_t n = std::min(count, available);
    std::copy_n(front.data() + frontOffset_, n * perSample, out);
    frontOffset_ += n * perSample;
    queued_ -= n;
    if (frontOffset_ == front.size()) {
      blocks_.pop_front();
      frontOffset_ = 0;
    }
    return static_cast<long>(n);
  }

 private:
  void Run() {
    constexpr size_t kBlock = 4096;
    const size_t perSample = complex_ ? 2 : 1;
    std::vector<float> block(kBlock * perSample);
    while (!stop_.load(std::memory_order_acquire)) {
      const long n = inner_->Read(block.data(), kBlock);
      if (n == kSourceAgain) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        ended_ = true;
        status_ = n < 0 ? -1 : 0;
        innerError_ = inner_->Error();
        innerWarning_ = inner_->Warning();
        cv_.notify_all();
        return;
      }
      blocks_.emplace_back(block.begin(), block.begin() + n * static_cast<long>(perSample));
      queued_ += static_cast<size_t>(n);
      while (queued_ > maxQueued_ && blocks_.size() > 1) {
        // The engine is behind by more than the queue: the oldest samples go.
        queued_ -= (blocks_.front().size() - frontOffset_) / perSample;
        blocks_.pop_front();
        frontOffset_ = 0;
        if (!behindSaid_) {
          log_ << "kestrix-skim: the decoder falls behind " << name_
               << "; samples are being dropped\n";
          behindSaid_ = true;
        }
      }
      cv_.notify_all();
    }
  }

  std::unique_ptr<SampleSource> inner_;
  std::ostream& log_;
  bool complex_ = true;
  bool live_ = true;
  double rate_ = 0.0;
  double centreHz_ = 0.0;
  size_t maxQueued_ = 0;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;  // guards what follows
  std::condition_variable cv_;
  std::deque<std::vector<float>> blocks_;
  size_t frontOffset_ = 0;  // floats of the front block already handed out
  size_t queued_ = 0;       // samples waiting
  bool ended_ = false;
  long status_ = 0;
  std::string innerError_, innerWarning_;
  bool behindSaid_ = false;
};

}  // namespace

std::unique_ptr<SampleSource> ReopeningSource(std::unique_ptr<LiveStream> stream,
                                              const ReopenPolicy& policy, std::ostream& log) {
  return std::make_unique<Reopening>(std::move(stream), policy, log);
}

std::unique_ptr<SampleSource> ThreadedSource(std::unique_ptr<SampleSource> inner, std::ostream& log,
                                             double queueS) {
  return std::make_unique<Threaded>(std::move(inner), log, queueS);
}

}  // namespace kestrix::skim
