// The system-information launcher and the registry reading it rests on.
#include "support/Fakes.h"
#include "support/TemporaryFolder.h"
#include "ui/about/frmAbout.h"

#include "platform/FileFinder.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using platform::kHkeyLocalMachine;
using platform::TextValueBytes;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
const testing::ShownMessage kUnavailable{"System Information Is Unavailable At This Time",
                                         platform::MessageIcon::None};

class SysInfoTest : public ::testing::Test {
protected:
    void SetPath(const std::string& text) {
        registry.SetValue(kHkeyLocalMachine, kSysInfoPathKey, "PATH", 1, TextValueBytes(text));
    }
    void SetFolder(const std::string& text) {
        registry.SetValue(kHkeyLocalMachine, kSysInfoFolderKey, "MSINFO", 1, TextValueBytes(text));
    }
    // Guards a key left open on any path.
    void TearDown() override { EXPECT_EQ(registry.OpenKeyCount(), 0u); }

    testing::TemporaryFolder folder;
    testing::RecordingShell shell;
    platform::MemoryRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    frmAbout about{{shell, registry, platform::SystemFileFinder(), programs, &messages}};
};

Bytes Raw(const std::string& text) {
    return {text.begin(), text.end()};
}

// Guards text read less its terminating zero (and only that), number digits most significant
// byte first without leading zeros after what was held, the sizes at the buffer's edge, values
// of no bytes, other types left alone, names read without regard to case, and the access asked.
TEST_F(SysInfoTest, GetKeyValueReadsTextAndNumbers) {
    const struct {
        std::uint32_t type;
        Bytes data;
        std::string before, after;
    } rows[] = {{1, TextValueBytes("/usr/bin/x"), "old", "/usr/bin/x"},
                {1, Raw("/usr/bin/x"), "", "/usr/bin/x"},
                {1, TextValueBytes(std::string("a\0b", 3)), "", std::string("a\0b", 3)},
                {4, {0x78, 0x56, 0x34, 0x12}, "", "&h12345678"},
                {4, {0x05, 0x00, 0x01, 0x00}, "AB", "&hAB105"},
                {4, {0, 0, 0, 0}, "", "&h000"},
                {2, TextValueBytes("/opt/x"), "kept", "kept"},
                {1, Raw(std::string(1024, 'b')), "", std::string(1024, 'b')},
                {1, TextValueBytes(std::string(1024, 'b')), "old", ""}, // 1025 bytes: refused
                {1, {}, "old", ""},
                {4, {}, "", "&h"}};
    // The key grants exactly what the launcher has always asked for, no more.
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Test", 0x0002003F);
    for (const auto& row : rows) {
        registry.SetValue(kHkeyLocalMachine, "SOFTWARE\\Test", "V", row.type, row.data);
        std::string value = row.before;
        EXPECT_EQ(about.GetKeyValue(kHkeyLocalMachine, "software\\TEST", "v", value),
                  row.data.size() <= 1024);
        EXPECT_EQ(value, row.after);
    }
    // A missing value or key: false and empty text.
    for (const char* key : {"SOFTWARE\\Test", "SOFTWARE\\None"}) {
        std::string value = "old";
        EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, key, "Other", value)) << key;
        EXPECT_EQ(value, "") << key;
    }
}

// Guards the path value started as it stands (not searched for first) with normal focus; the
// folder value tried only when the path value is missing, too large or its key refused, the
// program name added after a backslash, the key opened with exactly the access asked; one message
// each time nothing is started: a missing or empty program at the path value, no program in the
// folder, a file for a folder.
TEST_F(SysInfoTest, StartsThePathValueOrTheProgramInTheFolderValue) {
    const std::string hidden = folder.WriteScript("step1/.sysinfo", "exit 0");
    const std::string tools = folder / "tools";
    folder.WriteScript("tools/MSINFO32.EXE", "exit 0");
    SetFolder(tools);
    about.StartSysInfo();
    for (const std::string& path :
         {hidden, hidden + "-missing", std::string(), std::string(1024, 'x')}) {
        SetPath(path);
        about.StartSysInfo();
    }
    SetPath(hidden); // in a key that refuses what the launcher asks for
    SetFolder(tools + "\\");
    registry.AddKey(kHkeyLocalMachine, kSysInfoPathKey, platform::kKeyRead);
    about.StartSysInfo();
    for (const std::string& nothing : {folder / "step1", folder.WriteFile("file", "x")}) {
        SetFolder(nothing);
        about.StartSysInfo();
    }
    const std::string program = tools + "\\MSINFO32.EXE @1";
    EXPECT_EQ(programs.started,
              (Texts{program, hidden + " @1", program, tools + "\\\\MSINFO32.EXE @1"}));
    EXPECT_EQ(programs.attempts.size(), 6u);
    EXPECT_EQ(messages.shown, std::vector(4, kUnavailable));
}

// Guards the whole chain on Linux: the registry view names a program installed in PATH (in
// a folder with a blank), and the real starter starts it.
TEST_F(SysInfoTest, OnLinuxStartsTheInstalledProgram) {
    const std::string marker = folder / "marker";
    folder.WriteScript("a bin/hardinfo", "echo started > " + marker);
    testing::ScopedEnvironment path("PATH", folder / "a bin");
    frmAbout installed({shell, platform::SystemRegistry(), platform::SystemFileFinder(),
                        platform::SystemProgramStarter(), &messages});
    installed.StartSysInfo();
    EXPECT_EQ(testing::WaitForFile(marker), "started\n");
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick
