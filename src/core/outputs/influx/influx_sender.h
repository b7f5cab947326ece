#pragma once
// Sends the points queued for the InfluxDB feed from a thread of its own, in
// batches, oldest first: a point leaves the queue only once the database has
// taken it, or refused it for good (logged). While the database cannot be
// reached the sender pauses, longer after each failure in a row.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "outputs/influx/influx_queue.h"
#include "outputs/influx/influx_settings.h"
#include "outputs/share/http_post.h"
#include "outputs/share/share_sender.h"

namespace zevrin {

struct InfluxTimings {
  /// Pauses while the database is down or busy (no answer, 5xx, 429).
  RetryTimings down{std::chrono::seconds(1), std::chrono::minutes(2)};
  /// Pauses while it refuses the login or has no such database: the user has
  /// to act, so it is asked seldom.
  RetryTimings refused{std::chrono::seconds(30), std::chrono::minutes(10)};
  /// A batch smaller than `batch_points` waits at most this long for more.
  std::chrono::milliseconds gather = std::chrono::seconds(1);
  std::size_t batch_points = 5000;
  std::chrono::milliseconds request_timeout = std::chrono::seconds(30);
};

enum class InfluxState {
  kIdle,         ///< everything queued is sent
  kSending,      ///< points are queued and going out
  kUnreachable,  ///< the last try found no database, or a failing one
  kRefused,      ///< the login was refused, or the database does not exist
  kStopped,      ///< the queue in the archive cannot be used
};

struct InfluxStatus {
  InfluxState state = InfluxState::kIdle;
  std::string target;         ///< the address, its password masked
  std::int64_t queued = 0;    ///< points waiting in the archive
  std::uint64_t sent = 0;     ///< during this run
  std::uint64_t dropped = 0;  ///< refused for good during this run
  std::string last_problem;   ///< empty while there was none
  std::int64_t retry_in_seconds = 0;
};

/// "InfluxDB 1200 sent, 40 queued", "InfluxDB unreachable, 40 queued", ...
std::string InfluxStatusLine(const InfluxStatus& status);
/// The address, the counts, the last problem and the next try, one per line.
std::string InfluxStatusDetails(const InfluxStatus& status);

class InfluxSender {
 public:
  /// Called on the sender's thread when the status changed (at most a few
  /// times a second, and whenever the sender falls idle or fails).
  using StatusCallback = std::function<void(const InfluxStatus&)>;
  /// Told, on the sender's thread, of each point dropped and of a refused login:
  /// one line without a line break.
  using ProblemCallback = std::function<void(const std::string&)>;

  /// Starts the thread, which opens its own connection to the archive at
  /// `archive_path` and posts with `poster`.
  InfluxSender(std::string archive_path, InfluxTarget target, std::unique_ptr<FormPoster> poster,
               InfluxTimings timings = {}, StatusCallback on_status = {},
               ProblemCallback on_problem = {});
  /// The same with the libcurl poster.
  InfluxSender(std::string archive_path, InfluxTarget target, InfluxTimings timings = {},
               StatusCallback on_status = {}, ProblemCallback on_problem = {});
  /// Stops the thread; a batch in flight stays queued.
  ~InfluxSender();
  InfluxSender(const InfluxSender&) = delete;
  InfluxSender& operator=(const InfluxSender&) = delete;

  /// New points are committed: look at the queue.
  void Wake();
  /// From now on a batch goes out at once, without waiting to fill up: at the
  /// end of a run.
  void Hurry();
  /// Waits until the sender has looked at the queue since the last Wake() and
  /// found nothing it can send now (all sent, or paused after a failure).
  /// False when `timeout` passed first.
  bool WaitUntilSettled(std::chrono::milliseconds timeout);
  InfluxStatus Status() const;

 private:
  enum class Step { kAgain, kIdle, kWait };
  using Steady = std::chrono::steady_clock;

  void Run();
  // Sends one batch; `until` is set for kWait.
  Step SendBatch(InfluxQueue& queue, Steady::time_point& until);
  // Takes the server's answer to `batch`, the points of `queued` that have a line.
  Step Settle(InfluxQueue& queue, const std::vector<QueuedPoint>& queued,
              const std::vector<QueuedPoint>& batch, const HttpAnswer& answer);
  // Takes the points `bad` (indexes into `batch`) out of the queue, and tells.
  bool Drop(InfluxQueue& queue, const std::vector<QueuedPoint>& batch,
            const std::vector<std::size_t>& bad, const HttpAnswer& answer);
  void Failed(InfluxState state, const HttpAnswer& answer, const RetryTimings& pauses);
  void Publish(InfluxQueue* queue, bool force);
  void Tell(const std::string& line);

  std::string archive_path_;
  InfluxTarget target_;
  std::unique_ptr<FormPoster> poster_;
  InfluxTimings timings_;
  StatusCallback on_status_;
  ProblemCallback on_problem_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable settled_;
  InfluxStatus status_;
  std::uint64_t requested_ = 0;
  std::uint64_t settled_at_ = 0;
  bool busy_ = true;
  bool hurry_ = false;
  int failures_ = 0;
  Steady::time_point paused_until_{};
  Steady::time_point last_post_{};
  Steady::time_point last_publish_{};
  std::size_t limit_;  // the batch size for now: smaller while a refusal is narrowed down
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zevrin
