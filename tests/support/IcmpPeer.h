// A scripted ICMP peer: a thread in a namespace that answers each echo request carrying
// "Echo This" with whatever packets its script makes, on a raw socket.
#pragma once

#include "support/IcmpCraft.h"
#include "support/NetworkNamespace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::testing {

// One echo request as the peer saw it; addresses in network byte order.
struct SeenRequest {
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    in_addr_t source = 0;
    in_addr_t destination = 0;
};

// The ICMP messages to send back for one request, in order.
using PeerScript = std::function<std::vector<Bytes>(const SeenRequest&)>;

class IcmpPeer {
public:
    // The kernel of the namespace should not answer echoes itself
    // (net.ipv4.icmp_echo_ignore_all=1) unless the script wants it to.
    IcmpPeer(const NetworkNamespace& space, PeerScript script) : script_(std::move(script)) {
        std::promise<bool> started;
        std::future<bool> ready = started.get_future();
        thread_ = std::thread([this, &space, &started] { Serve(space, started); });
        if (!ready.get()) {
            thread_.join();
            throw std::runtime_error("the ICMP peer could not start in " + space.name());
        }
    }
    ~IcmpPeer() {
        stop_ = true;
        thread_.join();
    }
    IcmpPeer(const IcmpPeer&) = delete;
    IcmpPeer& operator=(const IcmpPeer&) = delete;

    int requestsSeen() const { return requestsSeen_; }
    int packetsSent() const { return packetsSent_; }

private:
    void Serve(const NetworkNamespace& space, std::promise<bool>& started) {
        int descriptor = -1;
        if (space.EnterFromThisThread())
            descriptor = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        started.set_value(descriptor >= 0);
        if (descriptor < 0)
            return;
        std::uint8_t datagram[4096];
        while (!stop_) {
            pollfd waiting{descriptor, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0)
                continue;
            const ssize_t size = recv(descriptor, datagram, sizeof datagram, 0);
            if (size < 20)
                continue;
            const std::size_t headerLength = std::size_t{datagram[0] & 0x0Fu} * 4;
            const std::string text = "Echo This";
            if (static_cast<std::size_t>(size) != headerLength + 8 + text.size() ||
                datagram[headerLength] != 8 ||
                text.compare(0, text.size(),
                             reinterpret_cast<const char*>(datagram + headerLength + 8),
                             text.size()) != 0)
                continue;
            SeenRequest request;
            request.identifier = static_cast<std::uint16_t>(datagram[headerLength + 4] << 8 |
                                                            datagram[headerLength + 5]);
            request.sequence = static_cast<std::uint16_t>(datagram[headerLength + 6] << 8 |
                                                          datagram[headerLength + 7]);
            std::memcpy(&request.source, datagram + 12, 4);
            std::memcpy(&request.destination, datagram + 16, 4);
            ++requestsSeen_; // before the answer, which may end the probe at once
            sockaddr_in back{};
            back.sin_family = AF_INET;
            back.sin_addr.s_addr = request.source;
            for (const Bytes& message : script_(request)) {
                if (sendto(descriptor, message.data(), message.size(), 0,
                           reinterpret_cast<const sockaddr*>(&back),
                           sizeof back) == static_cast<ssize_t>(message.size()))
                    ++packetsSent_;
            }
        }
        close(descriptor);
    }

    PeerScript script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requestsSeen_{0};
    std::atomic<int> packetsSent_{0};
    std::thread thread_;
};

// Runs work on a fresh thread that has entered the namespace; work does not run at all when
// the thread cannot enter, so nothing is ever sent from the host's own network.
template <class Work> bool RunInside(const NetworkNamespace& space, Work work) {
    bool entered = false;
    std::thread([&] {
        entered = space.EnterFromThisThread();
        if (entered)
            work();
    }).join();
    return entered;
}

} // namespace tarnwick::testing
