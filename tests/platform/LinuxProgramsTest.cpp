// The Linux layers: starting programs, opening addresses, the registry view, the local
// address and the socket library.
#include "platform/FileFinder.h"
#include "platform/LocalAddress.h"
#include "platform/ProgramStarter.h"
#include "platform/Shell.h"
#include "platform/SocketLibrary.h"
#include "platform/linux/LinuxRegistry.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include <sys/resource.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarnwick::platform {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryFolder;
using testing::WaitForFile;
constexpr auto kExecutable = std::filesystem::perms::owner_all;

// Guards starting with the arguments as the command line splits them (blanks and tabs between
// words, quotes grouping blanks, backslashes read as folder separators in the program only),
// detached into a session of its own, reaped once it ends.
TEST(StartProgram, StartsARealProgramDetachedWithItsArguments) {
    TemporaryFolder folder;
    const std::string marker = folder / "marker";
    folder.WriteScript("sub dir/tool",
                       "printf '%s\\n' \"$#:$1:$2:$3:$4 $(cut -d' ' -f6 /proc/$$/stat)\" > \"$5\"");
    const std::int64_t task = SystemProgramStarter().StartProgram(
        " \t\"" + folder.Path().string() + "\\sub dir\\tool\" -a\t\"\" \"x y\" a\\b " + marker, 1);
    EXPECT_EQ(WaitForFile(marker), "5:-a::x y:a\\b " + std::to_string(task) + "\n");
    EXPECT_NE(task, getsid(0));
    for (int wait = 0; kill(static_cast<pid_t>(task), 0) == 0 && wait < 2000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(errno, ESRCH) << "no zombie stays behind";
}

// Guards the reason a start fails with, so the caller can tell the user.
TEST(StartProgram, FailingStartThrowsTheReason) {
    TemporaryFolder folder;
    folder.WriteFile("not-executable", "#!/bin/sh\n");
    folder.WriteFile("bad-interpreter", "#!/nonexistent/shell\n", kExecutable);
    // Names are looked up in a folder of the test's own, whatever the caller's PATH holds.
    const ScopedEnvironment path("PATH", folder / "bin");
    const std::string in = folder.Path().string();
    const std::pair<std::string, int> rows[] = {{"   ", ENOENT},
                                                {in + "/missing", ENOENT},
                                                {in + "/not-executable", EACCES},
                                                {in, EACCES},
                                                {in + "/bad-interpreter", ENOENT},
                                                {"tarnwick-no-such-program", ENOENT},
                                                {std::string("/bin/true\0x", 11), EINVAL}};
    for (const auto& [commandLine, error] : rows) {
        try {
            SystemProgramStarter().StartProgram(commandLine, kNormalFocusWindow);
            ADD_FAILURE() << "started " << commandLine;
        } catch (const std::system_error& thrown) {
            EXPECT_EQ(thrown.code().value(), error) << commandLine;
        }
    }
}

// Guards the address handed to xdg-open alone, and the refusals: other verbs, addresses that
// xdg-open would read as options, and xdg-open missing.
TEST(Shell, OpenHandsTheAddressToXdgOpenAndRefusesTheRest) {
    TemporaryFolder folder;
    const std::string marker = folder / "opened";
    folder.WriteScript("bin/xdg-open", "echo \"$# $1\" > " + marker);
    ScopedEnvironment path("PATH", (folder / "bin") + ":/usr/bin:/bin");
    Shell& shell = SystemShell();
    EXPECT_EQ(shell.ShellExecuteA(0, "print", "https://a.example/", nullptr, nullptr, 5),
              kShellNoAssociation);
    EXPECT_LE(shell.ShellExecuteA(0, "open", "--help", nullptr, nullptr, 5), kShellFailureLimit);
    EXPECT_LE(shell.ShellExecuteA(0, "open", "", nullptr, nullptr, 5), kShellFailureLimit);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_GT(shell.ShellExecuteA(0, "open", "https://x.example/a b", nullptr, nullptr, 5),
              kShellFailureLimit);
    EXPECT_EQ(WaitForFile(marker), "1 https://x.example/a b\n");
    ScopedEnvironment empty("PATH", folder / "empty");
    EXPECT_EQ(shell.ShellExecuteA(0, "open", "https://a.example/", nullptr, nullptr, 5),
              kShellFileNotFound);
}

// Guards the program order over the folder order, and what cannot run or sits in a relative
// folder passed over. The registry view on it: AboutWindowTest's OnLinuxStartsTheInstalledProgram.
TEST(SystemInformationProgram, FirstWantedProgramInAnAbsoluteFolderWins) {
    TemporaryFolder folder;
    folder.WriteFile("first/kinfocenter", "", kExecutable);
    folder.WriteFile("second/gnome-system-monitor", "", kExecutable);
    folder.WriteFile("plain/hardinfo", "");
    std::filesystem::create_directories(folder.Path() / "dir/hardinfo");
    folder.WriteFile("rel/hardinfo", "", kExecutable);
    EXPECT_EQ(FindSystemInformationProgram((folder / "first") + ":" + (folder / "second") + "/"),
              (folder / "second") + "/gnome-system-monitor");
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    EXPECT_EQ(FindSystemInformationProgram((folder / "plain") + ":" + (folder / "dir") + ":rel::"),
              "");
    std::filesystem::current_path(saved);
}

// Guards the hidden rule on a file's or folder's own name, searched from an absolute or a
// relative folder, never on a path only because it starts with ./ or ../ or passes a dot folder.
TEST(FindFile, SkipsADotNameUnlessHiddenOnesAreAsked) {
    TemporaryFolder folder;
    folder.WriteFile("a/.hidden", "");
    folder.WriteFile("a/shown", "");
    folder.WriteFile("a/.folder/inside", "");
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path() / "a");
    const std::tuple<const char*, std::string, int, const char*> rows[] = {
        {"AbsoluteDotFile", folder / "a/.hidden", kAttributeNormal, ""},
        {"RelativeDotFile", ".hidden", kAttributeNormal, ""},
        {"RelativeDotFolder", "./.folder", kAttributeDirectory, ""},
        {"DotFolderAsked", "..\\a\\.folder", kAttributeDirectory | kAttributeHidden, ".folder"},
        {"FromHere", "./shown", kAttributeNormal, "shown"},
        {"FromAbove", "../a/shown", kAttributeNormal, "shown"},
        {"InsideADotFolder", folder / "a/.folder/inside", kAttributeNormal, "inside"}};
    for (const auto& [name, path, attributes, found] : rows)
        EXPECT_EQ(SystemFileFinder().FindFile(path, attributes), found) << name;
    std::filesystem::current_path(saved);
}

InterfaceAddress Ipv4(bool up, bool loopback, std::array<std::uint8_t, 4> bytes) {
    return {up, loopback, bytes};
}

// Guards skipping loopback, down interfaces and other families, taking the first usable
// address, the dotted form, the loopback fallback, and the system's own list read.
TEST(LocalAddress, PicksTheFirstIpv4AddressOfAnUpNonLoopbackInterface) {
    const InterfaceAddress otherFamily{true, false, std::nullopt};
    EXPECT_EQ(ChooseLocalAddress({Ipv4(true, true, {127, 0, 0, 1}),
                                  Ipv4(false, false, {10, 1, 2, 3}), otherFamily}),
              "127.0.0.1");
    EXPECT_EQ(ChooseLocalAddress(
                  {Ipv4(true, true, {127, 0, 0, 1}), Ipv4(false, false, {10, 1, 2, 3}), otherFamily,
                   Ipv4(true, false, {0, 255, 7, 100}), Ipv4(true, false, {10, 0, 0, 1})}),
              "0.255.7.100");
    const std::string address = SystemLocalAddress().LocalIP();
    EXPECT_TRUE(std::regex_match(address, std::regex(R"((\d{1,3}\.){3}\d{1,3})"))) << address;
}

// Guards the version granted (never above 1.1 or what was asked), the socket count taken from
// the open-file limit, version 0 refused, and clean-up counting start-ups.
TEST(SystemSocketLibrary, GrantsWhatWasAskedUpTo11AndCountsStartups) {
    SocketLibrary& library = SystemSocketLibrary();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 123);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    WsaData data{};
    const auto result = library.WSAStartup(0x0202, data);
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0101);
    EXPECT_EQ(ReadWord(data, kWsaHighVersionOffset), 0x0101);
    EXPECT_EQ(ReadWord(data, kWsaMaxSocketsOffset), lowered.rlim_cur);
    ASSERT_EQ(library.WSAStartup(0x0001, data), 0);
    EXPECT_EQ(ReadWord(data, kWsaVersionOffset), 0x0001);
    EXPECT_NE(library.WSAStartup(0x0100, data), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), 0);
    EXPECT_EQ(library.WSACleanup(), -1);
}

} // namespace
} // namespace tarnwick::platform
