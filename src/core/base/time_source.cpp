#include "base/time_source.h"

namespace zevrin {

std::optional<TimeSource> ParseTimeSource(std::string_view name) {
  for (std::size_t i = 0; i < kTimeSourceNames.size(); ++i) {
    if (kTimeSourceNames[i] == name) return static_cast<TimeSource>(i);
  }
  return std::nullopt;
}

}  // namespace zevrin
