// Network namespaces that a test makes and removes, and threads that work inside them.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarnwick::testing {

// Why this process cannot make namespaces, or nothing when it can.
inline std::optional<std::string> NamespacesUnavailableReason() {
    if (geteuid() != 0)
        return "network namespaces need root (CI runs as root)";
    if (std::system("ip -V >/dev/null 2>&1") != 0)
        return "the ip program (iproute2) is missing";
    return std::nullopt;
}

// Runs a shell command built only from our own names and addresses; throws on failure.
inline void RunOrThrow(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

// A named namespace ("ip netns add"), deleted again when the object goes, whatever happened
// in between. Its loopback is up.
class NetworkNamespace {
public:
    // The pid keeps names unique between test processes that run at the same time.
    explicit NetworkNamespace(const std::string& prefix)
        : name_(prefix + std::to_string(getpid())) {
        std::system(("ip netns del " + name_ + " >/dev/null 2>&1").c_str()); // stale leftover
        RunOrThrow("ip netns add " + name_);
        Run("ip link set lo up");
    }
    ~NetworkNamespace() { std::system(("ip netns del " + name_ + " >/dev/null 2>&1").c_str()); }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    const std::string& name() const { return name_; }

    // Runs a command inside the namespace.
    void Run(const std::string& command) const {
        RunOrThrow("ip netns exec " + name_ + " " + command);
    }

    void SetSysctl(const std::string& key, const std::string& value) const {
        Run("sysctl -qw " + key + "=\"" + value + "\"");
    }

    // Moves the calling thread (only it: the network namespace is per thread) into this
    // namespace. A thread that could not move must not send anything.
    bool EnterFromThisThread() const {
        const int descriptor = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        const bool entered = setns(descriptor, CLONE_NEWNET) == 0;
        close(descriptor);
        return entered;
    }

private:
    std::string name_;
};

// Two namespaces joined by a veth pair, each end with one address of a /24 that exists only
// inside them.
class JoinedNamespaces {
public:
    JoinedNamespaces(const std::string& prefix, const std::string& nearAddress,
                     const std::string& farAddress)
        : near_(prefix + "N"), far_(prefix + "F") {
        const std::string nearLink = "v" + near_.name();
        const std::string farLink = "v" + far_.name();
        RunOrThrow("ip link add " + nearLink + " netns " + near_.name() + " type veth peer name " +
                   farLink + " netns " + far_.name());
        near_.Run("ip addr add " + nearAddress + "/24 dev " + nearLink);
        far_.Run("ip addr add " + farAddress + "/24 dev " + farLink);
        near_.Run("ip link set " + nearLink + " up");
        far_.Run("ip link set " + farLink + " up");
    }

    const NetworkNamespace& near() const { return near_; }
    const NetworkNamespace& far() const { return far_; }

private:
    NetworkNamespace near_;
    NetworkNamespace far_;
};

} // namespace tarnwick::testing
