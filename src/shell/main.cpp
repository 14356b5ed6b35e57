// kestrix: the desktop program. Parses its own options, picks the capture device (a sound
// card through PortAudio, or a recording with --input-file) and runs the main window.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/decode_session.h"
#include "cli/send_cwdaemon.h"
#include "platform/audio_file.h"
#include "platform/file_capture.h"
#include "platform/portaudio_capture.h"
#include "shell/app_identity.h"
#include "shell/band_map_link.h"
#include "shell/cwdaemon_link.h"
#include "shell/decoder_choice.h"
#include "shell/main_window.h"
#include "shell/settings_command.h"
#include "shell/settings_session_end.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: kestrix [options]\n"
    "\n"
    "  --input-file FILE   listen to a recording (WAV, FLAC, ...; any rate) instead of the\n"
    "                      sound card, in real time; reception starts by itself\n"
    "  --loop              with --input-file: start the recording again at its end\n"
    "  --tone auto|off|HZ  with --input-file: tune to the recording's strongest tone\n"
    "                      (auto, the default), leave the tuning alone (off), or tune to\n"
    "                      HZ, as a click on the spectrum would\n"
    "  --cwdaemon-port N   key what loggers send over UDP (the cwdaemon protocol) on\n"
    "                      127.0.0.1 port N, typed into the transmit pane\n"
    "  --cwdaemon-listen ADDR:PORT\n"
    "                      the same on another address (anyone who can reach it can key\n"
    "                      the transmitter)\n"
    "  --decoder classic|soft\n"
    "                      read with the classic chain or the soft engine (Receive >\n"
    "                      Decoder; this start only, the menu's choice is kept)\n"
    "  --band-map          open the Band Map window at start\n"
    "  --band-map-rigctld HOST:PORT\n"
    "                      the band map follows the dial through Hamlib's rigctld\n"
    "  --band-map-dial-khz KHZ\n"
    "                      the receiver's dial for the band map (no rig control)\n"
    "  --band-map-telnet PORT\n"
    "                      serve the band map's spots to loggers over telnet on\n"
    "                      127.0.0.1 port PORT (the DX-cluster protocol)\n"
    "  --write-default-settings [PATH]\n"
    "                      write a settings file with the default values and exit\n"
    "  -h, --help          show this text\n"
    "\n"
    "Settings and the help file live in $KESTRIX_HOME, else $XDG_CONFIG_HOME/kestrix,\n"
    "else ~/.config/kestrix.\n";

struct Options {
  std::string inputFile;
  bool loop = false;  // play the recording again and again (long runs)
  std::string tone = "auto";
  std::string screenshot;  // picture of the window after `afterSeconds`, then quit
  double afterSeconds = 10.0;
  bool help = false;
  bool cwdaemon = false;  // serve network keying
  std::string cwdaemonAddress = kestrix::transmit::kCwdaemonLoopback;
  uint16_t cwdaemonPort = kestrix::transmit::kCwdaemonPort;
  kestrix::bandmap::BandMapStartOptions bandMap;
  std::string decoder;  // --decoder classic|soft
};

// Takes our options out of argv and leaves the rest (Qt's own) in place.
bool ParseOptions(int& argc, char** argv, Options& o, std::string& error) {
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = "option " + a + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    if (a == "--input-file") {
      if (!value(o.inputFile)) return false;
    } else if (a == "--loop") {
      o.loop = true;
    } else if (a == "--tone") {
      if (!value(o.tone)) return false;
    } else if (a == "--screenshot") {
      if (!value(o.screenshot)) return false;
    } else if (a == "--after-seconds") {
      std::string s;
      if (!value(s)) return false;
      char* end = nullptr;
      o.afterSeconds = std::strtod(s.c_str(), &end);
      if (end == s.c_str() || *end != '\0' || o.afterSeconds < 0) {
        error = "invalid number for --after-seconds: '" + s + "'";
        return false;
      }
    } else if (a == "--cwdaemon-port") {
      std::string s;
      if (!value(s)) return false;
      if (!kestrix::cli::ParseUdpPort(s, o.cwdaemonPort, error)) {
        error = "invalid port for --cwdaemon-port: '" + s + "'";
        return false;
      }
      o.cwdaemon = true;
    } else if (a == "--cwdaemon-listen") {
      std::string s;
      if (!value(s)) return false;
      if (!kestrix::cli::ParseListenAddress(s, o.cwdaemonAddress, o.cwdaemonPort, error)) {
        // The parser names kestrix-send's option.
        if (error.rfind("--listen", 0) == 0) error = "--cwdaemon-listen" + error.substr(8);
        return false;
      }
      o.cwdaemon = true;
    } else if (a == "--decoder") {
      if (!value(o.decoder)) return false;
      kestrix::softrx::DecoderKind kind;
      if (!kestrix::softrx::ParseDecoderKind(o.decoder, kind)) {
        error = "invalid value for --decoder: '" + o.decoder + "' (classic or soft)";
        return false;
      }
    } else if (a == "--band-map") {
      o.bandMap.open = true;
    } else if (a == "--band-map-rigctld") {
      if (!value(o.bandMap.rigctld)) return false;
      if (!kestrix::bandmap::CheckRigctldAddress(o.bandMap.rigctld, error)) return false;
    } else if (a == "--band-map-dial-khz") {
      std::string s;
      if (!value(s)) return false;
      char* end = nullptr;
      const double khz = std::strtod(s.c_str(), &end);
      if (end == s.c_str() || *end != '\0' || !(khz > 0.0 && khz < 1e8)) {
        error = "invalid frequency for --band-map-dial-khz: '" + s + "'";
        return false;
      }
      o.bandMap.dialKhz = khz;
    } else if (a == "--band-map-telnet") {
      std::string s;
      if (!value(s)) return false;
      uint16_t port = 0;
      if (!kestrix::cli::ParseUdpPort(s, port, error) || port == 0) {
        error = "invalid port for --band-map-telnet: '" + s + "'";
        return false;
      }
      o.bandMap.telnetPort = port;
    } else if (a == "-h" || a == "--help") {
      o.help = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  argc = static_cast<int>(rest.size());
  for (int i = 0; i < argc; ++i) argv[i] = rest[static_cast<size_t>(i)];
  return true;
}

// The click position for the recording's strongest tone over its first seconds, the way
// kestrix-decode finds it; 0 when nothing stands out.
int FindTone(const std::string& path, std::string& error) {
  kestrix::RecordingReader reader;
  if (!reader.Open(path, 44100, error)) return 0;
  std::vector<int16_t> frames(static_cast<size_t>(kestrix::kAutoTuneBlocks) *
                              kestrix::kBlockFrames * reader.Channels());
  const int got = reader.Read(frames.data(), kestrix::kAutoTuneBlocks * kestrix::kBlockFrames);
  return kestrix::FindTone(frames.data(), static_cast<size_t>(std::max(got, 0)), reader.Channels());
}

}  // namespace

int main(int argc, char** argv) {
  if (auto status = kestrix::RunSettingsCommand(argc, argv, std::cout, std::cerr)) {
    return *status;
  }

  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::cerr << "kestrix: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }

  kestrix::shell::WindowOptions windowOptions;
  windowOptions.servePartners = true;  // on the default partner socket
  windowOptions.bandMap = options.bandMap;
  windowOptions.decoder = options.decoder;
  std::unique_ptr<kestrix::CaptureDevice> device;
  if (!options.inputFile.empty()) {
    auto file = std::make_unique<kestrix::FileCapture>(
        options.inputFile, kestrix::FileCaptureOptions{true, options.loop});
    if (!file->CheckReadable(error)) {
      std::cerr << "kestrix: " << error << "\n";
      return 1;
    }
    windowOptions.autoStart = true;
    if (options.tone == "auto") {
      windowOptions.tunePosition = FindTone(options.inputFile, error);
    } else if (options.tone != "off") {
      char* end = nullptr;
      const double hz = std::strtod(options.tone.c_str(), &end);
      if (end == options.tone.c_str() || *end != '\0' || hz <= 0.0) {
        std::cerr << "kestrix: invalid value for --tone: '" << options.tone << "'\n" << kUsage;
        return kExitUsage;
      }
      windowOptions.tunePosition = kestrix::ToneClickPosition(hz);
    }
    device = std::move(file);
  } else {
    device = std::make_unique<kestrix::PortAudioCapture>();
  }

  QApplication app(argc, argv);
  // Names, icon and style; no display name, so every title stays exactly its own.
  kestrix::shell::ConfigureApplication();
  if (app.arguments().size() > 1) {
    std::cerr << "kestrix: unknown option '" << app.arguments().at(1).toStdString() << "'\n"
              << kUsage;
    return kExitUsage;
  }

  kestrix::shell::MainWindow window(std::move(device), windowOptions);
  window.show();
  // SIGTERM, Ctrl+C and the end of the desktop session close the window as its close box
  // does, so the settings are saved.
  kestrix::SessionEndWatcher quitFromOutside([&window] {
    if (window.QuitCount() == 0) window.close();
  });

  // Network keying; destroyed before the window it types into.
  std::unique_ptr<kestrix::shell::CwdaemonLink> cwdaemon;
  if (options.cwdaemon) {
    cwdaemon = std::make_unique<kestrix::shell::CwdaemonLink>(window, std::cerr);
    kestrix::transmit::CwdaemonServerOptions serve;
    serve.listenAddress = options.cwdaemonAddress;
    serve.port = options.cwdaemonPort;
    if (!cwdaemon->Start(serve, error)) {
      std::cerr << "kestrix: network keying: " << error << "\n";
      return 1;
    }
  }

  if (options.bandMap.telnetPort != 0) {
    if (!window.BandMap().StartTelnet(options.bandMap.telnetPort, error)) {
      std::cerr << "kestrix: band map spots: " << error << "\n";
      return 1;
    }
    std::cerr << "kestrix: band map spots on telnet 127.0.0.1 port "
              << window.BandMap().TelnetPort() << "\n";
  }

  if (!options.screenshot.empty()) {
    QTimer::singleShot(static_cast<int>(options.afterSeconds * 1000), &window, [&] {
      if (!window.grab().save(QString::fromStdString(options.screenshot))) {
        std::cerr << "kestrix: cannot write '" << options.screenshot << "'\n";
      }
      window.QuitButtonClick();
    });
  }
  return app.exec();
}
