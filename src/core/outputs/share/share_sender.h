#pragma once
// Sends the queued frames to the telemetry servers from a thread of its own, oldest
// first, and pauses a server that did not answer or answered with an error, longer
// after each failure in a row. The user-interface thread never waits for a server.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outputs/share/http_post.h"
#include "outputs/share/share_queue.h"
#include "outputs/share/share_settings.h"

namespace zevrin {

/// The pauses after failures in a row: `first`, doubled after each further failure,
/// at most `longest`.
struct RetryTimings {
  std::chrono::milliseconds first = std::chrono::seconds(5);
  std::chrono::milliseconds longest = std::chrono::minutes(10);
};

/// The pause after `failures` failures in a row (1 or more); at least what the
/// server asked for with Retry-After (`asked`), but never more than `timings.longest`.
std::chrono::milliseconds RetryPause(int failures, const RetryTimings& timings,
                                     std::chrono::seconds asked = {});

enum class ShareOutcome {
  kSent,     // 2xx: the server took the frame
  kRefused,  // 4xx: the server refuses this frame; kept, not tried again
  kRetry,    // 5xx, 408, 429, no answer at all: tried again later
};
ShareOutcome ClassifyAnswer(const HttpAnswer& answer);
/// "HTTP 503: <answer>" or the reason no answer came.
std::string AnswerText(const HttpAnswer& answer);

/// One server as the status line and its tooltip show it.
struct ServerStatus {
  std::string url;         // the address, its password masked (WithoutPassword)
  std::uint64_t sent = 0;  // during this run
  std::int64_t waiting = 0;
  std::int64_t refused = 0;
  std::string last_problem;           // empty while there was none
  std::int64_t retry_in_seconds = 0;  // > 0 while the server is paused
};

struct ShareStatus {
  std::optional<std::string> off_reason;  // set while nothing is shared
  std::string queue_problem;              // the queue file cannot be used
  std::vector<ServerStatus> servers;
};

/// "Sharing: 12 sent, 3 waiting; last problem: HTTP 503 (db.satnogs.org)".
std::string ShareStatusLine(const ShareStatus& status);
/// One line per server with its counts, its last problem and its next try.
std::string ShareStatusDetails(const ShareStatus& status);

class ShareSender {
 public:
  /// Called on the sender's thread whenever the status changed (at most a few
  /// times a second, and once whenever the sender falls idle).
  using StatusCallback = std::function<void(const ShareStatus&)>;

  /// Starts the thread, which opens its own connection to the archive at
  /// `queue_path` (once the archive has made the queue's tables there) and sends
  /// with `poster`. Sends nothing until Configure().
  ShareSender(std::string queue_path, std::unique_ptr<FormPoster> poster, RetryTimings timings = {},
              StatusCallback on_status = {});
  /// The libcurl poster with the given time-out.
  ShareSender(std::string queue_path, RetryTimings timings = {}, StatusCallback on_status = {},
              std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Stops the thread; a request in progress is abandoned and stays queued.
  ~ShareSender();
  ShareSender(const ShareSender&) = delete;
  ShareSender& operator=(const ShareSender&) = delete;

  /// New settings: servers and tokens to send to; nothing goes out while the
  /// settings say sharing is off.
  void Configure(const ShareSettings& settings);
  /// New frames are queued: look at the queue now.
  void Wake();
  /// Waits until the sender has looked at the queue since the last Wake() or
  /// Configure() and found nothing it could send now (all sent, refused or waiting
  /// for a paused server). False when `timeout` passed first.
  bool WaitUntilSettled(std::chrono::milliseconds timeout);
  ShareStatus Status() const;

 private:
  struct ServerState {
    int failures = 0;
    std::chrono::steady_clock::time_point paused_until{};
    ServerStatus status;
  };

  void Run();
  bool SendOne(ShareQueue& queue, const ShareServer& server);
  void Publish(ShareQueue* queue, bool force);

  std::string queue_path_;
  std::unique_ptr<FormPoster> poster_;
  RetryTimings timings_;
  StatusCallback on_status_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable settled_;
  ShareSettings settings_;
  bool configured_ = false;
  std::uint64_t requested_ = 0;   // Wake() and Configure() calls
  std::uint64_t settled_at_ = 0;  // `requested_` as the sender last fell idle
  bool busy_ = true;              // false while the sender waits
  std::map<std::string, ServerState> servers_;
  std::string queue_problem_;
  std::chrono::steady_clock::time_point last_publish_{};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zevrin
