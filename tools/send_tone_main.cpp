// A stand-in for kestrix-send's tone flags until kestrix-send takes them:
//   kestrix-send-tone [--wav FILE | --device N|NAME] [--tone HZ] [--square] [--silent]
//                     [--wpm N] TEXT...
//   kestrix-send-tone --list-devices
#include <iostream>
#include <string>

#include "cli/send_tone.h"

int main(int argc, char** argv) {
  using namespace kestrix::cli;
  ToneSendOptions o;
  std::string text;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "kestrix-send-tone: " << a << " needs a value\n";
        std::exit(kToneSendUsage);
      }
      return argv[++i];
    };
    if (a == "--list-devices") return ListOutputDevices(std::cout);
    if (a == "--wav") {
      o.wavPath = value();
    } else if (a == "--device") {
      o.device = value();
    } else if (a == "--tone") {
      std::string error;
      if (!ParseToneHz(value(), o.toneHz, error)) {
        std::cerr << "kestrix-send-tone: " << error << '\n';
        return kToneSendUsage;
      }
    } else if (a == "--square") {
      o.square = true;
    } else if (a == "--silent") {
      o.silent = true;
    } else if (a == "--wpm") {
      o.wpm = std::atoi(value().c_str());
    } else {
      if (!text.empty()) text += ' ';
      text += a;
    }
  }
  return RunToneSend(o, text, std::cerr);
}
