// Start-up time and peak memory of desktop programs on an X server, measured side by side.
//
// Each program is started with no arguments, as a user starts it. It counts as shown and idle
// once one of its top-level windows is mapped and the screen has stayed unchanged for the
// quiet period: the X Damage extension on the root window reports every drawing, so the time
// is that of the last drawing before the quiet period (the quiet period itself not counted).
// Peak memory is the process's VmHWM at that moment. Runs are interleaved, in a fresh order
// each round, and medians reported.
#include "bench/BenchTable.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Program {
    std::string name;
    std::string path;
    std::vector<double> shownMilliseconds;
    std::vector<double> idleMilliseconds;
    std::vector<double> peakKilobytes;
};

struct Options {
    int runs = 9;
    int quietMilliseconds = 300;
    int timeoutMilliseconds = 20000;
    double floorTimeTarget = 1.15;
    double floorMemoryTarget = 1.3;
    // A second subject (a build to compare with) is measured in the same rounds and gets rows
    // of its own. explained: a second floor, whose row explains the first and has no target.
    std::vector<Program> subjects;
    std::optional<Program> floor, explained, peer;
};

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class ScreenWatcher {
public:
    ScreenWatcher() {
        display_ = XOpenDisplay(nullptr);
        if (!display_) {
            std::fprintf(stderr, "startup: cannot open the X display (is DISPLAY set?)\n");
            std::exit(2);
        }
        int errorBase = 0;
        if (!XDamageQueryExtension(display_, &damageEventBase_, &errorBase)) {
            std::fprintf(stderr, "startup: the X server lacks the Damage extension\n");
            std::exit(2);
        }
        // A window may be gone by the time we ask about it; that is no reason to stop.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        root_ = DefaultRootWindow(display_);
        XSelectInput(display_, root_, SubstructureNotifyMask);
        XDamageCreate(display_, root_, XDamageReportRawRectangles);
        XSync(display_, False);
    }
    ~ScreenWatcher() { XCloseDisplay(display_); }
    ScreenWatcher(const ScreenWatcher&) = delete;
    ScreenWatcher& operator=(const ScreenWatcher&) = delete;

    // Reads every event that arrives until the screen has been quiet for quietMilliseconds.
    void DrainUntilQuiet(int quietMilliseconds) {
        Clock::time_point last = Clock::now();
        while (MillisecondsBetween(last, Clock::now()) < quietMilliseconds) {
            if (WaitForEvents(quietMilliseconds))
                while (XPending(display_)) {
                    XEvent event;
                    XNextEvent(display_, &event);
                    last = Clock::now();
                }
        }
    }

    struct Observation {
        bool shown = false;
        Clock::time_point mapped;
        Clock::time_point lastDrawing;
    };

    // Watches until a top-level window is mapped and the screen then stays quiet, or until the
    // deadline. The first map and the last drawing are kept.
    Observation WatchStartUp(Clock::time_point started, int quietMilliseconds,
                             int timeoutMilliseconds) {
        Observation seen;
        Clock::time_point lastEvent = started;
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (seen.shown && MillisecondsBetween(lastEvent, now) >= quietMilliseconds)
                return seen;
            if (MillisecondsBetween(started, now) > timeoutMilliseconds) {
                seen.shown = false;
                return seen;
            }
            if (!WaitForEvents(quietMilliseconds / 4))
                continue;
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                const Clock::time_point at = Clock::now();
                if (event.type == MapNotify && !event.xmap.override_redirect &&
                    event.xmap.event == root_ && IsWindowSized(event.xmap.window)) {
                    if (!seen.shown) {
                        seen.shown = true;
                        seen.mapped = at;
                        seen.lastDrawing = at;
                    }
                    lastEvent = at;
                } else if (event.type == damageEventBase_ + XDamageNotify) {
                    if (seen.shown)
                        seen.lastDrawing = at;
                    lastEvent = at;
                }
            }
        }
    }

private:
    // Toolkits map tiny helper windows too; a real window is at least this big.
    bool IsWindowSized(Window window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) && attributes.width >= 32 &&
               attributes.height >= 32;
    }

    bool WaitForEvents(int timeoutMilliseconds) {
        XFlush(display_);
        if (XPending(display_))
            return true;
        pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
        return poll(&descriptor, 1, timeoutMilliseconds) > 0;
    }

    Display* display_ = nullptr;
    Window root_ = 0;
    int damageEventBase_ = 0;
};

double PeakKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr);
    return 0;
}

bool RunOnce(ScreenWatcher& watcher, Program& program, const Options& options) {
    watcher.DrainUntilQuiet(100);
    const Clock::time_point started = Clock::now();
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        execl(program.path.c_str(), program.path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const ScreenWatcher::Observation seen =
        watcher.WatchStartUp(started, options.quietMilliseconds, options.timeoutMilliseconds);
    const double peak = PeakKilobytes(child);
    kill(child, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!seen.shown) {
        std::fprintf(stderr, "startup: %s showed no window\n", program.name.c_str());
        return false;
    }
    program.shownMilliseconds.push_back(MillisecondsBetween(started, seen.mapped));
    program.idleMilliseconds.push_back(MillisecondsBetween(started, seen.lastDrawing));
    program.peakKilobytes.push_back(peak > 0 ? peak : static_cast<double>(usage.ru_maxrss));
    return true;
}

std::optional<Program> ParseProgram(const char* argument) {
    const std::string text = argument;
    const auto equals = text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    Program program{text.substr(0, equals), text.substr(equals + 1), {}, {}, {}};
    if (access(program.path.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "startup: %s not found at %s, left out\n", program.name.c_str(),
                     program.path.c_str());
        return std::nullopt;
    }
    return program;
}

void Usage() {
    std::fprintf(stderr, "usage: tarnwick_bench_startup [--runs N] [--quiet-ms MS] "
                         "--subject NAME=PATH... [--floor NAME=PATH] [--explain NAME=PATH] "
                         "[--peer NAME=PATH]\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        if (index + 1 >= argc)
            Usage();
        const char* value = argv[++index];
        if (flag == "--runs")
            options.runs = std::max(1, std::atoi(value));
        else if (flag == "--quiet-ms")
            options.quietMilliseconds = std::max(50, std::atoi(value));
        else if (flag == "--subject") {
            if (std::optional<Program> subject = ParseProgram(value))
                options.subjects.push_back(*subject);
        } else if (flag == "--floor")
            options.floor = ParseProgram(value);
        else if (flag == "--explain")
            options.explained = ParseProgram(value);
        else if (flag == "--peer")
            options.peer = ParseProgram(value);
        else
            Usage();
    }
    return options;
}

void PrintDetails(const Program& program) {
    std::fprintf(
        stderr,
        "startup: %-16s runs %zu  mapped %.1f ms  idle %.1f ms (max %.1f)  "
        "peak %.0f kB\n",
        program.name.c_str(), program.idleMilliseconds.size(),
        tarnwick::bench::Median(program.shownMilliseconds),
        tarnwick::bench::Median(program.idleMilliseconds),
        *std::max_element(program.idleMilliseconds.begin(), program.idleMilliseconds.end()),
        tarnwick::bench::Median(program.peakKilobytes));
}

} // namespace

int main(int argc, char** argv) {
    using tarnwick::bench::Median;
    using tarnwick::bench::PrintRawRow;
    using tarnwick::bench::PrintRow;
    using tarnwick::bench::Value;

    Options options = ParseOptions(argc, argv);
    if (options.subjects.empty())
        Usage();
    std::vector<Program*> programs;
    for (Program& subject : options.subjects)
        programs.push_back(&subject);
    if (options.floor)
        programs.push_back(&*options.floor);
    if (options.explained)
        programs.push_back(&*options.explained);
    if (options.peer)
        programs.push_back(&*options.peer);

    ScreenWatcher watcher;
    // One unrecorded round first: it fills the page cache alike for all, and lets the X
    // server keep what toolkits store on it once per session (GTK's visual list), as on a
    // desktop where other programs have already run. The watcher's connection keeps the
    // server from resetting between runs.
    for (Program* program : programs) {
        Program warmUp{program->name, program->path, {}, {}, {}};
        RunOnce(watcher, warmUp, options);
    }
    // Each round in a fresh order: a program started right after another was killed pays for
    // what that one leaves behind (its teardown, the caches it filled with other libraries), so
    // none may always follow the same one, as a rotation of one order has it. Seeded, so that
    // runs are alike.
    std::mt19937 shuffler(2026);
    std::vector<Program*> order = programs;
    for (int round = 0; round < options.runs; ++round) {
        std::shuffle(order.begin(), order.end(), shuffler);
        for (Program* program : order)
            RunOnce(watcher, *program, options);
    }

    for (const Program* program : programs) {
        if (program->idleMilliseconds.empty()) {
            std::fprintf(stderr, "startup: no successful run of %s\n", program->name.c_str());
            return 1;
        }
        PrintDetails(*program);
    }

    for (const Program& subject : options.subjects) {
        const double subjectTime = Median(subject.idleMilliseconds);
        const double subjectPeak = Median(subject.peakKilobytes) / 1024;
        const std::string timeMeasure = "start-up to shown and idle, " + subject.name + " (ms)";
        const std::string memoryMeasure = "peak memory at idle, " + subject.name + " (MiB)";
        if (options.floor) {
            const Program& floor = *options.floor;
            PrintRow(timeMeasure, subjectTime, floor.name, Median(floor.idleMilliseconds),
                     Value(options.floorTimeTarget, "<= %.2fx"), options.floorTimeTarget);
            if (options.explained) {
                const double floorTime = Median(options.explained->idleMilliseconds);
                PrintRawRow("  same, against " + options.explained->name, Value(subjectTime),
                            options.explained->name + " " + Value(floorTime),
                            Value(floorTime > 0 ? subjectTime / floorTime : 0, "%.2fx"),
                            "(explains)", "-");
            }
            PrintRow(memoryMeasure, subjectPeak, floor.name, Median(floor.peakKilobytes) / 1024,
                     Value(options.floorMemoryTarget, "<= %.2fx"), options.floorMemoryTarget);
        }
        if (options.peer) {
            const Program& peer = *options.peer;
            PrintRow(timeMeasure, subjectTime, peer.name, Median(peer.idleMilliseconds), "< 1x",
                     1.0,
                     /*strictlyBelow=*/true);
            PrintRow(memoryMeasure, subjectPeak, peer.name, Median(peer.peakKilobytes) / 1024,
                     "< 1x", 1.0, /*strictlyBelow=*/true);
        }
    }
    return 0;
}
