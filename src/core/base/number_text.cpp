#include "base/number_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace zevrin {

// The window's reals are short decimals ("-12.5", "3.49"). With at most 15
// digits the digits are exact as a double, and so is 10^k for the k decimal
// places, so one division gives the correctly rounded value: the same one
// from_chars gives. Anything else (more digits, exponents, signs other than a
// leading '-', no digit after the point) goes to from_chars.
bool ParseReal(std::string_view text, double& value) {
  static constexpr std::array<double, 16> kPowers = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr int kMaxExactDigits = 15;
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  std::int64_t digits = 0;
  int count = 0;
  int decimals = -1;  // digits after the point; -1 while there is no point
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = digits * 10 + (c - '0');
      ++count;
      if (decimals >= 0) ++decimals;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      break;
    }
  }
  if (i != text.size() || count == 0 || count > kMaxExactDigits || decimals == 0) {
    return ParseWhole(text, value);
  }
  value = static_cast<double>(digits) / kPowers[static_cast<std::size_t>(std::max(decimals, 0))];
  if (negative) value = -value;
  return true;
}

}  // namespace zevrin
