// libFuzzer entry for the recording reader (clang builds only; scripts/fuzz runs it):
// any bytes, handed to the reader as a file, must either be refused with one line of
// error or read to the end with every frame inside its buffer and the frame count
// plausible for what the header said. Lying headers (sizes, channel counts, rates) are
// the point.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/audio_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("recording", 0);
  if (fd < 0) return 0;
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  kestrix::RecordingReader reader;
  std::string error;
  if (reader.Open(path, 44100, error)) {
    if (reader.Channels() < 1 || reader.Channels() > 2) std::abort();
    if (!error.empty()) std::abort();
    std::vector<int16_t> frames(static_cast<size_t>(2 * 4096 + 16), 0x5A5A);
    int64_t total = 0;
    // A few seconds at most: a header may claim hours of sound in a few bytes.
    for (int i = 0; i < 64; ++i) {
      const int n = reader.Read(frames.data(), 4096);
      if (n < 0 || n > 4096) std::abort();
      if (n == 0) break;
      total += n;
    }
    if (frames[2 * 4096] != 0x5A5A) std::abort();  // nothing written past the buffer
    (void)total;
  } else if (error.empty() || error.find('\n') != std::string::npos) {
    std::abort();  // a refusal always says why, on one line
  }
  close(fd);
  return 0;
}
