// A live SDR through SoapySDR as the skimmer's I/Q source.
//
// The device is opened with the user's arguments ("driver=rtlsdr,serial=..."), tuned to
// the centre frequency at the wanted rate, with the given gain or the device's automatic
// gain, and read as CF32 on a thread of its own (ThreadedSource). When the device fails
// mid-run (unplugged, its server gone) or stalls, the source says so on the log, closes it
// and opens it again with backoff (ReopeningSource), returning kSourceAgain meanwhile, for
// as long as it takes unless `giveUpS` says otherwise. Overflows (samples the device
// dropped) and a rate other than the one asked for get one line, never an end.
//
// Read from one thread: the skimmer's.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "skim/sample_source.h"

namespace kestrix::skim {

struct SoapyConfig {
  std::string args;              // SoapySDR device arguments
  double rate = 192000.0;        // samples per second
  double centreHz = 0.0;         // tuning
  std::optional<double> gainDb;  // none: automatic gain
  std::string streamArgs;        // added to the stream's arguments ("chan=stereo_iq")
  double giveUpS = 0.0;          // a lost device is tried again this long; 0: for ever
};

// Lists what SoapySDR finds, one line each ("0: driver=rtlsdr, label=..."), or says that
// it found none and which modules it would need. Never fails without an SDR.
void ListSdrs(std::ostream& out);

// Opens and starts the device; nullptr with one line in `error`.
std::unique_ptr<SampleSource> OpenSoapySource(const SoapyConfig& config, std::ostream& log,
                                              std::string& error);

}  // namespace kestrix::skim
