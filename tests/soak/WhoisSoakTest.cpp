// Soak: hundreds of WHOIS lookups in one process, every box right, nothing left behind.
#include "tests/support/ProcessUse.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "ui/main/PlainTextAnswerView.h"
#include "whois/WhoisLookup.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace tarnwick::testing {
namespace {

constexpr qint64 kLimit = 64 * 1024;

// What the server answers one lookup with, and what the box shows at its end.
struct Round {
    const char* name;
    QByteArray answer; // none: the connection is refused
    bool secondClick;  // the user starts another lookup while this answer arrives
    QString shown;
};
const Round kRounds[] = {
    {"whole answer", "domain: x.test\r\nend\n", false, "domain: x.test\nend\n"},
    {"refused", {}, false, " Could not connect to 127.0.0.1: the connection was refused."},
    {"cut at the limit", QByteArray("cut\n").repeated(kLimit / 4 + 1024), false,
     QString("cut\n").repeated(kLimit / 4) + " The answer was cut off at 65536 bytes."},
    {"second click mid-answer", "first answer, never shown whole\n", true, "second\n"},
};

class WhoisSoak : public ::testing::Test {
protected:
    WhoisSoak() {
        QObject::connect(&lookup_, &WhoisLookup::Connect, [this] { lookup_.SendQuery("x.test"); });
        QObject::connect(&lookup_, &WhoisLookup::DataArrival, [this] { lookup_.TakeData(); });
        lookup_.SetAnswerLimit(kLimit);
    }

    // One lookup as the user starts it; its box at the end.
    void Lookup(const Round& round) {
        const qsizetype received = server_.Received().size();
        server_.answer = round.secondClick ? QByteArray() : round.answer;
        lookup_.SetPort(round.answer.isEmpty() ? refusingPort_ : server_.Port());
        lookup_.Start("127.0.0.1");
        if (round.secondClick) {
            WaitUntil([&] { return server_.Received().size() > received; });
            server_.Send(round.answer.left(round.answer.size() / 2));
            WaitUntil([&] { return !box_.toPlainText().isEmpty(); }); // it is arriving
            server_.answer = "second\n";
            lookup_.Start("127.0.0.1");
        }
        ASSERT_TRUE(WaitUntil([&] {
            return lookup_.state() == WhoisLookup::State::Ended && !view_.HasPending();
        })) << round.name;
        ASSERT_EQ(box_.toPlainText(), round.shown) << round.name;
    }

    QPlainTextEdit box_;
    PlainTextAnswerView view_{box_};
    WhoisLookup lookup_{view_};
    ScriptedWhoisServer server_;
    const quint16 refusingPort_ = ScriptedWhoisServer().Port(); // closed at once: it refuses
};

TEST_F(WhoisSoak, FiveHundredLookupsLeaveDescriptorsAndMemoryAsTheyWere) {
    // Warm-up: first-use allocations of Qt, the fonts and the allocator's caches.
    for (int number = 0; number < 100; ++number)
        ASSERT_NO_FATAL_FAILURE(Lookup(kRounds[number % std::size(kRounds)])) << number;
    RunEvents(std::chrono::milliseconds(50));
    const auto [descriptorsBefore, residentBefore] = DescriptorsAndResidentBytes();
    for (int number = 0; number < 500; ++number)
        ASSERT_NO_FATAL_FAILURE(Lookup(kRounds[number % std::size(kRounds)])) << number;
    RunEvents(std::chrono::milliseconds(50));
    const auto [descriptorsAfter, residentAfter] = DescriptorsAndResidentBytes();
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_LT(residentAfter - residentBefore, 1024 * 1024)
        << "grew by " << (residentAfter - residentBefore) << " bytes";
}

} // namespace
} // namespace tarnwick::testing
