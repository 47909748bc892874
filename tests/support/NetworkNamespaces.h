// Two throw-away network namespaces joined by a veth pair, and running code inside one.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

namespace tarnwick::testing {

// Runs a shell command quietly; true when it succeeded.
inline bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Namespaces "near" (192.0.2.1/24) and "far" (192.0.2.2/24), named after the process so
// that parallel tests never meet. Documentation addresses that exist only in here. Both
// are deleted when the pair goes, whatever the test did.
class NamespacePair {
public:
    static constexpr char kNearAddress[] = "192.0.2.1";
    static constexpr char kFarAddress[] = "192.0.2.2";

    // Why this machine cannot make the pair, or empty when it can.
    static std::string Unavailable() {
        if (geteuid() != 0)
            return "network namespaces need root";
        if (!RunQuietly("command -v ip") || !RunQuietly("command -v nft"))
            return "needs the ip (iproute2) and nft (nftables) commands";
        if (!RunQuietly("unshare --net true"))
            return "this machine may not make network namespaces (a container without "
                   "CAP_SYS_ADMIN?)";
        return {};
    }

    NamespacePair()
        : near_("twA" + std::to_string(getpid())), far_("twB" + std::to_string(getpid())) {
        const std::string nearLink = near_ + "v";
        const std::string farLink = far_ + "v";
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

    // What the far host does with echo requests: an nft verdict such as "drop" or
    // "reject with icmp type host-unreachable"; empty to answer them.
    bool SetFarEchoVerdict(const std::string& verdict) {
        if (!InFar("nft flush chain inet tarnwick input"))
            return false;
        return verdict.empty() ||
               InFar("nft add rule inet tarnwick input icmp type echo-request " + verdict);
    }

    // Whether the near namespace lets every group open unprivileged ping sockets.
    bool AllowPingSockets(bool allow) {
        return RunQuietly("ip netns exec " + near_ + " sysctl -w net.ipv4.ping_group_range='" +
                          (allow ? "0 2147483647" : "1 0") + "'");
    }

private:
    static bool Ip(const std::string& arguments) { return RunQuietly("ip " + arguments); }
    bool InFar(const std::string& command) {
        return RunQuietly("ip netns exec " + far_ + " " + command);
    }

    std::string near_;
    std::string far_;
    bool ready_ = false;
};

// Removes CAP_NET_RAW from this process, so raw sockets are refused.
inline bool DropRawSocketCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_NET_RAW;
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    data[0].inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs work in a forked child that has joined the named network namespace (and dropped
// CAP_NET_RAW when asked), so this process never touches any other network. Returns the
// child's result, or nothing when the child could not run or did not finish.
template <typename Result>
std::optional<Result> RunInNamespace(const std::string& name, bool withoutRawSockets,
                                     const std::function<Result()>& work) {
    static_assert(std::is_trivially_copyable_v<Result>);
    int channel[2];
    if (pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(channel[0]);
        const int space = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (space < 0 || setns(space, CLONE_NEWNET) != 0)
            _exit(2);
        close(space);
        if (withoutRawSockets && !DropRawSocketCapability())
            _exit(3);
        const Result result = work();
        const bool written =
            write(channel[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
        _exit(written ? 0 : 4);
    }
    close(channel[1]);
    Result result;
    std::size_t received = 0;
    while (received < sizeof result) {
        const ssize_t size =
            read(channel[0], reinterpret_cast<char*>(&result) + received, sizeof result - received);
        if (size <= 0)
            break;
        received += static_cast<std::size_t>(size);
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (received != sizeof result || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return result;
}

} // namespace tarnwick::testing
