// Echo datagrams and reply records as bytes (hand-built packets, lying lengths, exact layouts),
// and the echo program's exchange on this machine's loopback.
#include "echo/IcmpPacket.h"
#include "echo/EchoExchange.h"

#include "support/IcmpPeer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

namespace tarnwick::echo {
namespace {

using testing::Bytes;
using testing::IcmpMessage;
using testing::IpFields;
using testing::Ipv4;
using testing::kEchoThis;
using testing::operator+;

constexpr std::uint32_t kLoopback = 16777343;    // 127.0.0.1
constexpr std::uint32_t kDestination = 33685696; // 192.0.2.2
constexpr std::uint32_t kRouter = 16908480;      // 192.0.2.1
constexpr std::uint32_t kOurHost = 100663488;    // 192.0.2.6
const EchoRequestIdentity kRequest{0x1234, 7, kDestination};

IpFields From(std::uint32_t source, std::uint8_t protocol = 1, std::uint16_t flags = 0x4000) {
    return {source, kOurHost, protocol, 61, 0x10, flags, {}};
}
Bytes OurReply() {
    return Ipv4(From(kDestination), IcmpMessage(0, 0, 0x1234, 7));
}
// Our request as it left (what an ICMP error quotes), and an error about it.
Bytes OurRequest() {
    return Ipv4({kOurHost, kDestination, 1, 64, 0, 0x4000, {}}, IcmpMessage(8, 0, 0x1234, 7));
}
Bytes ErrorAbout(const Bytes& quoted, std::uint8_t type = 3, std::uint8_t code = 1) {
    return Ipv4(From(kRouter), IcmpMessage(type, code, 0, 0, quoted));
}
Bytes With(Bytes bytes, std::size_t offset, std::uint8_t value) {
    bytes.at(offset) = value;
    return bytes;
}
Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// Guards the header fields a raw reply hands on (source, TTL, TOS, flags, options) and that
// padding after the total length is not data.
TEST(RawDatagram, OurReplyGivesTheDataAndTheReplyHeader) {
    IpFields ip = From(kDestination);
    ip.options = {0x01, 0x01, 0x01, 0x00};
    Bytes datagram = Ipv4(ip, IcmpMessage(0, 0, 0x1234, 7));
    datagram.insert(datagram.end(), {0, 0, 0, 0});
    const DecodedDatagram decoded = DecodeRawDatagram(datagram, kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Reply);
    EXPECT_EQ(Bytes(decoded.data.begin(), decoded.data.end()), kEchoThis);
    EXPECT_EQ((std::vector<std::uint32_t>{decoded.ip.sourceAddress, decoded.ip.ttl, decoded.ip.tos,
                                          decoded.ip.flags}),
              (std::vector<std::uint32_t>{kDestination, 61, 0x10, 2}));
    EXPECT_EQ(Bytes(decoded.ip.options.begin(), decoded.ip.options.end()), ip.options);
}

// Each row guards one check a raw socket needs, since it sees all ICMP traffic: someone
// else's replies and errors (the junk rows too: a request, a bad checksum), forgeries,
// corruption and lengths that lie.
TEST(RawDatagram, WhatIsNotAboutOurRequestIsIgnoredWithoutReadingPastIt) {
    const std::pair<const char*, Bytes> rows[] = {
        {"MatchingReplyFromAnotherHost", Ipv4(From(kRouter), IcmpMessage(0, 0, 0x1234, 7))},
        {"CorruptedData", With(OurReply(), 30, 'X')},
        {"NotIcmp", Ipv4(From(kDestination, 17), IcmpMessage(0, 0, 0x1234, 7))},
        {"AFragment", Ipv4(From(kDestination, 1, 0x2000), IcmpMessage(0, 0, 0x1234, 7))},
        {"IpVersion6", With(OurReply(), 0, 0x65)},
        {"HeaderLengthBelowTwenty", With(OurReply(), 0, 0x44)},
        {"HeaderLengthPastTheDatagram", With(OurReply(), 0, 0x4F)},
        {"TotalLengthPastTheDatagram", With(OurReply(), 2, 0x01)},
        {"TotalLengthCuttingTheIcmpHeader", With(With(OurReply(), 2, 0), 3, 27)},
        {"ErrorAboutAnEchoReply", ErrorAbout(With(OurRequest(), 20, 0))},
        {"ErrorAboutUdp", ErrorAbout(With(OurRequest(), 9, 17))},
        {"ErrorQuotingHalfTheIcmpHeader", ErrorAbout(Cut(OurRequest(), 24))},
        {"ErrorQuotingAHeaderPastTheQuote", ErrorAbout(With(Cut(OurRequest(), 28), 0, 0x48))},
        {"Redirect", ErrorAbout(OurRequest(), 5)},
        {"UnknownType", ErrorAbout(OurRequest(), 42)}};
    std::vector<std::pair<std::string, Bytes>> all(std::begin(rows), std::end(rows));
    for (const Bytes& junk : testing::Junk(kOurHost, kDestination, 0x1234, 7))
        all.emplace_back("Junk" + std::to_string(all.size()), Ipv4(From(kDestination), junk));
    for (std::size_t size = 0; size < OurReply().size(); ++size) // cut short anywhere
        all.emplace_back("ReplyCutTo" + std::to_string(size), Cut(OurReply(), size));
    for (const auto& [name, datagram] : all) {
        // An exact-size copy, so that a read past the end is caught by the sanitizers.
        const auto copy = std::make_unique<std::uint8_t[]>(datagram.size());
        std::copy(datagram.begin(), datagram.end(), copy.get());
        EXPECT_EQ(DecodeRawDatagram({copy.get(), datagram.size()}, kRequest).verdict,
                  DatagramVerdict::Unrelated)
            << name;
    }
}

// The ICMP error table: each row guards one type and code and its status, read from an error
// that quotes our request, with the reporting host.
TEST(RawDatagram, ErrorAboutOurRequestGivesItsStatusAndTheReporter) {
    const std::tuple<std::uint8_t, std::uint8_t, std::int32_t> rows[] = {
        {3, 0, 11002},  {3, 1, 11003},  {3, 2, 11004},  {3, 3, 11005}, {3, 4, 11009},
        {3, 5, 11012},  {3, 6, 11002},  {3, 7, 11003},  {3, 9, 11002}, {3, 10, 11003},
        {3, 11, 11002}, {3, 13, 11003}, {3, 99, 11003}, {4, 0, 11016}, {11, 0, 11013},
        {11, 1, 11014}, {12, 0, 11015}, {12, 1, 11015}, {0, 0, 0},     {13, 0, 0}};
    for (const auto& [type, code, status] : rows) {
        const DecodedDatagram decoded =
            DecodeRawDatagram(ErrorAbout(OurRequest(), type, code), kRequest);
        EXPECT_EQ(std::tuple(decoded.verdict, decoded.status, decoded.ip.sourceAddress),
                  std::tuple(status ? DatagramVerdict::Error : DatagramVerdict::Unrelated, status,
                             status ? kRouter : 0))
            << int{type} << "/" << int{code}; // 0: no error about a request
    }
}

// Guards a ping socket's checks (its kernel matched the identifier only): sequence, type,
// sender and length, and which queued errors are ours.
TEST(PingMessage, OnlyOurReplyFromTheAskedHostIsTaken) {
    IpDetails ip{kDestination, 64, 4, 0, {}};
    const Bytes reply = IcmpMessage(0, 0, 0x9999, 7);
    const DecodedDatagram decoded = DecodePingMessage(reply, ip, kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Reply);
    EXPECT_EQ(Bytes(decoded.data.begin(), decoded.data.end()), kEchoThis);
    EXPECT_EQ(decoded.ip.ttl, 64);
    for (const Bytes& other :
         {IcmpMessage(0, 0, 1, 6), IcmpMessage(8, 0, 1, 7), Cut(IcmpMessage(0, 0, 1, 7), 7)})
        EXPECT_EQ(DecodePingMessage(other, ip, kRequest).verdict, DatagramVerdict::Unrelated);
    ip.sourceAddress = kRouter;
    EXPECT_EQ(DecodePingMessage(IcmpMessage(0, 0, 1, 7), ip, kRequest).verdict,
              DatagramVerdict::Unrelated);
    EXPECT_TRUE(QuotesOurRequest(IcmpMessage(8, 0, 1, 7, {}), kRequest));
    for (const Bytes& other : {IcmpMessage(8, 0, 1, 6, {}), IcmpMessage(0, 0, 1, 7, {}),
                               Cut(IcmpMessage(8, 0, 1, 7), 7)})
        EXPECT_FALSE(QuotesOurRequest(other, kRequest));
}

constexpr std::uint8_t kGuard = 0xCC;

std::uint32_t Little32(const Bytes& buffer, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, buffer.data() + offset, 4);
    return value;
}

// Guards each field of the reply record at its offset, little-endian, the data and options
// after the header, the fit check (an exact fit succeeds, a byte less, for data or options, is
// "buffer too small" with no echoed byte written) and nothing written past the record.
TEST(ReplyWriter, WritesTheHeaderLittleEndianThenDataThenOptionsWhenTheyFit) {
    const Bytes options{0x07, 0x03, 0x04, 0x00};
    for (const std::size_t size : {278, 41, 40, 36}) {
        SCOPED_TRACE(size);
        Bytes buffer(size + 8, kGuard);
        const std::int32_t status = WriteEchoReply(
            {buffer.data(), size}, {0x04030201, 0x41, 0x42, 0x02, options}, kEchoThis, 0x0A0B0C0D);
        if (size < 41) {
            EXPECT_EQ(status, 11001);
            EXPECT_EQ(Cut(buffer, 8), (Bytes{1, 2, 3, 4, 0xF9, 0x2A, 0, 0}));
            EXPECT_EQ(Bytes(buffer.begin() + 28, buffer.end()), Bytes(size + 8 - 28, kGuard));
            continue;
        }
        ASSERT_EQ(status, 0);
        EXPECT_EQ(Cut(buffer, 16),
                  (Bytes{1, 2, 3, 4, 0, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 9, 0, 0, 0}));
        // The pointers as offsets into the record, never an address of the writer's.
        EXPECT_EQ(Little32(buffer, 16), 28u);
        EXPECT_EQ(Little32(buffer, 20), 0x04024241u); // TTL, TOS, flags, options size
        EXPECT_EQ(Little32(buffer, 24), 37u);
        EXPECT_EQ(Bytes(buffer.begin() + 28, buffer.end()),
                  kEchoThis + options + Bytes(size + 8 - 41, kGuard));
    }
    Bytes plain(37, kGuard); // no options: an exact fit, and no pointer to them
    EXPECT_EQ(WriteEchoReply(plain, {kLoopback, 0, 0, 0, {}}, kEchoThis, 1), 0);
    EXPECT_EQ(Little32(plain, 24), 0u);
}

// Guards the failure writer: status and reporter, and only whole fields that fit.
TEST(FailureWriter, WritesOnlyWholeFieldsThatFit) {
    const std::pair<std::size_t, long> rows[] = {{0, 0},   {3, 0},   {4, 4},   {8, 8},
                                                 {13, 12}, {27, 24}, {28, 28}, {40, 28}};
    for (const auto& [size, written] : rows) {
        Bytes buffer(size + 4, kGuard);
        WriteEchoFailure({buffer.data(), size}, 11010, kRouter);
        // Zero fields are written too, so the first guard byte marks the end of the writing.
        EXPECT_EQ(std::find(buffer.begin(), buffer.end(), kGuard) - buffer.begin(), written);
        if (size >= 8) {
            EXPECT_EQ(Cut(buffer, 8), (Bytes{192, 0, 2, 1, 0x02, 0x2B, 0, 0})) << size;
        }
    }
}

} // namespace
} // namespace tarnwick::echo
