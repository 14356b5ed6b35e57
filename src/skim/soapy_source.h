// A live SDR through SoapySDR as the skimmer's I/Q source.
//
// The device is opened with the user's arguments ("driver=rtlsdr,serial=..."), tuned to
// the centre frequency at the wanted rate, with the given gain or the device's automatic
// gain, and read as CF32. A read waits at most 100 ms. When the device fails mid-run
// (unplugged, its server gone) the source says so once on the log, closes it and opens it
// again every two seconds, returning kSourceAgain meanwhile; after `giveUpS` without it
// the run ends with an error. Overflows (samples the device dropped because we were late)
// are counted, never fatal.
//
// One thread: the skimmer's.
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
  double giveUpS = 60.0;         // a lost device is tried again this long
};

// Lists what SoapySDR finds, one line each ("0: driver=rtlsdr, label=..."), or says that
// it found none and which modules it would need. Never fails without an SDR.
void ListSdrs(std::ostream& out);

// Opens and starts the device; nullptr with one line in `error`.
std::unique_ptr<SampleSource> OpenSoapySource(const SoapyConfig& config, std::ostream& log,
                                              std::string& error);

}  // namespace kestrix::skim
