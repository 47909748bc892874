// Two throw-away network namespaces joined by a veth pair, for the tests and the benchmarks:
// nothing sent inside them can reach any other network. Test code runs inside one of them.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace tarnwick::testing {

inline bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Moves the calling thread (only it: network namespaces are per thread) into a named one.
inline bool EnterNamespace(const std::string& name) {
    const int descriptor = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool entered = setns(descriptor, CLONE_NEWNET) == 0;
    close(descriptor);
    return entered;
}

// "near" (192.0.2.1/24) and "far" (192.0.2.2/24), named after the process so that parallel
// tests never meet; documentation addresses that exist only in here. The far side has an nft
// chain for echo verdicts. Both are deleted when the pair goes, whatever happened.
class NamespacePair {
public:
    static constexpr char kNearAddress[] = "192.0.2.1";
    static constexpr char kFarAddress[] = "192.0.2.2";

    // Why this process cannot make the pair, or empty when it can.
    static std::string Unavailable() {
        if (geteuid() != 0)
            return "network namespaces need root (CI runs as root)";
        if (!RunQuietly("{ command -v ip && command -v nft; }"))
            return "needs the ip (iproute2) and nft (nftables) commands";
        if (!RunQuietly("unshare --net true"))
            return "this machine may not make network namespaces";
        return {};
    }

    NamespacePair()
        : near_("twA" + std::to_string(getpid())), far_("twB" + std::to_string(getpid())) {
        const std::string nearLink = near_ + "v", farLink = far_ + "v";
        ready_ = Ip("netns add " + near_) && Ip("netns add " + far_) &&
                 Ip("link add " + nearLink + " netns " + near_ + " type veth peer name " + farLink +
                    " netns " + far_) &&
                 Ip("-n " + near_ + " addr add " + kNearAddress + "/24 dev " + nearLink) &&
                 Ip("-n " + far_ + " addr add " + kFarAddress + "/24 dev " + farLink) &&
                 Ip("-n " + near_ + " link set lo up") && Ip("-n " + far_ + " link set lo up") &&
                 Ip("-n " + near_ + " link set " + nearLink + " up") &&
                 Ip("-n " + far_ + " link set " + farLink + " up") &&
                 InFar("nft add table inet tarnwick") &&
                 InFar("nft add chain inet tarnwick input "
                       "'{ type filter hook input priority 0; policy accept; }'");
    }
    ~NamespacePair() {
        // Deleting a namespace deletes its end of the veth pair, and so the pair.
        Ip("netns delete " + near_);
        Ip("netns delete " + far_);
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    bool Ready() const { return ready_; }
    const std::string& Near() const { return near_; }
    const std::string& Far() const { return far_; }

    bool InNear(const std::string& command) const {
        return RunQuietly("ip netns exec " + near_ + " " + command);
    }
    bool InFar(const std::string& command) const {
        return RunQuietly("ip netns exec " + far_ + " " + command);
    }
    // What the far host does with echo requests: an nft verdict such as "drop" or "reject
    // with icmp type host-unreachable"; empty to answer them.
    bool SetFarEchoVerdict(const std::string& verdict) const {
        return InFar("nft flush chain inet tarnwick input") &&
               (verdict.empty() ||
                InFar("nft add rule inet tarnwick input icmp type echo-request " + verdict));
    }
    // Whether the near side lets every group open unprivileged ping sockets.
    bool AllowPingSockets(bool allow) const {
        return InNear(std::string("sysctl -w net.ipv4.ping_group_range='") +
                      (allow ? "0 2147483647" : "1 0") + "'");
    }

private:
    static bool Ip(const std::string& arguments) { return RunQuietly("ip " + arguments); }

    std::string near_, far_;
    bool ready_ = false;
};

// A raw ICMP socket of the named namespace, or -1; it stays there whoever uses it, a forked
// child that gave up CAP_NET_RAW too.
inline int RawSocketIn(const std::string& name) {
    int descriptor = -1;
    std::thread([&] {
        if (EnterNamespace(name))
            descriptor = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    }).join();
    return descriptor;
}

} // namespace tarnwick::testing
