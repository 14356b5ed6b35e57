// The settings options of the kestrix command line, handled before any window or
// QApplication exists (so they work without a display):
//
//   kestrix --write-default-settings [PATH]
//
// writes the settings file the program itself would write before any load (the default
// values) to PATH, or to Kestrix.cfc in the settings folder, creating the folder. An
// existing file is never overwritten.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace kestrix {

inline constexpr const char* kWriteDefaultSettingsOption = "--write-default-settings";

// Returns the exit status when argv[1] is a settings option, std::nullopt otherwise.
std::optional<int> RunSettingsCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

// Writes the default settings file to `path` unless a file is already there. Returns false
// with a message when the file exists or cannot be written.
bool WriteDefaultSettingsFile(const std::string& path, std::string& error);

}  // namespace kestrix
