#include "softrx/decoder_setting.h"

#include "bandmap/band_map_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace kestrix::softrx {
namespace {

constexpr std::string_view kKey = "decoder=";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Trim(std::string_view s) {
  size_t a = 0;
  size_t b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
  return std::string(s.substr(a, b - a));
}

}  // namespace

bool ParseDecoderKind(std::string_view text, DecoderKind& kind) {
  const std::string t = Lower(Trim(text));
  if (t == "classic") {
    kind = DecoderKind::kClassic;
    return true;
  }
  if (t == "soft") {
    kind = DecoderKind::kSoft;
    return true;
  }
  return false;
}

const char* DecoderKindName(DecoderKind kind) {
  return kind == DecoderKind::kSoft ? "soft" : "classic";
}

bool LoadDecoderKind(const std::string& path, DecoderKind& kind, std::string& error) {
  kind = DecoderKind::kClassic;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;
    error = "Could not read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string t = Trim(line);
    if (t.rfind(kKey, 0) != 0) continue;
    if (!ParseDecoderKind(std::string_view(t).substr(kKey.size()), kind)) {
      kind = DecoderKind::kClassic;
      error = path + " line " + std::to_string(number) + ": unknown decoder \"" +
              t.substr(kKey.size()) + "\" (classic or soft)";
      return false;
    }
  }
  return true;
}

bool SaveDecoderKind(const std::string& path, DecoderKind kind, std::string& error) {
  std::vector<std::string> lines;
  {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) lines.push_back(line);
  }
  const std::string entry = std::string(kKey) + DecoderKindName(kind);
  bool placed = false;
  for (std::string& line : lines) {
    if (Trim(line).rfind(kKey, 0) != 0) continue;
    line = placed ? std::string() : entry;
    placed = true;
  }
  if (lines.empty()) lines.emplace_back("# Kestrix window");
  if (!placed) lines.push_back(entry);
  std::ostringstream text;
  for (const std::string& line : lines) text << line << '\n';

  return bandmap::WriteFileReplacing(path, text.str(), error);
}

}  // namespace kestrix::softrx
