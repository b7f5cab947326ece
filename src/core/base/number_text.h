#pragma once
// Numbers read back from the short decimal texts that the windows show.

#include <charconv>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace zevrin {

/// The whole text as a number of type T in `base` (a double: any decimal form
/// from_chars takes); false, and `value` unspecified, when anything is left over.
template <typename T>
bool ParseWhole(std::string_view text, T& value, int base = 10) {
  const char* end = text.data() + text.size();
  std::from_chars_result r;
  if constexpr (std::is_floating_point_v<T>) {
    r = std::from_chars(text.data(), end, value);
  } else {
    r = std::from_chars(text.data(), end, value, base);
  }
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

/// The whole text as the correctly rounded double, as from_chars reads it, with
/// a quick path for the short decimals of the windows ("-12.5", "3.49").
bool ParseReal(std::string_view text, double& value);

}  // namespace zevrin
