// Where the skimmer's samples come from: recordings and standard input here, live
// receivers in soapy_source.h and audio_device_source.h.
//
// A source hands out blocks of samples as floats: I/Q sources interleaved I, Q with full
// scale 1.0 (a complex sample per pair), audio sources one float per sample. Read returns
// how many samples it stored, 0 at the end, -1 on a failure with Error() set, or
// kSourceAgain (live sources) when nothing came within a short wait. A recording
// that ends early (a truncated file, a last sample cut in half) reads to its end and then
// says so in Warning(): the caller decodes what is there and reports it.
//
// Recordings:
//   --iq FILE.wav     2-channel WAV (or anything libsndfile reads): I left, Q right;
//                     16/24/32-bit integer or 32-bit float
//   --iq FILE.sigmf-meta | FILE.sigmf-data | FILE (with FILE.sigmf-meta beside it)
//   --iq FILE.cf32 | FILE.raw | - (standard input): raw interleaved float32 I/Q; --rate
//   --audio FILE      a receiver's audio, mono (of a file with more channels, the first)
//
// One thread at a time.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrix::skim {

// Read's answer from a live source that has nothing yet (it is waiting for samples or
// reopening a lost device); ask again.
inline constexpr long kSourceAgain = -2;

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual double Rate() const = 0;
  virtual bool IsComplex() const = 0;
  // Up to `count` samples into `out` (2 * count floats for I/Q).
  virtual long Read(float* out, size_t count) = 0;
  // Samples in the whole recording, 0 when unknown (a pipe, a live receiver).
  virtual int64_t TotalSamples() const { return 0; }
  virtual bool IsLive() const { return false; }
  // Centre frequency the recording states (SigMF), NaN when it states none.
  virtual double CentreHz() const { return std::nan(""); }
  // Start of the recording in seconds since 1970 UTC, NaN when unknown.
  virtual double StartUtc() const { return std::nan(""); }
  const std::string& Error() const { return error_; }
  const std::string& Warning() const { return warning_; }
  const std::string& Name() const { return name_; }

 protected:
  std::string error_;
  std::string warning_;
  std::string name_;
};

// An I/Q recording by its name (see above). `rate` is --rate (0 when not given): required
// for raw samples, and refused as a contradiction when it differs from a file's own rate.
// nullptr with one line in `error` when it can't be read as I/Q.
std::unique_ptr<SampleSource> OpenIqRecording(const std::string& path, double rate,
                                              std::string& error);

// A receiver's audio recording (mono; of a file with more channels, the first).
std::unique_ptr<SampleSource> OpenAudioRecording(const std::string& path, std::string& error);

// A source over samples in memory (tests, and the band map's hand-off).
std::unique_ptr<SampleSource> MemorySource(const float* samples, size_t count, double rate,
                                           bool complex);

}  // namespace kestrix::skim
