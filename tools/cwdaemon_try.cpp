// Tries the network keyer by hand without a radio: serves the protocol on a keying line
// that prints every edge with the time since start, e.g.
//   kestrix-cwdaemon-try [--udp-port N] [--listen ADDR:PORT] [--wpm N]
//   printf 'cq test^' | nc -u -w1 127.0.0.1 6789
// Ctrl-C ends it, and so does ESC 5.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/send_cwdaemon.h"

namespace {

std::atomic<bool> gStop{false};

void OnSignal(int) {
  gStop.store(true);
}

class PrintingLine final : public kestrix::transmit::KeyLine {
 public:
  void SetKeyLine(uint8_t state) override {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    std::printf("%8lld ms  key %s\n", static_cast<long long>(ms),
                state == kestrix::transmit::kKeyDown ? "DOWN" : "up");
    std::fflush(stdout);
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  kestrix::cli::CwdaemonOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    std::string error;
    bool ok = value != nullptr;
    if (arg == "--udp-port" && value) {
      ok = kestrix::cli::ParseUdpPort(value, options.udpPort, error);
      ++i;
    } else if (arg == "--listen" && value) {
      ok = kestrix::cli::ParseListenAddress(value, options.listenAddress, options.udpPort, error);
      ++i;
    } else if (arg == "--wpm" && value) {
      options.wpm = std::atoi(value);
      ok = options.wpm >= kestrix::transmit::kMinTransmitWpm &&
           options.wpm <= kestrix::transmit::kMaxTransmitWpm;
      error = "--wpm: 5..100";
      ++i;
    } else {
      ok = false;
      error = "usage: kestrix-cwdaemon-try [--udp-port N] [--listen ADDR:PORT] [--wpm N]";
    }
    if (!ok) {
      std::cerr << error << '\n';
      return 2;
    }
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  PrintingLine line;
  return kestrix::cli::RunCwdaemon(options, line, gStop, std::cerr);
}
