// What a live receiver needs around its device: reopening it when it vanishes or stalls,
// and reading it on a thread of its own.
//
// LiveStream is the device as a driver gives it (SoapySDR in soapy_source.cpp; a fake in
// the tests). ReopeningSource makes a SampleSource of it that never ends by itself: when
// the device fails, or gives nothing for `stallS`, it says so in one line on the log,
// closes it and opens it again after 1, 2, 4 ... up to `maxRetryS` seconds, returning
// kSourceAgain meanwhile; when samples come again it says so in one more line.
// Samples the device dropped because we were late (overflows) are reported in one line,
// then at most once a minute with the count. A device that gives another rate than the one
// asked for is reported once, and so is one that delivers less than half its rate; one
// that gets a second's worth of samples ahead of one and a half times its rate is taken as
// lost (a driver whose device went away handing out what it has).
//
// ThreadedSource reads any source on a thread of its own into a bounded queue (about two
// seconds of samples), so that a slow or stuck device never holds up the engine and a busy
// engine never makes the device drop samples; when the engine falls behind by more than the
// queue, the oldest blocks go, and that is said once.
//
// Threads: ReopeningSource, one at a time (the reader's). ThreadedSource: Read from one
// thread (the engine's); the inner source is used only by the reader thread.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "skim/sample_source.h"

namespace kestrix::skim {

class LiveStream {
 public:
  static constexpr long kOverflow = -10;  // Read: the device dropped samples
  static constexpr long kLost = -11;      // Read: the device failed (`error` says how)

  virtual ~LiveStream() = default;
  // Opens and starts the device; false with one line in `error`.
  virtual bool Open(std::string& error) = 0;
  virtual void Close() = 0;
  // Up to `count` complex samples into `out` (2 * count floats) within a short wait (about
  // 100 ms): how many, 0 when none came, kOverflow or kLost.
  virtual long Read(float* out, size_t count, std::string& error) = 0;
  // The rate the device runs at, after Open.
  virtual double Rate() const = 0;
  // "the SDR (driver=rtlsdr)", for messages.
  virtual const std::string& Name() const = 0;
};

struct ReopenPolicy {
  double wantedRate = 0.0;  // what was asked for (a device giving another is reported)
  double centreHz = std::nan("");
  double stallS = 3.0;       // no samples this long: the device is taken as gone
  double firstRetryS = 1.0;  // then doubling ...
  double maxRetryS = 30.0;   // ... up to this
  double giveUpS = 0.0;      // end the run after this long without the device; 0: never
  double rateCheckS = 5.0;   // samples counted against the rate over this long; 0: not
};

// `stream` must be open already (the program checks the device at the start).
std::unique_ptr<SampleSource> ReopeningSource(std::unique_ptr<LiveStream> stream,
                                              const ReopenPolicy& policy, std::ostream& log);

// Reads `inner` on a thread of its own; `queueS` seconds of samples wait for the engine.
std::unique_ptr<SampleSource> ThreadedSource(std::unique_ptr<SampleSource> inner, std::ostream& log,
                                             double queueS = 2.0);

}  // namespace kestrix::skim
