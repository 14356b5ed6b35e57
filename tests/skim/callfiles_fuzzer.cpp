// libFuzzer entry for the operator's call files and the call extractor (clang builds only;
// scripts/fuzz runs it). The same bytes are read as a cty.dat, as a MASTER.SCP and as
// decoded text: nothing may crash, and every call the book then accepts or the extractor
// reports has a call's shape.
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "skim/call_extractor.h"
#include "skim/call_sign.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix::skim;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CallBook book;
  book.LoadCtyText(text);
  book.LoadScpText(text);
  (void)book.Entity(text.substr(0, 20));
  CallExtractor extractor(book);
  extractor.Feed(text, 1.0);
  extractor.Feed(text, 2.0);
  extractor.Flush(3.0);
  std::vector<CallReport> reports;
  extractor.TakeReports(reports);
  for (const CallReport& r : reports) {
    if (!IsCallShape(r.call) || !book.IsValid(r.call)) {
      std::fprintf(stderr, "reported a non-call: %s\n", r.call.c_str());
      std::abort();
    }
  }
  return 0;
}
