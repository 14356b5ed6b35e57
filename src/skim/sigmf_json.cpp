#include "skim/sigmf_json.h"

namespace kestrix::skim {
namespace {

// Keeps nothing: counts the nesting and remembers the first fault.
class Checker final : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return Deeper(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Shallower(); }
  bool start_array(std::size_t) override { return Deeper(); }
  bool end_array() override { return Shallower(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = e.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 6: ..." without the
    // library's tag.
    if (const size_t at = error.find("] "); at != std::string::npos) error.erase(0, at + 2);
    return false;
  }

  std::string error;

 private:
  bool Deeper() {
    if (++depth_ <= kMaxJsonDepth) return true;
    error = "nested too deeply (more than " + std::to_string(kMaxJsonDepth) + " levels)";
    return false;
  }
  bool Shallower() {
    --depth_;
    return true;
  }
  int depth_ = 0;
};

}  // namespace

bool ParseMetadataJson(std::string_view text, nlohmann::json& out, std::string& error) {
  if (text.size() > kMaxJsonBytes) {
    error = "longer than " + std::to_string(kMaxJsonBytes / (1024 * 1024)) + " MB";
    return false;
  }
  // A byte order mark is allowed before the text.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  Checker checker;
  if (!nlohmann::json::sax_parse(text, &checker, nlohmann::json::input_format_t::json, true,
                                 false) ||
      !checker.error.empty()) {
    error = checker.error.empty() ? "not JSON" : checker.error;
    return false;
  }
  out = nlohmann::json::parse(text, nullptr, false);
  if (out.is_discarded()) {
    error = "not JSON";
    return false;
  }
  return true;
}

}  // namespace kestrix::skim
