// kestrix-skim: decodes every CW signal in a band segment (I/Q from a recording or an SDR,
// or a receiver's audio) and writes DX-cluster spots to standard output and to loggers
// connected over telnet.
#include <signal.h>
#include <unistd.h>

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

  std::unique_ptr<SampleSource> source;
  if (!o.iq.empty()) {
    source = OpenIqRecording(o.iq, o.rate, error);
  } else if (!o.audio.empty()) {
    source = OpenAudioRecording(o.audio, error);
  } else if (!o.soapy.empty()) {
    SoapyConfig sdr;
    sdr.args = o.soapy;
    sdr.rate = o.rate > 0.0 ? o.rate : 192000.0;
    sdr.centreHz = *o.centreKhz * 1000.0;
    sdr.gainDb = o.gainDb;
    source = OpenSoapySource(sdr, std::cerr, error);
  } else {
    source = OpenAudioDevice(o.device, o.rate, error);
  }
  if (source == nullptr) {
    std::cerr << "kestrix-skim: " << error << '\n';
    return kExitInput;
  }

  // Where 0 Hz of the input is on the air.
  std::unique_ptr<RigctldClient> rig;
  double centreHz = std::nan("");
  if (o.Audio()) {
    if (!o.rigctld.empty()) {
      rig = std::make_unique<RigctldClient>(o.rigctld, std::cerr);
      if (rig->Start(error)) {
        centreHz = rig->DialHz();
      } else if (o.dialKhz) {
        std::cerr << "kestrix-skim: " << error << "; going on with --dial-khz " << *o.dialKhz
                  << " and trying again in the background\n";
        centreHz = *o.dialKhz * 1000.0;
      } else {
        std::cerr << "kestrix-skim: " << error
                  << " (give --dial-khz KHZ as well to start without it)\n";
        return kExitInput;
      }
    } else if (o.dialKhz) {
      centreHz = *o.dialKhz * 1000.0;
    } else {
      std::cerr << "kestrix-skim: a receiver's audio needs --dial-khz KHZ or --rigctld HOST:PORT\n";
      return kExitUsage;
    }
  } else {
    centreHz = o.centreKhz ? *o.centreKhz * 1000.0 : source->CentreHz();
    if (std::isnan(centreHz)) {
      std::cerr << "kestrix-skim: '" << source->Name()
                << "' does not say its centre frequency: give --center-khz KHZ\n";
      return kExitUsage;
    }
  }

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
    if (o.telnetWaitS > 0.0 && !source->IsLive()) {
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

  Outputs outputs(telnet.get());
  SpotFeedConfig fc;
  fc.spotter = o.call;
  fc.cqOnly = o.cqOnly;
  fc.utcAtStart = std::isnan(source->StartUtc()) ? WallUtc() : source->StartUtc();
  SpotFeed feed(book, fc, outputs, decodesFile.is_open() ? &decodesFile : nullptr);

  SkimmerConfig sc;
  sc.inputRate = source->Rate();
  sc.audio = !source->IsComplex();
  sc.centreHz = centreHz;
  sc.lowerSideband = o.lsb;
  Skimmer skimmer(sc, feed);

  RunConfig rc;
  rc.stop = &gStop;
  if (o.seconds) rc.stopAfterS = *o.seconds;
  const bool showProgress = !o.quiet && !source->IsLive() && isatty(STDERR_FILENO) != 0;
  if (showProgress) {
    rc.progress = [&](const RunProgress& p) {
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
  if (rig) {
    rc.retune = [&] {
      // The rig's mode, once known, overrides --sideband.
      const int lower = rig->LowerSideband();
      if (lower >= 0) skimmer.SetLowerSideband(lower == 1);
      return rig->Moved();
    };
  }

  const int status = RunSkimmer(*source, skimmer, rc, error);
  if (outputs.progressShown) std::fputs("\n", stderr);
  if (rig) rig->Stop();
  if (telnet) telnet->Stop();
  if (status != 0) {
    std::cerr << "kestrix-skim: " << error << '\n';
    return kExitInput;
  }
  if (!source->Warning().empty()) {
    std::cerr << "kestrix-skim: " << source->Warning() << '\n';
    return kExitInput;
  }
  return kExitOk;
}
