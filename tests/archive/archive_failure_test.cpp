// The archive when things go wrong: a file that cannot be opened, a full disk,
// a program killed in the middle of a stream.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "archive_support.h"
#include "faulty_vfs.h"
#include "outputs/archive/archive_thread.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
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
    testing::Receiver receiver(clock_);
    receiver.recorder.AddSink(&writer);
    receiver.recorder.AddSink(&seen_);
    receiver.Receive(sample::MakePass({.frames = frames, .seed = seed}));
  }

  // Three passes: with room, on a full disk, with room again.
  template <typename Archive>
  void FillThroughAFullDisk(Archive& archive) {
    const auto drain = [&] {
      if constexpr (requires { archive.Drain(); }) archive.Drain();
    };
    Receive(archive, 300, 1);
    drain();
    const std::uint64_t first = seen_.frames.size();
    EXPECT_EQ(archive.added(), first);

    testing::FaultyVfs::SetFull(true);
    Receive(archive, 300, 2);
    drain();
    EXPECT_GT(testing::FaultyVfs::refused(), 0);
    ASSERT_THAT(listener_.problems, SizeIs(1));
    EXPECT_THAT(listener_.problems[0], HasSubstr("full"));
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
    EXPECT_EQ(db.One("SELECT max(received_ms) FROM frames"),
              std::to_string(seen_.frames.back().ms));
  }

  testing::TempDir dir_{"archive-failure"};
  testing::SteppingClock clock_{1267625220000, 5};
  testing::CountingListener listener_;
  OnThisThread notices_{listener_};
  testing::SeeingSink seen_;
};

TEST_F(ArchiveFailureTest, AnArchiveThatCannotBeOpenedIsToldOnceAndLeftAlone) {
  dir_.Write("garbage_archive.sqlite", std::string(4096, 'x'));
  for (const auto& [name, sql] :  // a later release's archive, and someone else's database
       {std::pair{"newer_archive.sqlite", "CREATE TABLE t (x); PRAGMA user_version = 99;"},
        {"other.sqlite", "CREATE TABLE notes (x)"}}) {
    sqlite3* db = nullptr;
    sqlite3_open(Path(name).c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const std::pair<std::string, std::string_view> cases[] = {
      {"missing/Lab_archive.sqlite", "unable to open"},
      {"garbage_archive.sqlite", "not a database"},
      {"newer_archive.sqlite", "newer version"},
      {"other.sqlite", "not an archive"},
  };
  for (const auto& [name, why] : cases) {
    listener_.problems.clear();
    seen_.frames.clear();
    const std::string before = dir_.Contents(name);
    ArchiveWriter writer(&listener_);
    EXPECT_FALSE(writer.Open(Path(name)));
    Receive(writer, 100);
    writer.Close();
    EXPECT_THAT(seen_.frames, SizeIs(100)) << name;  // reception goes on
    ASSERT_THAT(listener_.problems, SizeIs(1)) << name;
    EXPECT_THAT(listener_.problems[0], HasSubstr(Path(name)));
    EXPECT_THAT(listener_.problems[0], HasSubstr(why));
    EXPECT_EQ(std::pair(writer.added(), writer.lost()), std::pair(0ul, 100ul)) << name;
    EXPECT_EQ(dir_.Contents(name), before) << name;
  }
}

// The desktop program's writer: one frame a transaction.
TEST_F(ArchiveFailureTest, AFullDiskIsToldOnceAndWritingResumesWhenThereIsRoom) {
  testing::FaultyVfs::Register();
  ArchiveWriter writer(&notices_, {.batch_frames = 1, .vfs = testing::FaultyVfs::kName});
  ASSERT_TRUE(writer.Open(Path())) << writer.error();
  FillThroughAFullDisk(writer);
}

// The decode tool's: batches of 64 on the archive's own thread, checkpoints on
// another; the notices still reach the listener on the receiving thread.
TEST_F(ArchiveFailureTest, AFullDiskSeenThroughTheArchiveThreadIsToldOnTheReceivingThread) {
  testing::FaultyVfs::Register();
  ArchiveThread archive(
      &notices_,
      {.batch_frames = 64, .vfs = testing::FaultyVfs::kName, .background_checkpoints = true});
  ASSERT_TRUE(archive.Open(Path())) << archive.open_error();
  FillThroughAFullDisk(archive);
}

TEST_F(ArchiveFailureTest, KillingTheProgramMidStreamLeavesWholeFramesInOrder) {
  const Bytes stream = sample::MakePass({.frames = 20000});
  const std::vector<Bytes> frames = testing::LoggedFrames(stream);
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The station: receives the stream in pieces of random size and reports
    // after each piece how many frames it has handed over (all committed).
    ::close(report[0]);
    ArchiveWriter writer(nullptr);
    if (!writer.Open(Path())) ::_exit(3);
    testing::Receiver receiver(clock_);
    testing::SeeingSink seen;
    receiver.recorder.AddSink(&writer);
    receiver.recorder.AddSink(&seen);
    std::mt19937 rng(7);
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + rng() % 700);
      receiver.Receive(std::span(stream).subspan(at, n));
      at += n;
      const auto count = static_cast<std::uint32_t>(seen.frames.size());
      if (::write(report[1], &count, sizeof count) != sizeof count) ::_exit(4);
    }
    ::_exit(0);
  }
  ::close(report[1]);
  std::uint32_t confirmed = 0;
  while (confirmed < 1500 && ::read(report[0], &confirmed, sizeof confirmed) == sizeof confirmed) {
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(report[0]);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the station ended before it was killed";
  ASSERT_GE(confirmed, 1500u);

  Db db(Path());
  EXPECT_EQ(db.One("PRAGMA integrity_check"), "ok");
  const auto rows = db.Rows("SELECT id, bytes FROM frames ORDER BY id");
  ASSERT_GE(rows.size(), confirmed);
  ASSERT_LT(rows.size(), frames.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    ASSERT_EQ(rows[k][0], std::to_string(k + 1));
    ASSERT_EQ(rows[k][1], std::string(frames[k].begin(), frames[k].end())) << k;
  }
  ArchiveWriter writer(&listener_);  // and it takes the rest of the stream afterwards
  EXPECT_TRUE(writer.Open(Path())) << writer.error();
  EXPECT_THAT(listener_.problems, SizeIs(0));
}

}  // namespace
}  // namespace zevrin
