// kestrix-partner: a small partner program. Connects to the partner socket of a running
// Kestrix (the window or kestrix-decode --partner), announces itself and prints every
// decoded character as it arrives; says goodbye on the way out.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "decoder/cp1252.h"
#include "transmit/partner_client.h"
#include "transmit/partner_server.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoServer = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 3;

constexpr int kRetryMs = 100;  // between connection attempts while waiting
constexpr int kPollMs = 200;   // how often a stop request is looked at

const char kUsage[] =
    "Usage: kestrix-partner [--socket PATH] [--wait SECONDS]\n"
    "Connects to a running Kestrix (the window, or kestrix-decode --partner), announces\n"
    "itself as its partner program and prints every decoded character as it arrives, until\n"
    "Ctrl-C or until Kestrix goes away. The window posts characters while Options >\n"
    "Messaging > \"Msgs ON\" is checked.\n"
    "\n"
    "  --socket PATH     the partner socket (default $XDG_RUNTIME_DIR/kestrix/partner, or\n"
    "                    /tmp/kestrix-$USER/partner without $XDG_RUNTIME_DIR)\n"
    "  --wait SECONDS    keep trying to connect this long for Kestrix to appear (default 0:\n"
    "                    one attempt)\n"
    "  -h, --help        show this text\n"
    "\n"
    "Exit status: 0 stopped by Ctrl-C or SIGTERM, or Kestrix ended the connection after\n"
    "accepting the announcement; 1 no Kestrix serving at the socket (within --wait), or a\n"
    "socket or output error; 2 bad command line; 3 Kestrix closed the connection without\n"
    "accepting the announcement.\n";

std::atomic<int> gStop{0};

extern "C" void OnStop(int /*signal*/) {
  gStop.store(1, std::memory_order_relaxed);
}

bool Install(std::string& error) {
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a signal ends the wait in poll() at once.
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(s, &action, nullptr) != 0) {
      error = "cannot install the Ctrl-C handler";
      return false;
    }
  }
  // A closed standard output is reported as a write error, after the goodbye.
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool Stopping() {
  return gStop.load(std::memory_order_relaxed) != 0;
}

int Fail(const std::string& text, int status) {
  std::fprintf(stderr, "kestrix-partner: %s\n", text.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using kestrix::transmit::PartnerClient;
  using kestrix::transmit::PartnerConnectResult;
  using kestrix::transmit::PartnerRecord;

  std::string path;
  double waitSeconds = 0.0;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    kestrix::cli::OptionArg option = kestrix::cli::SplitOption(arg);
    const std::string& name = option.name;
    const std::string& value = option.value;
    if ((name == "--socket" || name == "--wait") && !kestrix::cli::TakeValue(option, args, i)) {
      return Fail("option " + arg + " needs a value", kExitUsage);
    }
    if (name == "--socket") {
      if (value.empty()) return Fail("--socket needs a path", kExitUsage);
      path = value;
    } else if (name == "--wait") {
      double s = -1.0;
      if (!kestrix::cli::ParseDouble(value, s) || s < 0.0 || s > 1e7) {
        return Fail("bad value '" + value + "' for --wait (expected seconds >= 0)", kExitUsage);
      }
      waitSeconds = s;
    } else {
      return Fail("unknown argument " + arg + " (see --help)", kExitUsage);
    }
  }
  if (path.empty()) path = kestrix::transmit::DefaultPartnerSocketPath();

  std::string error;
  if (!Install(error)) return Fail(error, kExitNoServer);

  PartnerClient client;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(waitSeconds));
  for (;;) {
    const PartnerConnectResult result = client.Connect(path, error);
    if (result == PartnerConnectResult::kConnected) break;
    if (result == PartnerConnectResult::kFailed) return Fail(error, kExitNoServer);
    if (Stopping()) return kExitOk;
    if (std::chrono::steady_clock::now() >= deadline) {
      return Fail("no Kestrix is serving partner programs at " + path, kExitNoServer);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }

  // The process id stands for the window handle: non-zero and ours.
  if (!client.Announce(static_cast<int64_t>(::getpid()), error)) return Fail(error, kExitNoServer);

  bool acknowledged = false;
  bool printed = false;
  int status = kExitOk;
  std::vector<PartnerRecord> records;
  std::string text;
  while (!Stopping()) {
    records.clear();
    const auto got = client.Receive(records, kPollMs, error);
    if (got == PartnerClient::ReceiveResult::kClosed) {
      if (!acknowledged) {
        status = Fail("Kestrix at " + path + " closed the connection without accepting us",
                      kExitRefused);
      }
      break;
    }
    if (got == PartnerClient::ReceiveResult::kFailed) {
      status = Fail(error, kExitNoServer);
      break;
    }
    text.clear();
    for (const PartnerRecord& r : records) {
      if (r.Message == kestrix::transmit::kPartnerAcknowledge) {
        if (!acknowledged) std::fprintf(stderr, "kestrix-partner: connected to %s\n", path.c_str());
        acknowledged = true;
      } else if (r.Message == kestrix::transmit::kPartnerCharacter) {
        text += static_cast<char>(r.Second & 0xFF);
      }
    }
    if (text.empty()) continue;
    const std::string utf8 = kestrix::Cp1252ToUtf8(text);
    if (std::fwrite(utf8.data(), 1, utf8.size(), stdout) != utf8.size() ||
        std::fflush(stdout) != 0) {
      status = Fail("cannot write to standard output", kExitNoServer);
      break;
    }
    printed = true;
  }
  // Goodbye is owed whenever we are still connected; a Kestrix that is gone needs none.
  std::string ignored;
  client.Goodbye(ignored);
  client.Close();
  if (printed && status == kExitOk) std::fputc('\n', stdout);
  return status;
}
