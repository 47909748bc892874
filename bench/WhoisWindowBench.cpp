// The worst answers a server may send within the limits, shown in the main window as the program
// builds it: peak memory above the idle window, the time from the click on "Trace IP" to the
// whole answer in the box, and the longest event-loop stall meanwhile.
//
// Every case runs in a process of its own, since peak memory (VmHWM) is kept per process: this
// program serves the answer on 127.0.0.1 and starts itself again with --case to show it.
#include "bench/BenchTable.h"
#include "bench/EventLoopStallMeter.h"
#include "bench/StreamingWhoisServer.h"
#include "ui/main/Form1.h"
#include "ui/main/PlainTextAnswerView.h"
#include "ui/main/Startup.h"
#include "whois/WhoisLookup.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tarnwick::bench::StreamedAnswer;

constexpr double kAboveIdleTargetMebibytes = 64;
constexpr double kShownTargetMilliseconds = 2000;
constexpr double kStallTargetMilliseconds = 16;
constexpr char kLocalServer[] = "127.0.0.1";

struct Case {
    std::string key;
    std::string name;
    StreamedAnswer answer;
};

// The answer limit filled with what costs a text box most: lines, characters, both; and the
// long answer of the streaming benchmark.
std::vector<Case> Cases() {
    const std::int64_t cap = tarnwick::kWhoisAnswerLimit;
    const std::string capName = tarnwick::bench::Value(double(cap) / (1024 * 1024), "%g MiB");
    return {
        {"line-feeds", capName + " of line feeds", {cap, 1024, 0, "\n"}},
        {"cr-lf", capName + " of CR LF pairs", {cap, 1024, 0, "\r\n"}},
        {"one-character", capName + " of one-character lines", {cap, 1024, 1, "\n"}},
        {"endless", capName + " as one endless line", {cap, 1024, 0, ""}},
        {"ordinary", "4 MiB of 80-character lines", {4 * 1024 * 1024, 1024, 79, "\n"}},
        {"ordinary-cap", capName + " of 80-character lines", {cap, 1024, 79, "\n"}},
    };
}

double StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::strtod(line.c_str() + std::strlen(field), nullptr);
        }
    }
    return 0;
}

// Runs the event loop until `done` holds, looking every millisecond; false after `timeout`.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    bool held = false;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done()) {
            held = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    look.start(1);
    loop.exec();
    return held;
}

// The text without its line breaks, which the box may place differently (an endless line is
// shown broken, CR LF becomes one break).
QString WithoutBreaks(QString text) {
    text.remove(u'\n');
    text.remove(u'\r');
    text.remove(QChar::ParagraphSeparator);
    return text;
}

// One case, in the window as the program starts it; prints
// "result|idle kB|peak kB|ms|stall ms|busy ms|whole" on stdout.
int ShowOneAnswer(tarnwick::Form1& form, quint16 port) {
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "whois-window: the window was not shown\n");
        return 1;
    }
    RunUntil([] { return false; }, std::chrono::milliseconds(500));
    const double idle = StatusKilobytes("VmHWM:");
    const double idleResident = StatusKilobytes("VmRSS:");

    // Never the default server: only the local one may be asked.
    form.ServerList->setItemText(0, QLatin1String(kLocalServer));
    form.ServerList->setEditText(QLatin1String(kLocalServer));
    if (form.ServerList->currentText() != QLatin1String(kLocalServer)) {
        std::fprintf(stderr, "whois-window: the server entry did not take 127.0.0.1\n");
        return 1;
    }
    form.Winsock2->SetPort(port);
    form.Text1->setText(QStringLiteral("example.com"));
    const auto* view = form.Box->findChild<tarnwick::PlainTextAnswerView*>();
    if (view == nullptr) {
        std::fprintf(stderr, "whois-window: the box has no answer view\n");
        return 1;
    }

    tarnwick::bench::EventLoopStallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    const bool shown = RunUntil(
        [&] {
            return form.Winsock2->state() == tarnwick::WhoisLookup::State::Ended &&
                   !view->HasPending();
        },
        std::chrono::minutes(5));
    const double milliseconds = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double stall = static_cast<double>(stalls.Longest().count());
    const double busy = stalls.LongestBusyMilliseconds();
    const double peak = StatusKilobytes("VmHWM:");

    // Everything received is in the box, and at most a note follows it.
    const QString received = WithoutBreaks(form.Winsock2->Buffer());
    const QString boxed = WithoutBreaks(form.Box->toPlainText());
    const bool whole = shown && form.Winsock2->BytesReceived() > 0 && boxed.startsWith(received) &&
                       (boxed.size() == received.size() || boxed.endsWith(u'.'));
    std::fprintf(stderr,
                 "whois-window: idle VmRSS %.0f kB, VmHWM %.0f kB; peak %.0f kB; %lld bytes "
                 "received, %d lines in the box\n",
                 idleResident, idle, peak, static_cast<long long>(form.Winsock2->BytesReceived()),
                 form.Box->document()->blockCount());
    std::printf("result|%.0f|%.0f|%.1f|%.0f|%.1f|%d\n", idle, peak, milliseconds, stall, busy,
                whole ? 1 : 0);
    return 0;
}

struct Figures {
    double idleKilobytes = 0;
    double peakKilobytes = 0;
    double milliseconds = 0;
    double stall = 0;
    double busy = 0;
    bool whole = false;
};

std::string OwnPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Serves the case's answer and shows it in a fresh process.
bool RunCase(const Case& shownCase, Figures& figures) {
    tarnwick::bench::StreamingWhoisServer server(shownCase.answer);
    // A window that never comes up fails its case instead of holding up the whole run.
    std::string command = "timeout 300 '";
    command.append(OwnPath()).append("' --case ").append(shownCase.key);
    command.append(" --port ").append(std::to_string(server.Port()));
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr) {
        return false;
    }
    char line[256];
    bool read = false;
    while (std::fgets(line, sizeof line, child) != nullptr) {
        int whole = 0;
        if (std::sscanf(line, "result|%lf|%lf|%lf|%lf|%lf|%d", &figures.idleKilobytes,
                        &figures.peakKilobytes, &figures.milliseconds, &figures.stall,
                        &figures.busy, &whole) == 6) {
            figures.whole = whole == 1;
            read = true;
        }
    }
    return ::pclose(child) == 0 && read;
}

// Prints the case's rows; returns the most work the window did between two ticks of the meter.
double Measure(const Case& shownCase, int runs) {
    using tarnwick::bench::Met;
    using tarnwick::bench::PrintRawRow;
    using tarnwick::bench::Value;
    std::vector<double> aboveIdle;
    std::vector<double> idle;
    std::vector<double> times;
    std::vector<double> stalls;
    std::vector<double> busy;
    bool whole = true;
    for (int run = 0; run < runs; ++run) {
        Figures figures;
        if (!RunCase(shownCase, figures)) {
            std::fprintf(stderr, "whois-window: %s: the run failed\n", shownCase.name.c_str());
            whole = false;
            continue;
        }
        std::fprintf(stderr,
                     "whois-window: %s: idle %.1f MiB, peak %.1f MiB (+%.1f), shown after %.1f "
                     "ms, longest stall %.0f ms, most work between ticks %.1f ms%s\n",
                     shownCase.name.c_str(), figures.idleKilobytes / 1024,
                     figures.peakKilobytes / 1024,
                     (figures.peakKilobytes - figures.idleKilobytes) / 1024, figures.milliseconds,
                     figures.stall, figures.busy, figures.whole ? "" : ", NOT WHOLE");
        aboveIdle.push_back((figures.peakKilobytes - figures.idleKilobytes) / 1024);
        idle.push_back(figures.idleKilobytes / 1024);
        times.push_back(figures.milliseconds);
        stalls.push_back(figures.stall);
        busy.push_back(figures.busy);
        whole = whole && figures.whole;
    }
    const std::string measure = "WHOIS window, " + shownCase.name;
    if (times.empty()) {
        PrintRawRow(measure + " shown", "failed", "-", "-", "-", "NO");
        return 0;
    }
    // The worst run counts for memory and stalls, the median for time.
    const double above = tarnwick::bench::Maximum(aboveIdle);
    const double time = tarnwick::bench::Median(times);
    const double stall = tarnwick::bench::Maximum(stalls);
    PrintRawRow(measure + ", peak above idle (MiB)", Value(above),
                "idle window " + Value(tarnwick::bench::Median(idle)), "-", "<= 64",
                Met(above <= kAboveIdleTargetMebibytes));
    PrintRawRow(measure + ", click to shown (ms)", Value(time), "-", "-", "<= 2000",
                Met(time <= kShownTargetMilliseconds && whole));
    PrintRawRow(measure + ", longest stall (ms)", Value(stall), "-", "-", "<= 16",
                Met(stall <= kStallTargetMilliseconds));
    return tarnwick::bench::Maximum(busy);
}

// Whether `key` is one of the comma-separated `list`.
bool IsListed(std::string_view list, std::string_view key) {
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        if (list.substr(0, comma) == key) {
            return true;
        }
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return false;
}

} // namespace

// tarnwick_bench_whois_window [--runs N] [--cases KEY,KEY...]; --case KEY --port PORT shows one.
int main(int argc, char** argv) {
    int runs = 3;
    std::string_view chosen;
    std::string_view shownCase;
    quint16 port = 0;
    for (int index = 1; index + 1 < argc; ++index) {
        if (std::strcmp(argv[index], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[++index]));
        } else if (std::strcmp(argv[index], "--cases") == 0) {
            chosen = argv[++index];
        } else if (std::strcmp(argv[index], "--case") == 0) {
            shownCase = argv[++index];
        } else if (std::strcmp(argv[index], "--port") == 0) {
            port = static_cast<quint16>(std::atoi(argv[++index]));
        }
    }
    if (!shownCase.empty()) {
        int qtArgc = 1;
        return tarnwick::RunTarnwick(
            qtArgc, argv, [port](tarnwick::Form1& form) { return ShowOneAnswer(form, port); });
    }
    double busy = 0;
    for (const Case& each : Cases()) {
        if (chosen.empty() || IsListed(chosen, each.key)) {
            busy = std::max(busy, Measure(each, runs));
        }
    }
    // A stall is the window's own work plus any wait for a processor that others held.
    tarnwick::bench::PrintRawRow("  stall without waits for a processor, any case (ms)",
                                 tarnwick::bench::Value(busy), "-", "-", "(explains)", "-");
    return 0;
}
