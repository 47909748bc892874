// The echo probe against a hostile peer: replies with other identifiers or sequences, cut
// short, oversized or with bad checksums, and errors about other packets, from a raw-socket
// responder in a namespace of its own, joined to the probe's namespace by a veth pair.
#include "engine/AddressParser.h"
#include "engine/EchoProbe.h"
#include "platform/Icmp.h"

#include "support/IcmpCraft.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespace.h"
#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::EchoMessage;
using testing::ErrorQuotingRequest;
using testing::IcmpPeer;
using testing::JoinedNamespaces;
using testing::PeerScript;
using testing::SeenRequest;
using testing::TextBytes;

// A documentation range that exists only inside the test's namespaces.
constexpr char kNearAddress[] = "198.51.100.1";
constexpr char kFarAddress[] = "198.51.100.2";

Bytes Filled(std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>('A' + i % 26);
    return data;
}

Bytes OurReply(const SeenRequest& request, const Bytes& data) {
    return EchoMessage(0, request.identifier, request.sequence, data);
}

// Everything a careless probe might take for its answer; none of it is.
std::vector<Bytes> Junk(const SeenRequest& request) {
    const std::uint16_t id = request.identifier;
    const std::uint16_t seq = request.sequence;
    const Bytes text = TextBytes("Echo This");
    std::vector<Bytes> junk{
        EchoMessage(0, id ^ 0x5A5A, seq, text),                        // another identifier
        EchoMessage(0, id, static_cast<std::uint16_t>(seq + 1), text), // another sequence
        EchoMessage(0, id, static_cast<std::uint16_t>(seq - 1), text), // a late earlier reply
        EchoMessage(0, id ^ 0x0001, seq, Filled(300)),                 // oversized, not ours
        EchoMessage(8, id, seq, text),                                 // our request bounced back
        EchoMessage(42, id, seq, text),                                // a type nobody knows
    };
    Bytes badChecksum = OurReply(request, TextBytes("Echo That"));
    badChecksum[3] ^= 0xFF;
    junk.push_back(badChecksum);
    // Headers cut short: no sequence, half a sequence.
    for (const std::size_t size : {4, 7}) {
        Bytes cut = OurReply(request, text);
        cut.resize(size);
        testing::SetIcmpChecksum(cut);
        junk.push_back(cut);
    }
    // Errors about someone else's packets: another identifier, another sequence, another
    // destination, and a quote too short to say whose it is.
    const in_addr_t source = request.source;
    const in_addr_t destination = request.destination;
    junk.push_back(ErrorQuotingRequest(3, 1, source, destination, id ^ 0x5A5A, seq));
    junk.push_back(
        ErrorQuotingRequest(11, 0, source, destination, id, static_cast<std::uint16_t>(seq + 1)));
    junk.push_back(ErrorQuotingRequest(3, 3, source, inet_addr("192.0.2.99"), id, seq));
    Bytes shortQuote = ErrorQuotingRequest(3, 1, source, destination, id, seq);
    shortQuote.resize(8 + 20 + 4);
    testing::SetIcmpChecksum(shortQuote);
    junk.push_back(shortQuote);
    return junk;
}

std::vector<Bytes> Then(std::vector<Bytes> first, const Bytes& last) {
    first.push_back(last);
    return first;
}

struct ProbeOutcome {
    bool probed = false;
    std::int32_t result = 0;
    EchoReply reply{};
    std::chrono::milliseconds elapsed{};
    std::size_t messagesShown = 0;
};

class HostilePeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = testing::NamespacesUnavailableReason())
            GTEST_SKIP() << *reason;
        try {
            namespaces_ = std::make_unique<JoinedNamespaces>("twh", kNearAddress, kFarAddress);
            // Only our responder answers on the far side.
            namespaces_->far().SetSysctl("net.ipv4.icmp_echo_ignore_all", "1");
            // Raw socket in the probe, whatever the host allows: this is what sees the junk.
            namespaces_->near().SetSysctl("net.ipv4.ping_group_range", "1 0");
        } catch (const std::exception& error) {
            GTEST_SKIP() << "network namespaces cannot be made here: " << error.what();
        }
    }

    ProbeOutcome PingThroughPeer(const PeerScript& script) {
        peer_ = std::make_unique<IcmpPeer>(namespaces_->far(), script);
        ProbeOutcome outcome;
        outcome.probed = testing::RunInside(namespaces_->near(), [&] {
            testing::RecordingMessageDialog messages;
            const auto start = std::chrono::steady_clock::now();
            outcome.result = PingAddress(kFarAddress, outcome.reply, SystemEchoServices(messages));
            outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            outcome.messagesShown = messages.shown.size();
        });
        return outcome;
    }

    std::unique_ptr<JoinedNamespaces> namespaces_;
    std::unique_ptr<IcmpPeer> peer_;
};

TEST_F(HostilePeer, OnlyJunkEndsInRequestTimedOutAfterTheTimeout) {
    const ProbeOutcome outcome = PingThroughPeer(Junk);
    ASSERT_TRUE(outcome.probed);
    ASSERT_EQ(peer_->requestsSeen(), 1) << "the request never reached the peer";
    EXPECT_EQ(peer_->packetsSent(), static_cast<int>(Junk({}).size()));
    EXPECT_EQ(outcome.reply.Status, 11010);
    EXPECT_EQ(outcome.result, -11010);
    EXPECT_EQ(outcome.reply.DataSize, 0);
    EXPECT_EQ(outcome.reply.Data[0], '\0');
    EXPECT_GE(outcome.elapsed.count(), 190);
    EXPECT_LT(outcome.elapsed.count(), 1000);
    EXPECT_EQ(outcome.messagesShown, 0u);
}

TEST_F(HostilePeer, OurReplyAfterJunkSucceedsWithOurData) {
    const ProbeOutcome outcome = PingThroughPeer([](const SeenRequest& request) {
        return Then(Junk(request), OurReply(request, TextBytes("Echo This")));
    });
    ASSERT_TRUE(outcome.probed);
    ASSERT_EQ(peer_->requestsSeen(), 1);
    EXPECT_EQ(outcome.reply.Status, 0);
    EXPECT_EQ(outcome.reply.Address, ParseAddress(kFarAddress));
    EXPECT_EQ(outcome.reply.DataSize, 9);
    EXPECT_EQ(std::string(outcome.reply.Data, 10), std::string("Echo This\0", 10));
    EXPECT_EQ(outcome.result, outcome.reply.RoundTripTime);
    EXPECT_GE(outcome.result, 0);
}

TEST_F(HostilePeer, ErrorQuotingOurRequestAfterJunkGivesItsStatus) {
    const ProbeOutcome outcome = PingThroughPeer([](const SeenRequest& request) {
        return Then(Junk(request), ErrorQuotingRequest(3, 1, request.source, request.destination,
                                                       request.identifier, request.sequence));
    });
    ASSERT_TRUE(outcome.probed);
    ASSERT_EQ(peer_->requestsSeen(), 1);
    EXPECT_EQ(outcome.reply.Status, 11003);
    EXPECT_EQ(outcome.result, -11003);
    EXPECT_EQ(outcome.reply.Address, ParseAddress(kFarAddress));
}

// Our own reply with more data than the 250-byte data area holds.
struct OversizedRow {
    const char* name;
    std::size_t dataSize;
    std::int32_t status;
};

void PrintTo(const OversizedRow& row, std::ostream* out) {
    *out << row.name;
}

class HostilePeerData : public HostilePeer, public ::testing::WithParamInterface<OversizedRow> {};

TEST_P(HostilePeerData, OurReplyFitsTheDataAreaOrIsBufTooSmall) {
    const Bytes data = Filled(GetParam().dataSize);
    const ProbeOutcome outcome = PingThroughPeer([&data](const SeenRequest& request) {
        return std::vector<Bytes>{OurReply(request, data)};
    });
    ASSERT_TRUE(outcome.probed);
    ASSERT_EQ(peer_->requestsSeen(), 1);
    EXPECT_EQ(outcome.reply.Status, GetParam().status);
    if (GetParam().status == 0) {
        EXPECT_EQ(outcome.result, outcome.reply.RoundTripTime);
        EXPECT_EQ(outcome.reply.DataSize, static_cast<std::int16_t>(data.size()));
        EXPECT_EQ(std::memcmp(outcome.reply.Data, data.data(), data.size()), 0);
    } else {
        EXPECT_EQ(outcome.result, -GetParam().status);
        EXPECT_EQ(outcome.reply.DataSize, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(DataSizes, HostilePeerData,
                         ::testing::Values(OversizedRow{"FillsTheDataAreaExactly", 250, 0},
                                           OversizedRow{"OneByteTooMany", 251, 11001},
                                           OversizedRow{"MoreThanTheWholeRecord", 300, 11001},
                                           OversizedRow{"LargestDatagram", 1400, 11001}),
                         [](const auto& info) { return std::string(info.param.name); });

// The service called directly with reply buffers of every awkward size, each followed by
// guard bytes that must stay untouched.
struct BufferRow {
    const char* name;
    std::uint32_t replySize;
    bool holdsTheReply;
};

void PrintTo(const BufferRow& row, std::ostream* out) {
    *out << row.name;
}

class HostilePeerBuffer : public HostilePeer, public ::testing::WithParamInterface<BufferRow> {};

TEST_P(HostilePeerBuffer, NeverWritesPastTheReplySize) {
    constexpr std::size_t kGuardSize = 64;
    const std::uint32_t replySize = GetParam().replySize;
    std::vector<std::uint8_t> buffer(replySize + kGuardSize, 0xA5);
    std::uint32_t replies = 99;
    peer_ = std::make_unique<IcmpPeer>(namespaces_->far(), [](const SeenRequest& request) {
        return Then(Junk(request), OurReply(request, Filled(300)));
    });
    const bool probed = testing::RunInside(namespaces_->near(), [&] {
        platform::IcmpService& icmp = platform::SystemIcmpService();
        const platform::IcmpHandle handle = icmp.IcmpCreateFile();
        replies = icmp.IcmpSendEcho(handle, static_cast<std::uint32_t>(ParseAddress(kFarAddress)),
                                    "Echo This", 9, nullptr, buffer.data(), replySize, 200);
        icmp.IcmpCloseHandle(handle);
    });
    ASSERT_TRUE(probed);
    EXPECT_EQ(replies, GetParam().holdsTheReply ? 1u : 0u);
    for (std::size_t i = replySize; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xA5) << "byte " << i << " past a reply size of " << replySize;
    if (replySize >= 8) {
        std::int32_t status = 0;
        std::memcpy(&status, buffer.data() + 4, 4);
        EXPECT_EQ(status, GetParam().holdsTheReply ? 0 : 11001);
    }
}

INSTANTIATE_TEST_SUITE_P(ReplySizes, HostilePeerBuffer,
                         ::testing::Values(BufferRow{"Nothing", 0, false},
                                           BufferRow{"HalfAStatus", 6, false},
                                           BufferRow{"AddressAndStatus", 8, false},
                                           BufferRow{"OneShortOfTheHeader", 27, false},
                                           BufferRow{"HeaderOnly", 28, false},
                                           BufferRow{"OneShortOfTheRequestData", 36, false},
                                           BufferRow{"TheRecord", 278, false},
                                           BufferRow{"OneShortOfTheOversizedReply", 327, false},
                                           BufferRow{"HoldsTheOversizedReply", 328, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarnwick
