#include "link/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  void Put(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  SettingsLines Read(SettingsLines lines, SettingsReadResult expected = SettingsReadResult::kRead) {
    EXPECT_EQ(ReadSettingsFile(path_, lines), expected);
    return lines;
  }

  testing::TempDir dir_{"settings"};
  const std::string path_ = (dir_ / kSettingsFileName).string();
};

TEST_F(SettingsFileTest, ReadsLinesUpToCrLfCrOrLf) {
  Put("03,19200,n,8,1\r\n\r\nLab\r\n");
  const SettingsLines lines = Read({"old", "old-host", "old-label"});
  EXPECT_EQ(lines.time_server_host, "");
  EXPECT_EQ(lines.station_label, "Lab");
  EXPECT_EQ(SettingsPortNumber(lines.settings_line), 3);
  EXPECT_EQ(SettingsLineSettings(lines.settings_line), "19200,N,8,1");

  for (const char* text : {"01,9600,N,8,1\rhost\rLab", "01,9600,N,8,1\nhost\r\nLab\n"}) {
    Put(text);
    const SettingsLines read = Read({});
    EXPECT_EQ(read.settings_line + "|" + read.time_server_host + "|" + read.station_label,
              "01,9600,N,8,1|host|Lab");
  }
}

TEST_F(SettingsFileTest, MissingLinesAndMissingFilesKeepTheEarlierValues) {
  const SettingsLines before{"05,4800,N,8,1", "host", "Lab"};
  EXPECT_EQ(Read(before, SettingsReadResult::kMissing).settings_line, "05,4800,N,8,1");
  Put("02,9600,E,7,2\r\n");
  const SettingsLines one_line = Read(before);
  EXPECT_EQ(one_line.settings_line, "02,9600,E,7,2");
  EXPECT_EQ(one_line.time_server_host, "host");
  EXPECT_EQ(one_line.station_label, "Lab");
  Put("");
  EXPECT_EQ(Read(before).settings_line, "05,4800,N,8,1");
  fs::remove(path_);
  fs::create_directory(path_);  // there, but not readable as a file
  EXPECT_EQ(Read(before, SettingsReadResult::kFailed).station_label, "Lab");
}

TEST_F(SettingsFileTest, WriterReplacesTheFileOrReturnsTheReason) {
  Put("a longer file than the one written next\r\nx\r\ny\r\nz\r\n");
  EXPECT_EQ(WriteSettingsFile(path_, {"12,115200,E,7,2", "time.example", ""}), std::nullopt);
  std::ifstream in(path_, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "12,115200,E,7,2\r\ntime.example\r\n\r\n");
  EXPECT_EQ(WriteSettingsFile((dir_ / "none" / "x.ini").string(), {}), "No such file or directory");
}

TEST(SettingsLineTest, PortIsTheLeadingDigitsOfTheFirstTwoCharacters) {
  EXPECT_EQ(SettingsPortNumber("7,9600,N,8,1"), 7);
  EXPECT_EQ(SettingsPortNumber("123,9600"), 12);
  EXPECT_EQ(SettingsPortNumber("x1,9600,N,8,1"), 0);
  EXPECT_EQ(SettingsPortNumber(""), 0);
  EXPECT_EQ(SettingsLineSettings("01,"), "");
  EXPECT_EQ(BuildSettingsLine(PortEntryText(7), SplitLineSettings("9600,N,8,1")), "07,9600,N,8,1");
}

}  // namespace
}  // namespace zevrin
