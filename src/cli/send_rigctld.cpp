#include "cli/send_rigctld.h"

#include <mutex>

#include "platform/monotonic_wait.h"
#include "transmit/rigctld_keying.h"

namespace kestrix::cli {

int RunRigctldSend(const RigctldSendOptions& options, const std::function<bool(std::string&)>& next,
                   const std::atomic<bool>& stop, std::ostream& err) {
  std::mutex errMu;
  auto report = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(errMu);
    err << "kestrix-send: " << line << '\n';
  };
  transmit::RigctldConnection rig(options.host, options.port, report);
  std::string error;
  if (!rig.Connect(error)) {
    err << "kestrix-send: " << error << "; nothing keyed\n";
    return 1;
  }
  platform::MonotonicWaiter waiter;
  transmit::RigctldKeyer keyer(rig, waiter, report);
  const transmit::TextKeyer::StopWhen stopped = [&] { return stop.load(); };
  std::string text;
  bool ok = true;
  while (ok && !stop.load() && next(text)) ok = keyer.Send(text, options.wpm, stopped);
  if (ok) ok = keyer.Drain(stopped);
  if (stop.load()) return 130;  // Send or Drain has stopped the rig's keyer
  return ok ? 0 : 1;
}

}  // namespace kestrix::cli
