// Serving the Qt event loop of the test's thread until a state is reached.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <thread>

namespace kv_test {

// Serves events (and deletes objects left for later) until `done` holds.
// There is no time bound here: a state that never comes is ended by ctest's
// time-out, so a slow machine (a sanitizer build under load) only takes
// longer instead of failing.
inline void ServeEventsUntil(const std::function<bool()>& done) {
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace kv_test
