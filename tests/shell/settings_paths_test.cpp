#include "shell/settings_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "settings_test_util.h"
#include "shell/settings_command.h"
#include "shell/settings_file.h"
#include "shell/window_placement.h"

namespace kestrix {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

TEST(SettingsPaths, FolderFollowsTheEnvironment) {
  const struct {
    const char* name;
    std::map<std::string, std::string> env;
    std::string folder;
  } cases[] = {
      {"KestrixHomeFirst",
       {{"KESTRIX_HOME", "/opt/k/"}, {"XDG_CONFIG_HOME", "/x"}, {"HOME", "/h"}},
       "/opt/k"},
      {"EmptyKestrixHomeIgnored",
       {{"KESTRIX_HOME", ""}, {"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/h"}},
       "/x/cfg/kestrix"},
      {"RelativeXdgIgnored",
       {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/op"}},
       "/home/op/.config/kestrix"},
      {"HomeFallback", {{"HOME", "/home/op/"}}, "/home/op/.config/kestrix"},
      {"RootHome", {{"HOME", "/"}}, "/.config/kestrix"},
  };
  for (const auto& c : cases) {
    const auto env = [&](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(SettingsFolder(env), c.folder) << c.name;
  }
  EXPECT_EQ(SettingsFilePath("/a/b"), "/a/b/Kestrix.cfc");
  EXPECT_EQ(HelpFilePath("/a/b"), "/a/b/KestrixHelp.html");
}

TEST(SettingsPaths, OnlyAnExistingRegularFileIsUsed) {
  ScratchFolder dir;
  const std::string file = dir.File("Kestrix.cfc");
  EXPECT_EQ(ExistingFile(file), "");
  EXPECT_EQ(ExistingFile(dir.path()), "");  // a folder is not a settings file
  EXPECT_EQ(ExistingFile(""), "");
  WriteBytes(file, {});
  EXPECT_EQ(ExistingFile(file), file);
}

TEST(SettingsPaths, MakeFoldersCreatesEveryLevelOnce) {
  ScratchFolder dir;
  std::string error;
  const std::string deep = dir.File("a/b/c");
  ASSERT_TRUE(MakeFolders(deep, error)) << error;
  ASSERT_TRUE(MakeFolders(deep, error)) << error;  // already there
  struct stat st {};
  ASSERT_EQ(::stat(deep.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  WriteBytes(dir.File("plain"), {1});
  EXPECT_FALSE(MakeFolders(dir.File("plain/sub"), error));
  EXPECT_NE(error.find("plain"), std::string::npos);
}

// Runs the command line with argv[0] = "kestrix".
std::optional<int> RunCommand(std::vector<std::string> args, std::string* out = nullptr,
                              std::string* err = nullptr) {
  args.insert(args.begin(), "kestrix");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream o, e;
  const std::optional<int> rc =
      RunSettingsCommand(static_cast<int>(argv.size()), argv.data(), o, e);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return rc;
}

TEST(WriteDefaultSettings, WritesTheDefaultLayoutAndNeverOverwrites) {
  ScratchFolder dir;
  const std::string path = dir.File("new/folder/Kestrix.cfc");
  std::string out, err;
  EXPECT_EQ(RunCommand({"--write-default-settings", path}, &out, &err), 0) << err;
  EXPECT_NE(out.find(path), std::string::npos);
  // The defaults, with both windows' positions left to the loader (centred main window,
  // timeline clear of it) since the file cannot know the desktop.
  SettingsRecord expected = DefaultSettings();
  for (int32_t* position :
       {&expected.MainTop, &expected.MainLeft, &expected.TimelineTop, &expected.TimelineLeft}) {
    *position = kAutomaticPosition;
  }
  EXPECT_EQ(ReadBytes(path), SerializeSettings(expected));

  WriteBytes(path, {1, 2, 3});
  EXPECT_EQ(RunCommand({"--write-default-settings", path}, &out, &err), 1);
  EXPECT_NE(err.find("already exists"), std::string::npos);
  EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(WriteDefaultSettings, GoesToTheSettingsFolderWithoutAPath) {
  ScratchFolder dir;
  const std::string home = dir.File("khome");
  ASSERT_EQ(::setenv("KESTRIX_HOME", home.c_str(), 1), 0);
  std::string err;
  EXPECT_EQ(RunCommand({"--write-default-settings"}, nullptr, &err), 0) << err;
  ::unsetenv("KESTRIX_HOME");
  EXPECT_EQ(ReadBytes(home + "/Kestrix.cfc").size(), 82110u);
}

TEST(WriteDefaultSettings, OtherCommandLinesAreNotOurs) {
  EXPECT_EQ(RunCommand({}), std::nullopt);
  EXPECT_EQ(RunCommand({"--input-file", "x.wav"}), std::nullopt);
  EXPECT_EQ(RunCommand({"--write-default-settings", "a", "b"}), 2);
  EXPECT_EQ(RunCommand({"--write-default-settings", ""}), 1);
}

}  // namespace
}  // namespace kestrix
