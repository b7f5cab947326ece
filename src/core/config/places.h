#pragma once
// Where the programs keep their files. A program in a folder of its own (the build
// tree, a copy in a writable folder) keeps its logs beside itself and its settings
// in the working directory, as it always has. An installed program never writes
// beside itself, whoever runs it (root may write to /usr/bin), and is started from
// the desktop menu in the home directory, so it uses the user's data and
// configuration folders (XDG base directories).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zevrin {

/// The program's own folder under the user's data and configuration folders.
inline constexpr std::string_view kPlacesFolderName = "zevrinkiss";

/// What the places depend on besides the file system.
struct PlaceEnvironment {
  std::string home;             ///< $HOME, else the user's entry in the password database
  std::string xdg_data_home;    ///< $XDG_DATA_HOME as set, possibly empty
  std::string xdg_config_home;  ///< $XDG_CONFIG_HOME as set, possibly empty

  /// The values of this process.
  static PlaceEnvironment FromProcess();
};

/// $XDG_DATA_HOME/zevrinkiss when $XDG_DATA_HOME is an absolute path, otherwise
/// $HOME/.local/share/zevrinkiss; empty when neither is known.
std::string UserDataFolder(const PlaceEnvironment& env);

/// $XDG_CONFIG_HOME/zevrinkiss when $XDG_CONFIG_HOME is an absolute path, otherwise
/// $HOME/.config/zevrinkiss; empty when neither is known.
std::string UserConfigFolder(const PlaceEnvironment& env);

/// True when this process may create files in `directory`.
bool IsWritableDirectory(const std::string& directory);

/// Creates `directory` with any missing parents, each new one readable by its owner
/// only (mode 0700). Returns the reason on failure, nullopt when it exists afterwards.
std::optional<std::string> MakeDirectories(const std::string& directory);

/// How an installed program is recognised.
struct InstallLayout {
  /// The absolute folder the programs are installed to by default (known when
  /// they are built), e.g. /usr/bin for the package.
  std::string program_directory;
  /// A file installed with the programs, relative to their folder, e.g.
  /// "../share/applications/<id>.desktop": found wherever the tree was installed.
  std::string installed_file;
};

/// True when the program in `program_directory` is an installed one: that folder
/// is the layout's program folder, or the layout's installed file is beside it.
bool IsInstalledProgram(const std::string& program_directory, const InstallLayout& layout);

/// The folder of the logs and of everything else a run records: the program's
/// folder when the program is not `installed` and its folder is writable,
/// otherwise the user's data folder, created when missing. When no such folder is
/// known, the program's folder all the same, and the logs report that they cannot
/// be written.
std::string LogDirectory(const std::string& program_directory, bool installed,
                         const PlaceEnvironment& env);

/// Where the settings are read and written, and where "comN" links are looked for.
struct SettingsPlace {
  /// The settings file: "zevrinkiss.ini" in the working directory when one is
  /// there, otherwise the one in the user's configuration folder (which need not
  /// exist yet: the setup dialog writes it).
  std::string settings_file;
  /// The folders searched for "comN", in order: the settings file's folder, then
  /// the working directory.
  std::vector<std::string> port_directories;
};

/// The settings place for a program started in `working_directory`. With "." the
/// file in the working directory is named by its bare name. When the user's
/// configuration folder is chosen it is created if missing.
SettingsPlace FindSettings(const std::string& working_directory, const PlaceEnvironment& env);

/// The folders searched for "comN", in order: the folder of `settings_file` ("."
/// for a bare name), then `working_directory` when that is another one.
std::vector<std::string> PortDirectories(const std::string& settings_file,
                                         const std::string& working_directory);

}  // namespace zevrin
