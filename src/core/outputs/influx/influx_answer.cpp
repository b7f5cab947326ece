#include "outputs/influx/influx_answer.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "outputs/share/share_sender.h"

namespace zevrin {

namespace {

constexpr long kHttpUnauthorized = 401;
constexpr long kHttpForbidden = 403;
constexpr long kHttpNotFound = 404;
constexpr long kHttpTooLarge = 413;
constexpr std::string_view kUnableToParse = "unable to parse '";
constexpr std::string_view kLineNumber = "line ";

// The text quoted in a JSON answer, its escapes undone; up to the closing quote,
// or to the end of a cut answer (`closed` false).
std::string Unquote(std::string_view text, bool& closed) {
  std::string out;
  closed = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') {
      closed = true;
      break;
    }
    if (text[i] == '\\' && i + 1 < text.size())
      ++i;  // \\ and \" of the JSON text
    else if (text[i] == '\\')
      break;  // cut inside an escape
    out += text[i];
  }
  return out;
}

// The points of `batch` named by "unable to parse '...'"; false when one such
// name fits no point or several.
bool FindParsed(std::string_view body, std::span<const QueuedPoint> batch,
                std::vector<std::size_t>& bad) {
  for (std::size_t at = body.find(kUnableToParse); at != std::string_view::npos;
       at = body.find(kUnableToParse, at + 1)) {
    bool closed = false;
    const std::string named = Unquote(body.substr(at + kUnableToParse.size()), closed);
    std::size_t found = batch.size();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      const std::string_view line =
          std::string_view(batch[i].line)
              .substr(0, batch[i].line.ends_with('\n') ? batch[i].line.size() - 1
                                                       : batch[i].line.size());
      if (closed ? line != named : !line.starts_with(named)) continue;
      if (found != batch.size()) return false;  // the cut name fits two points
      found = i;
    }
    if (found == batch.size()) return false;
    bad.push_back(found);
  }
  return true;
}

// The points of `batch` named by "line N:".
void FindNumbered(std::string_view body, std::span<const QueuedPoint> batch,
                  std::vector<std::size_t>& bad) {
  for (std::size_t at = body.find(kLineNumber); at != std::string_view::npos;
       at = body.find(kLineNumber, at + 1)) {
    const char* begin = body.data() + at + kLineNumber.size();
    std::size_t number = 0;
    const auto [end, ec] = std::from_chars(begin, body.data() + body.size(), number);
    if (ec != std::errc() || end == body.data() + body.size() || *end != ':') continue;
    if (number >= 1 && number <= batch.size()) bad.push_back(number - 1);
  }
}

}  // namespace

InfluxJudgement JudgeInfluxAnswer(const HttpAnswer& answer, std::span<const QueuedPoint> batch) {
  if (batch.empty()) return {InfluxVerdict::kTaken, {}};
  switch (ClassifyAnswer(answer)) {
    case ShareOutcome::kSent:
      return {InfluxVerdict::kTaken, {}};
    case ShareOutcome::kRetry:
      return {InfluxVerdict::kRetry, {}};
    case ShareOutcome::kRefused:
      break;
  }
  if (answer.status == kHttpUnauthorized || answer.status == kHttpForbidden ||
      answer.status == kHttpNotFound)
    return {InfluxVerdict::kRefused, {}};
  InfluxJudgement judgement{InfluxVerdict::kDrop, {}};
  if (answer.status != kHttpTooLarge) {
    const bool named = FindParsed(answer.body, batch, judgement.bad);
    if (named && judgement.bad.empty()) FindNumbered(answer.body, batch, judgement.bad);
    if (!named) judgement.bad.clear();
  }
  std::sort(judgement.bad.begin(), judgement.bad.end());
  judgement.bad.erase(std::unique(judgement.bad.begin(), judgement.bad.end()), judgement.bad.end());
  if (!judgement.bad.empty()) return judgement;
  if (batch.size() > 1) return {InfluxVerdict::kSplit, {}};
  return {InfluxVerdict::kDrop, {0}};
}

}  // namespace zevrin
