// The built echo program, started as a test asks (as nobody, granted CAP_NET_RAW, in a network
// namespace of its own) and driven through real pipes as the window drives it.
#pragma once

#include "contract/EchoProtocol.h"
#include "engine/EchoReply.h"
#include "support/TemporaryFolder.h"
#include "tests/support/Descriptors.h"
#include "tests/support/NetworkNamespaces.h"
#include "tests/support/RetryWhileLate.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct EchoProgramStart {
    bool asNobody = false;
    bool granted = false;         // a copy with cap_net_raw+p, in a folder only root can reach
    bool ownNetwork = false;      // a fresh network namespace with loopback up (needs root)
    bool pingSocketsOpen = false; // in that namespace, every group may use ping sockets
    const char* namedNetwork = nullptr;        // or join this one (ip netns)
    std::vector<std::string> environment = {}; // NAME=value entries; none, as the window gives
};

// An answer, its record read through the layout.
struct EchoAnswer {
    contract::AnswerHeader header{};
    std::vector<std::uint8_t> record;
    std::uint32_t Address() const { return Field<std::uint32_t>(contract::reply_layout::kAddress); }
    std::int32_t Status() const { return Field<std::int32_t>(contract::reply_layout::kStatus); }
    std::string Data() const {
        const std::size_t start = contract::reply_layout::kHeaderSize,
                          size = Field<std::uint16_t>(contract::reply_layout::kDataSize);
        return record.size() >= start + size
                   ? std::string(record.begin() + start, record.begin() + start + size)
                   : "";
    }
    // A field of the record (-1 when the record is too short to hold it).
    template <typename Value> Value Field(std::size_t offset) const {
        Value value = static_cast<Value>(-1);
        std::memcpy(&value, record.data() + offset,
                    record.size() >= offset + sizeof value ? sizeof value : 0);
        return value;
    }
};

class EchoProgram {
public:
    explicit EchoProgram(const EchoProgramStart& start) {
        std::string program = TARNWICK_ECHO_PROGRAM_BUILT;
        if (start.granted) {
            std::filesystem::permissions(folder_.Path(), std::filesystem::perms::owner_all);
            program = folder_ / "tarnwick-echo";
            std::filesystem::copy_file(TARNWICK_ECHO_PROGRAM_BUILT, program);
            if (!RunQuietly("setcap cap_net_raw+p " + program))
                return;
        }
        const int executable = open(program.c_str(), O_RDONLY | O_CLOEXEC);
        int toProgram[2], fromProgram[2];
        if (executable < 0 || pipe2(toProgram, O_CLOEXEC) != 0 ||
            pipe2(fromProgram, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // An inherited descriptor without close-on-exec, which the program must close.
            const int stray = open("/dev/null", O_RDONLY);
            if (dup2(toProgram[0], 0) != 0 || dup2(fromProgram[1], 1) != 1 || stray < 0 ||
                !EnterNetwork(start))
                _exit(127);
            if (start.asNobody &&
                (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(127);
            char* const argv[] = {const_cast<char*>("tarnwick-echo"), nullptr};
            std::vector<char*> environment;
            for (const std::string& entry : start.environment)
                environment.push_back(const_cast<char*>(entry.c_str()));
            environment.push_back(nullptr);
            syscall(SYS_execveat, executable, "", argv, environment.data(), AT_EMPTY_PATH);
            _exit(127);
        }
        close(executable);
        close(toProgram[0]);
        close(fromProgram[1]);
        in_ = toProgram[1];
        out_ = fromProgram[0];
        contract::Greeting greeting;
        if (pid_ > 0 && Read(&greeting, sizeof greeting))
            greeting_ = greeting;
    }
    ~EchoProgram() {
        if (pid_ > 0 && !exit_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(in_);
        close(out_);
    }
    EchoProgram(const EchoProgram&) = delete;
    EchoProgram& operator=(const EchoProgram&) = delete;

    // The greeting, once the program has settled its socket and confined itself.
    const std::optional<contract::Greeting>& Greeting() const { return greeting_; }
    pid_t Pid() const { return pid_; }

    bool Send(const std::vector<std::uint8_t>& bytes) {
        return write(in_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    std::optional<EchoAnswer> Answer() {
        std::array<std::uint8_t, sizeof(contract::AnswerHeader)> header;
        if (!Read(header.data(), header.size()))
            return std::nullopt;
        const std::optional<contract::AnswerHeader> decoded = contract::DecodeAnswerHeader(header);
        if (!decoded)
            return std::nullopt;
        EchoAnswer answer{*decoded, std::vector<std::uint8_t>(decoded->recordSize)};
        if (!Read(answer.record.data(), answer.record.size()))
            return std::nullopt;
        return answer;
    }
    // An echo of text (to 127.0.0.1 unless told) into a record of exactly its size, asked again
    // while it times out unless it may not wait; counts the requests sent.
    std::optional<EchoAnswer> Echo(const std::string& text = "Echo This",
                                   std::uint32_t destination = 16777343,
                                   std::uint32_t timeout = 1000, int* sent = nullptr) {
        const auto frame =
            Frame(destination, timeout, text, contract::reply_layout::kHeaderSize + text.size());
        return RetryWhileLate([&] { return Send(frame) ? Answer() : std::nullopt; },
                              [&](const std::optional<EchoAnswer>& answer) {
                                  return answer && timeout &&
                                         answer->Status() == contract::ip_status::kRequestTimedOut;
                              },
                              sent);
    }

    std::map<int, std::string> Descriptors() const { return OpenDescriptors(pid_); }
    // The number of its one socket (-1: none, or more than one).
    int SocketNumber() const {
        int number = -1, sockets = 0;
        for (const auto& [descriptor, link] : Descriptors())
            sockets += link.starts_with("socket:") && (number = descriptor) >= 0;
        return sockets == 1 ? number : -1;
    }
    // A copy of one of the program's descriptors, as root may take it from a non-dumpable
    // process; -1 when it cannot.
    int CopyOfDescriptor(int number) const {
        const int process = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        const int copy =
            process < 0 ? -1 : static_cast<int>(syscall(SYS_pidfd_getfd, process, number, 0));
        close(process);
        return copy;
    }

    // Stops reading the program's answers, as a window that died does.
    void CloseAnswers() {
        close(out_);
        out_ = -1;
    }
    // Waits for the program's exit status (128 + the signal that killed it), or nothing while it
    // still runs after 30 seconds.
    std::optional<int> WaitForExit() {
        for (int wait = 0; wait < 3000 && !exit_; ++wait) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else
                usleep(10'000);
        }
        return exit_;
    }
    // Closes the program's input and waits for its exit status (-1: still running).
    int EndInput() {
        close(in_);
        in_ = -1;
        return WaitForExit().value_or(-1);
    }

    // The fields of /proc/PID/status, by name.
    std::map<std::string, std::string> Status() const {
        std::map<std::string, std::string> fields;
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(in, line);) {
            const auto colon = line.find(':');
            const auto value = line.find_first_not_of(" \t", colon + 1);
            if (colon != std::string::npos)
                fields[line.substr(0, colon)] =
                    value == std::string::npos ? "" : line.substr(value);
        }
        return fields;
    }

    // A request's frame as the window's client encodes it: by default with the reply room the
    // window gives.
    static std::vector<std::uint8_t> Frame(std::uint32_t destination, std::uint32_t timeout,
                                           const std::string& data,
                                           std::size_t replyCapacity = sizeof(EchoReply)) {
        contract::EchoRequest request;
        request.destination = destination;
        request.timeoutMilliseconds = timeout;
        request.replyCapacity = static_cast<std::uint32_t>(replyCapacity);
        request.data = {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
        std::vector<std::uint8_t> bytes(contract::kLargestEncodedRequest);
        bytes.resize(contract::EncodeRequest(request, bytes));
        return bytes;
    }

private:
    static bool EnterNetwork(const EchoProgramStart& start) {
        if (start.namedNetwork != nullptr)
            return EnterNamespace(start.namedNetwork);
        if (!start.ownNetwork)
            return true;
        // A new namespace starts with loopback down and ping sockets closed ("1 0").
        return unshare(CLONE_NEWNET) == 0 && RunQuietly("ip link set lo up") &&
               (!start.pingSocketsOpen ||
                (std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647").flush());
    }

    // Reads exactly size bytes; gives up only when the program is gone or silent for 30 s.
    bool Read(void* bytes, std::size_t size) {
        auto* at = static_cast<std::uint8_t*>(bytes);
        for (std::size_t done = 0; done < size;) {
            pollfd waiting{out_, POLLIN, 0};
            if (poll(&waiting, 1, 30'000) <= 0)
                return false;
            const ssize_t got = read(out_, at + done, size - done);
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    TemporaryFolder folder_;
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::optional<contract::Greeting> greeting_;
    std::optional<int> exit_;
};

} // namespace tarnwick::testing
