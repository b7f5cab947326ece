// Where the logs and the settings go: beside the program and in the working
// directory as before, or in the user's XDG folders when the program is installed.

#include "config/places.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;

TEST(PlacesTest, UserFoldersFollowTheXdgRulesAndIgnoreRelativeBases) {
  const struct {
    PlaceEnvironment env;
    const char* data;
    const char* config;
  } cases[] = {
      {{"/home/op", "", ""}, "/home/op/.local/share/zevrinkiss", "/home/op/.config/zevrinkiss"},
      {{"/home/op/", "/d", "/c/"}, "/d/zevrinkiss", "/c/zevrinkiss"},
      {{"/h", "data", "cfg"}, "/h/.local/share/zevrinkiss", "/h/.config/zevrinkiss"},
      {{"", "/d", ""}, "/d/zevrinkiss", ""},
      {{"relative-home", "", ""}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env.home + "|" + c.env.xdg_data_home);
    EXPECT_EQ(UserDataFolder(c.env), c.data);
    EXPECT_EQ(UserConfigFolder(c.env), c.config);
  }
}

// A writable program folder keeps the logs unless the program is installed; one the
// program cannot write (here: gone) sends them to the user's data folder, made
// private with its parents; with no such folder known they stay.
TEST(PlacesTest, LogsGoToTheDataFolderWhenInstalledOrTheProgramFolderCannotBeWritten) {
  testing::TempDir dir("places-logs");
  const fs::path program = dir / "bin", home = dir / "home";
  fs::create_directories(home);
  const PlaceEnvironment env{home.string(), "", ""};
  EXPECT_EQ(LogDirectory(dir.string(), false, env), dir.string());
  EXPECT_TRUE(fs::is_empty(home));  // no data folder made for nothing
  const fs::path data = home / ".local" / "share" / "zevrinkiss";
  EXPECT_EQ(LogDirectory(dir.string(), true, env), data.string());
  EXPECT_EQ(LogDirectory(program.string(), false, env), data.string());
  EXPECT_EQ(fs::status(data).permissions(), fs::perms::owner_all);
  EXPECT_EQ(LogDirectory(program.string(), false, {}), program.string());
  // Installed: in the folder the programs install to, or with the desktop entry
  // where an installation puts it.
  fs::create_directories(program);
  EXPECT_TRUE(IsInstalledProgram(program.string(), {program.string(), ""}));
  EXPECT_TRUE(IsInstalledProgram(program.string(), {"", "../bin"}));
  EXPECT_FALSE(IsInstalledProgram(program.string(), {dir.string(), "../share"}));
}

// The working directory's file wins; else the user's file, whose folder is made for
// the setup dialog to write it.
TEST(PlacesTest, SettingsInTheWorkingDirectoryWinOverTheUsersFile) {
  testing::TempDir dir("places-settings");
  const fs::path work = dir / "work", config = dir / "home" / ".config" / "zevrinkiss";
  fs::create_directories(work);
  const PlaceEnvironment env{dir.Path("home"), "", ""};
  SettingsPlace place = FindSettings(work.string(), env);
  EXPECT_EQ(place.settings_file, (config / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ::testing::ElementsAre(config.string(), work.string()));
  EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_all);

  dir.Write("work/zevrinkiss.ini", "03,19200,N,8,1\r\n");
  dir.Write("home/.config/zevrinkiss/zevrinkiss.ini", "05,4800,N,8,1\r\n");
  place = FindSettings(work.string(), env);
  EXPECT_EQ(place.settings_file, (work / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ::testing::ElementsAre(work.string()));
}

}  // namespace
}  // namespace zevrin
