// JSON strings of Latin-1 text, read back by an independent JSON parser: every
// byte value, at every place of texts shorter and longer than the eight bytes
// that are checked at a time.

#include "outputs/export/json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "base/text_builder.h"

namespace zevrin {
namespace {

std::string Utf8OfLatin1(const std::string& text) {
  std::string utf8;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      utf8 += ch;
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

TEST(JsonStringTest, EveryByteAnywhereReadsBackAsItsCharacter) {
  for (int byte = 0; byte < 256; ++byte) {
    for (std::size_t length = 1; length <= 19; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length, 'x');
        text[at] = static_cast<char>(byte);
        TextBuilder out;
        json::AppendLatin1String(out, text);
        const std::string written(out.view());
        const nlohmann::json read = nlohmann::json::parse(written, nullptr, false);
        ASSERT_TRUE(read.is_string()) << byte << " " << length << " " << at << ": " << written;
        ASSERT_EQ(read.get<std::string>(), Utf8OfLatin1(text))
            << byte << " " << length << " " << at;
      }
    }
  }
  TextBuilder empty;
  json::AppendLatin1String(empty, "");
  EXPECT_EQ(empty.view(), "\"\"");
}

}  // namespace
}  // namespace zevrin
