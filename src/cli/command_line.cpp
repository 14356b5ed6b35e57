#include "cli/command_line.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrix::cli {

OptionArg SplitOption(const std::string& arg) {
  OptionArg o;
  if (const size_t eq = arg.find('='); eq != std::string::npos) {
    o.name = arg.substr(0, eq);
    o.value = arg.substr(eq + 1);
    o.inlineValue = true;
  } else {
    o.name = arg;
  }
  return o;
}

bool TakeValue(OptionArg& option, const std::vector<std::string>& args, size_t& i) {
  if (option.inlineValue) return true;
  if (i + 1 >= args.size()) return false;
  option.value = args[++i];
  return true;
}

bool ParseInt(std::string_view text, int& out) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return false;
  out = value;
  return true;
}

bool ParseDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace kestrix::cli
