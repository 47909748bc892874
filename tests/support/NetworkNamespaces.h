// Running test code inside one of the namespaces of bench/NetworkNamespaces.h.
#pragma once

#include "bench/NetworkNamespaces.h"

#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <type_traits>

namespace tarnwick::testing {

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

// Runs work in a forked child that has joined the named namespace (and, when asked, become
// nobody, which drops CAP_NET_RAW), so this process never sends anywhere else. The child's
// result, or nothing when it could not run or finish.
template <typename Result>
std::optional<Result> RunInNamespace(const std::string& name, bool withoutRawSockets,
                                     const std::function<Result()>& work) {
    static_assert(std::is_trivially_copyable_v<Result>);
    // The child leaves its result in memory it shares with this process.
    void* shared =
        mmap(nullptr, sizeof(Result), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    const pid_t child = shared == MAP_FAILED ? -1 : fork();
    if (child == 0) {
        if (!EnterNamespace(name) || (withoutRawSockets && setuid(65534) != 0))
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
    munmap(shared, sizeof(Result)); // harmless when the mapping failed
    return result;
}

} // namespace tarnwick::testing
