// The text of a received dot-dash pattern ('.' and '-'), empty when it is no character.
#pragma once

#include <string_view>

namespace kestrix::soft {

std::string_view PatternText(std::string_view pattern);

}  // namespace kestrix::soft
