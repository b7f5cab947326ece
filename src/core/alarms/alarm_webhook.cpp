#include "alarms/alarm_webhook.h"

#include <algorithm>
#include <array>

#include "base/time_of_day.h"
#include "outputs/export/json.h"
#include "outputs/share/share_settings.h"

namespace zevrin {

namespace {

constexpr std::array<std::string_view, 3> kChangeNames = {"raised", "cleared", "acknowledged"};
constexpr std::string_view kJsonType = "application/json";
constexpr std::string_view kStopped = "the program ended";

// A server's answer goes into a message line: no control character of it reaches
// the terminal or the log.
std::string Printable(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
  return text;
}

}  // namespace

std::string_view AlarmChangeName(AlarmChange change) {
  return kChangeNames[static_cast<std::size_t>(change)];
}

AlarmWebhook::AlarmWebhook(std::vector<std::string> urls, std::string station,
                           ProblemCallback on_problem, WebhookTimings timings)
    : station_(std::move(station)), on_problem_(std::move(on_problem)), timings_(timings) {
  for (std::string& url : urls) {
    Target target;
    target.shown = WithoutPassword(url);
    target.url = std::move(url);
    targets_.push_back(std::move(target));
  }
  thread_ = std::thread([this] { Run(); });
}

AlarmWebhook::~AlarmWebhook() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void AlarmWebhook::AlarmChanged(const AlarmEvent& event) {
  if (targets_.empty()) return;
  Post post;
  post.body = Body(event);
  post.what = std::string(AlarmSeverityName(event.rule->severity)) + " \"" +
              Printable(event.rule->message) + "\" " + std::string(AlarmChangeName(event.change)) +
              " at " + UtcText(event.time_ms) + " UTC";
  post.deadline = Steady::now() + timings_.give_up_after;
  {
    std::lock_guard lock(mutex_);
    for (Target& target : targets_) {
      if (target.queue.size() >= kWebhookQueueMax) {
        ++target.dropped;
      } else {
        target.queue.push_back(post);
      }
    }
  }
  wake_.notify_all();
}

bool AlarmWebhook::WaitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [&] {
    return !busy_ && std::ranges::all_of(targets_, [](const Target& t) {
      return t.queue.empty() && t.dropped == 0;
    });
  });
}

std::string AlarmWebhook::Body(const AlarmEvent& event) const {
  const AlarmRule& rule = *event.rule;
  TextBuilder o;
  o.Append("{\"station\":");
  json::AppendLatin1String(o, station_);
  o.Append(",\"rule\":");
  json::AppendLatin1String(o, rule.text);
  o.Append(",\"severity\":");
  json::AppendLatin1String(o, AlarmSeverityName(rule.severity));
  o.Append(",\"value\":");
  json::AppendNumberOrNull(o, event.has_value, event.value);
  o.Append(",\"time\":");
  json::AppendLatin1String(o, UtcText(event.time_ms) + " UTC");
  o.Append(",\"time_ms\":");
  o.AppendNumber(event.time_ms);
  o.Append(",\"text\":");
  json::AppendLatin1String(o, rule.message);
  o.Append(",\"change\":");
  json::AppendLatin1String(o, AlarmChangeName(event.change));
  o.Append("}");
  return std::string(o.view());
}

void AlarmWebhook::Run() {
  CurlPoster poster(timings_.request_timeout);
  poster.SetAbortFlag(&stop_);
  poster.SetContentType(kJsonType);
  std::unique_lock lock(mutex_);
  std::vector<std::string> told;
  while (!stop_) {
    for (Target& target : targets_) {
      if (target.dropped == 0) continue;
      told.push_back("webhook " + target.shown + " dropped " + std::to_string(target.dropped) +
                     " alarm event(s): more than " + std::to_string(kWebhookQueueMax) +
                     " were waiting");
      target.dropped = 0;
    }
    if (!told.empty()) {  // busy until told, for WaitUntilIdle
      busy_ = true;
      lock.unlock();
      Tell(told);
      lock.lock();
      busy_ = false;
      continue;
    }
    Steady::time_point next = Steady::time_point::max();
    Target* target = Due(Steady::now(), next);
    if (target == nullptr) {
      idle_.notify_all();
      wake_.wait_until(lock, next);
      continue;
    }
    const std::string body = target->queue.front().body;
    busy_ = true;
    lock.unlock();
    const HttpAnswer answer = poster.Post(target->url, body, "");
    lock.lock();
    busy_ = false;
    if (!stop_) Settle(*target, answer, told);
  }
  for (Target& target : targets_) {
    for (const Post& post : target.queue) told.push_back(GaveUp(target, post, kStopped));
    target.queue.clear();
  }
  idle_.notify_all();
  lock.unlock();
  Tell(told);
}

AlarmWebhook::Target* AlarmWebhook::Due(Steady::time_point now, Steady::time_point& next) {
  for (Target& target : targets_) {
    if (target.queue.empty()) continue;
    if (target.paused_until <= now) return &target;
    next = std::min(next, target.paused_until);
  }
  return nullptr;
}

void AlarmWebhook::Settle(Target& target, const HttpAnswer& answer,
                          std::vector<std::string>& told) {
  Post& post = target.queue.front();
  ++post.tries;
  switch (ClassifyAnswer(answer)) {
    case ShareOutcome::kSent:
      target.failures = 0;
      target.queue.pop_front();
      return;
    case ShareOutcome::kRefused:  // the server is there but will never take this one
      target.failures = 0;
      told.push_back(GaveUp(target, post, AnswerText(answer)));
      target.queue.pop_front();
      return;
    case ShareOutcome::kRetry:
      break;
  }
  ++target.failures;
  const Steady::time_point now = Steady::now();
  target.paused_until = now + RetryPause(target.failures, timings_.pauses, answer.retry_after);
  // What could be tried again only after its time is up is given up now, the
  // events waiting behind this one included.
  const std::string reason = AnswerText(answer);
  std::erase_if(target.queue, [&](const Post& p) {
    if (p.deadline >= target.paused_until) return false;
    told.push_back(GaveUp(target, p, reason));
    return true;
  });
}

std::string AlarmWebhook::GaveUp(const Target& target, const Post& post, std::string_view reason) {
  return "webhook " + target.shown + " gave up on " + post.what + " after " +
         std::to_string(post.tries) + (post.tries == 1 ? " try: " : " tries: ") +
         Printable(std::string(reason));
}

void AlarmWebhook::Tell(std::vector<std::string>& told) {
  if (on_problem_) {
    for (const std::string& line : told) on_problem_(line);
  }
  told.clear();
}

}  // namespace zevrin
