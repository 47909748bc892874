// The echo probe over scripted services (what it sends, where reply bytes land, what it
// returns, that it releases everything on every way out) and the socket library's start-up
// messages. A real echo through the program: EchoProgramClientTest, and in namespaces of their
// own, IcmpHostilePeerTest.
#include "engine/EchoProbe.h"
#include "engine/EngineError.h"
#include "engine/SocketStartup.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <climits>

namespace tarnwick {
namespace {

using namespace contract::reply_layout;

// Scripted services only: no address used here is ever sent to.
class EchoProbe : public ::testing::Test {
protected:
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::RecordingMessageDialog messages;
    EchoServices services{sockets, icmp, messages};
    EchoReply reply{};
};

// Guards the request (text, destination, no options, the record's size, 200 ms), the caller's
// record as the buffer the service fills and gets back byte for byte, the number returned (the
// round trip after a reply, the negated status of a failure up to the largest, the overflow for a
// status with no negation raised only after everything was released), and parsing before
// opening anything: a rejected address touches no service or record.
TEST_F(EchoProbe, SendsEchoThisAndReturnsTheRoundTripOrTheNegatedStatus) {
    reply.Data[249] = 'w';
    for (const std::int32_t status : {0, 11010, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(status);
        const std::int32_t header[] = {16777343, status, 42, 9, -123456, 0x03024010, 0x01020304};
        icmp.reply = [&header](std::uint8_t* buffer) {
            std::memcpy(buffer, header, sizeof header);
            std::memcpy(buffer + kHeaderSize, "Echo This", 10);
            return header[1] == 0 && buffer[277] == 'w' ? 1u : 0u;
        };
        if (status == INT_MIN)
            EXPECT_THROW(PingAddress("127.0.0.200", reply, services), EngineError);
        else
            EXPECT_EQ(PingAddress("127.0.0.200", reply, services), status ? -status : 42);
        EXPECT_EQ(std::memcmp(&reply, header, sizeof header), 0);
        EXPECT_EQ(std::string(reply.Data), "Echo This");
        EXPECT_EQ(sockets.startups, 0); // a leaked socket start-up
    }
    const auto& call = icmp.sends.at(0);
    EXPECT_EQ(std::tie(call.destination, call.requestData, call.requestOptions, call.replySize,
                       call.timeout),
              std::make_tuple(std::uint32_t(-939523969), "Echo This", nullptr, 278u, 200u));
    EXPECT_EQ(reply.Data[249], 'w');
    EXPECT_EQ(icmp.closed, std::vector<platform::IcmpHandle>(4, 7)); // a leaked ICMP handle
    EXPECT_THROW(PingAddress("1.2.3.4.5", reply, services), EngineError);
    EXPECT_EQ(std::tuple(icmp.opened, sockets.startups, sockets.cleanups, reply.Data[0]),
              std::tuple(4, 0, 4, 'E'));
    EXPECT_TRUE(messages.shown.empty());
}

// Guards a failed start-up that still echoes, then tells of the failed clean-up.
TEST_F(EchoProbe, FailedSocketStartupStillEchoesThenReportsTheCleanup) {
    sockets.startupResult = 10091;
    PingAddress("127.0.0.1", reply, services);
    EXPECT_EQ(icmp.sends.size(), 1u);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].prompt, "Windows Sockets error -1 occurred in Cleanup.");
}

// Guards the version check (major and minor from the right bytes), the socket-count check,
// the texts and icons of the messages, asking for 1.1, and the clean-up's result.
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
        // After a failed start-up, the clean-up's message is checked through the probe above.
        EXPECT_EQ(CleanupSockets(library, messages), row.result ? kFalse : kTrue);
    }
}

} // namespace
} // namespace tarnwick
