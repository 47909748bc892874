// Echo datagrams and reply records as bytes: hand-built packets, lying lengths, exact layouts.
#include "platform/IcmpPacket.h"
#include "platform/Icmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwick::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoopback = 16777343;    // 127.0.0.1
constexpr std::uint32_t kDestination = 33685696; // 192.0.2.2
constexpr std::uint32_t kRouter = 16908480;      // 192.0.2.1
constexpr std::uint32_t kOurHost = 100663488;    // 192.0.2.6
const EchoRequestIdentity kRequest{0x1234, 7, kDestination};

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Checksum written independently of the code under test: 16-bit big-endian words summed
// with end-around carry.
void SetChecksum(Bytes& message, std::size_t checksumOffset, std::size_t start, std::size_t end) {
    message[checksumOffset] = message[checksumOffset + 1] = 0;
    unsigned long sum = 0;
    for (std::size_t i = start; i < end; i += 2)
        sum += (message[i] << 8) + (i + 1 < end ? message[i + 1] : 0);
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    message[checksumOffset] = static_cast<std::uint8_t>(~sum >> 8);
    message[checksumOffset + 1] = static_cast<std::uint8_t>(~sum);
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t identifier, std::uint16_t sequence,
           const Bytes& payload) {
    Bytes message{type,
                  code,
                  0,
                  0,
                  static_cast<std::uint8_t>(identifier >> 8),
                  static_cast<std::uint8_t>(identifier),
                  static_cast<std::uint8_t>(sequence >> 8),
                  static_cast<std::uint8_t>(sequence)};
    message.insert(message.end(), payload.begin(), payload.end());
    SetChecksum(message, 2, 0, message.size());
    return message;
}

struct IpFields {
    std::uint32_t source = kDestination;
    std::uint32_t destination = kOurHost;
    std::uint8_t protocol = 1;
    std::uint8_t ttl = 61;
    std::uint8_t tos = 0x10;
    std::uint16_t flagsAndFragment = 0x4000; // don't fragment
    Bytes options;
};

Bytes Ip(const IpFields& fields, const Bytes& payload) {
    const std::size_t headerLength = 20 + fields.options.size();
    const std::size_t total = headerLength + payload.size();
    Bytes datagram{static_cast<std::uint8_t>(0x40 | headerLength / 4),
                   fields.tos,
                   static_cast<std::uint8_t>(total >> 8),
                   static_cast<std::uint8_t>(total),
                   0xAB,
                   0xCD,
                   static_cast<std::uint8_t>(fields.flagsAndFragment >> 8),
                   static_cast<std::uint8_t>(fields.flagsAndFragment),
                   fields.ttl,
                   fields.protocol,
                   0,
                   0};
    for (const std::uint32_t address : {fields.source, fields.destination})
        for (int i = 0; i < 4; ++i)
            datagram.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    datagram.insert(datagram.end(), fields.options.begin(), fields.options.end());
    SetChecksum(datagram, 10, 0, headerLength);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}

Bytes OurReply(const Bytes& data = Text("Echo This")) {
    return Ip({}, Icmp(kIcmpEchoReply, 0, kRequest.identifier, kRequest.sequence, data));
}

// Our request as it left: what an ICMP error quotes.
Bytes OurRequestAsSent(std::uint16_t identifier = kRequest.identifier,
                       std::uint16_t sequence = kRequest.sequence,
                       std::uint32_t destination = kDestination) {
    IpFields fields;
    fields.source = kOurHost;
    fields.destination = destination;
    return Ip(fields, Icmp(kIcmpEchoRequest, 0, identifier, sequence, Text("Echo This")));
}

Bytes ErrorFrom(std::uint32_t reporter, std::uint8_t type, std::uint8_t code, const Bytes& quoted) {
    IpFields fields;
    fields.source = reporter;
    return Ip(fields, Icmp(type, code, 0, 0, quoted));
}

std::string AsText(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// --- Checksum and request ---

TEST(IcmpChecksum, MatchesTheWorkedExampleOfRfc1071) {
    const Bytes words{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(InternetChecksum(words), 0x220D);
}

TEST(IcmpChecksum, PadsAnOddLastByteWithZero) {
    EXPECT_EQ(InternetChecksum(Bytes{0x12, 0x34, 0x56}),
              InternetChecksum(Bytes{0x12, 0x34, 0x56, 0}));
    EXPECT_EQ(InternetChecksum(Bytes{}), 0xFFFF);
}

TEST(EchoRequestBuilder, WritesTypeIdentifierSequenceDataAndAValidChecksum) {
    Bytes out(40, 0xEE);
    ASSERT_EQ(BuildEchoRequest(out, 0x1234, 0x0102, Text("Echo This")), 17u);
    const Bytes expected = Icmp(kIcmpEchoRequest, 0, 0x1234, 0x0102, Text("Echo This"));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 17), expected);
    EXPECT_EQ(out[17], 0xEE);
}

TEST(EchoRequestBuilder, RefusesAnOutputTooSmallAndLeavesItAlone) {
    Bytes out(16, 0xEE);
    EXPECT_EQ(BuildEchoRequest(out, 1, 1, Text("Echo This")), 0u);
    EXPECT_EQ(out, Bytes(16, 0xEE));
}

// --- Raw datagrams: replies ---

TEST(RawDatagram, OurReplyGivesTheDataAndTheReplyHeader) {
    IpFields fields;
    fields.options = {0x01, 0x01, 0x01, 0x00}; // no-operations, end of list
    const Bytes datagram = Ip(
        fields, Icmp(kIcmpEchoReply, 0, kRequest.identifier, kRequest.sequence, Text("Echo This")));
    const DecodedDatagram decoded = DecodeRawDatagram(datagram, kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Reply);
    EXPECT_EQ(AsText(decoded.data), "Echo This");
    EXPECT_EQ(decoded.ip.sourceAddress, kDestination);
    EXPECT_EQ(decoded.ip.ttl, 61);
    EXPECT_EQ(decoded.ip.tos, 0x10);
    EXPECT_EQ(decoded.ip.flags, 2); // don't fragment
    EXPECT_EQ(Bytes(decoded.ip.options.begin(), decoded.ip.options.end()), fields.options);
}

TEST(RawDatagram, PaddingAfterTheTotalLengthIsNotData) {
    Bytes datagram = OurReply();
    datagram.insert(datagram.end(), {0, 0, 0, 0});
    const DecodedDatagram decoded = DecodeRawDatagram(datagram, kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Reply);
    EXPECT_EQ(AsText(decoded.data), "Echo This");
    EXPECT_TRUE(decoded.ip.options.empty());
}

struct UnrelatedCase {
    const char* name;
    Bytes datagram;
    friend void PrintTo(const UnrelatedCase& row, std::ostream* out) { *out << row.name; }
};

class RawDatagramUnrelated : public ::testing::TestWithParam<UnrelatedCase> {};

TEST_P(RawDatagramUnrelated, IsIgnored) {
    const Bytes& datagram = GetParam().datagram;
    // An exact-size copy, so that a read past the end is caught by the sanitizers.
    const auto copy = std::make_unique<std::uint8_t[]>(datagram.size() + 1);
    std::copy(datagram.begin(), datagram.end(), copy.get());
    const DecodedDatagram decoded = DecodeRawDatagram({copy.get(), datagram.size()}, kRequest);
    EXPECT_EQ(decoded.verdict, DatagramVerdict::Unrelated);
}

Bytes With(Bytes bytes, std::size_t offset, std::uint8_t value) {
    bytes.at(offset) = value;
    return bytes;
}

Bytes Flipped(Bytes bytes, std::size_t offset) {
    bytes.at(offset) ^= 0xFF;
    return bytes;
}

Bytes Truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawDatagramUnrelated,
    ::testing::Values(
        UnrelatedCase{"SomeoneElsesIdentifier",
                      Ip({}, Icmp(kIcmpEchoReply, 0, 0x4321, kRequest.sequence,
                                  Text("Echo This")))},
        UnrelatedCase{"AnEarlierSequence",
                      Ip({}, Icmp(kIcmpEchoReply, 0, kRequest.identifier, 6,
                                  Text("Echo This")))},
        UnrelatedCase{"OurOwnRequestSeenOnLoopback", OurRequestAsSent()},
        UnrelatedCase{"MatchingReplyFromAnotherHost",
                      [] {
                          IpFields fromRouter;
                          fromRouter.source = kRouter;
                          return Ip(fromRouter, Icmp(kIcmpEchoReply, 0, kRequest.identifier,
                                                     kRequest.sequence, Text("Echo This")));
                      }()},
        UnrelatedCase{"BadIcmpChecksum", Flipped(OurReply(), 22)},
        UnrelatedCase{"CorruptedData", With(OurReply(), 30, 'X')},
        UnrelatedCase{"NotIcmp", [] {
                          IpFields udp;
                          udp.protocol = 17;
                          return Ip(udp, Icmp(kIcmpEchoReply, 0, kRequest.identifier,
                                              kRequest.sequence, {}));
                      }()},
        UnrelatedCase{"AFragment", [] {
                          IpFields fragment;
                          fragment.flagsAndFragment = 0x2000; // more fragments
                          return Ip(fragment, Icmp(kIcmpEchoReply, 0, kRequest.identifier,
                                                   kRequest.sequence, {}));
                      }()},
        UnrelatedCase{"Empty", {}},
        UnrelatedCase{"ShorterThanAnIpHeader", Truncated(OurReply(), 19)},
        UnrelatedCase{"IpHeaderWithoutIcmpHeader", Truncated(OurReply(), 27)},
        UnrelatedCase{"IpVersion6", With(OurReply(), 0, 0x65)},
        UnrelatedCase{"HeaderLengthBelowTwenty", With(OurReply(), 0, 0x44)},
        UnrelatedCase{"HeaderLengthPastTheDatagram", With(OurReply(), 0, 0x4F)},
        UnrelatedCase{"TotalLengthPastTheDatagram", With(OurReply(), 2, 0x01)},
        UnrelatedCase{"TotalLengthInsideTheHeader", With(With(OurReply(), 2, 0), 3, 19)},
        UnrelatedCase{"TotalLengthCuttingTheIcmpHeader", With(With(OurReply(), 2, 0), 3, 27)},
        UnrelatedCase{"RedirectAboutOurRequest",
                      ErrorFrom(kRouter, 5, 1, OurRequestAsSent())},
        UnrelatedCase{"UnknownTypeAboutOurRequest",
                      ErrorFrom(kRouter, 42, 0, OurRequestAsSent())},
        UnrelatedCase{"ErrorAboutSomeoneElsesIdentifier",
                      ErrorFrom(kRouter, 3, 1, OurRequestAsSent(0x4321))},
        UnrelatedCase{"ErrorAboutAnEarlierSequence",
                      ErrorFrom(kRouter, 3, 1, OurRequestAsSent(kRequest.identifier, 6))},
        UnrelatedCase{"ErrorAboutAnotherDestination",
                      ErrorFrom(kRouter, 3, 1,
                                OurRequestAsSent(kRequest.identifier, kRequest.sequence,
                                                 kLoopback))},
        UnrelatedCase{"ErrorAboutAnEchoReply",
                      ErrorFrom(kRouter, 3, 1, With(OurRequestAsSent(), 20, kIcmpEchoReply))},
        UnrelatedCase{"ErrorAboutUdp", ErrorFrom(kRouter, 3, 3, With(OurRequestAsSent(), 9, 17))},
        UnrelatedCase{"ErrorQuotingOnlyAnIpHeader",
                      ErrorFrom(kRouter, 3, 1, Truncated(OurRequestAsSent(), 20))},
        UnrelatedCase{"ErrorQuotingHalfTheIcmpHeader",
                      ErrorFrom(kRouter, 3, 1, Truncated(OurRequestAsSent(), 24))},
        UnrelatedCase{"ErrorQuotingAHeaderLengthPastTheQuote",
                      ErrorFrom(kRouter, 3, 1, With(Truncated(OurRequestAsSent(), 28), 0, 0x48))},
        UnrelatedCase{"ErrorQuotingNothing", ErrorFrom(kRouter, 3, 1, {})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RawDatagram, EveryCutShortReplyIsIgnoredWithoutReadingPastIt) {
    const Bytes whole = OurReply();
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const auto copy = std::make_unique<std::uint8_t[]>(size + 1);
        std::memcpy(copy.get(), whole.data(), size);
        EXPECT_EQ(DecodeRawDatagram({copy.get(), size}, kRequest).verdict,
                  DatagramVerdict::Unrelated)
            << "cut to " << size << " bytes";
    }
}

// --- Raw datagrams: errors ---

struct ErrorCase {
    const char* name;
    std::uint8_t type;
    std::uint8_t code;
    std::int32_t status;
    friend void PrintTo(const ErrorCase& row, std::ostream* out) { *out << row.name; }
};

class RawDatagramError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RawDatagramError, AboutOurRequestGivesItsStatusAndTheReporter) {
    const ErrorCase& error = GetParam();
    const DecodedDatagram decoded =
        DecodeRawDatagram(ErrorFrom(kRouter, error.type, error.code, OurRequestAsSent()), kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Error);
    EXPECT_EQ(decoded.status, error.status);
    EXPECT_EQ(decoded.ip.sourceAddress, kRouter);
    EXPECT_EQ(StatusForIcmpError(error.type, error.code), error.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawDatagramError,
    ::testing::Values(
        ErrorCase{"NetUnreachable", 3, 0, 11002}, ErrorCase{"HostUnreachable", 3, 1, 11003},
        ErrorCase{"ProtocolUnreachable", 3, 2, 11004}, ErrorCase{"PortUnreachable", 3, 3, 11005},
        ErrorCase{"FragmentationNeeded", 3, 4, 11009}, ErrorCase{"SourceRouteFailed", 3, 5, 11012},
        ErrorCase{"NetUnknown", 3, 6, 11002}, ErrorCase{"HostUnknown", 3, 7, 11003},
        ErrorCase{"NetProhibited", 3, 9, 11002}, ErrorCase{"HostProhibited", 3, 10, 11003},
        ErrorCase{"NetUnreachableForTos", 3, 11, 11002},
        ErrorCase{"AdministrativelyProhibited", 3, 13, 11003},
        ErrorCase{"UnknownUnreachableCode", 3, 99, 11003}, ErrorCase{"SourceQuench", 4, 0, 11016},
        ErrorCase{"TtlExpiredInTransit", 11, 0, 11013},
        ErrorCase{"TtlExpiredInReassembly", 11, 1, 11014},
        ErrorCase{"ParameterProblem", 12, 0, 11015},
        ErrorCase{"ParameterProblemMissingOption", 12, 1, 11015}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RawDatagram, ErrorQuotingOurRequestWithOptionsIsStillOurs) {
    IpFields fields;
    fields.source = kOurHost;
    fields.destination = kDestination;
    fields.options = {0x01, 0x01, 0x01, 0x00};
    const Bytes quoted =
        Ip(fields, Icmp(kIcmpEchoRequest, 0, kRequest.identifier, kRequest.sequence, {}));
    const DecodedDatagram decoded = DecodeRawDatagram(ErrorFrom(kRouter, 11, 0, quoted), kRequest);
    EXPECT_EQ(decoded.verdict, DatagramVerdict::Error);
    EXPECT_EQ(decoded.status, 11013);
}

// --- Ping sockets ---

TEST(PingMessage, OurReplyKeepsTheDetailsFromTheControlMessages) {
    const Bytes options{0x01, 0x00, 0x00, 0x00};
    IpDetails ip;
    ip.sourceAddress = kDestination;
    ip.ttl = 64;
    ip.tos = 4;
    ip.options = options;
    // The kernel writes the socket's own identifier; only the sequence tells requests apart.
    const Bytes message = Icmp(kIcmpEchoReply, 0, 0x9999, kRequest.sequence, Text("Echo This"));
    const DecodedDatagram decoded = DecodePingMessage(message, ip, kRequest);
    ASSERT_EQ(decoded.verdict, DatagramVerdict::Reply);
    EXPECT_EQ(AsText(decoded.data), "Echo This");
    EXPECT_EQ(decoded.ip.sourceAddress, kDestination);
    EXPECT_EQ(decoded.ip.ttl, 64);
    EXPECT_EQ(decoded.ip.tos, 4);
    EXPECT_EQ(decoded.ip.options.size(), 4u);
}

TEST(PingMessage, AReplyFromAnyHostButTheOneAskedIsIgnored) {
    IpDetails ip;
    ip.sourceAddress = kRouter;
    const Bytes message = Icmp(kIcmpEchoReply, 0, 0x9999, kRequest.sequence, Text("Echo This"));
    EXPECT_EQ(DecodePingMessage(message, ip, kRequest).verdict, DatagramVerdict::Unrelated);
}

TEST(PingMessage, LateRepliesRequestsAndCutMessagesAreIgnored) {
    IpDetails ip;
    ip.sourceAddress = kDestination;
    EXPECT_EQ(DecodePingMessage(Icmp(kIcmpEchoReply, 0, 1, 6, {}), ip, kRequest).verdict,
              DatagramVerdict::Unrelated);
    EXPECT_EQ(DecodePingMessage(Icmp(kIcmpEchoRequest, 0, 1, 7, {}), ip, kRequest).verdict,
              DatagramVerdict::Unrelated);
    EXPECT_EQ(
        DecodePingMessage(Truncated(Icmp(kIcmpEchoReply, 0, 1, 7, {}), 7), ip, kRequest).verdict,
        DatagramVerdict::Unrelated);
    EXPECT_EQ(DecodePingMessage({}, ip, kRequest).verdict, DatagramVerdict::Unrelated);
}

TEST(PingMessage, QueuedErrorsAreOursOnlyWhenTheyQuoteOurSequence) {
    EXPECT_TRUE(QuotesOurRequest(Icmp(kIcmpEchoRequest, 0, 1, 7, Text("Echo This")), kRequest));
    EXPECT_TRUE(QuotesOurRequest(Icmp(kIcmpEchoRequest, 0, 1, 7, {}), kRequest));
    EXPECT_FALSE(QuotesOurRequest(Icmp(kIcmpEchoRequest, 0, 1, 6, {}), kRequest));
    EXPECT_FALSE(QuotesOurRequest(Icmp(kIcmpEchoReply, 0, 1, 7, {}), kRequest));
    EXPECT_FALSE(QuotesOurRequest(Truncated(Icmp(kIcmpEchoRequest, 0, 1, 7, {}), 7), kRequest));
    EXPECT_FALSE(QuotesOurRequest({}, kRequest));
}

// --- Status tables ---

TEST(IcmpStatus, MessagesThatAreNotErrorsHaveNoStatus) {
    for (const int type : {0, 1, 2, 5, 8, 9, 10, 13, 14, 255})
        EXPECT_EQ(StatusForIcmpError(static_cast<std::uint8_t>(type), 0), std::nullopt)
            << "type " << type;
}

TEST(SocketErrorStatus, LocalErrorsMapToTheNearestStatus) {
    const std::pair<int, std::int32_t> rows[] = {
        {ENETUNREACH, 11002},  {ENETDOWN, 11002},  {EHOSTUNREACH, 11003}, {EHOSTDOWN, 11003},
        {ECONNREFUSED, 11005}, {EMSGSIZE, 11009},  {ENOBUFS, 11006},      {ENOMEM, 11006},
        {EAGAIN, 11006},       {ETIMEDOUT, 11010}, {EACCES, 11018},       {EADDRNOTAVAIL, 11018},
        {EINVAL, 11011},       {EPERM, 11050},     {EBADF, 11050},        {0, 11050}};
    for (const auto& [errorNumber, status] : rows)
        EXPECT_EQ(StatusForSocketError(errorNumber), status) << "errno " << errorNumber;
}

TEST(AddressValue, FirstDottedPartIsTheLowByte) {
    const std::uint8_t loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(AddressValueFromNetworkBytes(loopback), kLoopback);
    std::uint8_t bytes[4];
    AddressValueToNetworkBytes(static_cast<std::uint32_t>(-939524086), bytes);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{10, 0, 0, 200}));
}

// --- Reply record writer ---

constexpr std::uint8_t kGuard = 0xCC;

std::uint32_t Little32(const Bytes& buffer, std::size_t offset) {
    return buffer[offset] | buffer[offset + 1] << 8 | buffer[offset + 2] << 16 |
           static_cast<std::uint32_t>(buffer[offset + 3]) << 24;
}

TEST(ReplyWriter, WritesTheHeaderLittleEndianThenDataThenOptions) {
    using namespace reply_layout;
    const Bytes options{0x07, 0x03, 0x04, 0x00};
    IpDetails ip;
    ip.sourceAddress = 0x04030201;
    ip.ttl = 0x41;
    ip.tos = 0x42;
    ip.flags = 0x02;
    ip.options = options;
    const Bytes data = Text("Echo This");
    Bytes buffer(278 + 8, kGuard);
    const std::span<std::uint8_t> reply(buffer.data(), 278);
    ASSERT_EQ(WriteEchoReply(reply, ip, data, 0x0A0B0C0D), 0);

    const Bytes header(buffer.begin(), buffer.begin() + 28);
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 16),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 9, 0, 0, 0}));
    EXPECT_EQ(Little32(buffer, kDataPointer),
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer.data() + 28)));
    EXPECT_EQ((Bytes{buffer[kTtl], buffer[kTos], buffer[kFlags], buffer[kOptionsSize]}),
              (Bytes{0x41, 0x42, 0x02, 4}));
    EXPECT_EQ(Little32(buffer, kOptionsData),
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer.data() + 37)));
    EXPECT_EQ(AsText({buffer.data() + 28, 9}), "Echo This");
    EXPECT_EQ(Bytes(buffer.begin() + 37, buffer.begin() + 41), options);
    // The rest of the data area is the caller's: untouched.
    EXPECT_EQ(buffer[41], kGuard);
    EXPECT_EQ(buffer[278], kGuard);
}

TEST(ReplyWriter, ReplyWithoutOptionsHasNoOptionsPointer) {
    Bytes buffer(64, kGuard);
    ASSERT_EQ(WriteEchoReply(buffer, IpDetails{}, Text("x"), 0), 0);
    EXPECT_EQ(buffer[reply_layout::kOptionsSize], 0);
    EXPECT_EQ(Little32(buffer, reply_layout::kOptionsData), 0u);
    EXPECT_EQ(buffer[29], kGuard);
}

TEST(ReplyWriter, ExactFitSucceedsAndOneByteLessIsBufferTooSmall) {
    const Bytes data = Text("Echo This");
    IpDetails ip;
    ip.sourceAddress = kLoopback;

    Bytes exact(37 + 4, kGuard);
    EXPECT_EQ(WriteEchoReply({exact.data(), 37}, ip, data, 1), 0);
    EXPECT_EQ(AsText({exact.data() + 28, 9}), "Echo This");
    EXPECT_EQ(Bytes(exact.begin() + 37, exact.end()), Bytes(4, kGuard));

    Bytes small(36 + 4, kGuard);
    EXPECT_EQ(WriteEchoReply({small.data(), 36}, ip, data, 1), 11001);
    EXPECT_EQ(Little32(small, reply_layout::kStatus), 11001u);
    EXPECT_EQ(Little32(small, reply_layout::kAddress), kLoopback);
    EXPECT_EQ(small[reply_layout::kDataSize], 0);
    // No echoed byte was written, and nothing past the size.
    EXPECT_EQ(Bytes(small.begin() + 28, small.end()), Bytes(12, kGuard));
}

TEST(ReplyWriter, OptionsThatDoNotFitAfterTheDataAreBufferTooSmall) {
    const Bytes options(40, 0x01);
    IpDetails ip;
    ip.options = options;
    Bytes buffer(28 + 9 + 39, kGuard);
    EXPECT_EQ(WriteEchoReply(buffer, ip, Text("Echo This"), 0), 11001);
    EXPECT_EQ(buffer[28], kGuard);
}

TEST(FailureWriter, WritesOnlyWholeFieldsThatFit) {
    const struct {
        std::size_t size;
        std::size_t written;
    } rows[] = {{0, 0}, {3, 0}, {4, 4}, {7, 4}, {8, 8}, {13, 12}, {27, 24}, {28, 28}, {40, 28}};
    for (const auto& row : rows) {
        Bytes buffer(row.size + 4, kGuard);
        WriteEchoFailure({buffer.data(), row.size}, 11010, kRouter);
        std::size_t written = 0;
        while (written < buffer.size() && buffer[written] != kGuard)
            ++written;
        // Zero fields are written too, so the first guard byte marks the end of the writing.
        EXPECT_EQ(written, row.written) << "size " << row.size;
        if (row.size >= 8) {
            EXPECT_EQ(Little32(buffer, reply_layout::kAddress), kRouter);
            EXPECT_EQ(Little32(buffer, reply_layout::kStatus), 11010u);
        }
    }
}

} // namespace
} // namespace tarnwick::platform
