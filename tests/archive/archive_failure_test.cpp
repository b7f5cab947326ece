// The archive when things go wrong: a file that cannot be used, a full disk. A
// program killed in the middle of a stream is ReliabilityTest's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "archive_support.h"
#include "faulty_vfs.h"
#include "outputs/archive/archive_thread.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::AllOf;
using testing::Db;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

// Passes every notice on, counting those told on another thread than the one
// that made it, and keeps the last.
struct OnThisThread final : LogProblemListener {
  explicit OnThisThread(LogProblemListener& next) : next(next) {}
  void LogNoticeChanged(const LogNotice& notice) override {
    if (std::this_thread::get_id() != receiving) ++elsewhere;
    last = notice;
    next.LogNoticeChanged(notice);
  }
  LogProblemListener& next;
  std::thread::id receiving = std::this_thread::get_id();
  int elsewhere = 0;
  LogNotice last;
};

class ArchiveFailureTest : public ::testing::Test {
 protected:
  std::string Path(std::string_view name = "Lab_archive.sqlite") const {
    return (dir_ / name).string();
  }
  // Receives a pass of `frames` frames; every one reaches the sink `seen_`.
  void Receive(FrameSink& writer, int frames, std::uint32_t seed = 1) {
    testing::Receiver(clock_, {&writer, &seen_})
        .Receive(sample::MakePass({.frames = frames, .seed = seed}));
  }

  testing::TempDir dir_{"archive-failure"};
  testing::SteppingClock clock_{1267625220000, 5};
  testing::CountingListener listener_;
  OnThisThread notices_{listener_};
  testing::SeeingSink seen_;
};

// A later release's archive and someone else's database; a file that is no database
// and a missing folder are the decode tool's and the station's tests'.
TEST_F(ArchiveFailureTest, AnArchiveThatCannotBeUsedIsToldOnceAndLeftAlone) {
  for (const auto& [name, sql, why] :
       {std::tuple{"newer_archive.sqlite", "CREATE TABLE t (x); PRAGMA user_version = 99;",
                   "newer version"},
        {"other.sqlite", "CREATE TABLE notes (x)", "not an archive"}}) {
    testing::Exec(Path(name), sql);
    listener_.problems.clear();
    const std::string before = dir_.Contents(name);
    ArchiveWriter writer(&listener_);
    EXPECT_FALSE(writer.Open(Path(name)));
    Receive(writer, 100);
    writer.Close();
    EXPECT_THAT(listener_.problems, ElementsAre(AllOf(HasSubstr(Path(name)), HasSubstr(why))));
    EXPECT_EQ(writer.lost(), 100u) << name;
    EXPECT_EQ(dir_.Contents(name), before) << name;
  }
}

// The decode tool's archive: batches of 64 on the archive's own thread,
// checkpoints on another. Three passes: with room, on a full disk, with room
// again; the notices reach the listener on the receiving thread.
TEST_F(ArchiveFailureTest, AFullDiskIsToldOnceAndWritingResumesWhenThereIsRoom) {
  testing::FaultyVfs::Register();
  ArchiveThread archive(
      &notices_,
      {.batch_frames = 64, .vfs = testing::FaultyVfs::kName, .background_checkpoints = true});
  ASSERT_TRUE(archive.Open(Path())) << archive.open_error();
  Receive(archive, 300, 1);
  archive.Drain();
  const std::uint64_t first = seen_.frames.size();
  EXPECT_EQ(archive.added(), first);

  testing::FaultyVfs::SetFull(true);
  Receive(archive, 300, 2);
  archive.Drain();
  EXPECT_GT(testing::FaultyVfs::refused(), 0);
  EXPECT_THAT(listener_.problems, ElementsAre(HasSubstr("full")));
  EXPECT_THAT(listener_.recovered, SizeIs(0));
  const std::uint64_t lost = archive.lost();
  EXPECT_EQ(lost, seen_.frames.size() - first);
  EXPECT_EQ(notices_.last.missed, lost);

  testing::FaultyVfs::SetFull(false);
  Receive(archive, 300, 3);
  archive.Close();
  EXPECT_THAT(listener_.problems, SizeIs(1));
  EXPECT_THAT(listener_.recovered, SizeIs(1));
  EXPECT_EQ(notices_.elsewhere, 0);
  Db db(Path());
  EXPECT_EQ(db.One("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(std::stoull(db.One("SELECT count(*) FROM frames")), archive.added());
  EXPECT_EQ(archive.added() + lost, seen_.frames.size());
  // The frames after the disk had room again are all there.
  EXPECT_EQ(db.One("SELECT max(received_ms) FROM frames"), std::to_string(seen_.frames.back().ms));
}

// The desktop program's archive while another program holds it or the disk is
// full: the receiver hands its frames over at once, the archive keeps them up to
// its limit and writes them when it can; only the frames beyond the limit are
// missed, and told. A lock that costs nothing is no problem to tell; a full disk is.
TEST_F(ArchiveFailureTest, ABlockedArchiveKeepsFramesUpToItsLimitAndWritesThemLater) {
  testing::FaultyVfs::Register();
  for (const auto& [frames, limit, full] :
       {std::tuple<std::uint64_t, std::size_t, bool>{60, 1000, false},
        {300, 100, false},
        {300, 1000, true}}) {
    std::filesystem::remove(Path());
    listener_.problems.clear();
    listener_.recovered.clear();
    // The writer gives up waiting for the lock many times over, and keeps trying.
    ArchiveThread archive(&notices_, {.batch_frames = 10,
                                      .vfs = testing::FaultyVfs::kName,
                                      .background_checkpoints = false,
                                      .busy_timeout_ms = 10,
                                      .queue_frames = limit});
    ASSERT_TRUE(archive.Open(Path())) << archive.open_error();
    archive.Drain();
    auto other = testing::LockArchive(Path(), !full);
    testing::FaultyVfs::SetFull(full);
    Receive(archive, static_cast<int>(frames), 7);
    archive.Flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    testing::FaultyVfs::SetFull(false);
    other.reset();
    archive.Drain();
    const std::uint64_t kept = std::min<std::uint64_t>(frames, limit);
    EXPECT_EQ(archive.added(), kept);
    EXPECT_EQ(archive.lost(), frames - kept);
    EXPECT_EQ(Db(Path()).One("SELECT count(*) FROM frames"), std::to_string(kept));
    EXPECT_EQ(notices_.last.missed, frames - kept);
    EXPECT_THAT(listener_.problems, SizeIs(full || kept < frames ? 1 : 0));
    EXPECT_THAT(listener_.recovered, SizeIs(full || kept < frames ? 1 : 0));
    archive.Close();
    EXPECT_EQ(notices_.elsewhere, 0);
  }
}

// Held back (for the raw log), the archive writes nothing until it is let go:
// neither frames nor work posted to it.
TEST_F(ArchiveFailureTest, AHeldArchiveWritesNothingUntilLetGo) {
  ArchiveThread archive(&notices_, {.batch_frames = 10, .vfs = {}, .queue_frames = 1000});
  ASSERT_TRUE(archive.Open(Path())) << archive.open_error();
  archive.Hold(true);
  Receive(archive, 50);
  archive.Post(
      [](sqlite3* db) { return sqlite3_exec(db, "CREATE TABLE notes (x)", {}, {}, {}) == 0; });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string count = "SELECT count(*) FROM frames, (SELECT count(*) FROM notes)";
  EXPECT_THAT(Db(Path()).One(count), HasSubstr("no such table"));
  EXPECT_EQ(Db(Path()).One("SELECT count(*) FROM frames"), "0");
  archive.Hold(false);
  archive.Drain();
  EXPECT_EQ(Db(Path()).One(count), "50");
  EXPECT_THAT(listener_.problems, SizeIs(0));
}

}  // namespace
}  // namespace zevrin
