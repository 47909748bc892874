// Keeping the echo program (tarnwick-echo): one per process, started on demand with two pipes
// that no other child inherits, watched between requests, killed and reaped when it dies, goes
// silent or falls out of step. What goes over the pipes is the client's matter.
#pragma once

#include "contract/EchoProtocol.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarnwick::platform {

class EchoProgramProcess {
public:
    using Clock = std::chrono::steady_clock;

    explicit EchoProgramProcess(std::string path) : path_(std::move(path)) {}
    // Ends the program: its input closes, it exits, and it is reaped.
    ~EchoProgramProcess();
    EchoProgramProcess(const EchoProgramProcess&) = delete;
    EchoProgramProcess& operator=(const EchoProgramProcess&) = delete;

    const std::string& Path() const { return path_; }

    // Whether a program of this process is running and nothing unasked waits on its pipe.
    bool Running();
    // Starts the program; the failure when it could not be started (ProgramMissing for a path
    // that is no program, Unavailable otherwise), None once it runs.
    contract::OpenFailure Start();
    // Kills the program (it may be silent or out of step) and reaps it.
    void Stop();

    // All of bytes to the program's input by the deadline.
    bool Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline);
    // Exactly bytes.size() bytes of its output by the deadline.
    bool Read(std::span<std::uint8_t> bytes, Clock::time_point deadline);
    // Waits for output, then reads what has come, first into first and the rest into second,
    // in one call; the bytes read, or nothing on its end, a failure or silence.
    std::optional<std::size_t> ReadWhatCame(std::span<std::uint8_t> first,
                                            std::span<std::uint8_t> second,
                                            Clock::time_point deadline);

private:
    const std::string path_;
    pid_t program_ = -1;
    pid_t owner_ = -1; // the process that started it; a forked child starts its own
    int requests_ = -1, answers_ = -1;
};

} // namespace tarnwick::platform
