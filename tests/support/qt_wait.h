#pragma once
// Waiting helpers for tests that drive Qt objects through the event loop.

#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QTest>

namespace zevrin::testing {

/// Runs the event loop until `done` holds or `ms` have passed; returns `done()`.
template <typename Fn>
bool WaitFor(Fn done, int ms = 3000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QTest::qWait(5);
  return done();
}

/// CPU time this process has used in `ms` of running the event loop, in microseconds.
inline long long CpuMicrosWhileWaiting(int ms) {
  const auto cpu = [] {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
  };
  const long long before = cpu();
  QTest::qWait(ms);
  return cpu() - before;
}

}  // namespace zevrin::testing
