// One echo at a time over the program's one socket: build, send, wait, receive, and write the
// reply record.
#pragma once

#include "echo/EchoSocket.h"
#include "echo/Requests.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnwick::echo {

struct EchoOutcome {
    std::uint32_t replies = 0;  // 1 when the record holds a successful reply
    std::size_t recordSize = 0; // bytes of record written
    bool readerGone = false;    // the watched descriptor's reader left during the wait
};

class EchoExchange {
public:
    // watch: a descriptor whose reader leaving ends a wait early (-1: none).
    explicit EchoExchange(EchoSocket socket, int watch = -1) : socket_(socket), watch_(watch) {}

    // Sends one echo request with request's data to its destination and waits up to its
    // timeout; writes the reply record, or the failure's, into record (never past it).
    // Replies and errors about earlier requests are told apart by sequence and never decide
    // this one.
    EchoOutcome Echo(const EchoRequest& request, std::span<std::uint8_t> record);

private:
    bool SetHeaderOptions(std::uint8_t ttl, std::uint8_t tos);

    EchoSocket socket_;
    int watch_;
    std::uint16_t sequence_ = 0;
    int ttl_ = 0; // what the socket sends with now: 0 the system's defaults
    int tos_ = 0;
};

} // namespace tarnwick::echo
