// The pieces every command-line parser here shares (kestrix-decode, kestrix-send,
// kestrix-partner, kestrix-morsegen): an option written as "--name=value" or as "--name"
// followed by its value, and whole-argument numbers. Each tool keeps its own option table
// and messages. Pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::cli {

// An option as written: "--name=value" splits at the first '='; anything else is a name.
struct OptionArg {
  std::string name;
  std::string value;
  bool inlineValue = false;  // the value came after '='
};

OptionArg SplitOption(const std::string& arg);

// The option's value: the one after '=', else the next argument (moving `i` on to it).
// False when there is neither.
bool TakeValue(OptionArg& option, const std::vector<std::string>& args, size_t& i);

// The whole of `text` as a decimal int (an optional '-', digits, nothing else).
bool ParseInt(std::string_view text, int& out);
// The whole of `text` as a finite number in strtod's syntax; false for an empty text, a
// number out of the double range (including underflow) and infinities or NaN.
bool ParseDouble(const std::string& text, double& out);

}  // namespace kestrix::cli
