// Small helpers for the settings tests: a scratch folder, file I/O and a byte-level writer
// that builds file images from offsets without using the program's own serializer.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrix::testing {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Puts little-endian values into a file image at given offsets.
struct ImageWriter {
  std::vector<uint8_t>& bytes;

  void Int(size_t offset, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  void Float(size_t offset, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    Int(offset, static_cast<int32_t>(bits));
  }
  void Byte(size_t offset, uint8_t value) { bytes.at(offset) = value; }
  void Text(size_t offset, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) bytes.at(offset + i) = static_cast<uint8_t>(text[i]);
    bytes.at(offset + text.size()) = 0;
  }
};

// "0a 0b 0c" for bytes [offset, offset + count).
inline std::string Hex(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
  std::string out;
  char two[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes.at(offset + i));
    if (i) out += ' ';
    out += two;
  }
  return out;
}

}  // namespace kestrix::testing
