// Where the logs and the settings go: beside the program and in the working
// directory as before, or in the user's XDG folders when the program is installed.

#include "config/places.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Folders = std::vector<std::string>;

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

TEST(PlacesTest, ComLinksAreSoughtBesideTheSettingsFileThenInTheWorkingDirectory) {
  EXPECT_EQ(PortDirectories("zevrinkiss.ini", "."), Folders{"."});
  EXPECT_EQ(PortDirectories("/c/zevrinkiss/zevrinkiss.ini", "."), (Folders{"/c/zevrinkiss", "."}));
  EXPECT_EQ(PortDirectories("/run/st/zevrinkiss.ini", "/run/st"), Folders{"/run/st"});
  EXPECT_EQ(PortDirectories("/zevrinkiss.ini", "/work"), (Folders{"/", "/work"}));
}

TEST(PlacesTest, MakeDirectoriesCreatesPrivateParentsAndReportsWhatIsInTheWay) {
  testing::TempDir dir("places-mkdir");
  const fs::path deep = dir / "a" / "b" / "c";
  EXPECT_EQ(MakeDirectories(deep.string()), std::nullopt);
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(fs::status(dir / "a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(MakeDirectories(deep.string() + "/"), std::nullopt);  // already there
  dir.Write("file", "x");
  EXPECT_THAT(MakeDirectories((dir / "file" / "sub").string()).value_or(""), HasSubstr("file"));
  EXPECT_TRUE(MakeDirectories((dir / "file").string()).has_value());
}

// Runs `work` in a child that may not write to folders it does not own (as root it
// becomes "nobody", since root writes anywhere) and returns what `work` returned.
std::string RunUnprivileged(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    const std::string result = work();
    ::_exit(::write(fds[1], result.data(), result.size()) == ssize_t(result.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

// A writable program folder keeps the logs; a read-only one sends them to the user's
// data folder, made private with its parents; with no such folder known they stay.
TEST(PlacesTest, LogsGoToTheDataFolderOnlyWhenTheProgramFolderIsReadOnly) {
  testing::TempDir dir("places-logs");
  const fs::path program = dir / "bin", home = dir / "home";
  fs::create_directories(program);
  fs::create_directories(home);
  fs::permissions(home, fs::perms::all);  // the child runs as another user
  PlaceEnvironment env{home.string(), "", ""};
  EXPECT_EQ(LogDirectory(program.string(), env), program.string());
  EXPECT_TRUE(fs::is_empty(home));  // no data folder made for nothing

  fs::permissions(program,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const fs::path data = home / ".local" / "share" / "zevrinkiss";
  EXPECT_EQ(RunUnprivileged([&] {
              const std::string folder = LogDirectory(program.string(), env);
              return folder + (IsWritableDirectory(folder) ? "|writable" : "|not writable");
            }),
            data.string() + "|writable");
  EXPECT_EQ(fs::status(data).permissions(), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(program));
  env.xdg_data_home = (home / "xdg").string();
  EXPECT_EQ(RunUnprivileged([&] { return LogDirectory(program.string(), env); }),
            (home / "xdg" / "zevrinkiss").string());
  EXPECT_EQ(RunUnprivileged([&] { return LogDirectory(program.string(), {}); }), program.string());
}

// The working directory's file wins and keeps its bare name when named as "."; else
// the user's file, whose folder is made for the setup dialog to write it.
TEST(PlacesTest, SettingsInTheWorkingDirectoryWinOverTheUsersFile) {
  testing::TempDir dir("places-settings");
  const fs::path work = dir / "work", config = dir / "home" / ".config" / "zevrinkiss";
  fs::create_directories(work);
  const PlaceEnvironment env{(dir / "home").string(), "", ""};
  SettingsPlace place = FindSettings(work.string(), env);
  EXPECT_EQ(place.settings_file, (config / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ElementsAre(config.string(), work.string()));
  EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(work));

  dir.Write("work/zevrinkiss.ini", "03,19200,N,8,1\r\n");
  dir.Write("home/.config/zevrinkiss/zevrinkiss.ini", "05,4800,N,8,1\r\n");
  place = FindSettings(work.string(), env);
  EXPECT_EQ(place.settings_file, (work / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ElementsAre(work.string()));
  const fs::path before = fs::current_path();
  fs::current_path(work);
  place = FindSettings(".", env);
  fs::current_path(before);
  EXPECT_EQ(place.settings_file, "zevrinkiss.ini");
  EXPECT_THAT(place.port_directories, ElementsAre("."));

  // Without any home, the working directory is all there is, even without a file.
  place = FindSettings((dir / "home").string(), {});
  EXPECT_EQ(place.settings_file, (dir / "home" / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ElementsAre((dir / "home").string()));
}

}  // namespace
}  // namespace zevrin
