// libFuzzer entry for the partner record parser (clang builds only):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_BUILD_GUI=OFF
//   ninja -C build-fuzz kestrix_partner_fuzzer
//   build-fuzz/kestrix_partner_fuzzer -runs=1000000
// Any byte stream, fed whole or in the pieces its first byte chooses, must parse to the
// same records, account for every byte, and never hold more than one record's worth.
#include <cstdlib>
#include <vector>

#include "transmit/partner_protocol.h"

using kestrix::transmit::PartnerRecord;
using kestrix::transmit::PartnerRecordParser;

namespace {

std::vector<PartnerRecord> Parse(const uint8_t* data, size_t size, size_t piece,
                                 PartnerRecordParser& p) {
  std::vector<PartnerRecord> out;
  for (size_t at = 0; at < size; at += piece) {
    p.Push(data + at, size - at < piece ? size - at : piece);
    PartnerRecord r;
    while (p.Next(r)) out.push_back(r);
    if (p.Pending() > kestrix::transmit::kPartnerMaxRecordBytes) std::abort();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  PartnerRecordParser whole;
  PartnerRecordParser split;
  const auto a = Parse(data, size, size, whole);
  const auto b = Parse(data, size, piece, split);
  if (a.size() != b.size()) std::abort();
  size_t taken = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].Message != b[i].Message || a[i].First != b[i].First || a[i].Second != b[i].Second ||
        a[i].Length != b[i].Length) {
      std::abort();
    }
    taken += a[i].Length;
  }
  if (taken + whole.SkippedBytes() + whole.Pending() != size) std::abort();
  if (whole.SkippedBytes() != split.SkippedBytes()) std::abort();
  return 0;
}
