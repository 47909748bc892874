// WHOIS answers streamed from a server on 127.0.0.1 in 1 KiB pieces: the time until the box
// shows everything and the longest stall of the event loop, for the box binding that adds each
// piece at the end and for a naive one that copies the whole answer into the box every time.
#include "bench/BenchTable.h"
#include "bench/EventLoopStallMeter.h"
#include "bench/StreamingWhoisServer.h"
#include "platform/Memory.h"
#include "tests/support/QtEventLoop.h"
#include "ui/main/PlainTextAnswerView.h"
#include "whois/WhoisLookup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tarnwick::PlainTextAnswerView;
using tarnwick::WhoisLookup;
using tarnwick::bench::EventLoopStallMeter;
using tarnwick::bench::Maximum;
using tarnwick::bench::Median;
using tarnwick::bench::Met;
using tarnwick::bench::PrintRawRow;
using tarnwick::bench::PrintRow;
using tarnwick::bench::StreamedAnswer;
using tarnwick::bench::StreamingWhoisServer;
using tarnwick::bench::Value;
using tarnwick::testing::WaitUntil;

// One frame at 60 Hz: the window never misses one while an answer streams in.
constexpr double kStallTargetMilliseconds = 16;
constexpr double kShownTargetMilliseconds = 300;
constexpr double kEndlessLineTargetMilliseconds = 1000;
// Linear, with some room for the fixed costs of a lookup.
constexpr double kGrowthTarget = 4.5;

// Copies the whole answer into the box on every piece.
class NaiveAnswerView final : public tarnwick::AnswerView {
public:
    explicit NaiveAnswerView(QPlainTextEdit& box) : box_(box) {}
    void SetText(const QString& text) override {
        whole_ = text;
        box_.setPlainText(whole_);
    }
    void Append(const QString& piece, QStringView) override {
        whole_ += piece;
        box_.setPlainText(whole_);
    }

private:
    QPlainTextEdit& box_;
    QString whole_;
};

struct Run {
    double milliseconds = 0;
    double longestStall = 0;
    double longestArrival = 0; // inside the handler, without waiting for the processor
    int arrivals = 0;
    bool complete = false;
};

Run Measure(bool naive, std::int64_t bytes, std::size_t lineBytes) {
    const StreamedAnswer answer{bytes, 1024, lineBytes, lineBytes == 0 ? "" : "\n"};
    StreamingWhoisServer server(answer);
    QPlainTextEdit box;
    box.resize(307, 133); // the main window's box
    box.show();
    PlainTextAnswerView incremental(box);
    NaiveAnswerView copying(box);
    tarnwick::AnswerView& view = naive ? static_cast<tarnwick::AnswerView&>(copying) : incremental;
    WhoisLookup lookup(view);
    Run run;
    QObject::connect(&lookup, &WhoisLookup::Connect, [&] { lookup.SendQuery("example.com"); });
    QObject::connect(&lookup, &WhoisLookup::DataArrival, [&] {
        ++run.arrivals;
        QElapsedTimer handling;
        handling.start();
        lookup.TakeData();
        run.longestArrival =
            std::max(run.longestArrival, static_cast<double>(handling.nsecsElapsed()) / 1e6);
    });
    lookup.SetPort(server.Port());
    QElapsedTimer clock;
    EventLoopStallMeter stalls;
    clock.start();
    lookup.Start("127.0.0.1");
    // Shown means in the box, not only received: the view may still be catching up.
    const bool ended = WaitUntil(
        [&] { return lookup.state() == WhoisLookup::State::Ended && !incremental.HasPending(); },
        300s);
    run.milliseconds = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    run.longestStall = static_cast<double>(stalls.Longest().count());
    // Apart from the breaks of an endless line, the box holds exactly the answer.
    run.complete =
        ended && lookup.BytesReceived() == bytes &&
        box.toPlainText().remove(u'\n').size() == QString(lookup.Buffer()).remove(u'\n').size();
    return run;
}

struct Summary {
    double milliseconds;
    double longestStall;
    double longestArrival;
    bool complete;
};

Summary MeasureRepeatedly(bool naive, std::int64_t bytes, std::size_t lineBytes, int runs) {
    std::vector<double> times;
    std::vector<double> stalls;
    std::vector<double> arrivals;
    bool complete = true;
    for (int index = 0; index < runs; ++index) {
        const Run run = Measure(naive, bytes, lineBytes);
        std::fprintf(stderr,
                     "whois: %s %lld KiB%s: %.1f ms, longest stall %.0f ms, %d arrivals, "
                     "longest %.1f ms%s\n",
                     naive ? "naive" : "incremental", static_cast<long long>(bytes / 1024),
                     lineBytes == 0 ? " one line" : "", run.milliseconds, run.longestStall,
                     run.arrivals, run.longestArrival, run.complete ? "" : ", INCOMPLETE");
        times.push_back(run.milliseconds);
        stalls.push_back(run.longestStall);
        arrivals.push_back(run.longestArrival);
        complete = complete && run.complete;
    }
    return {Median(times), Maximum(stalls), Maximum(arrivals), complete};
}

// A row that sets the incremental figure beside the naive one, with no target of its own.
void PrintComparison(const std::string& measure, double value, double naive) {
    PrintRawRow(measure, Value(value), "naive copy " + Value(naive),
                Value(naive > 0 ? value / naive : 0, "%.2fx"), "none set", "-");
}

std::string SizeName(std::int64_t bytes) {
    return bytes >= 1024 * 1024 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                : std::to_string(bytes / 1024) + " KiB";
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--runs") == 0 && index + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++index]));
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    tarnwick::platform::MapLargeBlocks(); // as the program's start has it
    QApplication application(argc, argv);

    const std::int64_t sizes[] = {256 * 1024, 1024 * 1024, 4 * 1024 * 1024};
    std::vector<Summary> incremental;
    std::vector<Summary> naive;
    for (const std::int64_t bytes : sizes) {
        incremental.push_back(MeasureRepeatedly(false, bytes, 79, runs));
        naive.push_back(MeasureRepeatedly(true, bytes, 79, 1));
    }
    const Summary endless = MeasureRepeatedly(false, sizes[2], 0, runs);

    double longestStall = 0;
    double longestArrival = 0;
    for (std::size_t index = 0; index < std::size(sizes); ++index) {
        const std::string size = SizeName(sizes[index]);
        PrintComparison("WHOIS " + size + " in 1 KiB pieces shown (ms)",
                        incremental[index].milliseconds, naive[index].milliseconds);
        if (index > 0) {
            PrintRow("WHOIS " + size + " shown, against 4x less data (ms)",
                     incremental[index].milliseconds, SizeName(sizes[index - 1]),
                     incremental[index - 1].milliseconds, "<= 4.5x", kGrowthTarget);
        }
        longestStall = std::max(longestStall, incremental[index].longestStall);
        longestArrival = std::max(longestArrival, incremental[index].longestArrival);
        if (!incremental[index].complete) {
            PrintRawRow("WHOIS " + size + " arrived whole", "no", "-", "-", "yes", "NO");
        }
    }
    PrintRawRow("WHOIS 4 MiB shown (ms)", Value(incremental[2].milliseconds), "-", "-", "<= 300",
                Met(incremental[2].milliseconds <= kShownTargetMilliseconds));
    PrintRawRow("WHOIS 4 MiB as one endless line shown (ms)", Value(endless.milliseconds), "-", "-",
                "< 1000",
                Met(endless.milliseconds < kEndlessLineTargetMilliseconds && endless.complete));
    longestStall = std::max(longestStall, endless.longestStall);
    longestArrival = std::max(longestArrival, endless.longestArrival);
    const double naiveStall =
        Maximum({naive[0].longestStall, naive[1].longestStall, naive[2].longestStall});
    PrintRawRow("WHOIS longest event-loop stall (ms)", Value(longestStall),
                "naive copy " + Value(naiveStall), "-", "<= 16",
                Met(longestStall <= kStallTargetMilliseconds));
    // The part of a stall that is the handler's own work, apart from waiting for a processor.
    PrintComparison(
        "WHOIS longest arrival handled (ms)", longestArrival,
        Maximum({naive[0].longestArrival, naive[1].longestArrival, naive[2].longestArrival}));
    return 0;
}
