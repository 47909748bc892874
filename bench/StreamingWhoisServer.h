// A WHOIS server on 127.0.0.1, in a thread of its own, that streams a long or endless answer.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tarnwick::bench {

struct StreamedAnswer {
    std::int64_t totalBytes = -1; // -1: never stops
    std::size_t pieceBytes = 1024;
    std::size_t lineBytes = 79; // characters before each line end
    std::string lineEnd = "\n"; // empty: one endless line
};

// Serves one connection: waits for the query line, then sends the answer piece by piece
// (one send per piece, no coalescing) and closes, or sends until the client goes away.
class StreamingWhoisServer {
public:
    explicit StreamingWhoisServer(StreamedAnswer answer) : answer_(answer) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~StreamingWhoisServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    StreamingWhoisServer(const StreamingWhoisServer&) = delete;
    StreamingWhoisServer& operator=(const StreamingWhoisServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::int64_t BytesSent() const { return sent_; }
    bool Done() const { return done_; }
    // The bytes the answer consists of, so a client can check what it shows.
    static std::string AnswerText(const StreamedAnswer& answer, std::int64_t bytes) {
        std::string text;
        text.reserve(static_cast<std::size_t>(bytes));
        for (std::int64_t at = 0; at < bytes; ++at) {
            text.push_back(CharacterAt(answer, at));
        }
        return text;
    }

private:
    static char CharacterAt(const StreamedAnswer& answer, std::int64_t at) {
        if (answer.lineEnd.empty()) {
            return 'x';
        }
        const auto column =
            static_cast<std::size_t>(at) % (answer.lineBytes + answer.lineEnd.size());
        return column >= answer.lineBytes ? answer.lineEnd[column - answer.lineBytes]
                                          : static_cast<char>('a' + column % 26);
    }

    void Serve() {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            done_ = true;
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // The query line first, as a real server would.
        char byte = 0;
        while (::recv(client, &byte, 1, 0) == 1 && byte != '\n') {
        }
        std::string piece(answer_.pieceBytes, '\0');
        std::int64_t at = 0;
        while (answer_.totalBytes < 0 || at < answer_.totalBytes) {
            std::size_t size = answer_.pieceBytes;
            if (answer_.totalBytes >= 0) {
                size = static_cast<std::size_t>(std::min<std::int64_t>(
                    static_cast<std::int64_t>(size), answer_.totalBytes - at));
            }
            for (std::size_t i = 0; i < size; ++i) {
                piece[i] = CharacterAt(answer_, at + static_cast<std::int64_t>(i));
            }
            if (::send(client, piece.data(), size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
                break;
            }
            at += static_cast<std::int64_t>(size);
            sent_ = at;
        }
        ::close(client);
        done_ = true;
    }

    StreamedAnswer answer_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<std::int64_t> sent_{0};
    std::atomic<bool> done_{false};
};

} // namespace tarnwick::bench
