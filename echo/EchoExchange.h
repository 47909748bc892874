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

// As ping allows a user: echo requests at least 2 ms apart, 500 a second at most.
inline constexpr std::int64_t kUserPaceMicroseconds = 2000;

class EchoExchange {
public:
    // watch: a descriptor whose reader leaving ends a wait early (-1: none). paced: send no
    // closer than kUserPaceMicroseconds apart, waiting before an echo's start (its round trip
    // does not count the wait). Maps the packet area, so it is made before the system-call
    // filter forbids that.
    explicit EchoExchange(EchoSocket socket, int watch = -1, bool paced = false);
    ~EchoExchange();
    EchoExchange(const EchoExchange&) = delete;
    EchoExchange& operator=(const EchoExchange&) = delete;

    // The one address every echo request is sent from: its type and code (an echo request's)
    // lie on a read-only page, the rest of the packet on writable ones. Null when the area
    // could not be made, and then no echo is sent.
    const std::uint8_t* SendBuffer() const { return packet_.data(); }

    // Sends one echo request with request's data to its destination and waits up to its
    // timeout; writes the reply record, or the failure's, into record (never past it).
    // Replies and errors about earlier requests are told apart by sequence and never decide
    // this one.
    EchoOutcome Echo(const EchoRequest& request, std::span<std::uint8_t> record);

private:
    EchoSocket socket_;
    int watch_;
    bool paced_;
    std::int64_t nextSend_ = 0; // paced: the monotonic microsecond before which none is sent
    std::uint16_t sequence_ = 0;
    std::span<std::uint8_t> mapping_; // the whole area, read-only first page included
    std::span<std::uint8_t> packet_;
};

} // namespace tarnwick::echo
