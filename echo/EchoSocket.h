// The echo program's one ICMP socket: which kind, and opening it.
#pragma once

#include "echo/Contract.h"

#include <cstdint>

namespace tarnwick::echo {

struct EchoSocket {
    int descriptor = -1;
    SocketKind kind = SocketKind::None;
    // Raw: the identifier our filter admits. Ping: 0, the kernel picks and matches its own.
    std::uint16_t identifier = 0;
};

struct OpenedSocket {
    EchoSocket socket;
    OpenFailure failure = OpenFailure::None; // why socket.kind is None
};

// A ping socket where this user's group may use them; otherwise a raw socket, opened with
// CAP_NET_RAW raised for that one call, carrying the locked filter. A raw socket whose filter
// could not be attached is closed, not used.
OpenedSocket OpenEchoSocket();

// Lets through a raw ICMP socket only what can be about this socket's echoes: replies carrying
// identifier, and errors quoting an echo request that carries it; then locks the filter.
bool AttachEchoFilter(int descriptor, std::uint16_t identifier);

} // namespace tarnwick::echo
