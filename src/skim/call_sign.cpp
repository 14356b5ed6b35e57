#include "skim/call_sign.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kestrix::skim {

namespace {

// data/itu-prefixes.txt as one string (generated at configure time).
#include "skim/itu_prefixes.inc"

bool IsLetter(char c) {
  return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlnum(char c) {
  return IsLetter(c) || IsDigit(c);
}

// --- The ITU blocks ----------------------------------------------------------------------

struct Block {
  std::array<char, 3> first{};
  std::array<char, 3> last{};
  std::string holder;
};

std::vector<Block> ParseItuTable(std::string_view text) {
  std::vector<Block> blocks;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    // "AAA-ALZ<TAB>Holder"
    if (line.size() < 9 || line[3] != '-' || line[7] != '\t') continue;
    Block b;
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
      b.first[static_cast<size_t>(i)] = line[static_cast<size_t>(i)];
      b.last[static_cast<size_t>(i)] = line[static_cast<size_t>(4 + i)];
      ok = ok && IsAlnum(line[static_cast<size_t>(i)]) && IsAlnum(line[static_cast<size_t>(4 + i)]);
    }
    if (!ok) continue;
    b.holder = std::string(line.substr(8));
    blocks.push_back(std::move(b));
  }
  return blocks;
}

const std::vector<Block>& ItuBlocks() {
  static const std::vector<Block> blocks = ParseItuTable(kItuPrefixText);
  return blocks;
}

// Compares the first `n` characters of a and b (both at least n long).
int Compare(const char* a, const char* b, size_t n) {
  return std::memcmp(a, b, n);
}

const char* LookUpItu(std::string_view prefix) {
  if (prefix.empty()) return nullptr;
  const char c0 = prefix[0];
  if (!(IsLetter(c0) || (c0 >= '2' && c0 <= '9')) || c0 == 'Q') return nullptr;
  const auto& blocks = ItuBlocks();
  // One character alone, or a digit in second place: the whole first character must be
  // one holder's (K1ABC, F/K1ABC).
  if (prefix.size() == 1 || IsDigit(prefix[1])) {
    if (prefix.size() >= 2) {
      // An explicit block for the digit (D2, S5, 3D2 is not a digit here).
      const char key[2] = {c0, prefix[1]};
      for (const Block& b : blocks) {
        if (Compare(b.first.data(), key, 2) <= 0 && Compare(key, b.last.data(), 2) <= 0 &&
            IsDigit(b.first[1]))
          return b.holder.c_str();
      }
    }
    for (const Block& b : blocks) {
      if (b.first[0] == c0 && b.last[0] == c0 && b.first[1] == 'A' && b.first[2] == 'A' &&
          b.last[1] == 'Z' && b.last[2] == 'Z')
        return b.holder.c_str();
    }
    return nullptr;
  }
  if (!IsLetter(prefix[1])) return nullptr;
  // Two characters decide, the third where a block splits on it and it is a letter.
  const bool third = prefix.size() >= 3 && IsLetter(prefix[2]);
  const char key[3] = {c0, prefix[1], third ? prefix[2] : 'A'};
  for (const Block& b : blocks) {
    if (third) {
      if (Compare(b.first.data(), key, 3) <= 0 && Compare(key, b.last.data(), 3) <= 0)
        return b.holder.c_str();
    } else if (Compare(b.first.data(), key, 2) <= 0 && Compare(key, b.last.data(), 2) <= 0) {
      return b.holder.c_str();
    }
  }
  return nullptr;
}

// --- Shapes --------------------------------------------------------------------------------

struct HomeParse {
  bool ok = false;
  bool common = false;
};

bool PrefixPattern(std::string_view p) {
  switch (p.size()) {
    case 1:
      return IsLetter(p[0]);
    case 2:
      return (IsLetter(p[0]) && IsAlnum(p[1])) || (IsDigit(p[0]) && IsLetter(p[1]));
    case 3:
      return IsDigit(p[0]) && IsLetter(p[1]) && IsLetter(p[2]);
    default:
      return false;
  }
}

// A home call: prefix, one or two area digits, one to four letters.
HomeParse ParseHome(std::string_view s) {
  HomeParse best;
  if (s.size() < 3 || s.size() > 10) return best;
  for (size_t p = 1; p <= 3 && p < s.size(); ++p) {
    if (!PrefixPattern(s.substr(0, p))) continue;
    size_t i = p;
    while (i < s.size() && IsDigit(s[i])) ++i;
    const size_t digits = i - p;
    if (digits < 1 || digits > 2) continue;
    const size_t suffix = s.size() - i;
    if (suffix < 1 || suffix > 4) continue;
    bool letters = true;
    for (size_t k = i; k < s.size(); ++k) letters = letters && IsLetter(s[k]);
    if (!letters) continue;
    best.ok = true;
    // 1x2, 1x3, 2x1, 2x2, 2x3 with one area digit.
    if (digits == 1 && p <= 2 && suffix <= 3 && !(p == 1 && suffix == 1)) best.common = true;
  }
  return best;
}

bool IsDesignator(std::string_view s) {
  static constexpr std::string_view kDesignators[] = {"P",    "M", "MM", "AM", "QRP",
                                                      "QRPP", "B", "A",  "LH"};
  return std::find(std::begin(kDesignators), std::end(kDesignators), s) != std::end(kDesignators);
}

bool IsCountryPart(std::string_view s) {
  if (s.empty() || s.size() > 4) return false;
  bool letter = false;
  for (char c : s) {
    if (!IsAlnum(c)) return false;
    letter = letter || IsLetter(c);
  }
  return letter && LookUpItu(s) != nullptr;
}

struct Split {
  std::string_view parts[3];
  size_t count = 0;
  int home = -1;  // index of the home call
  bool ok = false;
};

Split SplitCall(std::string_view call) {
  Split sp;
  if (call.empty() || call.size() > kMaxCallLength) return sp;
  size_t start = 0;
  while (true) {
    const size_t slash = call.find('/', start);
    const size_t end = slash == std::string_view::npos ? call.size() : slash;
    if (sp.count == 3) return sp;
    sp.parts[sp.count++] = call.substr(start, end - start);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  for (size_t i = 0; i < sp.count; ++i) {
    const std::string_view part = sp.parts[i];
    if (part.empty()) return sp;
    for (char c : part)
      if (!IsAlnum(c)) return sp;
    if (ParseHome(part).ok) {
      if (sp.home >= 0) return sp;  // two home calls: K1ABC/W1AW
      sp.home = static_cast<int>(i);
    }
  }
  if (sp.home < 0) return sp;
  for (size_t i = 0; i < sp.count; ++i) {
    if (static_cast<int>(i) == sp.home) continue;
    const std::string_view part = sp.parts[i];
    const bool before = static_cast<int>(i) < sp.home;
    if (before) {
      if (!IsCountryPart(part)) return sp;  // DL/K1ABC
    } else if (!(part.size() == 1 && IsDigit(part[0])) && !IsDesignator(part) &&
               !IsCountryPart(part)) {
      return sp;  // K1ABC/3, K1ABC/P, K1ABC/VE3
    }
  }
  sp.ok = true;
  return sp;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  text = buffer.str();
  return true;
}

}  // namespace

bool IsCallShape(std::string_view call) {
  return SplitCall(call).ok;
}

bool OneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (a.size() == b.size()) return i < a.size() && a.substr(i + 1) == b.substr(i + 1);
  return a.substr(i) == b.substr(i + 1);  // b has one character more, at i
}

std::string_view HomeCall(std::string_view call) {
  const Split sp = SplitCall(call);
  if (!sp.ok) return {};
  return sp.parts[sp.home];
}

std::string_view OperatingPrefix(std::string_view call) {
  const Split sp = SplitCall(call);
  if (!sp.ok) return {};
  for (size_t i = 0; i < sp.count; ++i) {
    if (static_cast<int>(i) == sp.home) continue;
    const std::string_view part = sp.parts[i];
    if ((part.size() == 1 && IsDigit(part[0])) || IsDesignator(part)) continue;
    return part;
  }
  return sp.parts[sp.home];
}

const char* ItuAllocation(std::string_view call) {
  const std::string_view prefix = OperatingPrefix(call);
  return prefix.empty() ? nullptr : LookUpItu(prefix);
}

CallRarity ShapeRarity(std::string_view call) {
  const Split sp = SplitCall(call);
  if (!sp.ok) return CallRarity::Invalid;
  if (ItuAllocation(call) == nullptr) return CallRarity::Invalid;
  if (sp.count > 1) return CallRarity::Rare;
  return ParseHome(sp.parts[sp.home]).common ? CallRarity::Common : CallRarity::Rare;
}

// --- CallBook ------------------------------------------------------------------------------

size_t CallBook::LoadScpText(std::string_view text, size_t* skipped) {
  size_t taken = 0, bad = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line.size() > kMaxCallLength) {
      ++bad;
      continue;
    }
    std::string call = Upper(line);
    if (!IsCallShape(call)) {
      ++bad;
      continue;
    }
    if (scp_.insert(std::move(call)).second) ++taken;
  }
  if (skipped) *skipped = bad;
  return taken;
}

bool CallBook::LoadScpFile(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  size_t skipped = 0;
  if (LoadScpText(text, &skipped) == 0 && !text.empty()) {
    error = path + ": no call signs found (one call a line expected)";
    return false;
  }
  return true;
}

size_t CallBook::LoadCtyText(std::string_view text, size_t* skipped) {
  // Limits that keep a garbage file from growing anything without bound per record.
  constexpr size_t kMaxField = 64;
  constexpr size_t kMaxAlias = 24;
  size_t taken = 0, bad = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(" \t\r\n", pos);
    if (start == std::string_view::npos) break;
    pos = start;
    // Eight ':'-terminated header fields.
    std::string_view fields[8];
    bool ok = true;
    for (auto& field : fields) {
      const size_t colon = text.find(':', pos);
      const size_t semi = text.find(';', pos);
      if (colon == std::string_view::npos || (semi != std::string_view::npos && semi < colon)) {
        ok = false;
        break;
      }
      field = Trim(text.substr(pos, colon - pos));
      pos = colon + 1;
      if (field.size() > kMaxField) ok = false;
    }
    const size_t semi = text.find(';', pos);
    const size_t listEnd = semi == std::string_view::npos ? text.size() : semi;
    const std::string_view list = text.substr(pos, listEnd - pos);
    pos = listEnd == text.size() ? text.size() : listEnd + 1;
    if (!ok || fields[0].empty() || semi == std::string_view::npos) {
      ++bad;
      continue;
    }
    const size_t entity = entities_.size();
    entities_.emplace_back(fields[0]);
    auto addPrefix = [&](std::string_view p, bool exact) {
      if (p.empty() || p.size() > kMaxAlias) return false;
      std::string key = Upper(p);
      for (char c : key)
        if (!IsAlnum(c) && c != '/') return false;
      if (exact) {
        ctyExact_.emplace(std::move(key), entity);
      } else {
        longestCtyPrefix_ = std::max(longestCtyPrefix_, key.size());
        ctyPrefixes_.emplace(std::move(key), entity);
      }
      ++taken;
      return true;
    };
    std::string_view primary = fields[7];
    if (!primary.empty() && primary[0] == '*') primary.remove_prefix(1);
    addPrefix(primary, false);
    size_t i = 0;
    while (i < list.size()) {
      const size_t comma = list.find(',', i);
      const size_t end = comma == std::string_view::npos ? list.size() : comma;
      std::string_view alias = Trim(list.substr(i, end - i));
      i = end + 1;
      // Overrides follow the prefix: (cq zone) [itu zone] <lat/lon> {continent} ~offset~.
      const size_t override = alias.find_first_of("([<{~");
      if (override != std::string_view::npos) alias = Trim(alias.substr(0, override));
      const bool exact = !alias.empty() && alias[0] == '=';
      if (exact) alias.remove_prefix(1);
      if (!alias.empty() && !addPrefix(alias, exact)) ++bad;
    }
  }
  if (skipped) *skipped = bad;
  return taken;
}

bool CallBook::LoadCtyFile(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  if (LoadCtyText(text) == 0) {
    error = path + ": no country records found (is it a cty.dat country file?)";
    return false;
  }
  return true;
}

bool CallBook::InScp(std::string_view call) const {
  if (scp_.empty()) return false;
  if (scp_.count(std::string(call))) return true;
  const std::string_view home = HomeCall(call);
  return !home.empty() && home != call && scp_.count(std::string(home));
}

const char* CallBook::Entity(std::string_view call) const {
  if (HasCty()) {
    auto exact = ctyExact_.find(std::string(call));
    if (exact != ctyExact_.end()) return entities_[exact->second].c_str();
    const std::string_view prefix = OperatingPrefix(call);
    // A prefix part decides alone; a home call is matched from its start.
    const std::string_view key = prefix.empty() ? call : prefix;
    for (size_t n = std::min(key.size(), longestCtyPrefix_); n > 0; --n) {
      auto hit = ctyPrefixes_.find(std::string(key.substr(0, n)));
      if (hit != ctyPrefixes_.end()) return entities_[hit->second].c_str();
    }
  }
  return ItuAllocation(call);
}

CallRarity CallBook::Rarity(std::string_view call) const {
  const Split sp = SplitCall(call);
  if (!sp.ok) return CallRarity::Invalid;
  if (Entity(call) == nullptr) return CallRarity::Invalid;
  CallRarity rarity = CallRarity::Rare;
  if (sp.count == 1 && ParseHome(sp.parts[sp.home]).common) rarity = CallRarity::Common;
  if (HasScp() && !InScp(call)) rarity = CallRarity::Rare;
  return rarity;
}

int CallBook::ReadsNeeded(std::string_view call) const {
  switch (Rarity(call)) {
    case CallRarity::Common:
      return 2;
    case CallRarity::Rare:
      return 3;
    case CallRarity::Invalid:
      break;
  }
  return 0;
}

}  // namespace kestrix::skim
