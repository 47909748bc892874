// Running Qt windows and sockets in GoogleTest cases: the application object and waiting.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>

namespace tarnwick::testing {

// The one QApplication of a test program: the one its main made, or one made on first use and
// kept to the end.
inline QApplication& TestApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *existing;
    }
    static int argc = 1;
    static char name[] = "tarnwick-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

// A base for fixtures whose members are widgets: makes the application before them.
struct WithApplication {
    WithApplication() { TestApplication(); }
};

// Runs the event loop until `done` holds or `timeout` passes; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QTest::qWait(2);
    }
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
