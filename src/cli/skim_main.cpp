// kestrix-skim: decodes every CW signal in a band segment (I/Q from a recording or an SDR,
// or a receiver's audio) and writes DX-cluster spots to standard output and to loggers
// connected over telnet.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/skim_options.h"
#include "skim/audio_device_source.h"
#include "skim/call_sign.h"
#include "skim/receivers.h"
#include "skim/rigctld_client.h"
#include "skim/sample_source.h"
#include "skim/skim_run.h"
#include "skim/skimmer.h"
#include "skim/soapy_source.h"
#include "skim/spot_feed.h"
#include "skim/telnet_server.h"

namespace {

using namespace kestrix::skim;

constexpr int kExitOk = 0;
constexpr int kExitInput = 1;
constexpr int kExitUsage = 2;

std::atomic<int> gStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int) {
  gStop.store(1, std::memory_order_relaxed);
}

void InstallStopHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Spots to standard output and to the telnet server.
class Outputs final : public SpotOutput {
 public:
  explicit Outputs(TelnetServer* telnet) : telnet_(telnet) {}
  void OnSpot(const std::string& line, const Spot& spot) override {
    if (progressShown) std::fputs("\r\033[K", stderr);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (telnet_ != nullptr) telnet_->Publish(line, spot.kind);
  }
  bool progressShown = false;

 private:
  TelnetServer* telnet_;
};

std::string Clock(double s) {
  const long t = static_cast<long>(s);
  char buf[32];
  if (t >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", t / 3600, t / 60 % 60, t % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", t / 60, t % 60);
  }
  return buf;
}

double WallUtc() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SkimOptions o;
  std::string error;
  if (!ParseSkimOptions(args, o, error)) {
    std::cerr << "kestrix-skim: " << error << '\n';
    return kExitUsage;
  }
  if (o.help) {
    std::cout << SkimUsage();
    return kExitOk;
  }
  if (o.listSdr) {
    ListSdrs(std::cout);
    return kExitOk;
  }
  if (o.listDevices) {
    ListSoundCards(std::cout);
    return kExitOk;
  }
  InstallStopHandlers();

  // The call book first: a bad --scp or --cty is a usage error before any device opens.
  CallBook book;
  if (!o.scp.empty() && !book.LoadScpFile(o.scp, error)) {
    std::cerr << "kestrix-skim: " << error << '\n';
    return kExitInput;
  }
  if (!o.cty.empty() && !book.LoadCtyFile(o.cty, error)) {
    std::cerr << "kestrix-skim: " << error << '\n';
    return kExitInput;
  }

  // Every receiver's source, and where 0 Hz of its input is on the air.
  struct Receiver {
    std::unique_ptr<SampleSource> source;
    std::unique_ptr<RigctldClient> rig;
    std::unique_ptr<Skimmer> skimmer;
    double centreHz = std::nan("");
    bool lsb = false;
  };
  const bool several = o.receivers.size() > 1;
  std::vector<Receiver> receivers(o.receivers.size());
  for (size_t i = 0; i < o.receivers.size(); ++i) {
    const SkimReceiver& opt = o.receivers[i];
    Receiver& rx = receivers[i];
    const std::string who = several ? opt.Describe() + ": " : "";
    if (!opt.iq.empty()) {
      rx.source = OpenIqRecording(opt.iq, opt.rate, error);
    } else if (!opt.audio.empty()) {
      rx.source = OpenAudioRecording(opt.audio, error);
    } else if (!opt.soapy.empty()) {
      SoapyConfig sdr;
      sdr.args = opt.soapy;
      sdr.rate = opt.rate > 0.0 ? opt.rate : 192000.0;
      sdr.centreHz = *opt.centreKhz * 1000.0;
      sdr.gainDb = opt.gainDb;
      sdr.streamArgs = opt.streamArgs;
      rx.source = OpenSoapySource(sdr, std::cerr, error);
    } else {
      rx.source = OpenAudioDevice(opt.device, opt.rate, error);
    }
    if (rx.source == nullptr) {
      std::cerr << "kestrix-skim: " << error << '\n';
      return kExitInput;
    }
    rx.lsb = opt.lsb;
    if (opt.Audio()) {
      if (!opt.rigctld.empty()) {
        rx.rig = std::make_unique<RigctldClient>(opt.rigctld, std::cerr);
        if (rx.rig->Start(error)) {
          rx.centreHz = rx.rig->DialHz();
        } else if (opt.dialKhz) {
          std::cerr << "kestrix-skim: " << who << error << "; going on with --dial-khz "
                    << *opt.dialKhz << " and trying again in the background\n";
          rx.centreHz = *opt.dialKhz * 1000.0;
        } else {
          std::cerr << "kestrix-skim: " << who << error
                    << " (give --dial-khz KHZ as well to start without it)\n";
          return kExitInput;
        }
      } else if (opt.dialKhz) {
        rx.centreHz = *opt.dialKhz * 1000.0;
      } else {
        std::cerr << "kestrix-skim: " << who
                  << "a receiver's audio needs --dial-khz KHZ or --rigctld HOST:PORT\n";
        return kExitUsage;
      }
    } else {
      rx.centreHz = opt.centreKhz ? *opt.centreKhz * 1000.0 : rx.source->CentreHz();
      if (std::isnan(rx.centreHz)) {
        std::cerr << "kestrix-skim: '" << rx.source->Name()
                  << "' does not say its centre frequency: give --center-khz KHZ\n";
        return kExitUsage;
      }
    }
  }
  const bool live = receivers.front().source->IsLive();

  std::unique_ptr<TelnetServer> telnet;
  if (o.telnetPort) {
    TelnetServerConfig tc;
    tc.port = *o.telnetPort;
    tc.listenAddress = o.listen;
    telnet = std::make_unique<TelnetServer>(tc);
    if (!telnet->Start(error)) {
      std::cerr << "kestrix-skim: " << error << '\n';
      return kExitInput;
    }
    std::cerr << "kestrix-skim: spots on telnet " << o.listen << " port " << telnet->Port() << '\n';
    if (o.telnetWaitS > 0.0 && !live) {
      std::cerr << "kestrix-skim: waiting up to " << o.telnetWaitS << " s for a logger to log in\n";
      telnet->WaitForFirstLogin(o.telnetWaitS);
    }
  }

  std::ofstream decodesFile;
  if (!o.decodes.empty()) {
    decodesFile.open(o.decodes);
    if (!decodesFile) {
      std::cerr << "kestrix-skim: cannot write '" << o.decodes << "'\n";
      return kExitInput;
    }
  }

  // One clock for all receivers: the earliest recording's start, or the wall clock.
  const double wallUtc = WallUtc();
  auto startUtc = [&](const Receiver& rx) {
    return std::isnan(rx.source->StartUtc()) ? wallUtc : rx.source->StartUtc();
  };
  double utcAtStart = startUtc(receivers.front());
  for (const Receiver& rx : receivers) utcAtStart = std::min(utcAtStart, startUtc(rx));

  Outputs outputs(telnet.get());
  SpotFeedConfig fc;
  fc.spotter = o.call;
  fc.cqOnly = o.cqOnly;
  fc.utcAtStart = utcAtStart;
  SpotFeed feed(book, fc, outputs, decodesFile.is_open() ? &decodesFile : nullptr);
  ReceiverHub hub(feed);

  std::vector<ReceiverRun> runs(receivers.size());
  for (size_t i = 0; i < receivers.size(); ++i) {
    Receiver& rx = receivers[i];
    SkimmerConfig sc;
    sc.inputRate = rx.source->Rate();
    sc.audio = !rx.source->IsComplex();
    sc.centreHz = rx.centreHz;
    sc.lowerSideband = rx.lsb;
    rx.skimmer = std::make_unique<Skimmer>(sc, hub.AddReceiver(startUtc(rx) - utcAtStart));
    ReceiverRun& run = runs[i];
    run.source = rx.source.get();
    run.skimmer = rx.skimmer.get();
    run.config.stop = &gStop;
    if (o.seconds) run.config.stopAfterS = *o.seconds;
    if (rx.rig) {
      run.config.retune = [&rx] {
        // The rig's mode, once known, overrides --sideband.
        const int lower = rx.rig->LowerSideband();
        if (lower >= 0) rx.skimmer->SetLowerSideband(lower == 1);
        return rx.rig->Moved();
      };
    }
  }
  // The progress line follows the first receiver.
  const bool showProgress = !o.quiet && !live && isatty(STDERR_FILENO) != 0;
  if (showProgress) {
    runs.front().config.progress = [&](const RunProgress& p) {
      std::string line = "\r\033[K" + Clock(p.streamS);
      if (p.totalS > 0.0) line += " of " + Clock(p.totalS);
      char buf[128];
      std::snprintf(buf, sizeof buf, "  %.1fx real time  %zu signals  %zu stations spotted",
                    p.speed, p.liveSignals, feed.CallsSpotted());
      line += buf;
      std::fputs(line.c_str(), stderr);
      outputs.progressShown = true;
    };
  }

  RunReceivers(runs);
  if (outputs.progressShown) std::fputs("\n", stderr);
  for (Receiver& rx : receivers)
    if (rx.rig) rx.rig->Stop();
  if (telnet) telnet->Stop();
  int status = kExitOk;
  for (size_t i = 0; i < runs.size(); ++i) {
    const std::string who = several ? o.receivers[i].Describe() + ": " : "";
    if (runs[i].status != 0) {
      std::cerr << "kestrix-skim: " << who << runs[i].error << '\n';
      status = kExitInput;
    } else if (!receivers[i].source->Warning().empty()) {
      std::cerr << "kestrix-skim: " << who << receivers[i].source->Warning() << '\n';
      status = kExitInput;
    }
  }
  return status;
}
