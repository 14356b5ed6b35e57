#include "shell/settings_command.h"

#include <sys/stat.h>

#include <cstring>

#include "shell/settings_file.h"
#include "shell/settings_paths.h"
#include "shell/window_placement.h"

namespace kestrix {

bool WriteDefaultSettingsFile(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "no path given for the settings file";
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    error = path + " already exists; it is left as it is";
    return false;
  }
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), error)) {
    return false;
  }
  // A new file cannot know the desktop it will be loaded on: the loader places both
  // windows for the screen they open on (the main window centred, the timeline window
  // clear of its menu and display).
  SettingsRecord record = DefaultSettings();
  record.MainTop = kAutomaticPosition;
  record.MainLeft = kAutomaticPosition;
  record.TimelineTop = kAutomaticPosition;
  record.TimelineLeft = kAutomaticPosition;
  return SaveSettings(path, record, error);
}

std::optional<int> RunSettingsCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  if (argc < 2 || std::strcmp(argv[1], kWriteDefaultSettingsOption) != 0) return std::nullopt;
  if (argc > 3) {
    err << "kestrix: " << kWriteDefaultSettingsOption << " takes at most one path\n";
    return 2;
  }
  std::string path;
  if (argc == 3) {
    path = argv[2];
  } else {
    const std::string folder = SettingsFolder();
    if (folder.empty()) {
      err << "kestrix: no settings folder: set KESTRIX_HOME or HOME\n";
      return 1;
    }
    path = SettingsFilePath(folder);
  }
  std::string error;
  if (!WriteDefaultSettingsFile(path, error)) {
    err << "kestrix: " << error << "\n";
    return 1;
  }
  out << "kestrix: default settings written to " << path << "\n";
  return 0;
}

}  // namespace kestrix
