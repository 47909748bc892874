// Fuzzes the decoding of a received ICMP datagram and the writing of the reply record into a
// buffer of exactly the size that the input asks for.
//
// Input: a 15-byte preamble, then the packet.
//   [0]      bit 0 set: ping-socket form (ICMP only), else raw-socket form (IPv4 header first)
//   [1..2]   reply buffer size, little-endian, taken modulo 301
//   [3..4]   our identifier, [5..6] our sequence (big-endian, as on the wire)
//   [7..10]  our destination, address value
//   [11..13] TTL, TOS and flags that a ping socket's control messages would give
//   [14]     ping form: number of the packet's leading bytes that are IP options instead
#include "platform/Icmp.h"
#include "platform/IcmpPacket.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

namespace {

using namespace tarnwick::platform;

constexpr std::size_t kPreambleSize = 15;
constexpr std::size_t kLargestReplySize = 300;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ICMP reply property broken: %s\n", what);
    std::abort();
}

void Require(bool condition, const char* what) {
    if (!condition)
        Fail(what);
}

std::uint16_t Big16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::int32_t Little32(const std::uint8_t* bytes) {
    return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                     std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
}

bool Within(std::span<const std::uint8_t> inner, std::span<const std::uint8_t> outer) {
    if (inner.empty())
        return true;
    return inner.data() >= outer.data() &&
           inner.data() + inner.size() <= outer.data() + outer.size();
}

// The ICMP message inside a raw datagram, found independently of the decoder; only called
// for datagrams that the decoder accepted, so the header has been checked already.
std::span<const std::uint8_t> RawIcmpPart(std::span<const std::uint8_t> datagram) {
    const std::size_t headerLength = std::size_t{datagram[0] & 0x0Fu} * 4;
    const std::size_t totalLength = Big16(&datagram[2]);
    Require(headerLength >= 20 && totalLength >= headerLength + 8 && totalLength <= datagram.size(),
            "accepted a datagram whose IPv4 header does not hold an ICMP header");
    return datagram.subspan(headerLength, totalLength - headerLength);
}

void CheckVerdictAgainstIdentity(const DecodedDatagram& decoded, bool pingForm,
                                 std::span<const std::uint8_t> packet,
                                 const EchoRequestIdentity& request) {
    if (decoded.verdict == DatagramVerdict::Unrelated)
        return;
    const std::span<const std::uint8_t> icmp = pingForm ? packet : RawIcmpPart(packet);
    Require(icmp.size() >= 8, "accepted a message shorter than an ICMP header");
    if (decoded.verdict == DatagramVerdict::Reply) {
        Require(icmp[0] == 0, "a message that is not an echo reply taken as the reply");
        Require(Big16(&icmp[6]) == request.sequence, "a reply with another sequence taken");
        // A ping socket's kernel has matched the identifier already.
        Require(pingForm || Big16(&icmp[4]) == request.identifier,
                "a reply with another identifier taken");
        Require(Within(decoded.data, icmp.subspan(8)), "reply data outside the message");
    } else {
        Require(icmp[0] != 0 && icmp[0] != 8, "an echo message taken as an error");
    }
}

void CheckReplyRecord(const DecodedDatagram& decoded, std::span<std::uint8_t> buffer) {
    const std::size_t size = buffer.size();
    if (decoded.verdict == DatagramVerdict::Reply) {
        const std::int32_t status = WriteEchoReply(buffer, decoded.ip, decoded.data, 17);
        const bool fits =
            size >= reply_layout::kHeaderSize + decoded.data.size() + decoded.ip.options.size();
        if (status == ip_status::kSuccess) {
            Require(fits, "success although the data does not fit");
            Require(Little32(&buffer[reply_layout::kStatus]) == 0, "success with Status not 0");
            Require(Little32(&buffer[reply_layout::kAddress]) ==
                        static_cast<std::int32_t>(decoded.ip.sourceAddress),
                    "success with another Address");
            Require(static_cast<std::size_t>(buffer[reply_layout::kDataSize] |
                                             buffer[reply_layout::kDataSize + 1] << 8) ==
                        decoded.data.size(),
                    "DataSize is not the echoed size");
            Require(std::equal(decoded.data.begin(), decoded.data.end(),
                               buffer.begin() + reply_layout::kHeaderSize),
                    "echoed bytes not at the data offset");
        } else {
            Require(status == ip_status::kBufTooSmall, "a reply failed with another status");
            Require(!fits, "a reply that fits reported as too big");
            if (size >= reply_layout::kStatus + 4)
                Require(Little32(&buffer[reply_layout::kStatus]) == status,
                        "the failure's status not in Status");
        }
    } else if (decoded.verdict == DatagramVerdict::Error) {
        Require(decoded.status >= ip_status::kDestNetUnreachable &&
                    decoded.status <= ip_status::kGeneralFailure,
                "an ICMP error without an IP status");
        WriteEchoFailure(buffer, decoded.status, decoded.ip.sourceAddress);
        if (size >= reply_layout::kStatus + 4)
            Require(Little32(&buffer[reply_layout::kStatus]) == decoded.status,
                    "an error's status not in Status");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kPreambleSize)
        return 0;
    const bool pingForm = (data[0] & 1) != 0;
    const std::size_t replySize = (data[1] | std::size_t{data[2]} << 8) % (kLargestReplySize + 1);
    EchoRequestIdentity request;
    request.identifier = Big16(&data[3]);
    request.sequence = Big16(&data[5]);
    request.destination = static_cast<std::uint32_t>(Little32(&data[7]));
    IpDetails ip;
    ip.ttl = data[11];
    ip.tos = data[12];
    ip.flags = data[13];

    std::span<const std::uint8_t> packet(data + kPreambleSize, size - kPreambleSize);
    DecodedDatagram decoded;
    if (pingForm) {
        const std::size_t optionsSize = std::min<std::size_t>(data[14] % 41, packet.size());
        ip.options = packet.first(optionsSize);
        packet = packet.subspan(optionsSize);
        decoded = DecodePingMessage(packet, ip, request);
    } else {
        decoded = DecodeRawDatagram(packet, request);
        Require(Within(decoded.ip.options, packet), "IP options outside the datagram");
    }
    CheckVerdictAgainstIdentity(decoded, pingForm, packet, request);

    // Exactly replySize bytes, so that AddressSanitizer reports any write past the end.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[replySize]);
    std::fill_n(buffer.get(), replySize, std::uint8_t{0xA5});
    CheckReplyRecord(decoded, std::span<std::uint8_t>(buffer.get(), replySize));
    return 0;
}
