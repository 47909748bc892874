// The echo probe over scripted services: call order, arguments, record bytes and results.
#include "engine/EchoProbe.h"
#include "engine/EngineError.h"

#include "support/FakeIcmpService.h"
#include "support/FakeSocketLibrary.h"
#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace tarnwick {
namespace {

using platform::MessageIcon;
using namespace platform::reply_layout;
using testing::FakeIcmpService;
using testing::FakeSocketLibrary;
using testing::PutInt16;
using testing::PutInt32;
using testing::RecordingMessageDialog;

// Scripted services only: no address used here is ever sent to.
class EchoProbe : public ::testing::Test {
protected:
    FakeSocketLibrary sockets;
    FakeIcmpService icmp;
    RecordingMessageDialog messages;
    EchoServices services{sockets, icmp, messages};
    EchoReply reply{};
};

TEST_F(EchoProbe, SendsEchoThisToTheParsedAddressWithTheFixedArguments) {
    PingAddress("127.0.0.1", reply, services);
    ASSERT_EQ(icmp.sends.size(), 1u);
    const auto& call = icmp.sends[0];
    EXPECT_EQ(call.handle, 7);
    EXPECT_EQ(call.destination, 16777343u);
    EXPECT_EQ(call.requestData, "Echo This");
    EXPECT_EQ(call.requestOptions, nullptr);
    EXPECT_EQ(call.replySize, 278u);
    EXPECT_EQ(call.timeout, 200u);
}

TEST_F(EchoProbe, NegativeAddressValueGoesOutAsItsBits) {
    PingAddress("10.0.0.200", reply, services);
    ASSERT_EQ(icmp.sends.size(), 1u);
    EXPECT_EQ(icmp.sends[0].destination, static_cast<std::uint32_t>(-939524086));
}

TEST_F(EchoProbe, FewerThanFourPartsPingAddressZero) {
    PingAddress("10.0.0", reply, services);
    ASSERT_EQ(icmp.sends.size(), 1u);
    EXPECT_EQ(icmp.sends[0].destination, 0u);
}

TEST_F(EchoProbe, ReplyBytesLandInTheRecordFieldsAndTheResultIsTheRoundTrip) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kAddress, 16777343);
        PutInt32(buffer, kStatus, 0);
        PutInt32(buffer, kRoundTripTime, 42);
        PutInt16(buffer, kDataSize, 9);
        PutInt16(buffer, kReserved, -2);
        PutInt32(buffer, kDataPointer, -123456);
        buffer[kTtl] = 64;
        buffer[kTos] = 0x10;
        buffer[kFlags] = 2;
        buffer[kOptionsSize] = 0;
        PutInt32(buffer, kOptionsData, 0x01020304);
        std::memcpy(buffer + kHeaderSize, "Echo This", 9);
        buffer[277] = 'Z';
        return 1u;
    };
    EXPECT_EQ(PingAddress("127.0.0.1", reply, services), 42);
    EXPECT_EQ(reply.Address, 16777343);
    EXPECT_EQ(reply.Status, 0);
    EXPECT_EQ(reply.RoundTripTime, 42);
    EXPECT_EQ(reply.DataSize, 9);
    EXPECT_EQ(reply.Reserved, -2);
    EXPECT_EQ(reply.DataPointer, -123456);
    EXPECT_EQ(reply.Ttl, 64);
    EXPECT_EQ(reply.Tos, 0x10);
    EXPECT_EQ(reply.Flags, 2);
    EXPECT_EQ(reply.OptionsData, 0x01020304);
    EXPECT_EQ(std::string(reply.Data), "Echo This");
    EXPECT_EQ(reply.Data[249], 'Z');
}

TEST_F(EchoProbe, TheCallersRecordIsTheBufferTheServiceSees) {
    reply.RoundTripTime = 5;
    reply.Data[0] = 'q';
    reply.Data[249] = 'w';
    PingAddress("127.0.0.1", reply, services);
    const auto& before = icmp.sends.at(0).bufferBefore;
    ASSERT_EQ(before.size(), 278u);
    EXPECT_EQ(before[kRoundTripTime], 5);
    EXPECT_EQ(before[kHeaderSize], 'q');
    EXPECT_EQ(before[277], 'w');
}

TEST_F(EchoProbe, FailureReturnsTheNegatedStatusAndKeepsWhatTheServiceWrote) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, 11010);
        return 0u;
    };
    EXPECT_EQ(PingAddress("192.0.2.1", reply, services), -11010);
    EXPECT_EQ(reply.Status, 11010);
    EXPECT_EQ(reply.RoundTripTime, 0);
}

TEST_F(EchoProbe, FailureThatWritesNothingReturnsZero) {
    EXPECT_EQ(PingAddress("192.0.2.1", reply, services), 0);
}

TEST_F(EchoProbe, OpensAndClosesEverythingOnceInOrder) {
    PingAddress("127.0.0.1", reply, services);
    EXPECT_EQ(icmp.opened, 1);
    EXPECT_EQ(icmp.closed, std::vector<platform::IcmpHandle>{7});
    EXPECT_EQ(sockets.cleanups, 1);
    EXPECT_EQ(sockets.startups, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EchoProbe, ParserErrorLeavesBeforeAnythingIsOpenedOrWritten) {
    reply.Data[0] = 'k';
    EXPECT_THROW(PingAddress("1.2.3.4.5", reply, services), EngineError);
    EXPECT_EQ(sockets.cleanups, 0);
    EXPECT_EQ(sockets.lastRequestedVersion, 0);
    EXPECT_EQ(icmp.opened, 0);
    EXPECT_TRUE(icmp.sends.empty());
    EXPECT_EQ(reply.Data[0], 'k');
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EchoProbe, FailedSocketStartupStillEchoesThenReportsTheCleanup) {
    sockets.startupResult = 10091;
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt16(buffer, kDataSize, 9);
        return 1u;
    };
    PingAddress("127.0.0.1", reply, services);
    EXPECT_EQ(icmp.sends.size(), 1u);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(messages.shown[1].prompt, "Windows Sockets error -1 occurred in Cleanup.");
}

TEST_F(EchoProbe, LowVersionShowsItsMessageAndTheLibraryIsStillEnded) {
    sockets.grantedVersion = 0x0001;
    PingAddress("127.0.0.1", reply, services);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(sockets.startups, 0);
    EXPECT_EQ(icmp.sends.size(), 1u);
}

TEST_F(EchoProbe, StatusWithoutNegationRaisesOverflowAfterReleasingEverything) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, INT_MIN);
        return 0u;
    };
    try {
        PingAddress("127.0.0.1", reply, services);
        FAIL() << "expected an overflow";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineErrorKind::Overflow);
    }
    EXPECT_EQ(icmp.closed.size(), 1u);
    EXPECT_EQ(sockets.cleanups, 1);
    EXPECT_EQ(sockets.startups, 0);
}

TEST_F(EchoProbe, LargestStatusNegatesExactly) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, INT_MAX);
        return 0u;
    };
    EXPECT_EQ(PingAddress("127.0.0.1", reply, services), -INT_MAX);
}

} // namespace
} // namespace tarnwick
