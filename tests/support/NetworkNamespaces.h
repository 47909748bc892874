// Running test code inside one of the namespaces of bench/NetworkNamespaces.h.
#pragma once

#include "bench/NetworkNamespaces.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>

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
    int channel[2];
    if (pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (!EnterNamespace(name) || (withoutRawSockets && !DropRawSocketCapability()))
            _exit(2);
        const Result result = work();
        _exit(write(channel[1], &result, sizeof result) == sizeof result ? 0 : 3);
    }
    close(channel[1]);
    Result result;
    std::size_t received = 0;
    while (child > 0 && received < sizeof result) {
        const ssize_t size =
            read(channel[0], reinterpret_cast<char*>(&result) + received, sizeof result - received);
        if (size <= 0)
            break;
        received += static_cast<std::size_t>(size);
    }
    close(channel[0]);
    int status = 1;
    if (child > 0)
        waitpid(child, &status, 0);
    if (received != sizeof result || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return result;
}

} // namespace tarnwick::testing
