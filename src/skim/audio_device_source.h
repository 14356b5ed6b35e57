// A sound card carrying a receiver's audio as the skimmer's source: the project's
// PortAudio capture device, 16-bit mono, read through two alternating buffers.
//
// A read waits at most about one buffer's time. When no buffer has filled for well over
// its time (the sound server restarted, the card was taken away), Start() is called again:
// the capture device then opens a fresh stream, trying for its grace time, and reports on
// the log as it goes; a device that does not come back within that time ends the run with
// an error. Never hangs.
//
// One thread: the skimmer's.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "skim/sample_source.h"

namespace kestrix::skim {

// "N: name (host API)" per sound card, or "No Sound Card Detected".
void ListSoundCards(std::ostream& out);

// Opens card `spec` (index or name, as kestrix-decode --device) at `rate`; nullptr with
// one line in `error`.
std::unique_ptr<SampleSource> OpenAudioDevice(const std::string& spec, double rate,
                                              std::string& error);

}  // namespace kestrix::skim
