// The records a partner program and Kestrix exchange over the partner socket: one
// fixed-size little-endian record per message, the local stand-in for the window messages
// 1024..1027 with their two parameters.
//
//   offset  size  field
//        0     4  magic "KXPM" (bytes 4B 58 50 4D)
//        4     2  version (1)
//        6     2  length of this record in bytes (32 for version 1)
//        8     4  message number (1024 announce, 1025 acknowledge, 1026 character, 1027 goodbye)
//       12     4  reserved, sent as 0, not looked at
//       16     8  first parameter (signed)
//       24     8  second parameter (signed)
//
// Later versions only append fields and raise `length`; a reader takes the fields it
// knows and skips the rest, and ignores message numbers it does not know.
//
// Threads: plain values and functions; a parser belongs to the one connection it reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix::transmit {

inline constexpr uint32_t kPartnerMagic = 0x4D50584B;  // "KXPM" as it lies in memory
inline constexpr uint16_t kPartnerVersion = 1;
inline constexpr size_t kPartnerRecordBytes = 32;
// The longest record a reader accepts; a header claiming more is taken for garbage.
inline constexpr size_t kPartnerMaxRecordBytes = 256;

// Message numbers: the first user message number and its successors.
inline constexpr uint32_t kPartnerAnnounce = 1024;     // partner -> Kestrix: second = handle
inline constexpr uint32_t kPartnerAcknowledge = 1025;  // Kestrix -> partner: 0, 0
inline constexpr uint32_t kPartnerCharacter = 1026;    // Kestrix -> partner: 0, code
inline constexpr uint32_t kPartnerGoodbye = 1027;      // partner -> Kestrix

struct PartnerRecord {
  uint32_t Message = 0;
  int64_t First = 0;   // wParam
  int64_t Second = 0;  // lParam
  uint16_t Version = kPartnerVersion;
  uint16_t Length = kPartnerRecordBytes;  // bytes the record took on the wire
};

using PartnerRecordBytes = std::array<uint8_t, kPartnerRecordBytes>;

// A version-1 record for `message` with its parameters.
PartnerRecordBytes EncodePartnerRecord(uint32_t message, int64_t first, int64_t second);

// The second parameter of a character message: the Windows-1252 byte sign-extended, as a
// character handed over as a signed byte arrives. Readers take its low 8 bits.
inline int64_t CharacterParameter(char c) {
  return static_cast<int64_t>(static_cast<int8_t>(c));
}

// Reassembles records from a byte stream that arrives in arbitrary pieces. Bytes that do
// not start a plausible record (wrong magic, version 0, a length below 32 or above 256)
// are skipped one at a time until a record lines up again, so garbage costs the garbage
// and nothing after it. Holds at most one unfinished record between calls once Next has
// been drained.
class PartnerRecordParser {
 public:
  // Appends received bytes.
  void Push(const uint8_t* data, size_t size);
  // Takes the next complete record; false when none is complete yet.
  bool Next(PartnerRecord& out);
  // Bytes thrown away as garbage so far.
  uint64_t SkippedBytes() const { return skipped_; }
  // Bytes held for an unfinished record.
  size_t Pending() const { return buffer_.size() - start_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  uint64_t skipped_ = 0;
};

}  // namespace kestrix::transmit
