// The system-information launcher: which path is started, when the one message is shown.
#include "support/RecordingMessageDialog.h"
#include "support/RecordingProgramStarter.h"
#include "support/RecordingRegistry.h"
#include "support/RecordingShell.h"
#include "support/TemporaryFolder.h"
#include "ui/about/frmAbout.h"

#include "platform/FileFinder.h"
#include "platform/linux/LinuxRegistry.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarnwick {
namespace {

using platform::kHkeyLocalMachine;
using testing::ProgramStart;
using testing::ShownMessage;

const std::vector<ShownMessage> kUnavailable = {
    {"System Information Is Unavailable At This Time", platform::MessageIcon::None}};

class StartSysInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = folder.WriteScript("step1/sysinfo", "exit 0");
        tools = (folder.Path() / "tools").string();
        folder.WriteScript("tools/MSINFO32.EXE", "exit 0");
        empty = (folder.Path() / "empty").string();
        std::filesystem::create_directories(empty);
    }
    void SetPath(std::uint32_t type, std::vector<std::uint8_t> data) {
        registry.view.SetValue(kHkeyLocalMachine, kSysInfoPathKey, "PATH", type, std::move(data));
    }
    void SetPathText(const std::string& text) { SetPath(1, platform::TextValueBytes(text)); }
    void SetFolderText(const std::string& text) {
        registry.view.SetValue(kHkeyLocalMachine, kSysInfoFolderKey, "MSINFO", 1,
                               platform::TextValueBytes(text));
    }
    std::vector<ProgramStart> Started(const std::string& commandLine) { return {{commandLine, 1}}; }
    bool TriedStep2() const {
        for (const auto& open : registry.opens)
            if (open.path == kSysInfoFolderKey)
                return true;
        return false;
    }

    testing::TemporaryFolder folder;
    std::string program, tools, empty;
    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    frmAbout about{{shell, registry, platform::SystemFileFinder(), programs, &messages}};
};

TEST_F(StartSysInfoTest, Step1PathIsStartedAsItStandsWithoutAskingStep2) {
    SetPathText(program);
    SetFolderText(tools);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(program));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_FALSE(TriedStep2());
    EXPECT_EQ(registry.view.OpenKeyCount(), 0u);
}

TEST_F(StartSysInfoTest, Step1PathIsNotTestedBeforeTheStart) {
    // A hidden file is something the file search would never report.
    const std::string hidden = folder.WriteScript("step1/.sysinfo", "exit 0");
    SetPathText(hidden);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(hidden));
}

TEST_F(StartSysInfoTest, Step1TextWithoutTerminatingZeroKeepsAllCharacters) {
    SetPath(1, std::vector<std::uint8_t>(program.begin(), program.end()));
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(program));
}

TEST_F(StartSysInfoTest, Step1NamingAMissingFileShowsTheMessageWithoutTryingStep2) {
    SetPathText(program + "-missing");
    SetFolderText(tools);
    about.StartSysInfo();
    EXPECT_EQ(programs.attempts, Started(program + "-missing"));
    EXPECT_TRUE(programs.started.empty());
    EXPECT_EQ(messages.shown, kUnavailable);
    EXPECT_FALSE(TriedStep2());
}

TEST_F(StartSysInfoTest, Step2FolderHoldingTheProgramStartsItWithNormalFocus) {
    SetFolderText(tools);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(tools + "\\MSINFO32.EXE"));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(registry.view.OpenKeyCount(), 0u);
}

TEST_F(StartSysInfoTest, Step2FolderEndingInABackslashGivesTwoBackslashes) {
    SetFolderText(tools + "\\");
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(tools + "\\\\MSINFO32.EXE"));
}

// Rows where the step-1 value is read but names nothing startable: step 2 is never tried.
struct UnusableStep1Row {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};
void PrintTo(const UnusableStep1Row& row, std::ostream* out) {
    *out << row.name;
}

class UnusableStep1Test : public StartSysInfoTest,
                          public ::testing::WithParamInterface<UnusableStep1Row> {};

TEST_P(UnusableStep1Test, ShowsTheMessageAndLeavesStep2Alone) {
    SetPath(GetParam().type, GetParam().data);
    SetFolderText(tools);
    about.StartSysInfo();
    EXPECT_TRUE(programs.started.empty());
    EXPECT_EQ(messages.shown, kUnavailable);
    EXPECT_FALSE(TriedStep2());
    EXPECT_EQ(registry.view.OpenKeyCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnusableStep1Test,
                         ::testing::Values(UnusableStep1Row{"EmptyText", 1, {0}},
                                           UnusableStep1Row{"ExpandableText", 2, {'/', 'x', 0}},
                                           UnusableStep1Row{"ZeroBytes", 1, {}},
                                           UnusableStep1Row{"Number", 4, {0x05, 0x00, 0x01, 0x00}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Rows where neither value gives a program: the message, nothing started.
struct UnavailableRow {
    const char* name;
    bool withStep2Folder; // the folder without MSINFO32.EXE
    bool withStep2File;   // a file, not a folder, as the step-2 value
};
void PrintTo(const UnavailableRow& row, std::ostream* out) {
    *out << row.name;
}

class UnavailableTest : public StartSysInfoTest,
                        public ::testing::WithParamInterface<UnavailableRow> {};

TEST_P(UnavailableTest, ShowsTheOneMessage) {
    if (GetParam().withStep2Folder)
        SetFolderText(empty);
    if (GetParam().withStep2File)
        SetFolderText(program);
    about.StartSysInfo();
    EXPECT_TRUE(programs.attempts.empty());
    EXPECT_EQ(messages.shown, kUnavailable);
    EXPECT_EQ(registry.view.OpenKeyCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnavailableTest,
                         ::testing::Values(UnavailableRow{"BothKeysMissing", false, false},
                                           UnavailableRow{"FolderWithoutTheProgram", true, false},
                                           UnavailableRow{"FolderThatIsAFile", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartSysInfoTest, Step1ValueNotFoundFallsBackToStep2) {
    // Too large to read counts as not found, and so does a refused open.
    SetPathText(std::string(1024, 'x'));
    SetFolderText(tools);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(tools + "\\MSINFO32.EXE"));

    programs.started.clear();
    SetPathText(program);
    registry.view.AddKey(kHkeyLocalMachine, kSysInfoPathKey, platform::kKeyRead);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Started(tools + "\\MSINFO32.EXE"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StartSysInfoTest, EveryPressStartsAfresh) {
    about.StartSysInfo();
    SetFolderText(tools);
    about.StartSysInfo();
    about.StartSysInfo();
    EXPECT_EQ(messages.shown, kUnavailable);
    EXPECT_EQ(programs.started.size(), 2u);
}

// ---- With the real Linux program starter ----

TEST(StartSysInfoOnLinux, StartsARealProgramFromTheStep2Folder) {
    testing::TemporaryFolder folder;
    const std::string marker = (folder.Path() / "marker").string();
    folder.WriteScript("tools/MSINFO32.EXE", "echo started > " + marker);
    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingMessageDialog messages;
    registry.view.SetValue(kHkeyLocalMachine, kSysInfoFolderKey, "MSINFO", 1,
                           platform::TextValueBytes((folder.Path() / "tools").string()));
    frmAbout about({shell, registry, platform::SystemFileFinder(), platform::SystemProgramStarter(),
                    &messages});
    about.StartSysInfo();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(testing::WaitForFile(marker), "started\n");
}

TEST(StartSysInfoOnLinux, FailedRealStartShowsTheMessage) {
    testing::TemporaryFolder folder;
    const std::string notExecutable = folder.WriteFile("sysinfo", "#!/bin/sh\n");
    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingMessageDialog messages;
    registry.view.SetValue(kHkeyLocalMachine, kSysInfoPathKey, "PATH", 1,
                           platform::TextValueBytes(notExecutable));
    frmAbout about({shell, registry, platform::SystemFileFinder(), platform::SystemProgramStarter(),
                    &messages});
    about.StartSysInfo();
    EXPECT_EQ(messages.shown, kUnavailable);
}

TEST(StartSysInfoOnLinux, TheLinuxRegistryViewNamesTheInstalledProgram) {
    testing::TemporaryFolder folder;
    const std::string bin = (folder.Path() / "bin").string();
    testing::ScopedEnvironment path("PATH", bin);
    testing::RecordingShell shell;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    frmAbout about(
        {shell, platform::SystemRegistry(), platform::SystemFileFinder(), programs, &messages});
    about.StartSysInfo();
    EXPECT_EQ(messages.shown, kUnavailable);

    folder.WriteFile("bin/gnome-system-monitor", "", std::filesystem::perms::owner_all);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, (std::vector<ProgramStart>{{bin + "/gnome-system-monitor", 1}}));
    EXPECT_EQ(messages.shown.size(), 1u);
}

} // namespace
} // namespace tarnwick
