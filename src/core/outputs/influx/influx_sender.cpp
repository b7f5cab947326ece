#include "outputs/influx/influx_sender.h"

#include <algorithm>

#include "outputs/influx/influx_answer.h"

namespace zevrin {

namespace {

constexpr auto kPublishInterval = std::chrono::milliseconds(250);
// An idle sender looks at the queue again after this, even when nobody woke it:
// points committed without a wake-up (by another program, say) are not left behind.
constexpr auto kIdleRecheck = std::chrono::minutes(1);
constexpr std::string_view kLineProtocolType = "text/plain; charset=utf-8";
// How much of a dropped point a message shows.
constexpr std::size_t kShownPointBytes = 120;

std::unique_ptr<FormPoster> MakeCurlPoster(std::chrono::milliseconds timeout,
                                           const std::atomic<bool>* abort) {
  auto poster = std::make_unique<CurlPoster>(timeout);
  poster->SetAbortFlag(abort);
  poster->SetContentType(kLineProtocolType);
  return poster;
}

std::string Shortened(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.size() <= kShownPointBytes) return std::string(line);
  return std::string(line.substr(0, kShownPointBytes)) + "...";
}

}  // namespace

std::string InfluxStatusLine(const InfluxStatus& s) {
  const std::string queued = std::to_string(s.queued) + " queued";
  switch (s.state) {
    case InfluxState::kStopped:
      return "InfluxDB stopped";  // the reason is in the details
    case InfluxState::kUnreachable:
      return "InfluxDB unreachable, " + queued;
    case InfluxState::kRefused:
      return "InfluxDB refuses the points (" + s.last_problem.substr(0, s.last_problem.find(':')) +
             "), " + queued;
    case InfluxState::kSending:
      return "InfluxDB sending, " + queued;
    case InfluxState::kIdle:
      break;
  }
  return "InfluxDB " + std::to_string(s.sent) + " sent, " + queued;
}

std::string InfluxStatusDetails(const InfluxStatus& s) {
  std::string text = "InfluxDB " + s.target + ": " + std::to_string(s.sent) + " sent, " +
                     std::to_string(s.queued) + " queued, " + std::to_string(s.dropped) +
                     " dropped";
  if (!s.last_problem.empty()) text += "; last problem: " + s.last_problem;
  if (s.retry_in_seconds > 0) text += "; next try in " + std::to_string(s.retry_in_seconds) + " s";
  return text;
}

InfluxSender::InfluxSender(std::string archive_path, InfluxTarget target,
                           std::unique_ptr<FormPoster> poster, InfluxTimings timings,
                           StatusCallback on_status, ProblemCallback on_problem)
    : archive_path_(std::move(archive_path)),
      target_(std::move(target)),
      poster_(std::move(poster)),
      timings_(timings),
      on_status_(std::move(on_status)),
      on_problem_(std::move(on_problem)),
      limit_(std::max<std::size_t>(timings.batch_points, 1)) {
  status_.target = target_.shown;
  thread_ = std::thread([this] { Run(); });
}

InfluxSender::InfluxSender(std::string archive_path, InfluxTarget target, InfluxTimings timings,
                           StatusCallback on_status, ProblemCallback on_problem)
    : InfluxSender(std::move(archive_path), std::move(target),
                   MakeCurlPoster(timings.request_timeout, &stop_), timings, std::move(on_status),
                   std::move(on_problem)) {}

InfluxSender::~InfluxSender() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void InfluxSender::Wake() {
  {
    std::lock_guard lock(mutex_);
    ++requested_;
  }
  wake_.notify_all();
}

void InfluxSender::Hurry() {
  {
    std::lock_guard lock(mutex_);
    hurry_ = true;
    ++requested_;
  }
  wake_.notify_all();
}

bool InfluxSender::WaitUntilSettled(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = requested_;
  return settled_.wait_for(lock, timeout, [&] { return !busy_ && settled_at_ >= target; });
}

InfluxStatus InfluxSender::Status() const {
  std::lock_guard lock(mutex_);
  InfluxStatus status = status_;
  const auto now = Steady::now();
  if (paused_until_ > now)
    status.retry_in_seconds = std::chrono::ceil<std::chrono::seconds>(paused_until_ - now).count();
  return status;
}

void InfluxSender::Publish(InfluxQueue* queue, bool force) {
  const auto now = Steady::now();
  {
    std::lock_guard lock(mutex_);
    if (!force && now - last_publish_ < kPublishInterval) return;
    last_publish_ = now;
  }
  const std::int64_t queued = queue != nullptr ? queue->Count() : -1;
  {
    std::lock_guard lock(mutex_);
    if (queued >= 0) status_.queued = queued;
    if (status_.state == InfluxState::kSending && queued == 0) status_.state = InfluxState::kIdle;
    if (status_.state == InfluxState::kIdle && queued > 0) status_.state = InfluxState::kSending;
  }
  if (on_status_) on_status_(Status());
}

void InfluxSender::Tell(const std::string& line) {
  if (on_problem_) on_problem_(line);
}

void InfluxSender::Failed(InfluxState state, const HttpAnswer& answer, const RetryTimings& pauses) {
  std::string told;
  {
    std::lock_guard lock(mutex_);
    ++failures_;
    paused_until_ = Steady::now() + RetryPause(failures_, pauses, answer.retry_after);
    const std::string text = AnswerText(answer);
    // A refused login is told once, not at every try.
    if (state == InfluxState::kRefused && status_.state != InfluxState::kRefused)
      told = "InfluxDB " + target_.shown + " refuses the points (" + text +
             "): check the address, user, password or token; nothing is dropped";
    status_.state = state;
    status_.last_problem = text;
  }
  if (!told.empty()) Tell(told);
}

bool InfluxSender::Drop(InfluxQueue& queue, const std::vector<QueuedPoint>& batch,
                        const std::vector<std::size_t>& bad, const HttpAnswer& answer) {
  for (const std::size_t i : bad) {
    if (!queue.Remove(batch[i].id, batch[i].id)) return false;
    Tell("InfluxDB refused a point for good (" + AnswerText(answer) +
         "); dropped: " + Shortened(batch[i].line));
  }
  std::lock_guard lock(mutex_);
  status_.dropped += bad.size();
  status_.queued =
      std::max<std::int64_t>(status_.queued - static_cast<std::int64_t>(bad.size()), 0);
  return true;
}

InfluxSender::Step InfluxSender::SendBatch(InfluxQueue& queue, Steady::time_point& until) {
  std::size_t limit = 0;
  bool hurry = false;
  {
    std::lock_guard lock(mutex_);
    limit = limit_;
    hurry = hurry_;
  }
  const std::vector<QueuedPoint> queued = queue.Oldest(limit);
  if (queued.empty() && !queue.error().empty()) {
    std::lock_guard lock(mutex_);
    status_.state = InfluxState::kStopped;  // the queue is opened again at the next wake
    status_.last_problem = queue.error();
  }
  if (queued.empty()) return Step::kIdle;
  // A small batch waits a moment for more points, unless the run is ending.
  if (!hurry && queued.size() < timings_.batch_points &&
      Steady::now() < last_post_ + timings_.gather) {
    until = last_post_ + timings_.gather;
    return Step::kWait;
  }
  // A record without a value to send has no line: it leaves with its batch.
  std::vector<QueuedPoint> batch;
  std::string body;
  for (const QueuedPoint& point : queued) {
    if (point.line.empty()) continue;
    body += point.line;
    batch.push_back(point);
  }
  if (batch.empty())
    return queue.Remove(queued.front().id, queued.back().id) ? Step::kAgain : Step::kIdle;
  last_post_ = Steady::now();
  return Settle(queue, queued, batch, poster_->Post(target_.post_url, body, target_.token));
}

InfluxSender::Step InfluxSender::Settle(InfluxQueue& queue, const std::vector<QueuedPoint>& queued,
                                        const std::vector<QueuedPoint>& batch,
                                        const HttpAnswer& answer) {
  const InfluxJudgement judgement = JudgeInfluxAnswer(answer, batch);
  bool stored = true;
  switch (judgement.verdict) {
    case InfluxVerdict::kTaken: {
      stored = queue.Remove(queued.front().id, queued.back().id);
      std::lock_guard lock(mutex_);
      status_.sent += batch.size();
      // Counted again at the next look at the queue; until then as sent.
      status_.queued =
          std::max<std::int64_t>(status_.queued - static_cast<std::int64_t>(queued.size()), 0);
      status_.state = InfluxState::kSending;
      status_.last_problem.clear();
      failures_ = 0;
      limit_ = std::min(limit_ * 2, std::max<std::size_t>(timings_.batch_points, 1));
      break;
    }
    case InfluxVerdict::kDrop:
      stored = Drop(queue, batch, judgement.bad, answer);
      break;
    case InfluxVerdict::kSplit: {
      std::lock_guard lock(mutex_);
      limit_ = std::max<std::size_t>(batch.size() / 2, 1);
      break;
    }
    case InfluxVerdict::kRetry:
      Failed(InfluxState::kUnreachable, answer, timings_.down);
      return Step::kIdle;
    case InfluxVerdict::kRefused:
      Failed(InfluxState::kRefused, answer, timings_.refused);
      return Step::kIdle;
  }
  if (!stored) {
    // A queue that cannot be written would send the same points again and again.
    std::lock_guard lock(mutex_);
    status_.state = InfluxState::kStopped;
    status_.last_problem = queue.error();
    return Step::kIdle;
  }
  return Step::kAgain;
}

void InfluxSender::Run() {
  std::unique_ptr<InfluxQueue> queue;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const std::uint64_t looked_at = requested_;
    if (!queue) {
      lock.unlock();
      std::string error;
      queue = InfluxQueue::Open(archive_path_, error);
      lock.lock();
      status_.state = queue ? InfluxState::kIdle : InfluxState::kStopped;
      status_.last_problem = queue ? "" : error;
    }
    Step step = Step::kIdle;
    Steady::time_point until = Steady::now() + kIdleRecheck;
    if (queue && paused_until_ > Steady::now()) {
      until = paused_until_;
    } else if (queue) {
      lock.unlock();
      step = SendBatch(*queue, until);
      lock.lock();
      if (status_.state == InfluxState::kStopped) queue.reset();  // opened again at the next wake
      if (paused_until_ > Steady::now()) until = paused_until_;
    }
    lock.unlock();
    Publish(queue.get(), step == Step::kIdle);
    lock.lock();
    if (step == Step::kAgain || stop_) continue;
    if (step == Step::kIdle) {
      settled_at_ = looked_at;
      busy_ = false;
      settled_.notify_all();
    }
    wake_.wait_until(lock, until, [&] { return stop_ || requested_ != looked_at; });
    busy_ = true;
  }
}

}  // namespace zevrin
