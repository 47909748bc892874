// Opening the socket: ping sockets need no privilege, raw ones CAP_NET_RAW for the call.
#include "echo/EchoSocket.h"

#include "echo/Confinement.h"

#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace tarnwick::echo {
namespace {

void EnableOption(int descriptor, int level, int option) {
    const int on = 1;
    // Without these we still get replies, only with fewer header details.
    (void)setsockopt(descriptor, level, option, &on, sizeof on);
}

// socket() fails with EACCES when the group is outside net.ipv4.ping_group_range (the default
// "1 0" admits nobody), EPERM where a security module forbids it, and EAFNOSUPPORT or
// EPROTONOSUPPORT on kernels built without ping sockets.
int OpenPingSocket() {
    const int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (descriptor < 0)
        return -1;
    // ICMP errors arrive as queued records with type, code and reporting host.
    EnableOption(descriptor, SOL_IP, IP_RECVERR);
    EnableOption(descriptor, SOL_IP, IP_RECVTTL);
    EnableOption(descriptor, SOL_IP, IP_RECVTOS);
    // No IP_RECVOPTS: a reply carries options only when its request did, and ours carry none.
    return descriptor;
}

// Raw sockets share all of the machine's ICMP traffic: ours needs an identifier unlikely to be
// another prober's.
std::uint16_t RandomIdentifier() {
    std::uint16_t identifier = 0;
    if (getrandom(&identifier, sizeof identifier, GRND_NONBLOCK) != sizeof identifier)
        identifier = static_cast<std::uint16_t>(getpid());
    return identifier;
}

// EPERM or EACCES without CAP_NET_RAW, for the raw socket, and the ping socket refused or
// missing from this kernel: a matter of permission. Descriptors or memory running out is not.
OpenFailure FailureOf(int pingError, int rawError) {
    const auto refused = [](int error) { return error == EPERM || error == EACCES; };
    const bool pingMissing = pingError == EAFNOSUPPORT || pingError == EPROTONOSUPPORT;
    return refused(rawError) && (refused(pingError) || pingMissing) ? OpenFailure::NotPermitted
                                                                    : OpenFailure::Unavailable;
}

} // namespace

// The data starts at the IP header, whose length X is taken from the datagram; an error's
// quoted IP header follows its 8-byte ICMP header and has a length of its own.
bool AttachEchoFilter(int descriptor, std::uint16_t identifier) {
    constexpr std::uint8_t kAccept = 20, kDrop = 21; // the last two instructions
    const auto to = [](std::uint8_t target, std::uint8_t from) {
        return static_cast<std::uint8_t>(target - from - 1);
    };
    sock_filter program[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                    // 0: X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                     // 1: ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2), // 2
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                     // 3: identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, to(kAccept, 4), to(kDrop, 4)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_DEST_UNREACH, 3, 0),  // 5
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_SOURCE_QUENCH, 2, 0), // 6
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TIME_EXCEEDED, 1, 0), // 7
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_PARAMETERPROB, 0, to(kDrop, 8)),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 9), // 9: quoted protocol
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_ICMP, 0, to(kDrop, 10)),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),     // 11: quoted length
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F), // 12
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),    // 13
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),    // 14
        BPF_STMT(BPF_MISC | BPF_TAX, 0),           // 15: X = both lengths
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),     // 16: quoted type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHO, 0, to(kDrop, 17)),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 8 + 4),             // 18: quoted identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1), // 19
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),                 // 20: accept whole
        BPF_STMT(BPF_RET | BPF_K, 0),                          // 21: drop
    };
    static_assert(std::size(program) == kDrop + 1);
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    const int on = 1;
    // Locked, so that whoever takes over this process cannot take the filter off and read
    // everything.
    return setsockopt(descriptor, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0 &&
           setsockopt(descriptor, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) == 0;
}

OpenedSocket OpenEchoSocket() {
    if (const int ping = OpenPingSocket(); ping >= 0)
        return {{ping, SocketKind::Ping, 0}, OpenFailure::None};
    const int pingError = errno;

    const bool raised = RaiseNetRaw();
    const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int rawError = errno;
    if (raised)
        LowerNetRaw();
    if (raw < 0)
        return {{}, FailureOf(pingError, rawError)};
    const std::uint16_t identifier = RandomIdentifier();
    if (!AttachEchoFilter(raw, identifier)) {
        // Kept without its filter, it would collect the machine's traffic.
        close(raw);
        return {{}, OpenFailure::Unavailable};
    }
    return {{raw, SocketKind::Raw, identifier}, OpenFailure::None};
}

} // namespace tarnwick::echo
