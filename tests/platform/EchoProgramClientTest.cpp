// The window's side of the echo program, through PingAddress and the program of this build:
// what a ping shows when the program dies or goes silent (a missing one: Form1Test), that the
// next ping starts a fresh one, that no program outlives its client or is left a zombie, and
// that no other program started by the window inherits the pipes.
#include "platform/linux/EchoProgramClient.h"
#include "engine/EchoProbe.h"
#include "platform/ProgramStarter.h"

#include "support/EchoProgram.h"
#include "support/Fakes.h"
#include "support/SystemEcho.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// The running echo programs whose parent is this process (a zombie counts: it is not reaped).
std::vector<pid_t> EchoPrograms() {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        pid_t parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == getpid() &&
            name == "(tarnwick-echo)")
            found.push_back(std::stoi(pid));
    }
    return found;
}

// Gone for good: exited and reaped, so not even a zombie is left.
bool Gone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

struct FaultRow {
    const char* name;
    // Done to the running program (its pid) while this ping is under way; the ping's status.
    std::function<std::int32_t(platform::IcmpService&, pid_t)> fault;
};

std::int32_t PingStatus(platform::IcmpService& icmp) {
    testing::RecordingMessageDialog messages;
    EchoReply reply{};
    PingAddress("127.0.0.1", reply, {platform::SystemSocketLibrary(), icmp, messages});
    return reply.Status;
}

const FaultRow kFaultRows[] = {
    // Stopped, it never answers: the client gives up on it after the echo's time and a margin.
    {"SilentProgram",
     [](platform::IcmpService& icmp, pid_t program) {
         kill(program, SIGSTOP);
         return PingStatus(icmp);
     }},
    // Killed while the echo waits for it. Killed before the echo began, it was replaced and
    // the ping answered (a late kill on a busy machine): the row asks again.
    {"KilledWhileAnEchoWaits",
     [](platform::IcmpService& icmp, pid_t program) {
         kill(program, SIGSTOP);
         auto status = std::async(std::launch::async, [&icmp] { return PingStatus(icmp); });
         std::this_thread::sleep_for(50ms);
         kill(program, SIGKILL);
         return status.get();
     }},
};

// Guards a ping that hangs, passes for an answer or ends the window when the program dies or
// goes silent; a dead program left a zombie; a next ping that does not start a fresh one.
TEST(EchoProgramClient, APingFailsWhenItsProgramDiesAndTheNextStartsAFreshOne) {
    platform::EchoProgramClient icmp(TARNWICK_ECHO_PROGRAM_BUILT);
    TARNWICK_SKIP_WITHOUT_ICMP();
    for (const FaultRow& row : kFaultRows) {
        SCOPED_TRACE(row.name);
        std::int32_t status = 0;
        pid_t program = -1;
        for (int attempt = 0; attempt < 5 && status == 0; ++attempt) {
            ASSERT_EQ(PingStatus(icmp), 0);
            ASSERT_EQ(EchoPrograms().size(), 1u);
            program = EchoPrograms()[0];
            status = row.fault(icmp, program);
        }
        EXPECT_EQ(status, contract::ip_status::kGeneralFailure);
        EXPECT_TRUE(Gone(program)) << "not reaped";
        EchoReply reply{};
        testing::RecordingMessageDialog messages;
        testing::PingUnlessLate("127.0.0.1", reply,
                                {platform::SystemSocketLibrary(), icmp, messages});
        EXPECT_EQ(std::tuple(reply.Status, reply.Address, std::string(reply.Data)),
                  std::tuple(0, 16777343, "Echo This"));
        EXPECT_EQ(EchoPrograms().size(), 1u);
    }
}

// Guards the window ended by SIGPIPE when the program has stopped reading its requests (it
// closed its input, or died as the request went): the ping fails, and the program is reaped.
TEST(EchoProgramClient, AProgramThatStopsReadingFailsThePingAndNotTheWindow) {
    testing::TemporaryFolder folder;
    // Closes its input, greets (version 2, a ping socket), and answers nothing.
    platform::EchoProgramClient icmp(folder.WriteScript(
        "tarnwick-echo", "exec <&-\nprintf '\\001\\001\\000\\000'\nexec sleep 30"));
    EXPECT_EQ(PingStatus(icmp), contract::ip_status::kGeneralFailure);
    EXPECT_TRUE(EchoPrograms().empty());
}

// Guards the record's data pointer: where the echoed data lies in the caller's own reply buffer
// (its low 32 bits), never an address of the echo program's; a failure's (0.0.0.0, which Linux
// would answer from the local host) stays 0.
TEST(EchoProgramClient, TheDataPointerPointsIntoTheCallersBuffer) {
    platform::EchoProgramClient icmp(TARNWICK_ECHO_PROGRAM_BUILT);
    TARNWICK_SKIP_WITHOUT_ICMP();
    const platform::IcmpHandle handle = icmp.IcmpCreateFile();
    EchoReply reply{};
    testing::RetryWhileLate(
        [&] {
            return icmp.IcmpSendEcho(handle, 16777343, "Echo This", 9, nullptr, &reply,
                                     sizeof reply, 1000);
        },
        [&](std::uint32_t) { return reply.Status == contract::ip_status::kRequestTimedOut; });
    // Status, data pointer, options pointer (none came back).
    EXPECT_EQ(
        std::tuple(reply.Status, reply.DataPointer, reply.OptionsData),
        std::tuple(0, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(reply.Data)), 0));
    icmp.IcmpSendEcho(handle, 0, "Echo This", 9, nullptr, &reply, sizeof reply, 1000);
    EXPECT_EQ(std::pair(reply.Status, reply.DataPointer), std::pair(11018, 0));
}

// Guards the window's environment handed to the echo program, which starts with none (what a
// user's variables name could steer it), and a program left running (or a zombie) once the
// window is gone and closed its client.
TEST(EchoProgramClient, TheProgramGetsNoEnvironmentAndEndsWithTheWindow) {
    const testing::ScopedEnvironment variable("TARNWICK_STEERS_THE_ECHO_PROGRAM", "1");
    auto icmp = std::make_unique<platform::EchoProgramClient>(TARNWICK_ECHO_PROGRAM_BUILT);
    TARNWICK_SKIP_WITHOUT_ICMP();
    ASSERT_EQ(PingStatus(*icmp), 0);
    ASSERT_EQ(EchoPrograms().size(), 1u);
    const pid_t closed = EchoPrograms()[0];
    std::ifstream environment("/proc/" + std::to_string(closed) + "/environ");
    const std::string inherited(std::istreambuf_iterator<char>(environment), {});
    icmp.reset();
    EXPECT_TRUE(Gone(closed));
    if (!environment.is_open())
        GTEST_SKIP()
            << "needs root: the program is not dumpable, so only root reads its environment";
    EXPECT_EQ(inherited, "");
}

// Guards the pipes reaching another program the window starts (the system-information program,
// the browser): it would keep the echo program serving after the window has gone.
TEST(EchoProgramClient, ProgramsTheWindowStartsInheritNoneOfItsPipes) {
    const auto before = testing::OpenDescriptors(getpid());
    platform::EchoProgramClient icmp(TARNWICK_ECHO_PROGRAM_BUILT);
    TARNWICK_SKIP_WITHOUT_ICMP();
    ASSERT_EQ(PingStatus(icmp), 0);
    std::set<std::string> pipes;
    for (const auto& [number, file] : testing::OpenDescriptors(getpid()))
        if (!before.contains(number))
            pipes.insert(file);
    ASSERT_EQ(pipes.size(), 2u);
    const auto started =
        static_cast<pid_t>(platform::SystemProgramStarter().StartProgram("/bin/sleep 30", 1));
    const auto inherited = testing::OpenDescriptors(started);
    kill(started, SIGKILL);
    EXPECT_FALSE(inherited.empty()) << "its descriptors could not be read";
    for (const auto& [number, file] : inherited)
        EXPECT_FALSE(pipes.contains(file)) << file;
}

} // namespace
} // namespace tarnwick
