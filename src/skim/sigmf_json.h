// The JSON under SigMF metadata, read with nlohmann::json and never an exception: the
// text is first walked by a SAX reader that stops at the first fault and at nesting deeper
// than kMaxJsonDepth (a tree that deep would be freed by recursion), then parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kestrix::skim {

inline constexpr int kMaxJsonDepth = 64;
inline constexpr size_t kMaxJsonBytes = 16 * 1024 * 1024;

// Parses `text`; false with `error` (where and why) when it is not JSON, is nested too
// deeply or is too long.
bool ParseMetadataJson(std::string_view text, nlohmann::json& out, std::string& error);

}  // namespace kestrix::skim
