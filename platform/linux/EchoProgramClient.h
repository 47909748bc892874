// ICMP echo on Linux through the echo program (tarnwick-echo): the only process that holds
// an ICMP socket, and the privilege to open a raw one. This process opens none.
#pragma once

#include "platform/Icmp.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>

namespace tarnwick::platform {

class EchoProgramClient final : public IcmpService {
public:
    // programPath: the echo program to start at the first echo; started by this path only.
    explicit EchoProgramClient(std::string programPath);
    // Ends the program: its input closes, it exits, and it is reaped.
    ~EchoProgramClient() override;
    EchoProgramClient(const EchoProgramClient&) = delete;
    EchoProgramClient& operator=(const EchoProgramClient&) = delete;

    IcmpHandle IcmpCreateFile() override;
    IcmpOpenFailure LastOpenFailure() const override;
    std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                               const void* requestData, std::uint16_t requestSize,
                               const void* requestOptions, void* replyBuffer,
                               std::uint32_t replySize, std::uint32_t timeoutMilliseconds) override;
    bool IcmpCloseHandle(IcmpHandle handle) override;
    std::string EchoProgramPath() const override { return programPath_; }

private:
    using Clock = std::chrono::steady_clock;

    // Whether a program of this process is running and answering in step.
    bool Running();
    // Starts the program and reads its greeting; false, with the reason noted, when it has no
    // socket or did not start.
    bool Start();
    bool Write(const void* bytes, std::size_t size, Clock::time_point deadline);
    bool Read(void* bytes, std::size_t size, Clock::time_point deadline);
    // Kills the program (it may be silent or out of step) and reaps it.
    void Stop();

    const std::string programPath_;
    mutable std::mutex mutex_;
    pid_t program_ = -1;
    pid_t owner_ = -1; // the process that started it; a forked child starts its own
    int requests_ = -1, answers_ = -1;
    IcmpOpenFailure lastOpenFailure_ = IcmpOpenFailure::None;
    std::set<IcmpHandle> handles_;
    IcmpHandle nextHandle_ = 1;
};

// Where this process finds the echo program: beside its own executable (a build tree), or
// where the package installs it relative to that executable's folder.
std::string FindEchoProgram();

} // namespace tarnwick::platform
