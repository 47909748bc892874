// ICMP echo on Linux through the echo program (tarnwick-echo): the only process that holds
// an ICMP socket, and the privilege to open a raw one. This process opens none; it speaks to
// the program in the contract's messages.
#pragma once

#include "platform/Icmp.h"
#include "platform/linux/EchoProgramProcess.h"

#include <mutex>
#include <set>
#include <string>

namespace tarnwick::platform {

class EchoProgramClient final : public IcmpService {
public:
    // programPath: the echo program to start at the first echo; started by this path only.
    explicit EchoProgramClient(std::string programPath) : program_(std::move(programPath)) {}

    IcmpHandle IcmpCreateFile() override;
    contract::OpenFailure LastOpenFailure() const override;
    std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                               const void* requestData, std::uint16_t requestSize,
                               const void* requestOptions, void* replyBuffer,
                               std::uint32_t replySize, std::uint32_t timeoutMilliseconds) override;
    bool IcmpCloseHandle(IcmpHandle handle) override;
    std::string EchoProgramPath() const override { return program_.Path(); }

private:
    // Starts the program and reads its greeting; false, with the reason noted, when it has no
    // socket or did not start.
    bool Start();
    // Ends the program and the handles opened on it.
    void Stop();
    // An answer's header into answer and its record into reply; recordRead says how much of
    // reply was written, also when it fails.
    bool ReadAnswer(contract::AnswerHeader& answer, std::span<std::uint8_t> reply,
                    std::size_t& recordRead, EchoProgramProcess::Clock::time_point deadline);

    mutable std::mutex mutex_;
    EchoProgramProcess program_;
    contract::OpenFailure lastOpenFailure_ = contract::OpenFailure::None;
    std::set<IcmpHandle> handles_;
    IcmpHandle nextHandle_ = 1;
};

// Where this process finds the echo program: beside its own executable (a build tree), or
// where the package installs it relative to that executable's folder.
std::string FindEchoProgram();

} // namespace tarnwick::platform
