#include "skim/sigmf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "skim/sigmf_json.h"

namespace kestrix::skim {
namespace {

TEST(SigmfMetaTest, ReadsTheFieldsItNeedsAndIgnoresTheRest) {
  const std::string meta = R"({
    "global": {"core:datatype": "ci16_le", "core:sample_rate": 192000.0,
               "core:version": "1.0.0", "core:hw": "a \"quoted\" \u00e9 thing",
               "vendor:x": [1, 2, {"deep": [true, false, null]}]},
    "captures": [{"core:sample_start": 0, "core:frequency": 7.03e6,
                  "core:datetime": "2023-12-31T23:59:59.250Z"},
                 {"core:sample_start": 100, "core:frequency": 7.1e6}],
    "annotations": []
  })";
  SigmfMeta m;
  std::string error;
  ASSERT_TRUE(ParseSigmfMeta(meta, m, error)) << error;
  EXPECT_EQ(m.type, SigmfType::Ci16Le);
  EXPECT_EQ(m.BytesPerSample(), 4u);
  EXPECT_EQ(m.sampleRate, 192000.0);
  EXPECT_EQ(m.frequency, 7030000.0);
  EXPECT_EQ(m.datetime, "2023-12-31T23:59:59.250Z");
  double t = 0;
  ASSERT_TRUE(ParseIsoUtc(m.datetime, t));
  EXPECT_DOUBLE_EQ(t, 1704067199.25);
}

// Metadata that can't be read names what is wrong.
TEST(SigmfMetaTest, BadMetadataSaysWhatIsWrong) {
  struct Case {
    const char* json;
    const char* says;
  };
  const Case cases[] = {
      {"", "not valid JSON"},
      {"{\"global\": {\"core:datatype\": \"cf32_le\",}", "not valid JSON"},
      {"[1, 2]", "no \"global\" object"},
      {"{\"global\": {}}", "no core:datatype"},
      {"{\"global\": {\"core:datatype\": 5}}", "no core:datatype"},
      {"{\"global\": {\"core:datatype\": \"cf32_le\"}}", "no core:sample_rate"},
      {"{\"global\": {\"core:datatype\": \"cf32_le\", \"core:sample_rate\": \"48000\"}}",
       "no core:sample_rate"},
      {"{\"global\": {\"core:datatype\": \"cf32_le\", \"core:sample_rate\": 0}}", "out of range"},
      {"{\"global\": {\"core:datatype\": \"rf32_le\", \"core:sample_rate\": 48000}}",
       "real sample type"},
      {"{\"global\": {\"core:datatype\": \"ci16_be\", \"core:sample_rate\": 48000}}", "big-endian"},
      {"{\"global\": {\"core:datatype\": \"cf64_le\", \"core:sample_rate\": 48000}}",
       "not a sample type kestrix-skim reads"},
      {"{\"global\": {\"core:datatype\": \"cf32_le\", \"core:sample_rate\": 48000, "
       "\"core:num_channels\": 2}}",
       "core:num_channels is not 1"},
  };
  for (const Case& c : cases) {
    SigmfMeta m;
    std::string error;
    EXPECT_FALSE(ParseSigmfMeta(c.json, m, error)) << c.json;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.json << " -> " << error;
  }
}

TEST(SigmfMetaTest, NoCaptureFrequencyLeavesTheCentreUnknown) {
  SigmfMeta m;
  std::string error;
  ASSERT_TRUE(ParseSigmfMeta(
      R"({"global": {"core:datatype": "cu8", "core:sample_rate": 2.4e6}, "captures": [{}]})", m,
      error))
      << error;
  EXPECT_TRUE(std::isnan(m.frequency));
  EXPECT_EQ(m.BytesPerSample(), 2u);
}

TEST(MetadataJsonTest, ValuesEscapesAndPositionsOfErrors) {
  nlohmann::json v;
  std::string error;
  ASSERT_TRUE(
      ParseMetadataJson("\xEF\xBB\xBF {\"a\": [-1.5e2, 0, 3], \"s\": \"\\ud83d\\ude00\\n\", "
                        "\"b\": false, \"a\": 7}",
                        v, error))
      << error;
  EXPECT_EQ(v["a"].get<double>(), 7.0);  // the last of a repeated name
  EXPECT_EQ(v["s"].get<std::string>(), "\xF0\x9F\x98\x80\n");

  struct Case {
    const char* text;
    const char* says;
  };
  const Case bad[] = {
      {"{\"a\" 1}", "line 1, column 6"},    {"{\n  \"a\": tru}", "line 2, column"},
      {"[1, 2", "unexpected end of input"}, {"\"abc", "line 1, column 5"},
      {"01", "line 1, column 2"},           {"1.", "expected digit after '.'"},
      {"\"\\x\"", "after backslash"},       {"{} {}", "line 1, column 4"},
  };
  for (const Case& c : bad) {
    EXPECT_FALSE(ParseMetadataJson(c.text, v, error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
  }
  // Nesting beyond the limit is refused rather than built (and freed by recursion).
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  EXPECT_FALSE(ParseMetadataJson(deep, v, error));
  EXPECT_NE(error.find("nested too deeply"), std::string::npos);
  EXPECT_FALSE(ParseMetadataJson(std::string(kMaxJsonBytes + 1, ' '), v, error));
  EXPECT_NE(error.find("longer than"), std::string::npos);
}

TEST(SigmfMetaTest, IsoTimesOutsideTheCalendarAreRefused) {
  double t = 0;
  EXPECT_TRUE(ParseIsoUtc("1970-01-01T00:00:00Z", t));
  EXPECT_EQ(t, 0.0);
  EXPECT_TRUE(ParseIsoUtc("2000-03-01T00:00:00", t));
  EXPECT_EQ(t, 951868800.0);
  for (const char* s :
       {"2024-13-01T00:00:00Z", "2024-01-01", "yesterday", "2024-01-01T25:00:00Z"}) {
    EXPECT_FALSE(ParseIsoUtc(s, t)) << s;
  }
}

}  // namespace
}  // namespace kestrix::skim
