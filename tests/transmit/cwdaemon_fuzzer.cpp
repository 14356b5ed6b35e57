// libFuzzer entry for the network keying request parser (clang builds only):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_BUILD_GUI=OFF
//   ninja -C build-fuzz kestrix_cwdaemon_fuzzer
//   build-fuzz/kestrix_cwdaemon_fuzzer -max_len=400 -runs=1000000
#include <cstdio>
#include <cstdlib>

#include "cwdaemon_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const std::string fault =
      kestrix::test::CheckRequest(datagram, kestrix::transmit::ParseCwdaemonRequest(datagram));
  if (!fault.empty()) {
    std::fprintf(stderr, "%s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
