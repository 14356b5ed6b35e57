// A small JSON reader for metadata files (SigMF): the whole text in, a tree of values out,
// or one line saying where and why it is not JSON. RFC 8259 syntax; numbers as double;
// strings with \uXXXX escapes decoded to UTF-8 (surrogate pairs joined). Nesting deeper
// than kMaxJsonDepth and texts over kMaxJsonBytes are refused, so any input is safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::skim {

inline constexpr int kMaxJsonDepth = 64;
inline constexpr size_t kMaxJsonBytes = 16 * 1024 * 1024;

struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  double number = 0.0;
  std::string string;
  std::vector<JsonValue> array;
  std::vector<std::string> keys;  // object members in file order: keys[i] names values[i]
  std::vector<JsonValue> values;

  // The member named `key` (the last one when repeated), nullptr when absent or not an
  // object.
  const JsonValue* Find(std::string_view key) const;
  bool IsNumber() const { return type == Type::Number; }
  bool IsString() const { return type == Type::String; }
};

// Parses `text`; false with `error` ("line 3, column 7: expected ':'") on failure.
bool ParseJson(std::string_view text, JsonValue& out, std::string& error);

}  // namespace kestrix::skim
