#include "skim/live_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrix::skim {
namespace {

// A device the test unplugs, stalls and overloads. Samples carry a running count in I, so
// that what arrives shows what was lost.
class FakeStream final : public LiveStream {
 public:
  enum Mode { Fine, Unplugged, Stalled, Overloaded };
  explicit FakeStream(std::atomic<int>& mode, double rate = 48000.0) : mode_(mode), rate_(rate) {}

  bool Open(std::string& error) override {
    ++opens;
    if (mode_.load() == Unplugged) {
      error = "no such device";
      return false;
    }
    return true;
  }
  void Close() override {}
  long Read(float* out, size_t count, std::string& error) override {
    switch (mode_.load()) {
      case Unplugged:
        error = "unplugged";
        return kLost;
      case Stalled:
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return 0;
      case Overloaded:
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return kOverflow;
      default:
        break;
    }
    if (paced) std::this_thread::sleep_for(std::chrono::microseconds(500));
    const size_t n = std::min<size_t>(count, 64);
    for (size_t i = 0; i < n; ++i) {
      out[2 * i] = static_cast<float>(next_++);
      out[2 * i + 1] = 0.0f;
    }
    return static_cast<long>(n);
  }
  double Rate() const override { return rate_; }
  const std::string& Name() const override { return name_; }
  std::atomic<int> opens{0};
  bool paced = false;  // about the rate of a real device

 private:
  std::atomic<int>& mode_;
  double rate_;
  long next_ = 0;
  std::string name_ = "the fake SDR";
};

ReopenPolicy Quick() {
  ReopenPolicy p;
  p.stallS = 0.05;
  p.firstRetryS = 0.005;
  p.maxRetryS = 0.02;
  p.rateCheckS = 0.0;  // the fake is as fast as it can be
  return p;
}

// Reads until samples come (true) or `reads` reads have passed; fails on an end or error.
bool ReadUntilSamples(SampleSource& s, int reads, float* last = nullptr) {
  float buf[2 * 128];
  for (int i = 0; i < reads; ++i) {
    const long n = s.Read(buf, 128);
    EXPECT_TRUE(n > 0 || n == kSourceAgain) << n << " " << s.Error();
    if (n > 0) {
      if (last) *last = buf[2 * (n - 1)];
      return true;
    }
  }
  return false;
}

// Each fault: said on the log, the source keeps answering "again", and once the device is
// back the samples flow on. Never an end of the run.
TEST(LiveSource, DeviceFaultsAreSaidAndOutlived) {
  const struct {
    FakeStream::Mode fault;
    const char* says;
    const char* alsoSays;
  } cases[] = {
      {FakeStream::Unplugged, "the fake SDR stopped (unplugged); trying to reopen it", ""},
      {FakeStream::Stalled, "stopped (no samples for 0 s)", ""},
      {FakeStream::Overloaded, "the fake SDR dropped samples (1 overflow so far)",
       "stopped (no samples for 0 s)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    std::atomic<int> mode{FakeStream::Fine};
    std::ostringstream log;
    auto stream = std::make_unique<FakeStream>(mode);
    FakeStream& fake = *stream;
    auto source = ReopeningSource(std::move(stream), Quick(), log);
    ASSERT_TRUE(ReadUntilSamples(*source, 1));
    mode = c.fault;
    auto said = [&](const char* what) { return log.str().find(what) != std::string::npos; };
    for (int i = 0; i < 500 && !(said(c.says) && said(c.alsoSays)); ++i)
      ReadUntilSamples(*source, 1);
    EXPECT_TRUE(said(c.says)) << log.str();
    EXPECT_TRUE(said(c.alsoSays)) << log.str();
    for (int i = 0; i < 20; ++i) ReadUntilSamples(*source, 1);  // still failing: no more lines
    mode = FakeStream::Fine;
    float last = -1.0f;
    EXPECT_TRUE(ReadUntilSamples(*source, 500, &last));
    EXPECT_GT(last, 0.0f);
    EXPECT_TRUE(said("is receiving again")) << log.str();
    // A line or two for the fault, one for the return.
    const std::string all = log.str();
    EXPECT_LE(std::count(all.begin(), all.end(), '\n'), 3) << all;
    if (c.fault == FakeStream::Unplugged) {
      EXPECT_GT(fake.opens.load(), 1);
    }
  }
}

// A driver that hands out samples far faster than its rate has lost its device; one far
// slower is said once.
TEST(LiveSource, SamplesAtTheWrongPaceAreSaid) {
  const struct {
    double rate;
    const char* says;
  } cases[] = {
      {1000.0, "far more than its rate"},          // unpaced: thousands of times 1 kHz
      {1e12, "of the samples its rate promises"},  // nobody delivers a THz
  };
  for (const auto& c : cases) {
    std::atomic<int> mode{FakeStream::Fine};
    std::ostringstream log;
    ReopenPolicy policy = Quick();
    policy.rateCheckS = 0.02;
    auto source = ReopeningSource(std::make_unique<FakeStream>(mode, c.rate), policy, log);
    float buf[2 * 64];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (log.str().find(c.says) == std::string::npos && std::chrono::steady_clock::now() < until)
      source->Read(buf, 64);
    EXPECT_NE(log.str().find(c.says), std::string::npos) << log.str();
  }
}

TEST(LiveSource, GivesUpOnlyWhenToldAndSaysAnOddRate) {
  std::atomic<int> mode{FakeStream::Fine};
  std::ostringstream log;
  ReopenPolicy policy = Quick();
  policy.giveUpS = 0.05;
  policy.wantedRate = 192000.0;
  auto source = ReopeningSource(std::make_unique<FakeStream>(mode), policy, log);
  EXPECT_NE(log.str().find("runs at 48000 samples/s, not the 192000 asked for"), std::string::npos)
      << log.str();
  EXPECT_EQ(source->Rate(), 48000.0);
  mode = FakeStream::Unplugged;
  float buf[2 * 64];
  long n = 0;
  for (int i = 0; i < 2000 && n != -1; ++i) n = source->Read(buf, 64);
  EXPECT_EQ(n, -1);
  EXPECT_NE(source->Error().find("no such device (gave up after 0 s)"), std::string::npos)
      << source->Error();
}

// The reader thread hands on every sample in order while the engine keeps up, and through
// an unplugging; a recording read through it ends as it would.
TEST(LiveSource, ThreadedReaderKeepsOrderAndOutlivesTheDevice) {
  std::atomic<int> mode{FakeStream::Fine};
  std::ostringstream log;
  {
    auto stream = std::make_unique<FakeStream>(mode);
    stream->paced = true;
    const FakeStream& fake = *stream;
    auto source = ThreadedSource(ReopeningSource(std::move(stream), Quick(), log), log);
    float buf[2 * 100];
    float expect = 0.0f;
    size_t got = 0;
    for (int i = 0; i < 100000 && got < 20000; ++i) {
      // Unplugged after 5000 samples, back after two failed reopenings.
      if (got >= 5000 && fake.opens.load() == 0) mode = FakeStream::Unplugged;
      if (fake.opens.load() >= 3) mode = FakeStream::Fine;
      const long n = source->Read(buf, 100);
      ASSERT_TRUE(n > 0 || n == kSourceAgain) << n;
      for (long k = 0; k < n; ++k) {
        ASSERT_EQ(buf[2 * k], expect);  // the fake counts on across its reopening
        expect += 1.0f;
      }
      got += static_cast<size_t>(std::max(n, 0L));
    }
    EXPECT_GE(got, 20000u);
    EXPECT_GE(fake.opens.load(), 3);
  }
  EXPECT_NE(log.str().find("is receiving again"), std::string::npos) << log.str();

  std::vector<float> samples(1000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i);
  auto recording = ThreadedSource(MemorySource(samples.data(), samples.size(), 8000, false), log);
  std::vector<float> out;
  float buf[300];
  long n = 0;
  while ((n = recording->Read(buf, 300)) != 0) {
    ASSERT_TRUE(n > 0 || n == kSourceAgain);
    if (n > 0) out.insert(out.end(), buf, buf + n);
  }
  EXPECT_EQ(out, samples);
}

// An engine that does not keep up loses the oldest samples, says so once, and goes on
// with the newest.
TEST(LiveSource, ThreadedReaderDropsTheOldestWhenTheEngineFallsBehind) {
  std::atomic<int> mode{FakeStream::Fine};
  std::ostringstream log;
  {
    auto source = ThreadedSource(
        ReopeningSource(std::make_unique<FakeStream>(mode, 1000.0), Quick(), log), log, 0.5);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // far more than 500 samples
    float buf[2 * 64];
    float first = -1.0f;
    for (int i = 0; i < 100 && first < 0.0f; ++i)
      if (source->Read(buf, 64) > 0) first = buf[0];
    EXPECT_GT(first, 0.0f);  // the oldest went
  }
  const std::string said = log.str();
  EXPECT_NE(said.find("the decoder falls behind the fake SDR"), std::string::npos) << said;
  EXPECT_EQ(said.find("falls behind"), said.rfind("falls behind"));
}

}  // namespace
}  // namespace kestrix::skim
