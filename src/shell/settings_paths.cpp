#include "shell/settings_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrix {

namespace {

bool NotEmpty(const char* value) {
  return value != nullptr && value[0] != '\0';
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string SettingsFolder(const EnvironmentLookup& env) {
  if (const char* home = env("KESTRIX_HOME"); NotEmpty(home)) return WithoutTrailingSlashes(home);
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
  if (const char* config = env("XDG_CONFIG_HOME"); NotEmpty(config) && config[0] == '/') {
    return WithoutTrailingSlashes(config) + "/kestrix";
  }
  std::string home;
  if (const char* value = env("HOME"); NotEmpty(value)) {
    home = value;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && NotEmpty(pw->pw_dir)) {
    home = pw->pw_dir;
  } else {
    return "";
  }
  home = WithoutTrailingSlashes(home);
  return (home == "/" ? "" : home) + "/.config/kestrix";
}

std::string SettingsFolder() {
  return SettingsFolder([](const char* name) { return std::getenv(name); });
}

std::string SettingsFilePath(const std::string& folder) {
  return folder + "/" + kSettingsFileName;
}

std::string HelpFilePath(const std::string& folder) {
  return folder + "/" + kHelpFileName;
}

std::string ExistingFile(const std::string& path) {
  if (path.empty()) return "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular ? path : "";
}

bool MakeFolders(const std::string& folder, std::string& error) {
  if (folder.empty()) {
    error = "No settings folder: neither KESTRIX_HOME, XDG_CONFIG_HOME nor a home folder is known";
    return false;
  }
  // Create each missing level from the top down.
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "Folder " + level + " could not be created (" + std::strerror(errno) + ")";
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = folder + " is not a folder";
    return false;
  }
  return true;
}

}  // namespace kestrix
