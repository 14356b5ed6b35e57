// The sound-card keyer's on/off mask: one byte per output sample, 1 for tone and 0 for
// silence, built character by character from the pattern table and the sample counts of
// the timing record (44 samples per millisecond). The tone output multiplies a tone by it.
//
// Threads: built and consumed on one keyer thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "transmit/element_timing.h"
#include "transmit/morse_send_table.h"

namespace kestrix::transmit {

inline constexpr int32_t kKeyMaskSamples = 1048576;  // about 23.8 s at 44100 Hz

class KeyMask {
 public:
  KeyMask() : bytes_(kKeyMaskSamples, 0) {}

  void Clear() { count_ = 0; }
  int32_t Count() const { return count_; }
  const uint8_t* Data() const { return bytes_.data(); }
  // Appends `n` samples of `value`. What does not fit is dropped (the batch rule keeps a
  // batch within the mask, so this only guards against a timing record changed between
  // the sizing pass and the build).
  void Append(uint8_t value, int32_t n);

 private:
  std::vector<uint8_t> bytes_;
  int32_t count_ = 0;
};

// Appends the samples of `code`: a dot or dash as its key-down samples (1 with the side
// tone on, else 0) and then the element space; '*' and '^' as silence.
void BuildKeyMask(uint8_t code, const MorseSendTable& table, const ElementTimingValues& t,
                  bool sideToneEnabled, KeyMask& mask);

// The number of samples BuildKeyMask would append for `code` (the sizing pass).
int64_t KeyMaskSamples(uint8_t code, const MorseSendTable& table, const ElementTimingValues& t);

}  // namespace kestrix::transmit
