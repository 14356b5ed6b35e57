#include "cli/send_cwdaemon.h"

#include <chrono>
#include <exception>
#include <thread>

#include "platform/monotonic_wait.h"
#include "transmit/morse_send_table.h"
#include "transmit/port_keyer.h"

namespace kestrix::cli {

namespace {

bool ParsePortNumber(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

bool ParseUdpPort(std::string_view text, uint16_t& port, std::string& error) {
  if (!ParsePortNumber(text, port)) {
    error = "--udp-port: \"" + std::string(text) + "\" is not a port number 0..65535";
    return false;
  }
  return true;
}

bool ParseListenAddress(std::string_view text, std::string& address, uint16_t& port,
                        std::string& error) {
  auto bad = [&](const char* why) {
    error = "--listen: \"" + std::string(text) + "\" " + why +
            " (expected ADDR:PORT, e.g. 127.0.0.1:6789 or [::1]:6789)";
    return false;
  };
  std::string_view host = text;
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return bad("has no closing ']'");
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return bad("has text after ']'");
      portText = rest.substr(1);
      if (portText.empty()) return bad("has no port after ':'");
    }
  } else {
    const size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
      if (text.find(':') != colon) return bad("is an IPv6 address without brackets");
      host = text.substr(0, colon);
      portText = text.substr(colon + 1);
      if (portText.empty()) return bad("has no port after ':'");
    }
  }
  if (host.empty()) return bad("has no address");
  uint16_t p = port;
  if (!portText.empty() && !ParsePortNumber(portText, p)) return bad("has a bad port");
  address = std::string(host);
  port = p;
  return true;
}

int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, std::atomic<bool>& stop,
                std::ostream& err) {
  platform::MonotonicWaiter waiter;
  return RunCwdaemon(options, line, waiter, nullptr, stop, err);
}

int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, transmit::Waiter& waiter,
                transmit::SendKeyers* soundKeyers, std::atomic<bool>& stop, std::ostream& err) {
  using namespace transmit;
  LineLog log(err);
  line.SetKeyLine(kKeyUp);
  try {
    ElementTiming timing;
    std::atomic<uint8_t> keyState{kKeyUp};
    PortKeyer port(SendTable(), timing, line, waiter, keyState);
    PortSendKeyers portKeyers(port);

    CwdaemonKeyerOptions keyerOptions;
    keyerOptions.startWpm = options.wpm;
    keyerOptions.ratios = options.ratios;
    keyerOptions.startToneHz = options.toneHz;
    keyerOptions.queueCapacity = options.queueCapacity;
    keyerOptions.soundCard = soundKeyers != nullptr;
    keyerOptions.setTone = options.setTone;
    CwdaemonKeyer keyer(soundKeyers ? *soundKeyers : portKeyers, line, waiter, timing, keyState,
                        log, keyerOptions);
    CwdaemonServer server(keyer, log);

    keyer.Start();
    std::string error;
    if (!server.Start({options.listenAddress, options.udpPort}, error)) {
      log.Line(error);
      return 1;  // the keyer's destructor keys up
    }
    log.Line("listening on " + options.listenAddress + " UDP port " +
             std::to_string(server.Port()) + ", " + std::to_string(options.wpm) + " wpm");
    if (options.onListening) options.onListening(server.Port());

    // Ctrl-C arrives as `stop`; ESC 5 as the keyer's exit request. 20 ms is far below
    // anything an operator notices and costs nothing.
    while (!stop.load() && !keyer.ExitRequested())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (keyer.ExitRequested()) log.Line("exit requested by the logger");

    server.Stop();  // no new requests
    keyer.Stop();   // abort, join, key up
    return 0;
  } catch (const std::exception& e) {
    line.SetKeyLine(kKeyUp);
    log.Line(std::string("stopped: ") + e.what());
    return 1;
  }
}

}  // namespace kestrix::cli
