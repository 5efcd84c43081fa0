#pragma once
// Tests wait for what they need, never for a fixed time: a condition polled until it holds, with
// a limit far beyond any machine's slowness that only shows it will never come. A slow or busy
// machine makes a test slower, never red.
#include <QElapsedTimer>
#include <QtTest>

constexpr int kPatienceMs = 30000;

// True once `condition()` holds; false if it still does not after `timeoutMs`.
template <typename Condition>
bool WaitFor(Condition&& condition, int timeoutMs = kPatienceMs) {
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    if (condition()) return true;
    if (waited.elapsed() >= timeoutMs) return false;
    QTest::qWait(20);
  }
}
