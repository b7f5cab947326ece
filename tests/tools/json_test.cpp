// JSON strings of Latin-1 text, read back by an independent JSON parser: every
// byte value, at every place of texts shorter and longer than the eight bytes
// that are checked at a time.

#include "outputs/export/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#include "base/text_builder.h"

namespace zevrin {
namespace {

TEST(JsonStringTest, EveryByteAnywhereReadsBackAsItsCharacter) {
  for (int byte = 0; byte < 256; ++byte) {
    // The byte in UTF-8, as the reader gives it back.
    const std::string utf8 = byte < 0x80 ? std::string(1, static_cast<char>(byte))
                                         : std::string{static_cast<char>(0xC0 | (byte >> 6)),
                                                       static_cast<char>(0x80 | (byte & 0x3F))};
    for (std::size_t length = 0; length <= 19; ++length) {
      for (std::size_t at = 0; at < std::max<std::size_t>(length, 1); ++at) {
        std::string text(length, 'x'), want = text;
        if (length > 0) {
          text[at] = static_cast<char>(byte);
          want.replace(at, 1, utf8);
        }
        TextBuilder out;
        json::AppendLatin1String(out, text);
        const nlohmann::json read = nlohmann::json::parse(out.view(), nullptr, false);
        ASSERT_TRUE(read.is_string()) << byte << " " << length << " " << at << ": " << out.view();
        ASSERT_EQ(read.get<std::string>(), want) << byte << " " << length << " " << at;
      }
    }
  }
}

}  // namespace
}  // namespace zevrin
