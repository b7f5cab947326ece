#pragma once
// The program's version, shown in the window title and the About window, and the
// answer every program gives to --version.

#include <string>
#include <string_view>

namespace zevrin {

/// The one version number of the program.
inline constexpr std::string_view kVersion = "1.7.4";

/// The --version text of the program `name`: its name and version, then the licence.
inline std::string VersionText(std::string_view name) {
  std::string text(name);
  text += ' ';
  text += kVersion;
  text +=
      "\nLicence GPL-3.0-or-later: GNU GPL version 3 or later.\n"
      "This is free software: you are free to change and redistribute it.\n"
      "There is NO WARRANTY, to the extent permitted by law.\n";
  return text;
}

}  // namespace zevrin
