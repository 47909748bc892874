// Socket library start-up and clean-up: which message, with which icon.
#include "engine/SocketStartup.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// Guards the version check (major and minor from the right bytes), the socket-count check,
// the texts and icons of the messages, asking for 1.1, and the clean-up's message.
TEST(SocketStartup, TellsTheUserWhatTheLibraryLacks) {
    const std::string v = "Windows Sockets Version ",
                      notSupported =
                          " is not supported by Windows Sockets for 32 bit Windows environments.";
    const struct {
        std::int32_t result;
        std::uint16_t version, sockets;
        std::string message; // empty: success
    } rows[] = {
        {0, 0x0101, 1, ""},
        {0, 0x0002, 1, ""},
        {0, 0x0001, 100, v + "1.0" + notSupported},
        {0, 0x0900, 0, v + "0.9" + notSupported},
        {0, 0x0101, 0, "This application requires a minimum of 1 supported sockets."},
        {10091, 0x0101, 1,
         "Windows Sockets for 32 bit Windows environments is not successfully responding."}};
    for (const auto& row : rows) {
        testing::FakeSocketLibrary library;
        library.startupResult = row.result;
        library.grantedVersion = row.version;
        library.maxSockets = row.sockets;
        testing::RecordingMessageDialog messages;
        EXPECT_EQ(StartSockets(library, messages), row.message.empty() ? kTrue : kFalse);
        EXPECT_EQ(library.lastRequestedVersion, 257);
        const auto icon =
            row.result ? platform::MessageIcon::None : platform::MessageIcon::Exclamation;
        EXPECT_EQ(messages.shown,
                  (row.message.empty() ? std::vector<testing::ShownMessage>{}
                                       : std::vector<testing::ShownMessage>{{row.message, icon}}));
        EXPECT_EQ(CleanupSockets(library, messages), row.result ? kFalse : kTrue);
        if (row.result) {
            EXPECT_EQ(messages.shown.back().prompt,
                      "Windows Sockets error -1 occurred in Cleanup.");
        }
    }
}

} // namespace
} // namespace tarnwick
