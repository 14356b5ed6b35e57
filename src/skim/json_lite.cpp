#include "skim/json_lite.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace kestrix::skim {

const JsonValue* JsonValue::Find(std::string_view key) const {
  if (type != Type::Object) return nullptr;
  const JsonValue* found = nullptr;
  for (size_t i = 0; i < keys.size() && i < values.size(); ++i) {
    if (keys[i] == key) found = &values[i];
  }
  return found;
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  bool Parse(JsonValue& out, std::string& error) {
    if (s_.size() > kMaxJsonBytes) {
      error = "too large for a metadata file";
      return false;
    }
    // A UTF-8 byte order mark is allowed in front.
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    SkipSpace();
    if (!Value(out, 0)) {
      error = Where() + error_;
      return false;
    }
    SkipSpace();
    if (pos_ != s_.size()) {
      error = Where() + "text after the end of the JSON value";
      return false;
    }
    return true;
  }

 private:
  std::string Where() const {
    size_t line = 1, col = 1;
    for (size_t i = 0; i < pos_ && i < s_.size(); ++i) {
      if (s_[i] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(col) + ": ";
  }
  bool Fail(const char* why) {
    error_ = why;
    return false;
  }
  void SkipSpace() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return Fail("not a JSON value");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue& v, int depth) {
    if (depth > kMaxJsonDepth) return Fail("nested too deeply");
    if (pos_ >= s_.size()) return Fail("unexpected end of the text");
    const char c = s_[pos_];
    switch (c) {
      case '{':
        return Object(v, depth);
      case '[':
        return Array(v, depth);
      case '"':
        v.type = JsonValue::Type::String;
        return String(v.string);
      case 't':
        v.type = JsonValue::Type::Bool;
        v.boolean = true;
        return Literal("true");
      case 'f':
        v.type = JsonValue::Type::Bool;
        v.boolean = false;
        return Literal("false");
      case 'n':
        v.type = JsonValue::Type::Null;
        return Literal("null");
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return Number(v);
        return Fail("not a JSON value");
    }
  }

  bool Object(JsonValue& v, int depth) {
    v.type = JsonValue::Type::Object;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("expected a member name in quotes");
      std::string key;
      if (!String(key)) return false;
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      JsonValue member;
      if (!Value(member, depth + 1)) return false;
      v.keys.push_back(std::move(key));
      v.values.push_back(std::move(member));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(JsonValue& v, int depth) {
    v.type = JsonValue::Type::Array;
    ++pos_;
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      v.array.push_back(std::move(item));
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool Hex4(unsigned& out) {
    if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
      out <<= 4;
      if (h >= '0' && h <= '9') {
        out |= static_cast<unsigned>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        out |= static_cast<unsigned>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        out |= static_cast<unsigned>(h - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    return true;
  }

  static void Utf8(unsigned cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++pos_;  // the opening quote
    while (true) {
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) return Fail("unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            unsigned lo = 0;
            if (!Hex4(lo)) return false;
            if (lo >= 0xDC00 && lo < 0xE000) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            } else {
              Utf8(0xFFFD, out);
              cp = lo;
            }
          }
          if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;  // a lone surrogate
          Utf8(cp, out);
          break;
        }
        default:
          return Fail("bad escape in a string");
      }
    }
  }

  bool Number(JsonValue& v) {
    const size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return Fail("bad number");
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digits()) return Fail("bad number");
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digits()) return Fail("bad number");
    }
    // strtod is locale-dependent for the decimal point; JSON's is always '.', so parse
    // the digits by hand into a long double and scale.
    const std::string_view t = s_.substr(start, pos_ - start);
    v.type = JsonValue::Type::Number;
    v.number = ToDouble(t);
    return true;
  }

  static double ToDouble(std::string_view t) {
    size_t i = 0;
    bool neg = false;
    if (i < t.size() && t[i] == '-') {
      neg = true;
      ++i;
    }
    long double mant = 0.0L;
    int exp10 = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) mant = mant * 10 + (t[i] - '0');
    if (i < t.size() && t[i] == '.') {
      for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        mant = mant * 10 + (t[i] - '0');
        --exp10;
      }
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
      ++i;
      bool eneg = false;
      if (i < t.size() && (t[i] == '+' || t[i] == '-')) eneg = t[i++] == '-';
      int e = 0;
      for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        e = std::min(e * 10 + (t[i] - '0'), 100000);
      exp10 += eneg ? -e : e;
    }
    long double value = mant * std::pow(10.0L, static_cast<long double>(exp10));
    if (!std::isfinite(static_cast<double>(value))) value = HUGE_VAL;
    return static_cast<double>(neg ? -value : value);
  }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue& out, std::string& error) {
  out = JsonValue{};
  Parser parser(text);
  return parser.Parse(out, error);
}

}  // namespace kestrix::skim
