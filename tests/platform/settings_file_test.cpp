// A settings file read within its byte limit, as every settings reader reads it.

#include <gtest/gtest.h>

#include <tuple>

#include "base/file_head.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

// The whole lines within the limit are read; the line the limit falls in is not
// whole, even when only its line break lies beyond.
TEST(SettingsFileTest, OnlyTheWholeLinesWithinTheLimitAreRead) {
  testing::TempDir dir("settings-file");
  // The file; what is read with a limit of 10 bytes: the text and the cut line.
  const std::tuple<std::string, std::string, std::string> files[] = {
      {"a=1\nb=2", "a=1\nb=2", ""},
      {"a=1\nbb=22\n", "a=1\nbb=22\n", ""},
      {"a=1\nbb=22\nc=3\n", "a=1\nbb=22\n", ""},
      {"a=1\nbb=223\n", "a=1\n", "bb=223"},
      {"0123456789abc\nd=4\n", "", "0123456789"},
      {"a=1\n" + std::string(1 << 20, 'x'), "a=1\n", "xxxxxx"}};
  for (const auto& [content, text, cut_line] : files) {
    dir.Write("s.ini", content);
    const std::optional<SettingsFileHead> read = ReadSettingsFileHead(dir.Path("s.ini"), 10);
    ASSERT_TRUE(read) << content;
    EXPECT_EQ(read->text, text) << content;
    EXPECT_EQ(read->cut_line, cut_line) << content;
    EXPECT_EQ(read->cut, content.size() > 10) << content;
  }
  EXPECT_FALSE(ReadSettingsFileHead(dir.Path("none.ini"), 10));
  EXPECT_FALSE(ReadSettingsFileHead(dir.string(), 10));  // a folder
}

}  // namespace
}  // namespace zevrin
