// The loader against random and damaged files: whatever the bytes, it applies exactly the
// fields that lie wholly inside the file, never reads past it, and the buffer fix-ups hold.
// The lengths are chosen, not drawn: every field boundary is met by a file that stops one
// byte short of the field's end and by one that stops right on it, in each kind of
// content; whole files carry each extreme value in every option field. Random bytes and
// damage come from fixed seeds, so a failure reproduces. (Coverage-guided fuzzing of the
// same loader explores the rest.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "settings_fake_window.h"
#include "settings_test_util.h"
#include "shell/settings_file.h"

namespace kestrix {
namespace {

using testing::FakeWindow;

// Offset and width of the 72 fields, written out here from the layout rather than taken
// from the code under test.
struct Span {
  size_t offset, width;
  size_t end() const { return offset + width; }
};

std::vector<Span> FieldSpans() {
  std::vector<Span> spans;
  for (size_t offset = 0; offset <= 20; offset += 4) spans.push_back({offset, 4});  // 1..6
  for (size_t n = 0; n < 20; ++n) spans.push_back({24 + 4096 * n, 4096});           // 7..26
  for (size_t offset = 81944; offset <= 81972; offset += 4) spans.push_back({offset, 4});
  spans.push_back({81976, 16});  // 35
  for (size_t offset = 81992; offset <= 82020; offset += 4) spans.push_back({offset, 4});
  const Span rest[] = {{82024, 1}, {82025, 4}, {82029, 4}, {82033, 1}, {82034, 4}, {82038, 4},
                       {82042, 1}, {82043, 1}, {82044, 1}, {82045, 1}, {82046, 1}, {82047, 4},
                       {82051, 1}, {82052, 1}, {82053, 4}, {82057, 4}, {82061, 4}, {82065, 4},
                       {82069, 4}, {82073, 1}, {82074, 4}, {82078, 4}, {82082, 4}, {82086, 4},
                       {82090, 4}, {82094, 4}, {82098, 4}, {82102, 4}, {82106, 4}};
  spans.insert(spans.end(), std::begin(rest), std::end(rest));
  return spans;
}

int FieldsInside(const std::vector<Span>& spans, size_t length) {
  int n = 0;
  for (const Span& span : spans) n += span.end() <= length;
  return n;
}

// Every length at which a field boundary shows: none, one byte short of each field's end
// (inside it), each field's end, and longer than the layout.
std::vector<size_t> BoundaryLengths(const std::vector<Span>& spans) {
  std::vector<size_t> lengths = {0};
  for (const Span& span : spans) {
    if (span.width > 1) lengths.push_back(span.end() - 1);
    lengths.push_back(span.end());
  }
  lengths.push_back(kSettingsFileSize + 1);
  lengths.push_back(kSettingsFileSize + 4096);
  return lengths;
}

enum class Content { kRandomBytes, kDamaged, kExtremes };
constexpr Content kContents[] = {Content::kRandomBytes, Content::kDamaged, Content::kExtremes};

constexpr int32_t kExtremes[] = {std::numeric_limits<int32_t>::min(),
                                 std::numeric_limits<int32_t>::max(),
                                 -1,
                                 0,
                                 1,
                                 2,
                                 3,
                                 4,
                                 5,
                                 0x7FC00000 /* NaN as a float */,
                                 0x7F800000 /* +infinity */,
                                 0x4F000000 /* 2^31 as a float */};
constexpr int kAnyExtreme = -1;

// `length` bytes of: random bytes, a valid file with random damage, or a valid file with
// extreme values at the option fields' offsets (`extreme` in every one of them, or with
// kAnyExtreme a random one in a random third of them).
std::vector<uint8_t> MakeInput(std::mt19937_64& rng, const std::vector<uint8_t>& valid,
                               const std::vector<Span>& spans, Content content, size_t length,
                               int extreme = kAnyExtreme) {
  std::vector<uint8_t> bytes;
  switch (content) {
    case Content::kRandomBytes: {
      bytes.resize(length);
      for (size_t i = 0; i < bytes.size(); i += 8) {
        const uint64_t word = rng();
        std::memcpy(bytes.data() + i, &word, std::min<size_t>(8, bytes.size() - i));
      }
      break;
    }
    case Content::kDamaged: {
      bytes = valid;
      const int flips = 1 + static_cast<int>(rng() % 64);
      for (int i = 0; i < flips; ++i) {
        // Mostly in the option fields after the buffers, where the branches are.
        const size_t at = rng() % 4 ? 81944 + rng() % (82110 - 81944) : rng() % 82110;
        bytes[at] = static_cast<uint8_t>(rng());
      }
      bytes.resize(length, static_cast<uint8_t>(rng()));
      break;
    }
    case Content::kExtremes: {
      bytes = valid;
      testing::ImageWriter w{bytes};
      for (const Span& span : spans) {
        if (span.offset < 81944 || span.width == 16) continue;
        if (extreme == kAnyExtreme && rng() % 3 != 0) continue;
        // Byte fields get a byte; four-byte fields a whole extreme value.
        const int32_t v =
            kExtremes[extreme == kAnyExtreme ? rng() % std::size(kExtremes) : extreme];
        if (span.width == 1) {
          w.Byte(span.offset, static_cast<uint8_t>(v));
        } else {
          w.Int(span.offset, v);
        }
      }
      bytes.resize(length);
      break;
    }
  }
  return bytes;
}

// Each content at each boundary length, then whole files: every extreme in every option
// field, and a few more damaged and random ones.
std::vector<std::vector<uint8_t>> MakeInputs(std::mt19937_64& rng, const std::vector<Span>& spans) {
  const std::vector<uint8_t> valid = SerializeSettings(DefaultSettings());
  std::vector<std::vector<uint8_t>> inputs;
  for (size_t length : BoundaryLengths(spans)) {
    for (Content content : kContents)
      inputs.push_back(MakeInput(rng, valid, spans, content, length));
  }
  for (int e = 0; e < static_cast<int>(std::size(kExtremes)); ++e) {
    inputs.push_back(MakeInput(rng, valid, spans, Content::kExtremes, kSettingsFileSize, e));
  }
  for (int i = 0; i < 8; ++i) {
    inputs.push_back(MakeInput(rng, valid, spans, Content::kDamaged, kSettingsFileSize));
    inputs.push_back(MakeInput(rng, valid, spans, Content::kExtremes, kSettingsFileSize));
  }
  for (int i = 0; i < 4; ++i) {
    inputs.push_back(MakeInput(rng, valid, spans, Content::kRandomBytes, kSettingsFileSize));
  }
  return inputs;
}

TEST(SettingsRandomFiles, EveryInputAppliesExactlyTheFieldsInsideIt) {
  const std::vector<Span> spans = FieldSpans();
  ASSERT_EQ(spans.size(), 72u);
  ASSERT_EQ(spans.back().end(), 82110u);
  std::mt19937_64 rng(20240607);
  const std::vector<std::vector<uint8_t>> inputs = MakeInputs(rng, spans);
  FakeWindow win;
  win.log = false;
  int fullSize = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::vector<uint8_t>& bytes = inputs[i];
    // Exact-size copies so the address sanitizer catches any read past the end.
    const auto data = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());

    const int applied = ApplySettings(data.get(), bytes.size(), win);
    ASSERT_EQ(applied, FieldsInside(spans, bytes.size())) << "input " << i;
    ASSERT_EQ(FieldText(win.state.SendBuffer(19)), "5nn ") << "input " << i;
    ASSERT_EQ(FieldText(win.state.SendBuffer(20)), "tu ") << "input " << i;
    ASSERT_GE(win.state.FrequencyBar, 1);

    // A whole layout parses and serialises back to the very same bytes, NaNs included.
    if (bytes.size() >= kSettingsFileSize) {
      ++fullSize;
      SettingsRecord parsed;
      ASSERT_EQ(ParseSettings(data.get(), bytes.size(), parsed), 72);
      const std::vector<uint8_t> again = SerializeSettings(parsed);
      ASSERT_TRUE(std::equal(again.begin(), again.end(), bytes.begin())) << "input " << i;
    }
  }
  EXPECT_GE(fullSize, 40);  // every extreme and more: enough for the round trip to mean something
}

TEST(SettingsRandomFiles, DamagedFilesOnDiskLoadWithoutHarm) {
  const std::vector<Span> spans = FieldSpans();
  const std::vector<uint8_t> valid = SerializeSettings(DefaultSettings());
  std::mt19937_64 rng(7);
  testing::ScratchFolder dir;
  const std::string path = dir.File("Kestrix.cfc");
  // Empty, cut inside the first field, inside the buffers, one byte short, whole, longer.
  const size_t lengths[] = {0,
                            3,
                            24 + 4096 * 3 + 17,
                            81944,
                            kSettingsFileSize - 1,
                            kSettingsFileSize,
                            kSettingsFileSize + 1};
  for (size_t length : lengths) {
    for (Content content : kContents) {
      const std::vector<uint8_t> bytes = MakeInput(rng, valid, spans, content, length);
      testing::WriteBytes(path, bytes);
      FakeWindow win;
      win.log = false;
      const SettingsLoadResult result = LoadSettings(path, win);
      ASSERT_EQ(result.outcome, SettingsLoadResult::Outcome::kLoaded);
      ASSERT_EQ(result.fieldsApplied, FieldsInside(spans, bytes.size()));
      ASSERT_EQ(result.message.empty(), bytes.size() >= kSettingsFileSize);
      ASSERT_TRUE(win.autoStartPending);
    }
  }
}

}  // namespace
}  // namespace kestrix
