#pragma once
// What the InfluxDB feed does with a server's answer to a batch of points.

#include <cstddef>
#include <span>
#include <vector>

#include "outputs/influx/influx_queue.h"
#include "outputs/share/http_post.h"

namespace zevrin {

enum class InfluxVerdict {
  kTaken,    ///< 2xx: the batch is written
  kDrop,     ///< the points `bad` are refused for good; the others are sent again
  kSplit,    ///< refused for a point the answer does not name: send half the batch
  kRetry,    ///< no answer, 5xx, 408, 429: the database is down or busy
  kRefused,  ///< 401, 403: the login is refused; 404: no such database
};

struct InfluxJudgement {
  InfluxVerdict verdict = InfluxVerdict::kRetry;
  std::vector<std::size_t> bad;  ///< kDrop: indexes into the batch
};

/// Judges `answer` to the post of `batch`. A 400 names its bad points as InfluxDB
/// does: "unable to parse '<line>'" (both versions; the line may be cut where the
/// answer was cut, and then names the one point it begins) or "line N:" (2.x).
/// A refusal that names no point of the batch splits a batch of several points
/// and drops a single one; a 413 (batch too large) splits too.
InfluxJudgement JudgeInfluxAnswer(const HttpAnswer& answer, std::span<const QueuedPoint> batch);

}  // namespace zevrin
