#include "cli/send_winkeyer.h"

#include <mutex>

namespace kestrix::cli {

int RunWinKeyerSend(const std::string& path, const transmit::WinKeyerOptions& options,
                    const std::function<bool(std::string&)>& next, const std::atomic<bool>& stop,
                    std::ostream& err) {
  std::mutex errMu;
  transmit::WinKeyerOptions o = options;
  o.report = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(errMu);
    err << "kestrix-send: " << line << '\n';
  };
  transmit::WinKeyer keyer(o);
  std::string error;
  if (!keyer.Open(path, error)) {
    err << "kestrix-send: " << error << "; nothing keyed\n";
    return 1;
  }
  const transmit::TextKeyer::StopWhen stopped = [&] { return stop.load(); };
  std::string text;
  bool ok = true;
  while (ok && !stop.load() && next(text)) ok = keyer.Send(text, options.wpm, stopped);
  if (ok) ok = keyer.Drain(stopped);
  const bool wasStopped = stop.load();
  keyer.Close();
  if (wasStopped && !keyer.Gone()) return 130;
  return ok ? 0 : 1;
}

}  // namespace kestrix::cli
