// Call signs: is a decoded word a plausible amateur call, where is it from, and how many
// times must it be read before the skimmer believes it.
//
// Three layers, each optional beyond the first:
//
//   shape      letters and digits in the pattern every amateur call follows: a prefix
//              (one or two characters with at least one letter, or a digit and a letter
//              such as 9A or 4X, or three characters like 3DA), one call area digit (or
//              two, as in 3DA0), and a suffix of one to four letters (a last letter
//              required); optional "/"-parts: a country prefix in front (DL/K1ABC), a
//              portable area digit or designator behind (K1ABC/3, /P, /M, /MM, /AM, /QRP,
//              /B for beacons) or a country prefix behind (K1ABC/VE3).
//   ITU        the call's prefix must lie in a call-sign series the ITU has allocated to
//              a country (data/itu-prefixes.txt, compiled in). Q-codes, 0/1-prefixed
//              strings and unallocated series (e.g. "QRZ", "5NN", "TU7A" no; "JA1ABC" yes).
//   user files the operator's own MASTER.SCP (calls known to be active, one a line) and
//              country file cty.dat; never bundled, loaded with --scp and --cty.
//
// Rarity: a call in the most common shapes (1x2, 1x3, 2x1, 2x2, 2x3 with a plain prefix
// and no "/"-part) needs two reads before it is spotted. Anything else (1x1, suffixes of
// four letters, two-digit areas, "/"-parts, a three-character prefix) needs three, and so
// does a common-shaped call that is missing from a loaded MASTER.SCP. A busted call is
// far more often an odd shape than a common one, and an odd shape that comes up twice by
// chance is what a third read filters out.
//
// Pure and thread-safe once loaded: a CallBook is built and loaded on one thread, then
// any number of threads may call its const methods.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kestrix::skim {

// Longest text we treat as a call (with "/"-parts), characters.
inline constexpr size_t kMaxCallLength = 14;

// Plain shape check (upper case letters, digits and '/' only; no lower case accepted:
// decoders emit upper case). No ITU or file look-up.
bool IsCallShape(std::string_view call);

// The home call inside a call with "/"-parts: "DL/K1ABC" -> "K1ABC", "K1ABC/P" -> "K1ABC",
// "VE3/K1ABC/M" -> "K1ABC". Returns `call` itself when there is no '/'. Empty when no part
// has a call's shape.
std::string_view HomeCall(std::string_view call);

// The country prefix that decides where the station is: the "/"-part that is a prefix
// ("DL/K1ABC" -> "DL", "K1ABC/VE3" -> "VE3"), else the home call. Used for the ITU look-up.
std::string_view OperatingPrefix(std::string_view call);

// The ITU allocation of a call: the country (or organisation) that holds the series the
// call's operating prefix lies in, nullptr when none does. "K1ABC" -> "United States of
// America"; "QRZ" -> nullptr.
const char* ItuAllocation(std::string_view call);

// True when `b` is `a` with exactly one character changed, added or dropped ("K1ABC" and
// "K1ABG", "K1AB", "K1ABCD"): how a decoder's single misreading turns one call into another.
bool OneEditApart(std::string_view a, std::string_view b);

enum class CallRarity {
  Invalid,  // not a call: wrong shape or unallocated prefix
  Common,   // two reads
  Rare,     // three reads
};

// Shape plus ITU (and, through CallBook, the user's files) in one verdict.
CallRarity ShapeRarity(std::string_view call);

// The calls the operator supplied. Empty by default; the ITU table is always there.
class CallBook {
 public:
  CallBook() = default;

  // MASTER.SCP: one call a line, '#' starts a comment line, blank lines and lines that are
  // not a call's shape are skipped (counted in `skipped`). Any bytes are safe. Returns the
  // number of calls taken.
  size_t LoadScpText(std::string_view text, size_t* skipped = nullptr);
  // Reads the file; false with a message naming the file when it can't be read.
  bool LoadScpFile(const std::string& path, std::string& error);

  // cty.dat: records of eight ':'-terminated fields (entity name, CQ zone, ITU zone,
  // continent, latitude, longitude, UTC offset, primary prefix) followed by a list of
  // prefixes and exact calls separated by ',' and ended by ';'. "=K1ABC" is an exact call;
  // "(n)", "[n]", "<lat/lon>", "{cont}" and "~offset~" overrides after an entry are
  // ignored. Primary prefixes starting with '*' (entities that count only for one award)
  // are kept as plain names. Garbage, truncated records and over-long fields are skipped,
  // never fatal. Returns the number of prefixes and exact calls taken.
  size_t LoadCtyText(std::string_view text, size_t* skipped = nullptr);
  bool LoadCtyFile(const std::string& path, std::string& error);

  bool HasScp() const { return !scp_.empty(); }
  bool HasCty() const { return !ctyPrefixes_.empty() || !ctyExact_.empty(); }
  bool InScp(std::string_view call) const;

  // The entity name from cty.dat (exact call first, then the longest matching prefix of
  // the operating prefix), else the ITU allocation, else nullptr.
  const char* Entity(std::string_view call) const;

  // The verdict the call extractor acts on. With a cty.dat loaded, a call whose operating
  // prefix matches neither cty.dat nor the ITU table is Invalid; with a MASTER.SCP loaded,
  // a valid call missing from it is at least Rare.
  CallRarity Rarity(std::string_view call) const;
  bool IsValid(std::string_view call) const { return Rarity(call) != CallRarity::Invalid; }
  // Reads needed before `call` is spotted: 2 for Common, 3 for Rare, 0 for Invalid.
  int ReadsNeeded(std::string_view call) const;

  size_t ScpSize() const { return scp_.size(); }
  size_t CtyEntries() const { return ctyPrefixes_.size() + ctyExact_.size(); }

 private:
  std::unordered_set<std::string> scp_;
  std::vector<std::string> entities_;                    // names, indexed by the maps
  std::unordered_map<std::string, size_t> ctyPrefixes_;  // prefix -> entity index
  std::unordered_map<std::string, size_t> ctyExact_;     // exact call -> entity index
  size_t longestCtyPrefix_ = 0;
};

}  // namespace kestrix::skim
