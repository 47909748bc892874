// Socket library start-up and clean-up: which message, with which icon, in which order.
#include "engine/SocketStartup.h"

#include "support/FakeSocketLibrary.h"
#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using platform::MessageIcon;
using testing::FakeSocketLibrary;
using testing::RecordingMessageDialog;
using testing::ShownMessage;

TEST(HighAndLowByte, SplitTheVersionWord) {
    EXPECT_EQ(HighByte(257), 1);
    EXPECT_EQ(LowByte(257), 1);
    EXPECT_EQ(HighByte(65535), 255);
    EXPECT_EQ(LowByte(65535), 255);
    EXPECT_EQ(HighByte(511), 1);
    EXPECT_EQ(LowByte(511), 255);
    EXPECT_EQ(HighByte(0), 0);
}

struct StartupCase {
    const char* name;
    std::uint16_t version;
    std::uint16_t maxSockets;
    TruthValue expected;
    std::vector<ShownMessage> messages;
};

void PrintTo(const StartupCase& row, std::ostream* out) {
    *out << row.name;
}

class StartSocketsRows : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartSocketsRows, ReportsWhatTheLibraryGranted) {
    const StartupCase& row = GetParam();
    FakeSocketLibrary library;
    library.grantedVersion = row.version;
    library.maxSockets = row.maxSockets;
    RecordingMessageDialog messages;

    EXPECT_EQ(StartSockets(library, messages), row.expected);
    EXPECT_EQ(library.lastRequestedVersion, 257);
    EXPECT_EQ(messages.shown, row.messages);
    // A granted start-up stays started, whatever was reported.
    EXPECT_EQ(library.startups, 1);
}

const std::string kVersionText =
    " is not supported by Windows Sockets for 32 bit Windows environments.";
const ShownMessage kTooFewSockets{"This application requires a minimum of 1 supported sockets.",
                                  MessageIcon::Exclamation};

INSTANTIATE_TEST_SUITE_P(
    GrantedVersionAndSockets, StartSocketsRows,
    ::testing::Values(
        StartupCase{"Version11Passes", 0x0101, 1, kTrue, {}},
        StartupCase{"Version20Passes", 0x0002, 10, kTrue, {}},
        StartupCase{"Version19Passes", 0x0901, 65535, kTrue, {}},
        StartupCase{"Version10Fails",
                    0x0001,
                    100,
                    kFalse,
                    {{"Windows Sockets Version 1.0" + kVersionText, MessageIcon::Exclamation}}},
        StartupCase{"Version09Fails",
                    0x0900,
                    100,
                    kFalse,
                    {{"Windows Sockets Version 0.9" + kVersionText, MessageIcon::Exclamation}}},
        StartupCase{"ZeroSocketsFails", 0x0101, 0, kFalse, {kTooFewSockets}},
        StartupCase{"LowVersionAndZeroSocketsShowsOnlyTheVersion",
                    0x0001,
                    0,
                    kFalse,
                    {{"Windows Sockets Version 1.0" + kVersionText, MessageIcon::Exclamation}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartSockets, FailedStartupShowsOneMessageWithoutIcon) {
    FakeSocketLibrary library;
    library.startupResult = 10091;
    RecordingMessageDialog messages;
    EXPECT_EQ(StartSockets(library, messages), kFalse);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].prompt,
              "Windows Sockets for 32 bit Windows environments is not successfully responding.");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
}

TEST(CleanupSockets, AfterStartupSucceedsSilently) {
    FakeSocketLibrary library;
    RecordingMessageDialog messages;
    StartSockets(library, messages);
    EXPECT_EQ(CleanupSockets(library, messages), kTrue);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(CleanupSockets, WithoutStartupShowsTheLibrarysMinusOne) {
    FakeSocketLibrary library;
    RecordingMessageDialog messages;
    EXPECT_EQ(CleanupSockets(library, messages), kFalse);
    EXPECT_EQ(messages.shown,
              (std::vector<ShownMessage>{
                  {"Windows Sockets error -1 occurred in Cleanup.", MessageIcon::Exclamation}}));
}

TEST(SystemSocketLibrary, StartsAndCleansUpWithoutAnyMessage) {
    RecordingMessageDialog messages;
    auto& library = platform::SystemSocketLibrary();
    EXPECT_EQ(StartSockets(library, messages), kTrue);
    EXPECT_EQ(CleanupSockets(library, messages), kTrue);
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick
