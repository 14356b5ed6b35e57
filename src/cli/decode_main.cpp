// kestrix-decode: prints the Morse code in a recording as text.
#include <iostream>
#include <string>
#include <vector>

#include "cli/decode_options.h"
#include "cli/decode_session.h"

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
  const int status = kestrix::RunDecode(options, std::cout, error);
  if (status != kestrix::kExitOk) std::cerr << "kestrix-decode: " << error << '\n';
  return status;
}
