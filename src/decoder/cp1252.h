// Windows-1252 bytes to UTF-8. Pane texts and buffers stay single-byte; this is the
// conversion at the edge (terminal output, widgets).
#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// Converts Windows-1252 text to UTF-8. Bytes with no character (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become U+FFFD.
std::string Cp1252ToUtf8(std::string_view text);

}  // namespace kestrix
