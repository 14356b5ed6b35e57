// Which decoder the window reads with, and the window's own small settings file that keeps
// the choice beside the main settings file (never inside it: that file's layout is fixed).
//
//   # Kestrix window
//   decoder=soft
//
// One "key=value" a line; lines this program does not know are kept as they are when the
// file is saved again, so a newer file read and saved by an older program loses nothing.
// A missing file is the default (Classic). GUI-free.
#pragma once

#include <string>
#include <string_view>

namespace kestrix::softrx {

inline constexpr const char* kWindowSettingsFileName = "KestrixWindow.cfg";

enum class DecoderKind { kClassic, kSoft };

// "classic" or "soft" (any case); false for anything else.
bool ParseDecoderKind(std::string_view text, DecoderKind& kind);
const char* DecoderKindName(DecoderKind kind);  // "classic" / "soft"

// Reads the choice from `path`. A missing file gives Classic and true; an unreadable file
// or a decoder line that does not parse gives Classic, false and a message.
bool LoadDecoderKind(const std::string& path, DecoderKind& kind, std::string& error);
// Writes the choice into `path`, keeping the file's other lines; through a temporary file
// and a rename, so a crash never leaves half a file. False with a message on failure.
bool SaveDecoderKind(const std::string& path, DecoderKind kind, std::string& error);

}  // namespace kestrix::softrx
