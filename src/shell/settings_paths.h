// Where the program keeps its settings file and its help file, and the rule that a file
// there is used only if it already exists. GUI-free; called once at start-up from the
// window's creation and by `kestrix --write-default-settings`.
#pragma once

#include <functional>
#include <string>

namespace kestrix {

inline constexpr const char* kSettingsFileName = "Kestrix.cfc";
inline constexpr const char* kHelpFileName = "KestrixHelp.html";

// Reads an environment variable; nullptr when unset. Tests pass their own.
using EnvironmentLookup = std::function<const char*(const char*)>;

// The settings folder, without a trailing slash:
//   $KESTRIX_HOME                 when set and not empty,
//   else $XDG_CONFIG_HOME/kestrix when set to an absolute path,
//   else $HOME/.config/kestrix    (HOME from the password database when unset).
// Empty only when no home folder can be found at all.
std::string SettingsFolder(const EnvironmentLookup& env);
std::string SettingsFolder();  // from the process environment

// Full paths of the two files in SettingsFolder() (they need not exist).
std::string SettingsFilePath(const std::string& folder);
std::string HelpFilePath(const std::string& folder);

// `path` when it names a regular file that can be opened for reading, else "". This is the
// start-up check: a settings or help file is used only if it is already there.
std::string ExistingFile(const std::string& path);

// Creates `folder` and any missing parents with mode 0755. Returns false with a message
// naming the folder and the system's reason.
bool MakeFolders(const std::string& folder, std::string& error);

}  // namespace kestrix
