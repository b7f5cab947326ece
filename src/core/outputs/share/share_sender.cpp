#include "outputs/share/share_sender.h"

#include <algorithm>

namespace zevrin {

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kPublishInterval = std::chrono::milliseconds(250);
// An idle sender looks at the queue again after this, even when nobody woke it:
// frames committed without a wake-up (say, at a shutdown) are not left behind.
constexpr auto kIdleRecheck = std::chrono::minutes(1);
constexpr long kHttpOkFirst = 200;
constexpr long kHttpOkLast = 299;
constexpr long kHttpClientErrorFirst = 400;
constexpr long kHttpClientErrorLast = 499;
// Client errors that say "not now" rather than "not this frame".
constexpr long kHttpRequestTimeout = 408;
constexpr long kHttpTooManyRequests = 429;

// The host of an address, for the short status line: no user, no password.
std::string HostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const std::size_t at = url.find('@', start);
  if (at != std::string::npos && at < url.find_first_of("/?#", start)) start = at + 1;
  const std::size_t end = url.find_first_of("/:?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

std::chrono::milliseconds RetryPause(int failures, const RetryTimings& timings,
                                     std::chrono::seconds asked) {
  std::chrono::milliseconds pause = timings.first;
  for (int i = 1; i < failures && pause < timings.longest; ++i) pause *= 2;
  return std::min(std::max<std::chrono::milliseconds>(pause, asked), timings.longest);
}

ShareOutcome ClassifyAnswer(const HttpAnswer& answer) {
  if (answer.status >= kHttpOkFirst && answer.status <= kHttpOkLast) return ShareOutcome::kSent;
  if (answer.status == kHttpRequestTimeout || answer.status == kHttpTooManyRequests)
    return ShareOutcome::kRetry;
  if (answer.status >= kHttpClientErrorFirst && answer.status <= kHttpClientErrorLast)
    return ShareOutcome::kRefused;
  return ShareOutcome::kRetry;
}

std::string AnswerText(const HttpAnswer& answer) {
  if (answer.status == 0) return answer.problem;
  std::string text = "HTTP " + std::to_string(answer.status);
  std::string body = answer.body;
  std::replace_if(
      body.begin(), body.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  if (!body.empty()) text += ": " + body;
  return text;
}

std::string ShareStatusLine(const ShareStatus& status) {
  if (status.off_reason) return "Sharing off: " + *status.off_reason;
  if (!status.queue_problem.empty()) return "Sharing stopped: " + status.queue_problem;
  std::uint64_t sent = 0;
  std::int64_t waiting = 0;
  std::int64_t refused = 0;
  const ServerStatus* problem = nullptr;
  for (const ServerStatus& server : status.servers) {
    sent += server.sent;
    waiting += server.waiting;
    refused += server.refused;
    if (!server.last_problem.empty()) problem = &server;
  }
  std::string line =
      "Sharing: " + std::to_string(sent) + " sent, " + std::to_string(waiting) + " waiting";
  if (refused > 0) line += ", " + std::to_string(refused) + " refused";
  if (problem != nullptr) {
    // The first part of the problem is enough here; the tooltip has it whole.
    constexpr std::size_t kShortProblem = 40;
    std::string text = problem->last_problem.substr(0, kShortProblem);
    if (text.size() < problem->last_problem.size()) text += "...";
    line += "; last problem: " + text + " (" + HostOf(problem->url) + ")";
  }
  return line;
}

std::string ShareStatusDetails(const ShareStatus& status) {
  std::string text;
  if (status.off_reason) text += "Nothing is shared: " + *status.off_reason + "\n";
  if (!status.queue_problem.empty()) text += "Queue: " + status.queue_problem + "\n";
  for (const ServerStatus& server : status.servers) {
    text += server.url + ": " + std::to_string(server.sent) + " sent, " +
            std::to_string(server.waiting) + " waiting, " + std::to_string(server.refused) +
            " refused";
    if (!server.last_problem.empty()) text += "; last problem: " + server.last_problem;
    if (server.retry_in_seconds > 0)
      text += "; next try in " + std::to_string(server.retry_in_seconds) + " s";
    text += '\n';
  }
  if (!text.empty()) text.pop_back();
  return text;
}

ShareSender::ShareSender(std::string queue_path, std::unique_ptr<FormPoster> poster,
                         RetryTimings timings, StatusCallback on_status)
    : queue_path_(std::move(queue_path)),
      poster_(std::move(poster)),
      timings_(timings),
      on_status_(std::move(on_status)) {
  thread_ = std::thread([this] { Run(); });
}

namespace {
std::unique_ptr<FormPoster> MakeCurlPoster(std::chrono::milliseconds timeout,
                                           const std::atomic<bool>* abort) {
  auto poster = std::make_unique<CurlPoster>(timeout);
  poster->SetAbortFlag(abort);
  return poster;
}
}  // namespace

ShareSender::ShareSender(std::string queue_path, RetryTimings timings, StatusCallback on_status,
                         std::chrono::milliseconds timeout)
    : ShareSender(std::move(queue_path), MakeCurlPoster(timeout, &stop_), timings,
                  std::move(on_status)) {}

ShareSender::~ShareSender() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ShareSender::Configure(const ShareSettings& settings) {
  {
    std::lock_guard lock(mutex_);
    settings_ = settings;
    configured_ = true;
    ++requested_;
  }
  wake_.notify_all();
}

void ShareSender::Wake() {
  {
    std::lock_guard lock(mutex_);
    ++requested_;
  }
  wake_.notify_all();
}

bool ShareSender::WaitUntilSettled(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = requested_;
  return settled_.wait_for(lock, timeout, [&] { return !busy_ && settled_at_ >= target; });
}

ShareStatus ShareSender::Status() const {
  std::lock_guard lock(mutex_);
  ShareStatus status;
  status.off_reason = SharingOffReason(settings_);
  if (!configured_) status.off_reason = "not configured";
  status.queue_problem = queue_problem_;
  const auto now = Steady::now();
  for (const ShareServer& server : settings_.servers) {
    auto found = servers_.find(server.url);
    ServerStatus entry = found != servers_.end() ? found->second.status : ServerStatus{};
    entry.url = WithoutPassword(server.url);
    if (found != servers_.end() && found->second.paused_until > now) {
      entry.retry_in_seconds =
          std::chrono::ceil<std::chrono::seconds>(found->second.paused_until - now).count();
    }
    status.servers.push_back(entry);
  }
  return status;
}

void ShareSender::Publish(ShareQueue* queue, bool force) {
  const auto now = Steady::now();
  {
    std::lock_guard lock(mutex_);
    if (!force && now - last_publish_ < kPublishInterval) return;
    last_publish_ = now;
  }
  if (queue != nullptr) {
    std::vector<std::string> urls;
    {
      std::lock_guard lock(mutex_);
      for (const ShareServer& server : settings_.servers) urls.push_back(server.url);
    }
    for (const std::string& url : urls) {
      const QueueCounts counts = queue->Counts(url);
      std::lock_guard lock(mutex_);
      ServerStatus& status = servers_[url].status;
      status.waiting = counts.waiting;
      status.refused = counts.refused;
    }
  }
  if (on_status_) on_status_(Status());
}

bool ShareSender::SendOne(ShareQueue& queue, const ShareServer& server) {
  const std::optional<QueuedRequest> request = queue.Oldest(server.url);
  if (!request) return false;
  const HttpAnswer answer = poster_->Post(server.url, request->form, server.token);
  const ShareOutcome outcome = ClassifyAnswer(answer);
  const std::string text = AnswerText(answer);
  bool stored = true;
  switch (outcome) {
    case ShareOutcome::kSent:
      stored = queue.MarkSent(request->frame_id, server.url);
      break;
    case ShareOutcome::kRefused:
      stored = queue.MarkRefused(request->frame_id, server.url, text);
      break;
    case ShareOutcome::kRetry:
      stored = queue.MarkFailed(request->frame_id, server.url, text);
      break;
  }
  std::lock_guard lock(mutex_);
  ServerState& state = servers_[server.url];
  // A queue that cannot be written would send the same frame again and again: stop
  // until the next wake opens it anew.
  if (!stored) queue_problem_ = queue.error();
  if (outcome == ShareOutcome::kSent) {
    ++state.status.sent;
    state.failures = 0;
    state.status.last_problem.clear();
  } else {
    state.status.last_problem = text;
  }
  if (outcome == ShareOutcome::kRetry) {
    ++state.failures;
    state.paused_until = Steady::now() + RetryPause(state.failures, timings_, answer.retry_after);
  }
  return stored;
}

void ShareSender::Run() {
  std::unique_ptr<ShareQueue> queue;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const std::uint64_t looked_at = requested_;
    const ShareSettings settings = settings_;
    const bool on = configured_ && !SharingOffReason(settings);
    if (on && !queue) {
      // The archive makes the queue's tables; until it has, there is nothing to send.
      lock.unlock();
      std::string error;
      queue = ShareQueue::Open(queue_path_, error, false);
      lock.lock();
      queue_problem_ = queue ? "" : error;
    }
    std::optional<Steady::time_point> next_due;
    bool worked = false;
    if (on && queue) {
      for (const ShareServer& server : settings.servers) {
        const ServerState& state = servers_[server.url];
        if (state.paused_until > Steady::now()) {
          next_due = next_due ? std::min(*next_due, state.paused_until) : state.paused_until;
          continue;
        }
        lock.unlock();
        const bool sent = SendOne(*queue, server);
        lock.lock();
        if (!queue_problem_.empty()) {
          queue.reset();  // opened again at the next wake
          worked = false;
          break;
        }
        worked = sent || worked;
        if (stop_) break;
      }
    }
    lock.unlock();
    Publish(queue.get(), !worked);
    lock.lock();
    if (worked || stop_) continue;
    settled_at_ = looked_at;
    busy_ = false;
    settled_.notify_all();
    const auto woken = [&] { return stop_ || requested_ != looked_at; };
    const auto recheck = Steady::now() + kIdleRecheck;
    wake_.wait_until(lock, next_due ? std::min(*next_due, recheck) : recheck, woken);
    busy_ = true;
  }
}

}  // namespace zevrin
