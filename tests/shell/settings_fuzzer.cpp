// libFuzzer entry for the settings loader (clang builds only):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_BUILD_GUI=OFF
//   ninja -C build-fuzz kestrix_settings_fuzzer
//   build-fuzz/kestrix_settings_fuzzer -max_len=90000 -runs=100000
// Any input must load without reading past its end, apply exactly the fields it holds
// and, when it covers the whole layout, serialise back to the same bytes.
#include <cstdlib>
#include <cstring>

#include "settings_fake_window.h"
#include "shell/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kestrix::testing::FakeWindow* win = [] {
    auto* w = new kestrix::testing::FakeWindow;
    w->log = false;
    return w;
  }();
  const int applied = kestrix::ApplySettings(data, size, *win);
  if (applied < 0 || applied > kestrix::kSettingsFieldCount) std::abort();
  if (kestrix::FieldText(win->state.SendBuffer(19)) != "5nn ") std::abort();
  if (size >= kestrix::kSettingsFileSize) {
    if (applied != kestrix::kSettingsFieldCount) std::abort();
    kestrix::SettingsRecord parsed;
    kestrix::ParseSettings(data, size, parsed);
    const std::vector<uint8_t> again = kestrix::SerializeSettings(parsed);
    if (std::memcmp(again.data(), data, again.size()) != 0) std::abort();
  }
  return 0;
}
