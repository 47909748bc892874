// Waiting while Qt's event loop runs sockets and windows, and how long it stalls meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

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

// How long the event loop went without running a 10 ms timer, at most, while it ran.
class EventLoopStallMeter {
public:
    EventLoopStallMeter() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, sinceLast_.restart()); });
        sinceLast_.start();
        timer_.start();
    }
    std::chrono::milliseconds Longest() const { return std::chrono::milliseconds(longest_); }

private:
    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 longest_ = 0;
};

} // namespace tarnwick::testing
