// The Linux layers that find files, start programs, open addresses and fill the registry view.
#include "platform/FileFinder.h"
#include "platform/ProgramStarter.h"
#include "platform/Shell.h"
#include "platform/linux/LinuxRegistry.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <ostream>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace tarnwick::platform {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryFolder;
using testing::WaitForFile;

// ---- Finding files ----

class FindFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.WriteFile("tools/MSINFO32.EXE", "x");
        folder.WriteFile("tools/.hidden", "x");
        std::filesystem::create_directories(folder.Path() / "tools/folder");
    }
    std::string Find(const std::string& relative, int attributes = kAttributeNormal) {
        return SystemFileFinder().FindFile(folder.Path().string() + relative, attributes);
    }
    TemporaryFolder folder;
};

TEST_F(FindFileTest, FindsOrdinaryFilesAndGivesTheirName) {
    EXPECT_EQ(Find("/tools/MSINFO32.EXE"), "MSINFO32.EXE");
    EXPECT_EQ(Find("\\tools\\MSINFO32.EXE"), "MSINFO32.EXE");
    EXPECT_EQ(Find("/tools\\\\MSINFO32.EXE"), "MSINFO32.EXE"); // doubled separator
}

TEST_F(FindFileTest, AttributeSetZeroSkipsFoldersHiddenAndMissingFiles) {
    EXPECT_EQ(Find("/tools/folder"), "");
    EXPECT_EQ(Find("/tools/.hidden"), "");
    EXPECT_EQ(Find("/tools/msinfo32.exe"), ""); // names are case-sensitive here
    EXPECT_EQ(Find("/tools/missing"), "");
    EXPECT_EQ(Find("/tools/"), "");
    EXPECT_EQ(SystemFileFinder().FindFile("", kAttributeNormal), "");
    EXPECT_EQ(SystemFileFinder().FindFile(std::string("/bin/sh\0x", 9), kAttributeNormal), "");
}

TEST_F(FindFileTest, WiderAttributeSetsFindHiddenFilesAndFolders) {
    EXPECT_EQ(Find("/tools/.hidden", kAttributeHidden), ".hidden");
    EXPECT_EQ(Find("/tools/folder", kAttributeDirectory), "folder");
}

// ---- Command lines ----

struct SplitRow {
    const char* name;
    std::string commandLine;
    std::vector<std::string> words;
};
void PrintTo(const SplitRow& row, std::ostream* out) {
    *out << row.name;
}

class SplitCommandLineTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitCommandLineTest, GivesProgramAndArguments) {
    EXPECT_EQ(SplitCommandLine(GetParam().commandLine), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitCommandLineTest,
    ::testing::Values(
        SplitRow{"Empty", "", {}}, SplitRow{"Blanks", " \t ", {}},
        SplitRow{"Path", "/usr/bin/hardinfo", {"/usr/bin/hardinfo"}},
        SplitRow{"Arguments", "  prog  -a\tb ", {"prog", "-a", "b"}},
        SplitRow{"Quoted", "\"/opt/my tools/x\" \"a b\"", {"/opt/my tools/x", "a b"}},
        SplitRow{"EmptyQuotes", "\"\"", {""}},
        SplitRow{"BackslashesInProgramOnly", "C:\\dir\\\\X.EXE a\\b", {"C:/dir//X.EXE", "a\\b"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Starting programs ----

TEST(StartProgram, StartsARealProgramDetachedWithItsArguments) {
    TemporaryFolder folder;
    const std::string marker = (folder.Path() / "marker").string();
    const std::string script = folder.WriteScript("tool", "echo \"started $1\" > \"$2\"");
    const std::int64_t task =
        SystemProgramStarter().StartProgram(script + " one " + marker, kNormalFocusWindow);
    EXPECT_GT(task, 0);
    EXPECT_EQ(WaitForFile(marker), "started one\n");
    // Once it ends it is reaped: no zombie stays behind.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (kill(static_cast<pid_t>(task), 0) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(kill(static_cast<pid_t>(task), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(StartProgram, BackslashesInTheProgramPathReadAsFolders) {
    TemporaryFolder folder;
    const std::string marker = (folder.Path() / "marker").string();
    folder.WriteScript("sub/MSINFO32.EXE", "echo ran > " + marker);
    const std::string commandLine = folder.Path().string() + "\\sub\\\\MSINFO32.EXE";
    EXPECT_GT(SystemProgramStarter().StartProgram(commandLine, kNormalFocusWindow), 0);
    EXPECT_EQ(WaitForFile(marker), "ran\n");
}

TEST(StartProgram, StartedProgramRunsInASessionOfItsOwn) {
    TemporaryFolder folder;
    const std::string marker = (folder.Path() / "marker").string();
    const std::string script = folder.WriteScript("tool", "cut -d' ' -f6 /proc/$$/stat > \"$1\"");
    const std::int64_t task = SystemProgramStarter().StartProgram(script + " " + marker, 1);
    const std::string session = WaitForFile(marker);
    ASSERT_FALSE(session.empty());
    EXPECT_EQ(std::stoll(session), task);
    EXPECT_NE(std::stoll(session), static_cast<long long>(getsid(0)));
}

struct FailingStartRow {
    const char* name;
    std::string commandLine; // "{}" stands for the temporary folder
    int error;
};
void PrintTo(const FailingStartRow& row, std::ostream* out) {
    *out << row.name;
}

class FailingStartTest : public ::testing::TestWithParam<FailingStartRow> {};

TEST_P(FailingStartTest, ThrowsTheReason) {
    TemporaryFolder folder;
    folder.WriteFile("not-executable", "#!/bin/sh\n");
    folder.WriteFile("bad-interpreter", "#!/nonexistent/shell\n",
                     std::filesystem::perms::owner_all);
    std::string commandLine = GetParam().commandLine;
    if (const auto at = commandLine.find("{}"); at != std::string::npos)
        commandLine.replace(at, 2, folder.Path().string());
    try {
        SystemProgramStarter().StartProgram(commandLine, kNormalFocusWindow);
        FAIL() << "started " << commandLine;
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), GetParam().error) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailingStartTest,
    ::testing::Values(FailingStartRow{"EmptyCommandLine", "", ENOENT},
                      FailingStartRow{"OnlyBlanks", "   ", ENOENT},
                      FailingStartRow{"MissingFile", "{}/missing", ENOENT},
                      FailingStartRow{"NotExecutable", "{}/not-executable", EACCES},
                      FailingStartRow{"AFolder", "{}", EACCES},
                      FailingStartRow{"MissingInterpreter", "{}/bad-interpreter", ENOENT},
                      FailingStartRow{"UnknownNameInPath", "tarnwick-no-such-program", ENOENT},
                      FailingStartRow{"EmbeddedZero", std::string("/bin/true\0x", 11), EINVAL}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Opening addresses ----

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        marker = (folder.Path() / "opened").string();
        folder.WriteScript("bin/xdg-open", "echo \"$# $1\" > " + marker);
    }
    TemporaryFolder folder;
    std::string marker;
};

TEST_F(ShellTest, OpenHandsTheAddressToXdgOpenAndReturnsAtOnce) {
    ScopedEnvironment path("PATH", (folder.Path() / "bin").string() + ":/usr/bin:/bin");
    const auto result = SystemShell().ShellExecuteA(0, "open", "https://www.rfc-editor.org/x",
                                                    nullptr, nullptr, kShowWindow);
    EXPECT_GT(result, kShellFailureLimit);
    EXPECT_EQ(WaitForFile(marker), "1 https://www.rfc-editor.org/x\n");
}

TEST_F(ShellTest, RefusesOtherVerbsDashesAndEmptyAddresses) {
    ScopedEnvironment path("PATH", (folder.Path() / "bin").string());
    EXPECT_EQ(SystemShell().ShellExecuteA(0, "print", "https://a.example/", nullptr, nullptr, 5),
              kShellNoAssociation);
    EXPECT_LE(SystemShell().ShellExecuteA(0, "open", "--help", nullptr, nullptr, 5),
              kShellFailureLimit);
    EXPECT_LE(SystemShell().ShellExecuteA(0, "open", "", nullptr, nullptr, 5), kShellFailureLimit);
    // Nothing was started for any of them.
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(ShellTest, MissingXdgOpenFailsQuietly) {
    ScopedEnvironment path("PATH", (folder.Path() / "empty").string());
    EXPECT_EQ(SystemShell().ShellExecuteA(0, "open", "https://a.example/", nullptr, nullptr, 5),
              kShellFileNotFound);
}

// ---- The registry view ----

TEST(SystemInformationProgram, PrefersTheProgramOverTheFolderOrder) {
    TemporaryFolder folder;
    const auto all = std::filesystem::perms::owner_all;
    folder.WriteFile("first/kinfocenter", "", all);
    folder.WriteFile("second/gnome-system-monitor", "", all);
    folder.WriteFile("third/gnome-system-monitor", "", all);
    const std::string first = (folder.Path() / "first").string();
    const std::string second = (folder.Path() / "second").string();
    const std::string third = (folder.Path() / "third").string();
    EXPECT_EQ(FindSystemInformationProgram(first + ":" + second + "/:" + third),
              second + "/gnome-system-monitor");
    EXPECT_EQ(FindSystemInformationProgram(first), first + "/kinfocenter");
}

TEST(SystemInformationProgram, SkipsWhatCannotRunAndRelativeFolders) {
    TemporaryFolder folder;
    folder.WriteFile("plain/hardinfo", "");                              // not executable
    std::filesystem::create_directories(folder.Path() / "dir/hardinfo"); // a folder
    folder.WriteFile("rel/hardinfo", "", std::filesystem::perms::owner_all);
    const std::string base = folder.Path().string();
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    const std::string found = FindSystemInformationProgram(base + "/plain:" + base + "/dir:rel::");
    std::filesystem::current_path(saved);
    EXPECT_EQ(found, "");
}

TEST(SystemInformationProgram, ViewHoldsThePathOrNoKey) {
    TemporaryFolder folder;
    const std::string programs = (folder.Path() / "with blank").string();
    MemoryRegistry view;
    RefreshSystemInformationKey(view, programs);
    RegistryKey key = 0;
    EXPECT_EQ(view.RegOpenKeyExA(kHkeyLocalMachine, kSystemInformationKey, 0, kKeyRead, key),
              kErrorFileNotFound);

    folder.WriteFile("with blank/hardinfo", "", std::filesystem::perms::owner_all);
    RefreshSystemInformationKey(view, programs);
    ASSERT_EQ(view.RegOpenKeyExA(kHkeyLocalMachine, kSystemInformationKey, 0, kKeyRead, key),
              kErrorSuccess);
    std::array<std::uint8_t, 1024> buffer{};
    std::uint32_t size = buffer.size();
    std::uint32_t type = 0;
    ASSERT_EQ(view.RegQueryValueExA(key, "PATH", 0, &type, buffer.data(), &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    const std::string expected = "\"" + programs + "/hardinfo\"";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data())), expected);
    EXPECT_EQ(size, expected.size() + 1);
    view.RegCloseKey(key);
    EXPECT_EQ(SplitCommandLine(expected).front(), programs + "/hardinfo");
}

TEST(SystemRegistry, HoldsAnExecutableProgramOrNothingOnThisMachine) {
    Registry& registry = SystemRegistry();
    RegistryKey key = 0;
    const auto opened =
        registry.RegOpenKeyExA(kHkeyLocalMachine, kSystemInformationKey, 0, 0x0002003F, key);
    if (opened == kErrorFileNotFound) {
        EXPECT_EQ(FindSystemInformationProgram(std::getenv("PATH") ? std::getenv("PATH") : ""), "");
    } else {
        ASSERT_EQ(opened, kErrorSuccess);
        std::array<std::uint8_t, 1024> buffer{};
        std::uint32_t size = buffer.size();
        ASSERT_EQ(registry.RegQueryValueExA(key, "PATH", 0, nullptr, buffer.data(), &size),
                  kErrorSuccess);
        const std::string program =
            SplitCommandLine(reinterpret_cast<const char*>(buffer.data())).front();
        struct stat info {};
        ASSERT_EQ(stat(program.c_str(), &info), 0) << program;
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(access(program.c_str(), X_OK), 0);
    }
    registry.RegCloseKey(key);
    // Nothing lives under the location key on Linux.
    EXPECT_EQ(registry.RegOpenKeyExA(kHkeyLocalMachine,
                                     "SOFTWARE\\Microsoft\\Shared Tools Location", 0, kKeyRead,
                                     key),
              kErrorFileNotFound);
}

TEST(SystemRegistry, FollowsProgramsInstalledWhileRunning) {
    TemporaryFolder folder;
    const std::string bin = (folder.Path() / "bin").string();
    ScopedEnvironment path("PATH", bin);
    RegistryKey key = 0;
    EXPECT_EQ(
        SystemRegistry().RegOpenKeyExA(kHkeyLocalMachine, kSystemInformationKey, 0, kKeyRead, key),
        kErrorFileNotFound);
    folder.WriteFile("bin/lxtask", "", std::filesystem::perms::owner_all);
    ASSERT_EQ(
        SystemRegistry().RegOpenKeyExA(kHkeyLocalMachine, kSystemInformationKey, 0, kKeyRead, key),
        kErrorSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(SystemRegistry().RegQueryValueExA(key, "PATH", 0, nullptr, nullptr, &size),
              kErrorSuccess);
    EXPECT_EQ(size, bin.size() + std::string("/lxtask").size() + 1);
    SystemRegistry().RegCloseKey(key);
}

} // namespace
} // namespace tarnwick::platform
