#pragma once
// The program's version, shown in the window title and the About window.

#include <string_view>

namespace zevrin {

/// The one version number of the program.
inline constexpr std::string_view kVersion = "1.7.4";

}  // namespace zevrin
