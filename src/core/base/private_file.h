#pragma once
// Writing a settings file that may hold passwords and tokens.

#include <optional>
#include <string>

namespace zevrin {

/// Writes `content` as the file at `path` anew, readable by its owner only: through
/// a temporary file renamed over the old one, so a failure never leaves half a
/// file. The folder is created when missing. Returns the reason of a failure.
std::optional<std::string> WritePrivateFile(const std::string& path, const std::string& content);

}  // namespace zevrin
