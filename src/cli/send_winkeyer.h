// kestrix-send --winkeyer DEV TEXT: the text keyed by a K1EL WinKeyer (WK2/WK3) on DEV,
// a serial port or a pseudo-terminal. Ctrl-C clears the keyer's buffer at once.
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

#include "transmit/winkeyer.h"

namespace kestrix::cli {

// Opens the keyer (host open, speed, weighting, PTT lead and tail, side tone) and keys
// every piece `next` gives until it ends or `stop` is set; host close at the end. Returns
// 0 when all was keyed, 1 when no keyer answered or it went away (one line on `err`), 130
// when stopped.
int RunWinKeyerSend(const std::string& path, const transmit::WinKeyerOptions& options,
                    const std::function<bool(std::string&)>& next, const std::atomic<bool>& stop,
                    std::ostream& err);

}  // namespace kestrix::cli
