#include "link/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

TEST(SettingsFileTest, ReadsLinesUpToCrLfCrOrLfAndKeepsEarlierValuesForMissingOnes) {
  testing::TempDir dir("settings");
  const std::string path = (dir / kSettingsFileName).string();
  const SettingsLines before{"05,4800,N,8,1", "host", "Lab"};
  const auto read = [&](SettingsReadResult expected) {
    SettingsLines lines = before;
    EXPECT_EQ(ReadSettingsFile(path, lines), expected);
    return lines.settings_line + "|" + lines.time_server_host + "|" + lines.station_label;
  };
  EXPECT_EQ(read(SettingsReadResult::kMissing), "05,4800,N,8,1|host|Lab");
  const std::pair<const char*, const char*> cases[] = {
      {"03,19200,n,8,1\r\n\r\nLab2\r\n", "03,19200,n,8,1||Lab2"},
      {"01,9600,N,8,1\rh2\rLab2", "01,9600,N,8,1|h2|Lab2"},
      {"01,9600,N,8,1\nh2\r\nLab2\n", "01,9600,N,8,1|h2|Lab2"},
      {"02,9600,E,7,2\r\n", "02,9600,E,7,2|host|Lab"},
      {"", "05,4800,N,8,1|host|Lab"},
  };
  for (const auto& [text, lines] : cases) {
    dir.Write(kSettingsFileName, text);
    EXPECT_EQ(read(SettingsReadResult::kRead), lines);
  }
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);  // there, but not readable as a file
  EXPECT_EQ(read(SettingsReadResult::kFailed), "05,4800,N,8,1|host|Lab");
}

TEST(SettingsFileTest, WriterReplacesTheFileOrReturnsTheReason) {
  testing::TempDir dir("settings");
  dir.Write("a.ini", "a longer file than the one written next\r\nx\r\ny\r\nz\r\n");
  EXPECT_EQ(WriteSettingsFile((dir / "a.ini").string(), {"12,115200,E,7,2", "time.example", ""}),
            std::nullopt);
  EXPECT_EQ(dir.Contents("a.ini"), "12,115200,E,7,2\r\ntime.example\r\n\r\n");
  EXPECT_EQ(WriteSettingsFile((dir / "none" / "x.ini").string(), {}), "No such file or directory");
}

TEST(SettingsLineTest, PortIsTheLeadingDigitsOfTheFirstTwoCharacters) {
  for (const auto& [line, port] : {std::pair{"03,19200,n,8,1", 3},
                                   {"7,9600,N,8,1", 7},
                                   {"123,9600", 12},
                                   {"x1,9600,N,8,1", 0},
                                   {"", 0}})
    EXPECT_EQ(SettingsPortNumber(line), port) << line;
  EXPECT_EQ(SettingsLineSettings("03,19200,n,8,1"), "19200,N,8,1");
  EXPECT_EQ(SettingsLineSettings("01,"), "");
  EXPECT_EQ(BuildSettingsLine(PortEntryText(7), SplitLineSettings("9600,N,8,1")), "07,9600,N,8,1");
}

}  // namespace
}  // namespace zevrin
