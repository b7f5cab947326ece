#include "config/places.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "config/settings_file.h"

namespace zevrin {

namespace {

constexpr mode_t kPrivateFolderMode = 0700;

std::string Join(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

// The base directory rule: an absolute $XDG_... wins, a relative one is ignored,
// otherwise the default below the home directory.
std::string UserFolder(const std::string& xdg, const std::string& home,
                       std::string_view home_default) {
  if (!xdg.empty() && xdg.front() == '/') return Join(xdg, kPlacesFolderName);
  if (!home.empty() && home.front() == '/')
    return Join(Join(home, home_default), kPlacesFolderName);
  return {};
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

PlaceEnvironment PlaceEnvironment::FromProcess() {
  PlaceEnvironment env;
  env.home = Environment("HOME");
  if (env.home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
      env.home = user->pw_dir;
    }
  }
  env.xdg_data_home = Environment("XDG_DATA_HOME");
  env.xdg_config_home = Environment("XDG_CONFIG_HOME");
  return env;
}

std::string UserDataFolder(const PlaceEnvironment& env) {
  return UserFolder(env.xdg_data_home, env.home, ".local/share");
}

std::string UserConfigFolder(const PlaceEnvironment& env) {
  return UserFolder(env.xdg_config_home, env.home, ".config");
}

bool IsWritableDirectory(const std::string& directory) {
  // Effective ids: what counts is what this process may do, not who started it.
  return IsDirectory(directory) &&
         ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::optional<std::string> MakeDirectories(const std::string& directory) {
  if (directory.empty()) return std::string("no folder given");
  // Each prefix ending before a '/', then the whole path.
  for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    const std::string prefix = directory.substr(0, end);
    if (::mkdir(prefix.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
      return prefix + ": " + std::strerror(errno);
    }
    if (end == std::string::npos) break;
  }
  if (!IsDirectory(directory)) return directory + ": not a folder";
  return std::nullopt;
}

bool IsInstalledProgram(const std::string& program_directory, const InstallLayout& layout) {
  // Compared as files, so a link to the folder (/bin -> /usr/bin) counts as it.
  struct stat here {};
  struct stat installed {};
  if (::stat(program_directory.c_str(), &here) != 0) return false;
  if (!layout.program_directory.empty() &&
      ::stat(layout.program_directory.c_str(), &installed) == 0 &&
      here.st_dev == installed.st_dev && here.st_ino == installed.st_ino) {
    return true;
  }
  return !layout.installed_file.empty() &&
         ::access(Join(program_directory, layout.installed_file).c_str(), F_OK) == 0;
}

std::string LogDirectory(const std::string& program_directory, bool installed,
                         const PlaceEnvironment& env) {
  if (!installed && IsWritableDirectory(program_directory)) return program_directory;
  const std::string folder = UserDataFolder(env);
  if (folder.empty()) return program_directory;
  // A failure shows when the first log is opened, in the window.
  MakeDirectories(folder);
  return folder;
}

SettingsPlace FindSettings(const std::string& working_directory, const PlaceEnvironment& env) {
  const bool here = working_directory.empty() || working_directory == ".";
  const std::string local =
      here ? std::string(kSettingsFileName) : Join(working_directory, kSettingsFileName);
  const std::string work = here ? std::string(".") : working_directory;

  struct stat st {};
  const std::string config = UserConfigFolder(env);
  // A settings file in the working directory, or no place for one of the user's own.
  if (::lstat(local.c_str(), &st) == 0 || config.empty()) return {local, {work}};
  // Made now, so the setup dialog can write the file there; a failure shows then.
  MakeDirectories(config);
  std::string file = Join(config, kSettingsFileName);
  std::vector<std::string> ports = PortDirectories(file, work);
  return {std::move(file), std::move(ports)};
}

std::vector<std::string> PortDirectories(const std::string& settings_file,
                                         const std::string& working_directory) {
  const std::size_t slash = settings_file.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".")
                       : slash == 0               ? std::string("/")
                                                  : settings_file.substr(0, slash);
  if (folder == working_directory) return {folder};
  return {folder, working_directory};
}

}  // namespace zevrin
