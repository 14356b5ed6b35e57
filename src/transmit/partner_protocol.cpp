#include "transmit/partner_protocol.h"

#include <algorithm>

namespace kestrix::transmit {
namespace {

void PutLe(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
  return value;
}

constexpr uint8_t kMagicBytes[4] = {0x4B, 0x58, 0x50, 0x4D};
constexpr size_t kHeaderBytes = 8;  // magic, version, length

}  // namespace

PartnerRecordBytes EncodePartnerRecord(uint32_t message, int64_t first, int64_t second) {
  PartnerRecordBytes r{};
  PutLe(&r[0], kPartnerMagic, 4);
  PutLe(&r[4], kPartnerVersion, 2);
  PutLe(&r[6], kPartnerRecordBytes, 2);
  PutLe(&r[8], message, 4);
  PutLe(&r[16], static_cast<uint64_t>(first), 8);
  PutLe(&r[24], static_cast<uint64_t>(second), 8);
  return r;
}

void PartnerRecordParser::Push(const uint8_t* data, size_t size) {
  if (size == 0) return;
  // Drop what was consumed before growing, so the buffer stays about one read long.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= 4096)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

bool PartnerRecordParser::Next(PartnerRecord& out) {
  for (;;) {
    const size_t have = buffer_.size() - start_;
    const uint8_t* p = buffer_.data() + start_;
    // Skip to the next place the magic could begin; keep a tail that may be its start.
    size_t lead = 0;
    while (lead < have) {
      const size_t n = std::min<size_t>(4, have - lead);
      if (std::equal(p + lead, p + lead + n, kMagicBytes)) break;
      ++lead;
    }
    start_ += lead;
    skipped_ += lead;
    if (have - lead < kHeaderBytes) return false;
    p += lead;
    const uint16_t version = static_cast<uint16_t>(GetLe(p + 4, 2));
    const size_t length = static_cast<size_t>(GetLe(p + 6, 2));
    if (version == 0 || length < kPartnerRecordBytes || length > kPartnerMaxRecordBytes) {
      // Not a record after all: the magic was part of the garbage.
      ++start_;
      ++skipped_;
      continue;
    }
    if (have - lead < length) return false;
    out.Version = version;
    out.Length = static_cast<uint16_t>(length);
    out.Message = static_cast<uint32_t>(GetLe(p + 8, 4));
    out.First = static_cast<int64_t>(GetLe(p + 16, 8));
    out.Second = static_cast<int64_t>(GetLe(p + 24, 8));
    start_ += length;
    return true;
  }
}

}  // namespace kestrix::transmit
