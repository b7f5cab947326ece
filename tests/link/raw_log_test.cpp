#include "link/raw_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace zevrin {
namespace {

namespace fs = std::filesystem;

class RawLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rawlog-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::uint8_t> Contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

TEST_F(RawLogTest, FramesReachTheFileAtOnceAndAnExistingLogIsAppendedTo) {
  const fs::path path = dir_ / "Lab_03032010_1407.kss";
  {
    std::ofstream(path, std::ios::binary) << "\xC0\x01\xC0";
  }
  FileRawLog log;
  ASSERT_TRUE(log.Open(path.string()));
  const std::vector<std::uint8_t> frame{0xC0, 0x00, 0xDB, 0xDC, 0xC0};
  ASSERT_TRUE(log.AppendFrame(frame));
  // Visible to another reader before any close: a crash now loses nothing.
  EXPECT_EQ(Contents(path), (std::vector<std::uint8_t>{0xC0, 0x01, 0xC0, 0xC0, 0x00, 0xDB, 0xDC, 0xC0}));
  EXPECT_TRUE(log.Close(true));
  EXPECT_TRUE(fs::exists(path));  // not empty, so kept
}

TEST_F(RawLogTest, EmptyLogIsDeletedOnCloseAndFailuresAreReported) {
  const fs::path path = dir_ / "empty.kss";
  FileRawLog log;
  ASSERT_TRUE(log.Open(path.string()));
  EXPECT_TRUE(log.Close(true));
  EXPECT_FALSE(fs::exists(path));

  FileRawLog unwritable;
  EXPECT_FALSE(unwritable.Open((dir_ / "no-such-dir" / "x.kss").string()));
  EXPECT_FALSE(unwritable.error().empty());
  EXPECT_FALSE(unwritable.AppendFrame(std::vector<std::uint8_t>{0xC0, 0x00, 0xC0}));
}

}  // namespace
}  // namespace zevrin
