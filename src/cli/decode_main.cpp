// kestrix-decode: prints the Morse code in a recording, or heard on a sound card, as text.
#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "cli/best_decode.h"
#include "cli/decode_options.h"
#include "cli/decode_session.h"
#include "cli/live_decode.h"
#include "cli/soft_decode.h"

namespace {

// Set by SIGINT/SIGTERM; the receive loop looks at it between buffers and stops cleanly.
std::atomic<int> gStopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int /*signal*/) {
  gStopRequested.store(1, std::memory_order_relaxed);
}

bool InstallStopHandlers(std::string& error) {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C ends the program at once, should the clean stop ever hang.
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGINT, SIGTERM}) {
    if (sigaction(signal, &action, nullptr) != 0) {
      error = "cannot install the Ctrl-C handler";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kestrix::DecodeOptions options;
  std::string error;
  if (!kestrix::ParseDecodeOptions(args, options, error)) {
    std::cerr << "kestrix-decode: " << error << '\n';
    return kestrix::kExitUsage;
  }
  if (options.help) {
    std::cout << kestrix::DecodeUsage();
    return kestrix::kExitOk;
  }
  std::ios::sync_with_stdio(false);
  int status = kestrix::kExitOk;
  if (options.listDevices) {
    status = kestrix::ListDevices(std::cout, error);
  } else if (options.Live()) {
    status = InstallStopHandlers(error)
                 ? kestrix::RunLiveDecode(options, std::cout, std::cerr, &gStopRequested, error)
                 : kestrix::kExitInputError;
  } else if (options.engine == kestrix::DecodeEngine::kSoft && !options.best) {
    status = kestrix::RunSoftDecode(options, std::cout, error);
  } else if (options.best) {
    status = kestrix::RunBestDecode(options, std::cout, error);
  } else {
    status = kestrix::RunDecode(options, std::cout, error);
  }
  if (status != kestrix::kExitOk && !error.empty()) {
    std::cerr << "kestrix-decode: " << error << '\n';
  }
  return status;
}
