// Process() and Flush() take no memory: every buffer is sized at construction. Counted by
// replacing the global operator new in this test binary (counting only while a test asks).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "soft/soft_decoder.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

// Not inlined: GCC would see free() on memory from new at every call site.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace kestrix::soft {
namespace {

// Complex baseband at 250 Hz: "PARIS PARIS" keyed at `wpm`, `hz` off the centre, at
// `level`, in noise of `noise` (0: digital silence), after `leadS` of the same noise.
void AddOver(std::vector<std::complex<float>>& x, double wpm, double hz, float level, float noise,
             double leadS, uint32_t& state) {
  constexpr double kFs = 250.0;
  auto rnd = [&] {
    state = state * 1664525U + 1013904223U;
    return (static_cast<float>(state >> 8) / 16777216.0F - 0.5F) * noise;
  };
  auto add = [&](double seconds, bool on) {
    const int n = static_cast<int>(std::lround(seconds * kFs));
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(x.size()) / kFs;
      const std::complex<float> tone =
          on ? std::polar(level, static_cast<float>(2 * 3.14159265358979 * hz * t))
             : std::complex<float>{};
      x.push_back(tone + std::complex<float>(rnd(), rnd()));
    }
  };
  const double unit = 1.2 / wpm;
  add(leadS, false);
  for (int word = 0; word < 2; ++word) {
    for (const char* letter : {".--.", ".-", ".-.", "..", "..."}) {
      for (const char* e = letter; *e != 0; ++e) {
        add((*e == '.' ? 1 : 3) * unit, true);
        add(unit, false);
      }
      add(2 * unit, false);
    }
    add(4 * unit, false);
  }
}

TEST(SoftDecoder, ProcessAndFlushAllocateNothing) {
  // Two overs: one station in noise, then a quieter one at another pitch and speed with no
  // noise at all (a sidetone): the start-up, an over's end and the next one's acquisition.
  std::vector<std::complex<float>> x;
  uint32_t state = 5;
  AddOver(x, 25, 18, 1.0F, 0.2F, 1.0, state);
  AddOver(x, 14, -30, 0.1F, 0.0F, 2.5, state);
  SoftDecoder decoder(SoftDecoderConfig{});
  std::string text;
  text.reserve(1024);
  allocations = 0;
  counting = true;
  for (size_t at = 0; at < x.size(); at += 100) {
    decoder.Process(x.data() + at, std::min<size_t>(100, x.size() - at));
    decoder.TakeText(text);
  }
  decoder.Flush();
  decoder.TakeText(text);
  counting = false;
  EXPECT_EQ(allocations.load(), 0);
  EXPECT_EQ(text, "paris paris paris paris ");
}

}  // namespace
}  // namespace kestrix::soft
