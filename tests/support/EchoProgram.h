// The built echo program, started as a test asks (as nobody, granted CAP_NET_RAW, in a network
// namespace of its own) and driven through real pipes as the window drives it.
#pragma once

#include "contract/EchoProtocol.h"
#include "support/TemporaryFolder.h"
#include "tests/support/NetworkNamespaces.h"

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

struct EchoAnswer {
    contract::AnswerHeader header{};
    std::vector<std::uint8_t> record;
    std::uint32_t Address() const { return Field<std::uint32_t>(0); }
    std::int32_t Status() const { return Field<std::int32_t>(4); }
    std::string Data() const {
        std::int16_t size = 0;
        std::memcpy(&size, record.data() + 12, record.size() >= 28 ? 2 : 0);
        return record.size() >= 28u + size
                   ? std::string(record.begin() + 28, record.begin() + 28 + size)
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

// A process's descriptors, each number with where it leads ("pipe:[inode]", a path...).
inline std::map<int, std::string> OpenDescriptors(pid_t pid) {
    std::map<int, std::string> descriptors;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        descriptors[std::stoi(entry.path().filename())] =
            std::filesystem::read_symlink(entry, error).string();
    return descriptors;
}

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
        EchoAnswer answer;
        if (!Read(&answer.header, sizeof answer.header))
            return std::nullopt;
        answer.record.resize(answer.header.recordSize);
        if (!Read(answer.record.data(), answer.record.size()))
            return std::nullopt;
        return answer;
    }
    // An echo of text (to 127.0.0.1 unless told) into a record of exactly its size, asked again
    // while it times out (late, not wrong) unless it may not wait; counts the requests sent.
    std::optional<EchoAnswer> Echo(const std::string& text = "Echo This",
                                   std::uint32_t destination = 16777343,
                                   std::uint32_t timeout = 1000, int* sent = nullptr) {
        contract::RequestHeader header = Request(destination, timeout);
        header.replyCapacity = static_cast<std::uint32_t>(28 + text.size());
        std::optional<EchoAnswer> answer;
        for (int attempt = 0; attempt < 10 && (!answer || (timeout && answer->Status() == 11010));
             ++attempt) {
            if (!Send(Frame(header, text)))
                return std::nullopt;
            answer = Answer();
            if (sent)
                ++*sent;
        }
        return answer;
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

    static contract::RequestHeader Request(std::uint32_t destination, std::uint32_t timeout = 1000) {
        return {contract::kProtocolVersion, contract::RequestKind::Echo, 0, destination, timeout, 278};
    }
    // A frame: its length, the header and the data.
    static std::vector<std::uint8_t> Frame(const contract::RequestHeader& header,
                                           const std::string& data) {
        std::vector<std::uint8_t> bytes(sizeof(contract::FrameLength) + sizeof header +
                                        data.size());
        const auto length = static_cast<contract::FrameLength>(sizeof header + data.size());
        std::memcpy(bytes.data(), &length, sizeof length);
        std::memcpy(bytes.data() + sizeof length, &header, sizeof header);
        std::memcpy(bytes.data() + sizeof length + sizeof header, data.data(), data.size());
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
