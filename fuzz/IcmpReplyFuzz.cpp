// Fuzzes the decoding of a received ICMP datagram and the writing of the reply record into a
// buffer of exactly the size that the input asks for (so AddressSanitizer sees any overrun).
//
// Input: a 15-byte preamble, then the packet.
//   [0]      bit 0 set: ping-socket form (ICMP only), else raw-socket form (IPv4 header first)
//   [1..2]   reply buffer size, little-endian, taken modulo 301
//   [3..4]   our identifier, [5..6] our sequence (big-endian, as on the wire)
//   [7..10]  our destination, address value
//   [11..13] TTL, TOS and flags that a ping socket's control messages would give
//   [14]     ping form: number of the packet's leading bytes that are IP options instead
#include "echo/IcmpPacket.h"
#include "fuzz/Require.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace tarnwick::echo;
using tarnwick::fuzz::Require;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 15)
        return 0;
    const bool pingForm = (data[0] & 1) != 0;
    const std::size_t replySize = (data[1] | std::size_t{data[2]} << 8) % 301;
    EchoRequestIdentity request{static_cast<std::uint16_t>(data[3] << 8 | data[4]),
                                static_cast<std::uint16_t>(data[5] << 8 | data[6]), 0};
    std::memcpy(&request.destination, data + 7, 4);
    std::span<const std::uint8_t> packet(data + 15, size - 15);
    IpDetails ip{request.destination, data[11], data[12], data[13], {}};
    if (pingForm) {
        ip.options = packet.first(std::min<std::size_t>(data[14] % 41, packet.size()));
        packet = packet.subspan(ip.options.size());
    }
    const DecodedDatagram decoded =
        pingForm ? DecodePingMessage(packet, ip, request) : DecodeRawDatagram(packet, request);
    Require(decoded.data.empty() ||
                (decoded.data.data() >= packet.data() &&
                 decoded.data.data() + decoded.data.size() <= packet.data() + packet.size()),
            "reply data outside the packet");
    if (decoded.verdict != DatagramVerdict::Unrelated)
        Require(decoded.ip.sourceAddress == request.destination ||
                    decoded.verdict == DatagramVerdict::Error,
                "a reply from another host taken");

    std::vector<std::uint8_t> buffer(replySize); // exactly this size, for AddressSanitizer
    const std::span<std::uint8_t> reply(buffer);
    std::int32_t status = decoded.status;
    if (decoded.verdict == DatagramVerdict::Reply) {
        status = WriteEchoReply(reply, decoded.ip, decoded.data, 17);
        const bool fits = replySize >= reply_layout::kHeaderSize + decoded.data.size() +
                                           decoded.ip.options.size();
        Require(status == (fits ? ip_status::kSuccess : ip_status::kBufTooSmall),
                "wrong fit verdict");
    } else if (decoded.verdict == DatagramVerdict::Error) {
        Require(status > ip_status::kSuccess, "an ICMP error without an IP status");
        WriteEchoFailure(reply, status, decoded.ip.sourceAddress);
    }
    if (decoded.verdict != DatagramVerdict::Unrelated && replySize >= 8)
        Require(std::memcmp(&buffer[reply_layout::kStatus], &status, 4) == 0, "Status not written");
    return 0;
}
