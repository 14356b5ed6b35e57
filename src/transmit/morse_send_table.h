// The transmit pattern table: for every unsigned 8-bit code (a text character, or a key's
// virtual-key code after the transmit pane's translation) the symbols the keyers send.
// The patterns come from the one Morse alphabet (morse/alphabet.h); this table says which
// codes send which characters or prosigns.
//
// Symbols: '.' dot, '-' dash, '*' end-of-character space, '^' word space; any other byte
// is skipped and a newline (10) ends the entry. Unlisted codes stay all newlines: they
// send nothing and take no time. Built once, read-only afterwards (any thread).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrix::transmit {

inline constexpr int kSendTableEntries = 256;
inline constexpr int kSendEntryBytes = 12;
inline constexpr uint8_t kEntryEnd = 10;

using SendEntry = std::array<uint8_t, kSendEntryBytes>;

// Which characters a table keys: the window's (text, key codes and the prosign keys) or
// network keying's (the cwdaemon keyer's character set: printable ASCII only, each
// character as cwdaemon and libcw key it; see NetworkSendTable below).
enum class SendTableKind { kWindow, kNetwork };

class MorseSendTable {
 public:
  explicit MorseSendTable(SendTableKind kind = SendTableKind::kWindow);

  const SendEntry& Entry(uint8_t code) const { return entries_[code]; }
  // The symbols of `code` up to (not including) the newline.
  std::string_view Pattern(uint8_t code) const;

 private:
  void Set(uint8_t code, std::string_view pattern);
  std::array<SendEntry, kSendTableEntries> entries_;
};

// The process-wide table, built on first use.
const MorseSendTable& SendTable();

// Network keying's table (kestrix-send --cwdaemon), built on first use. Letters in both
// cases and digits as the window keys them, and the punctuation and procedural characters
// of the cwdaemon keyer's documentation and libcw's cw(7) tables:
//   " .-..-.   ' .----.   $ ...-..- (SX)   ( -.--. (KN)   ) -.--.- (KK)   + .-.-. (AR)
//   , --..--   - -....-   . .-.-.-   / -..-.   : ---...   ; -.-.-.   = -...- (BT)
//   ? ..--..   _ ..--.- (IQ)   @ .--.-.   * AR   < SK   > BK   ! SN   & AS
// Every other code keys nothing and takes no time: '%', '#', '[', the upper half, ...
// (the window's '%' keys KA; cwdaemon skips it). The window's table is not changed.
const MorseSendTable& NetworkSendTable();

}  // namespace kestrix::transmit
