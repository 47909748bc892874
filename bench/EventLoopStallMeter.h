// The longest time a Qt event loop went without running a 1 ms timer.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <chrono>

namespace tarnwick::bench {

// How long the event loop went without running a timer due every millisecond, at most, while it
// ran. A coarser timer would hide stalls shorter than its period and add up to a period to the
// others (a 10 ms timer reads a 6 ms stall as anything from 10 to 16 ms).
class EventLoopStallMeter {
public:
    EventLoopStallMeter() {
        timer_.setInterval(1);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, sinceLast_.restart());
            const double busy = ThreadCpuMilliseconds();
            longestBusy_ = std::max(longestBusy_, busy - busyAtLast_);
            busyAtLast_ = busy;
        });
        sinceLast_.start();
        busyAtLast_ = ThreadCpuMilliseconds();
        timer_.start();
    }
    std::chrono::milliseconds Longest() const { return std::chrono::milliseconds(longest_); }
    // The most processor time the loop's thread spent between two ticks: the stall's own work,
    // without the time it waited for a processor that other programs held.
    double LongestBusyMilliseconds() const { return longestBusy_; }

private:
    static double ThreadCpuMilliseconds() {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    }

    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 longest_ = 0;
    double busyAtLast_ = 0;
    double longestBusy_ = 0;
};

} // namespace tarnwick::bench
