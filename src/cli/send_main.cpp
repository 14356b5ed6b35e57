// kestrix-send: keys text on a serial or parallel line with the window's own keying
// engine (element timing, pattern table, port keyer, keying port), renders or plays it
// as tone through the window's sound-card keyer, or serves network keying.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/send_cwdaemon.h"
#include "cli/send_options.h"
#include "cli/send_rigctld.h"
#include "cli/send_tone.h"
#include "cli/send_winkeyer.h"
#include "platform/key_device.h"
#include "platform/monotonic_wait.h"
#include "platform/realtime.h"
#include "platform/serial_ports.h"
#include "transmit/keying_port.h"
#include "transmit/line_latency.h"
#include "transmit/morse_send_table.h"
#include "transmit/port_keyer.h"
#include "transmit/rigctld_keying.h"
#include "transmit/transmit_state.h"
#include "transmit/winkeyer.h"

namespace {

using namespace kestrix;

std::atomic<int> gStopSignal{0};

// The waiter the rig's keyer paces its chunks on.
platform::MonotonicWaiter& rigWaiter() {
  static platform::MonotonicWaiter waiter;
  return waiter;
}
std::atomic<bool> gStopRequested{false};  // the same, for the network keying server

void OnStopSignal(int sig) {
  gStopSignal.store(sig, std::memory_order_relaxed);
  gStopRequested.store(true, std::memory_order_relaxed);
}

// No SA_RESTART: a blocked read of standard input returns at once; the element waits
// resume on their own deadline, so a character in progress is finished.
void InstallStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool Stopped() {
  return gStopSignal.load(std::memory_order_relaxed) != 0;
}

// Messages go to standard error, one line each; a line failure stops the send.
class SendHost final : public transmit::KeyingPortHost {
 public:
  void PortMessage(const std::string&, const std::string& text) override { Report(text); }
  void RunNoneHandler() override {}
  void LineFailed(const std::string&, const std::string& text) override {
    Report(text.substr(0, text.find('\n')));
    failed_.store(true, std::memory_order_relaxed);
  }
  bool Failed() const { return failed_.load(std::memory_order_relaxed); }

 private:
  static void Report(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
      if (c == '\n') c = ' ';
    }
    std::cerr << "kestrix-send: " << line << "\n";
  }
  std::atomic<bool> failed_{false};
};

int ListPorts() {
  const std::vector<platform::SerialPortInfo> ports = platform::ListSerialPorts();
  if (ports.empty()) std::cout << "no serial devices found\n";
  for (size_t i = 0; i < ports.size(); ++i) {
    std::cout << "COM " << (i + 1) << "\t" << ports[i].device << "\t" << ports[i].description
              << "\n";
  }
  return 0;
}

class Sender {
 public:
  explicit Sender(const cli::SendOptions& o) : o_(o) {
    tx_.DotRatio = o.ratios.DotRatio;
    tx_.DashRatio = o.ratios.DashRatio;
    tx_.CharRatio = o.ratios.CharRatio;
    tx_.WordRatio = o.ratios.WordRatio;
    tx_.SpeedWpm = o.wpm;
    transmit::ComputeElementTiming(tx_.Timing, o.wpm, tx_.Ratios());
    port_.SetPolarity(o.invert ? 2 : 1);
    port_.SetRtsPtt(o.rtsPtt);
  }
  ~Sender() {
    port_.ReleaseLine();
    LowerPtt();
  }

  // 0 when the line is ready (or none was asked for), else 1 after the message.
  int Open() {
    if (o_.line == cli::SendLine::kSerial) {
      port_.OpenNamedPort(o_.device);
    } else if (o_.line == cli::SendLine::kParallel) {
      tx_.PortKind = transmit::kParallelPort;
      port_.OpenPort(o_.device);
      port_.ReleaseLine();
    }
    if (o_.line != cli::SendLine::kNone && !port_.PortConfigured()) return 1;
    if (o_.verbose) {
      const transmit::ElementTimingValues t = tx_.Timing.Load();
      std::cerr << "kestrix-send: "
                << (o_.line == cli::SendLine::kNone ? "no line (timing only)" : port_.OpenDevice())
                << (o_.invert ? ", inverted" : "") << "; " << o_.wpm << " wpm: unit " << t.UnitMs
                << " ms, dot " << t.DotMs << ", dash " << t.DashMs << ", element space "
                << t.ElementSpaceMs << ", character space +" << t.CharSpaceMs << ", word space +"
                << t.WordSpaceMs << " ms\n";
    }
    return 0;
  }

  // The PTT (RTS with --rts-ptt, or rigctld's): up, and the first element --ptt-delay
  // later. False when it could not be raised: then nothing is keyed.
  bool RaisePtt() {
    if (ptt_ == nullptr || pttUp_) return true;
    pttUp_ = ptt_->SetPtt(true);
    if (!pttUp_) {
      ptt_->SetPtt(false);
      std::cerr << "kestrix-send: the PTT could not be raised; nothing keyed\n";
      pttFailed_ = true;
      return false;
    }
    waiter_.WaitMs(o_.pttDelayMs);
    return true;
  }
  // Released after the last element (and by the destructor on every other way out).
  void LowerPtt() {
    if (!pttUp_) return;
    ptt_->SetPtt(false);
    pttUp_ = false;
  }
  void UsePtt(transmit::PttLine* ptt) { ptt_ = ptt; }

  // Keys `text`; false when stopped by a signal or a line failure.
  bool Send(const std::string& text) {
    if (text.find_first_not_of(' ') != std::string::npos && !RaisePtt()) return false;
    for (char c : text) {
      if (Stopped() || host_.Failed()) return false;
      keyer_.SendCharToPort(static_cast<uint8_t>(c));
    }
    return !host_.Failed();
  }

  bool Tune(double seconds) {
    if (!RaisePtt()) return false;
    tx_.TuneActive.store(1);
    tx_.KeyState.store(transmit::kKeyDown);
    // Release due `seconds` after the key went down, whatever the line calls cost.
    const int64_t end = waiter_.NowUs() + static_cast<int64_t>(seconds * 1e6);
    timed_.SetKeyLine(transmit::kKeyDown);
    // Short slices, so a signal releases the key within 10 ms.
    for (int64_t now = waiter_.NowUs(); now < end && !Stopped() && !host_.Failed();
         now = waiter_.NowUs()) {
      waiter_.WaitUntilUs(std::min(end, now + 10000));
    }
    tx_.TuneActive.store(0);
    tx_.KeyState.store(transmit::kKeyUp);
    timed_.SetKeyLine(transmit::kKeyUp);
    return !Stopped() && !host_.Failed();
  }

  bool Failed() const { return host_.Failed() || pttFailed_; }
  transmit::KeyLine& Line() { return timed_; }
  transmit::KeyingPort& Port() { return port_; }

  // What the line calls cost (--verbose): an adapter's control transfer shows here.
  void ReportLatency() const {
    const transmit::TimedKeyLine::Summary s = timed_.Latency();
    if (s.calls == 0) return;
    char text[160];
    std::snprintf(text, sizeof text, "line calls: %lld, median %.3f ms, worst %.3f ms",
                  static_cast<long long>(s.calls), static_cast<double>(s.medianUs) / 1000.0,
                  static_cast<double>(s.worstUs) / 1000.0);
    std::cerr << "kestrix-send: " << text << "\n";
  }

 private:
  const cli::SendOptions& o_;
  transmit::TransmitState tx_;
  SendHost host_;
  transmit::KeyingPort port_{tx_, platform::SystemDevices(), host_};
  platform::MonotonicWaiter waiter_;
  transmit::TimedKeyLine timed_{port_, waiter_};
  transmit::PortKeyer keyer_{transmit::SendTable(), tx_.Timing, timed_, waiter_, tx_.KeyState};
  transmit::PttLine* ptt_ = nullptr;
  bool pttUp_ = false;
  bool pttFailed_ = false;
};

// rigctld as the PTT (--ptt-rigctld): connected and released at start, so that a rigctld
// that cannot be reached or refuses PTT ends the run before anything is keyed.
struct RigPtt {
  explicit RigPtt(const cli::SendOptions& o)
      : rig(o.pttRigctldHost, o.pttRigctldPort,
            [](const std::string& line) { std::cerr << "kestrix-send: " << line << "\n"; }),
        ptt(rig) {}
  bool Ready() {
    std::string error;
    if (!rig.Connect(error)) {
      std::cerr << "kestrix-send: " << error << "; nothing keyed\n";
      return false;
    }
    const int r = rig.Command("T 0");
    if (r != 0) {
      if (r != transmit::kRigctldLost)
        std::cerr << "kestrix-send: " << rig.Name() << ": the rig refused PTT (RPRT " << r
                  << "; a dummy rig needs rigctld -P RIG); nothing keyed\n";
      return false;
    }
    return true;
  }
  transmit::RigctldConnection rig;
  transmit::RigctldPtt ptt;
};

// The text of the command line, or all of standard input (lines joined by word spaces).
std::string WholeText(const cli::SendOptions& o) {
  std::string text;
  if (!o.readStdin) {
    for (const std::string& word : o.text) text += (text.empty() ? "" : " ") + word;
    return text;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += (text.empty() ? "" : " ") + line;
  }
  return text;
}

cli::ToneSendOptions ToneOptions(const cli::SendOptions& o) {
  cli::ToneSendOptions t;
  t.wavPath = o.wavPath;
  t.device = o.soundDevice;
  t.toneHz = o.toneHz;
  t.square = o.square;
  t.silent = o.silent;
  t.wpm = o.wpm;
  t.ratios = o.ratios;
  return t;
}

cli::CwdaemonOptions NetworkOptions(const cli::SendOptions& o) {
  cli::CwdaemonOptions c;
  c.udpPort = o.udpPort;
  c.listenAddress = o.listenAddress;
  c.wpm = o.wpm;
  c.ratios = o.ratios;
  c.pttDelayMs = o.pttDelayMs;
  c.pttTailMs = o.pttTailMs;
  c.onListening = [verbose = o.verbose](uint16_t port) {
    if (verbose) std::cerr << "kestrix-send: network keying on port " << port << "\n";
  };
  return c;
}

// Network keying as tone: there is no line to open; the device is opened by the server.
int RunToneServer(const cli::SendOptions& o) {
  InstallStopSignals();
  cli::CwdaemonOptions c = NetworkOptions(o);
  std::unique_ptr<RigPtt> rigPtt;
  if (!o.pttRigctldHost.empty()) {
    rigPtt = std::make_unique<RigPtt>(o);
    if (!rigPtt->Ready()) return 1;
    c.ptt = &rigPtt->ptt;
    c.pttName = rigPtt->rig.Name();
  }
  const platform::RealtimeResult rt = platform::RequestRealtime(50);
  const platform::RealtimeResult locked = platform::LockMemory();
  if (o.verbose)
    std::cerr << "kestrix-send: keying thread: " << rt.text << "; " << locked.text << "\n";
  return cli::RunCwdaemonTone(c, ToneOptions(o), gStopRequested, std::cerr);
}

// Text as tone on the sound card, with rigctld's PTT around it when asked for.
int RunTone(const cli::SendOptions& o) {
  cli::ToneSendOptions t = ToneOptions(o);
  std::unique_ptr<RigPtt> rigPtt;
  if (!o.pttRigctldHost.empty()) {
    InstallStopSignals();  // Ctrl-C ends the tone and releases the PTT
    rigPtt = std::make_unique<RigPtt>(o);
    if (!rigPtt->Ready()) return 1;
    t.ptt = &rigPtt->ptt;
    t.pttLeadMs = o.pttDelayMs;
    t.pttTailMs = o.pttTailMs;
    t.stop = &gStopRequested;
    transmit::RigctldConnection& rig = rigPtt->rig;
    t.pttAlive = [&rig] { return rig.Command("t") != transmit::kRigctldLost; };
  }
  return cli::RunToneSend(t, WholeText(o), std::cerr);
}

// The text for a keyer of its own: the command line's once, or each line of standard input
// as it arrives (the end of a line is a word space).
std::function<bool(std::string&)> TextPieces(const cli::SendOptions& o) {
  auto given = std::make_shared<bool>(false);
  return [&o, given](std::string& text) {
    if (!o.readStdin) {
      if (*given) return false;
      *given = true;
      text.clear();
      for (const std::string& word : o.text) text += (text.empty() ? "" : " ") + word;
      return true;
    }
    if (!std::getline(std::cin, text)) return false;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    text += ' ';
    return true;
  };
}

// Text through the rig's own keyer (--rigctld).
int RunRigctld(const cli::SendOptions& o) {
  InstallStopSignals();
  cli::RigctldSendOptions r;
  r.host = o.rigctldHost;
  r.port = o.rigctldPort;
  r.wpm = o.wpm;
  return cli::RunRigctldSend(r, TextPieces(o), gStopRequested, std::cerr);
}

transmit::WinKeyerOptions WinKeyerSettings(const cli::SendOptions& o) {
  transmit::WinKeyerOptions w;
  w.wpm = o.wpm;
  w.pttLeadMs = o.pttDelayMs;
  w.pttTailMs = o.pttTailMs;
  w.sidetone = !o.silent;
  w.sidetoneHz = static_cast<int>(o.toneHz);
  return w;
}

// Text through a WinKeyer (--winkeyer).
int RunWinKeyer(const cli::SendOptions& o) {
  InstallStopSignals();
  return cli::RunWinKeyerSend(o.winkeyer, WinKeyerSettings(o), TextPieces(o), gStopRequested,
                              std::cerr);
}

int Run(const cli::SendOptions& o) {
  InstallStopSignals();
  // Declared first so that it outlives the sender, whose destructor may release it.
  std::unique_ptr<RigPtt> rigPtt;
  Sender sender(o);
  if (sender.Open() != 0) return 1;
  if (!o.pttRigctldHost.empty()) {
    rigPtt = std::make_unique<RigPtt>(o);
    if (!rigPtt->Ready()) return 1;
  }
  if (o.rtsPtt) sender.UsePtt(&sender.Port());
  if (rigPtt) sender.UsePtt(&rigPtt->ptt);
  // --rigctld with --cwdaemon: the rig's keyer keys the network's text.
  std::unique_ptr<transmit::RigctldConnection> rig;
  std::unique_ptr<transmit::RigctldKeyer> rigKeyer;
  if (!o.rigctldHost.empty()) {
    auto report = [](const std::string& line) { std::cerr << "network keying: " << line << "\n"; };
    rig = std::make_unique<transmit::RigctldConnection>(o.rigctldHost, o.rigctldPort, report);
    std::string error;
    if (!rig->Connect(error)) {
      std::cerr << "kestrix-send: " << error << "; nothing keyed\n";
      return 1;
    }
    rigKeyer = std::make_unique<transmit::RigctldKeyer>(*rig, rigWaiter(), report);
  }
  // --winkeyer with --cwdaemon: the WinKeyer keys the network's text; what the operator
  // sends on its paddles goes to standard output.
  std::unique_ptr<transmit::WinKeyer> winKeyer;
  if (!o.winkeyer.empty()) {
    transmit::WinKeyerOptions w = WinKeyerSettings(o);
    w.report = [](const std::string& line) { std::cerr << "network keying: " << line << "\n"; };
    w.onPaddle = [](char c) { std::cout << c << std::flush; };
    winKeyer = std::make_unique<transmit::WinKeyer>(w);
    std::string error;
    if (!winKeyer->Open(o.winkeyer, error)) {
      std::cerr << "kestrix-send: " << error << "; nothing keyed\n";
      return 1;
    }
  }
  const platform::RealtimeResult rt = platform::RequestRealtime(50);
  const platform::RealtimeResult locked = platform::LockMemory();
  if (o.verbose)
    std::cerr << "kestrix-send: keying thread: " << rt.text << "; " << locked.text << "\n";

  if (o.mode == cli::SendMode::kCwdaemon) {
    cli::CwdaemonOptions c = NetworkOptions(o);
    if (o.rtsPtt) {
      c.ptt = &sender.Port();
      c.pttName = "RTS of " + o.device;
    }
    if (rigPtt) {
      c.ptt = &rigPtt->ptt;
      c.pttName = rigPtt->rig.Name();
    }
    if (rigKeyer) {
      c.text = rigKeyer.get();
      c.textName = rig->Name();
    }
    if (winKeyer) {
      c.text = winKeyer.get();
      c.textName = "the WinKeyer on " + o.winkeyer;
    }
    const int status = cli::RunCwdaemon(c, sender.Line(), gStopRequested, std::cerr);
    if (o.verbose) sender.ReportLatency();
    if (sender.Failed()) return 1;
    return status;
  }

  bool finished = true;
  if (o.mode == cli::SendMode::kTune) {
    finished = sender.Tune(o.tuneSeconds);
  } else if (!o.readStdin) {
    std::string text;
    for (const std::string& word : o.text) text += (text.empty() ? "" : " ") + word;
    finished = sender.Send(text);
  } else {
    // Each line as it arrives; the end of a line is a word space.
    std::string line;
    int c;
    while (finished && !Stopped()) {
      errno = 0;
      c = std::getchar();
      if (c == EOF) {
        if (errno == EINTR && !Stopped()) {
          std::clearerr(stdin);
          continue;
        }
        if (!line.empty()) finished = sender.Send(line);
        break;
      }
      if (c == '\n') {
        finished = sender.Send(line + " ");
        sender.LowerPtt();  // not held while waiting for the next line
        line.clear();
      } else if (c != '\r') {
        line.push_back(static_cast<char>(c));
      }
    }
  }
  sender.LowerPtt();
  if (o.verbose) sender.ReportLatency();
  if (sender.Failed()) return 1;
  if (!finished || Stopped()) {
    if (o.verbose) std::cerr << "kestrix-send: stopped, key up\n";
    return 130;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::SendOptions options;
  std::string error;
  if (!cli::ParseSendOptions(args, options, error)) {
    std::cerr << "kestrix-send: " << error << "\n" << cli::SendUsage();
    return 2;
  }
  switch (options.mode) {
    case cli::SendMode::kHelp:
      std::cout << cli::SendUsage();
      return 0;
    case cli::SendMode::kListPorts:
      return ListPorts();
    case cli::SendMode::kListDevices:
      return cli::ListOutputDevices(std::cout);
    case cli::SendMode::kTone:
      return RunTone(options);
    case cli::SendMode::kCwdaemon:
      if (!options.wavPath.empty() || !options.soundDevice.empty()) return RunToneServer(options);
      return Run(options);
    case cli::SendMode::kKeyText:
      if (!options.rigctldHost.empty()) return RunRigctld(options);
      if (!options.winkeyer.empty()) return RunWinKeyer(options);
      return Run(options);
    case cli::SendMode::kTune:
      return Run(options);
  }
  return 2;
}
