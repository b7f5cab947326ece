#pragma once
// Helpers for tests that drive Qt objects: finding a child by its name, and
// waiting through the event loop.

#include <QDeadlineTimer>
#include <QTest>
#include <ctime>

namespace zevrin::testing {

/// The child of `parent` of type T named `name`, or null.
template <typename T>
T* Child(const QObject* parent, const char* name) {
  return parent->findChild<T*>(QString::fromLatin1(name));
}

/// Runs the event loop until `done` holds or `ms` have passed; returns `done()`. The
/// default is generous: on a busy machine a socket or a timer may be slow to report.
template <typename Fn>
bool WaitFor(Fn done, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!done() && !deadline.hasExpired()) QTest::qWait(5);
  return done();
}

/// CPU time this process has used in `ms` of running the event loop, in microseconds.
inline long long CpuMicrosWhileWaiting(int ms) {
  const std::clock_t before = std::clock();
  QTest::qWait(ms);
  return (std::clock() - before) * 1000000LL / CLOCKS_PER_SEC;
}

}  // namespace zevrin::testing
