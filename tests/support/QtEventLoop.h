// Waiting while Qt's event loop runs sockets and windows.
#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <chrono>
#include <functional>

namespace tarnwick::testing {

// Runs the event loop until `done` holds or `timeout` passes; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    QElapsedTimer clock;
    for (clock.start(); !done(); QTest::qWait(2))
        if (clock.elapsed() > timeout.count())
            return false;
    return true;
}

// Runs the event loop for `duration`.
inline void RunEvents(std::chrono::milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

} // namespace tarnwick::testing
