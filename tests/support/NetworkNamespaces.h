// Running test code inside one of the namespaces of bench/NetworkNamespaces.h.
#pragma once

#include "bench/NetworkNamespaces.h"

#include <linux/capability.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>
#include <optional>
#include <type_traits>

namespace tarnwick::testing {

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

// Runs work in a forked child that has joined the named namespace (and dropped CAP_NET_RAW
// when asked), so this process never sends anywhere else. The child's result, or nothing when
// it could not run or finish.
template <typename Result>
std::optional<Result> RunInNamespace(const std::string& name, bool withoutRawSockets,
                                     const std::function<Result()>& work) {
    static_assert(std::is_trivially_copyable_v<Result>);
    // The child leaves its result in memory it shares with this process.
    void* shared =
        mmap(nullptr, sizeof(Result), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    const pid_t child = shared == MAP_FAILED ? -1 : fork();
    if (child == 0) {
        if (!EnterNamespace(name) || (withoutRawSockets && !DropRawSocketCapability()))
            _exit(2);
        const Result result = work();
        std::memcpy(shared, &result, sizeof result);
        _exit(0);
    }
    int status = 1;
    std::optional<Result> result;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0)
        std::memcpy(&result.emplace(), shared, sizeof(Result));
    if (shared != MAP_FAILED)
        munmap(shared, sizeof(Result));
    return result;
}

} // namespace tarnwick::testing
