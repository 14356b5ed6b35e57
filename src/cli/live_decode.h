// kestrix-decode's live mode: the window's receive loop, with kestrix-decode as its host,
// on a sound card (--device) or on a recording played as one (--input-file).
//
// The receiver starts exactly as in the file mode (ApplyStartOptions, START's values,
// ApplyToneClick). The loop runs on the calling thread until a stop is asked for (the
// signal flag, --seconds, the end of the recording), then STOP ends it, silence is run
// through the receiver so the last character comes out, and a newline ends the output.
#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "cli/decode_options.h"
#include "platform/capture_device.h"

namespace kestrix {

// Prints "N: name (host API)" per sound card, or "No Sound Card Detected".
int ListDevices(std::ostream& out, std::string& error);

// Finds a sound card by index ("2") or by name: an exact name, else the only name that
// contains `spec` (case-insensitive). Returns -1 with one line in `error`.
int ResolveDevice(CaptureDevice& device, const std::string& spec, std::string& error);

// Runs the live mode. `stop` (may be null) is polled between buffers: a signal handler
// sets it. Decoded text goes to `out` (UTF-8), the sound device's messages to `log` as
// they come. Returns the exit status; on failure `error` holds one line, or is empty when
// the failure's message is already on the log.
int RunLiveDecode(const DecodeOptions& options, std::ostream& out, std::ostream& log,
                  const std::atomic<int>* stop, std::string& error);

// The same on a given device (the tests pass a scripted one or a FileCapture).
int RunLiveDecodeOn(CaptureDevice& device, const DecodeOptions& options, std::ostream& out,
                    std::ostream& log, const std::atomic<int>* stop, std::string& error);

}  // namespace kestrix
