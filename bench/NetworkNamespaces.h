// A pair of network namespaces joined by a veth link, the far side dropping echo requests.
#pragma once

#include <sys/types.h>

#include <string>

namespace tarnwick::bench {

// The calling process moves into the near namespace (127.0.0.1 up, ping sockets allowed for
// every group); a child process holds the far one. Both vanish with their processes, so
// nothing is left behind even when the benchmark is killed.
class NamespacePair {
public:
    NamespacePair() = default;
    ~NamespacePair();
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    // Makes both namespaces and moves this process into the near one. Needs root.
    bool Create();

    // The far side's address: reachable on the link, but its echo requests are dropped.
    static std::string SilentAddress() { return "10.200.0.2"; }

private:
    pid_t farHolder_ = -1;
};

} // namespace tarnwick::bench
