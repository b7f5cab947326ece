#pragma once
// Alarm events posted as JSON to web addresses (a push-notification topic, a chat
// bridge), one object per event:
//
//   {"station":"Lab","rule":"battery_volts < 3.5 : warning","severity":"warning",
//    "value":3.45,"time":"2026-12-06 13:12:26.381 UTC","time_ms":1796562746381,
//    "text":"Battery low","change":"raised"}
//
// The posts go out from a thread of their own, each address's in the order of the
// events. An address that fails (no answer, 5xx, 408, 429) is tried again after a
// pause that grows with each failure in a row and honours Retry-After; an event
// still not taken when its time is up is given up and told.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "alarms/alarm_evaluator.h"
#include "outputs/share/share_sender.h"

namespace zevrin {

/// The events that wait for one address at most; newer ones are dropped and counted.
inline constexpr std::size_t kWebhookQueueMax = 64;

struct WebhookTimings {
  /// The pauses of an address after failures in a row.
  RetryTimings pauses{std::chrono::seconds(15), std::chrono::minutes(5)};
  /// How long an event is tried before it is given up.
  std::chrono::milliseconds give_up_after = std::chrono::minutes(10);
  /// The longest one request may take.
  std::chrono::milliseconds request_timeout = std::chrono::seconds(10);
};

/// "raised", "cleared" or "acknowledged".
std::string_view AlarmChangeName(AlarmChange change);

class AlarmWebhook final : public AlarmListener {
 public:
  /// Told, on the webhook's own thread, of an event given up or of events dropped:
  /// one line without a line break, addresses with their passwords masked.
  using ProblemCallback = std::function<void(const std::string&)>;

  /// Starts the thread that posts to `urls` (http or https), naming `station`.
  AlarmWebhook(std::vector<std::string> urls, std::string station, ProblemCallback on_problem,
               WebhookTimings timings = {});
  /// Ends a request in progress and gives up (and tells) every event still waiting.
  ~AlarmWebhook() override;
  AlarmWebhook(const AlarmWebhook&) = delete;
  AlarmWebhook& operator=(const AlarmWebhook&) = delete;

  /// Queues the event for every address; never waits for a server.
  void AlarmChanged(const AlarmEvent& event) override;

  /// Waits until every event was taken, or given up and told; false when `timeout`
  /// passed first.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

 private:
  using Steady = std::chrono::steady_clock;
  struct Post {
    std::string body;
    std::string what;  // the event, as a message names it
    Steady::time_point deadline;
    int tries = 0;
  };
  struct Target {
    std::string url;
    std::string shown;  // the address with its password masked
    std::deque<Post> queue;
    int failures = 0;  // failed tries in a row
    Steady::time_point paused_until{};
    std::size_t dropped = 0;  // not yet told
  };

  void Run();
  // The address whose next post is due, or null and the time one will be.
  Target* Due(Steady::time_point now, Steady::time_point& next);
  // Takes the answer to the front post of `target`; appends what is to be told.
  void Settle(Target& target, const HttpAnswer& answer, std::vector<std::string>& told);
  static std::string GaveUp(const Target& target, const Post& post, std::string_view reason);
  std::string Body(const AlarmEvent& event) const;
  void Tell(std::vector<std::string>& told);

  std::string station_;
  ProblemCallback on_problem_;
  WebhookTimings timings_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::vector<Target> targets_;
  bool busy_ = false;  // posting, or telling what was given up
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zevrin
