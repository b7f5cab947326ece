// Where the logs and the settings go: beside the program and in the working
// directory as before, or in the user's XDG folders when the program is installed.

#include "config/places.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config/settings_file.h"
#include "station/station.h"
#include "support/fakes.h"
#include "support/station_view.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uid_t kNobody = 65534;

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

// Runs `work` in a child process that may not write to folders it does not own:
// as root the child becomes "nobody", since root writes anywhere. Returns what
// `work` returned.
std::string RunUnprivileged(const std::function<std::string()>& work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(3);
    const std::string result = work();
    const ssize_t n = ::write(pipe_fds[1], result.data(), result.size());
    ::_exit(n == static_cast<ssize_t>(result.size()) ? 0 : 4);
  }
  ::close(pipe_fds[1]);
  std::string result;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return result;
}

TEST(PlacesTest, UserFoldersFollowTheXdgRules) {
  struct Case {
    PlaceEnvironment env;
    const char* data;
    const char* config;
  };
  const Case cases[] = {
      {{"/home/op", "", ""}, "/home/op/.local/share/zevrinkiss", "/home/op/.config/zevrinkiss"},
      {{"/home/op/", "/d", "/c/"}, "/d/zevrinkiss", "/c/zevrinkiss"},
      // Relative base directories are not valid and are ignored.
      {{"/home/op", "data", "cfg"},
       "/home/op/.local/share/zevrinkiss",
       "/home/op/.config/zevrinkiss"},
      {{"", "/d", ""}, "/d/zevrinkiss", ""},
      {{"", "", ""}, "", ""},
      {{"relative-home", "", ""}, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UserDataFolder(c.env), c.data) << c.env.home << "|" << c.env.xdg_data_home;
    EXPECT_EQ(UserConfigFolder(c.env), c.config) << c.env.home << "|" << c.env.xdg_config_home;
  }
}

TEST(PlacesTest, ComLinksAreSoughtBesideTheSettingsFileThenInTheWorkingDirectory) {
  struct Case {
    const char* settings_file;
    const char* working_directory;
    std::vector<std::string> folders;
  };
  const Case cases[] = {
      {"zevrinkiss.ini", ".", {"."}},
      {"/home/op/.config/zevrinkiss/zevrinkiss.ini", ".", {"/home/op/.config/zevrinkiss", "."}},
      {"/run/station/zevrinkiss.ini", "/run/station", {"/run/station"}},
      {"/zevrinkiss.ini", "/work", {"/", "/work"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortDirectories(c.settings_file, c.working_directory), c.folders) << c.settings_file;
  }
}

TEST(PlacesTest, MakeDirectoriesCreatesPrivateParentsAndReportsWhatIsInTheWay) {
  testing::TempDir dir("places-mkdir");
  const fs::path deep = dir / "a" / "b" / "c";
  EXPECT_EQ(MakeDirectories(deep.string()), std::nullopt);
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(fs::status(dir / "a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(MakeDirectories(deep.string() + "/"), std::nullopt);  // already there

  dir.Write("file", "x");
  const std::optional<std::string> error = MakeDirectories((dir / "file" / "sub").string());
  ASSERT_TRUE(error.has_value());
  EXPECT_THAT(*error, HasSubstr("file"));
  EXPECT_TRUE(MakeDirectories((dir / "file").string()).has_value());
}

class LogPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(program_);
    fs::create_directories(home_);
    // The child runs as another user: it must reach and write the home folder.
    fs::permissions(home_, fs::perms::all);
  }
  testing::TempDir dir_{"places-logs"};
  fs::path program_ = dir_ / "bin";
  fs::path home_ = dir_ / "home";
  PlaceEnvironment env_{home_.string(), "", ""};
};

TEST_F(LogPlaceTest, AWritableProgramFolderKeepsTheLogs) {
  EXPECT_EQ(LogDirectory(program_.string(), env_), program_.string());
  EXPECT_THAT(Entries(home_), IsEmpty());  // no data folder made for nothing
}

TEST_F(LogPlaceTest, AReadOnlyProgramFolderSendsTheLogsToTheDataFolder) {
  fs::permissions(program_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
  const fs::path data = home_ / ".local" / "share" / "zevrinkiss";
  const std::string chosen = RunUnprivileged([&] {
    const std::string folder = LogDirectory(program_.string(), env_);
    return folder + (IsWritableDirectory(folder) ? "|writable" : "|not writable");
  });
  EXPECT_EQ(chosen, data.string() + "|writable");
  EXPECT_EQ(fs::status(data).permissions(), fs::perms::owner_all);
  EXPECT_THAT(Entries(program_), IsEmpty());

  // $XDG_DATA_HOME decides when set; a missing one is created with its parents.
  const fs::path xdg = home_ / "xdg" / "data";
  env_.xdg_data_home = xdg.string();
  EXPECT_EQ(RunUnprivileged([&] { return LogDirectory(program_.string(), env_); }),
            (xdg / "zevrinkiss").string());
  EXPECT_TRUE(fs::is_directory(xdg / "zevrinkiss"));

  // Nowhere better to go: the program's folder, whose logs then report the failure.
  EXPECT_EQ(RunUnprivileged([&] { return LogDirectory(program_.string(), {}); }),
            program_.string());
}

// The desktop program's start-up and the setup dialog's write, on the places found.
class SettingsPlaceTest : public ::testing::Test {
 protected:
  std::unique_ptr<Station> Start(const SettingsPlace& place) {
    auto station = std::make_unique<Station>(program_, port_, view_, view_, clock_,
                                             StationPaths{place.settings_file, dir_.string()});
    station->Start();
    return station;
  }

  long Dialogs() const { return std::ranges::count(view_.events, "setup-dialog:"); }

  testing::TempDir dir_{"places-settings"};
  fs::path work_ = dir_ / "work";
  fs::path config_ = dir_ / "home" / ".config" / "zevrinkiss";
  PlaceEnvironment env_{(dir_ / "home").string(), "", ""};
  testing::FixedClock clock_{{FromCivil({2009, 6, 20, 10, 0, 0}), 0}};
  StationProgram program_{clock_};
  testing::RecordingStationView view_;
  testing::FakePort port_;

  void SetUp() override { fs::create_directories(work_); }
};

TEST_F(SettingsPlaceTest, WithoutSettingsInTheWorkingDirectoryTheUsersFileIsReadAndWritten) {
  const SettingsPlace place = FindSettings(work_.string(), env_);
  EXPECT_EQ(place.settings_file, (config_ / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ElementsAre(config_.string(), work_.string()));

  // First start: no file anywhere, so the dialog opens; "ok" writes the user's file.
  auto station = Start(place);
  EXPECT_EQ(Dialogs(), 1);
  const SetupValues setup = station->CurrentSetup();
  EXPECT_EQ(setup.settings_file, place.settings_file);
  EXPECT_EQ(WriteSettingsFile(setup.settings_file, {"12,115200,E,7,2", "127.0.0.1", "Lab"}),
            std::nullopt);
  station->Stop();

  // The restart and every later start read it back; the working directory stays clean.
  station = Start(FindSettings(work_.string(), env_));
  EXPECT_EQ(Dialogs(), 1);
  EXPECT_THAT(view_.events, Contains("port-label:COM12 115200,E,7,2 initialized "));
  EXPECT_EQ(program_.settings.station_label, "Lab");
  station->Stop();
  EXPECT_THAT(Entries(work_), IsEmpty());
  EXPECT_EQ(fs::status(config_).permissions(), fs::perms::owner_all);
}

TEST_F(SettingsPlaceTest, SettingsInTheWorkingDirectoryWinAndNothingElseIsTouched) {
  testing::TempDir other("places-other");
  std::ofstream(work_ / "zevrinkiss.ini") << "03,19200,N,8,1\r\n\r\nHere\r\n";
  fs::create_directories(config_);
  std::ofstream(config_ / "zevrinkiss.ini") << "05,4800,N,8,1\r\n\r\nThere\r\n";

  const SettingsPlace place = FindSettings(work_.string(), env_);
  EXPECT_EQ(place.settings_file, (work_ / "zevrinkiss.ini").string());
  EXPECT_THAT(place.port_directories, ElementsAre(work_.string()));
  auto station = Start(place);
  EXPECT_THAT(view_.events, Contains("port-label:COM3 19200,N,8,1 initialized "));
  EXPECT_EQ(Dialogs(), 0);

  // Named from inside the working directory, the file keeps its bare name, as ever.
  const fs::path before = fs::current_path();
  fs::current_path(work_);
  const SettingsPlace bare = FindSettings(".", env_);
  fs::current_path(before);
  EXPECT_EQ(bare.settings_file, "zevrinkiss.ini");
  EXPECT_THAT(bare.port_directories, ElementsAre("."));

  // Without any home, the working directory is all there is, even without a file.
  const SettingsPlace homeless = FindSettings(other.string(), {});
  EXPECT_EQ(homeless.settings_file, (other / "zevrinkiss.ini").string());
  EXPECT_THAT(homeless.port_directories, ElementsAre(other.string()));
}

}  // namespace
}  // namespace zevrin
