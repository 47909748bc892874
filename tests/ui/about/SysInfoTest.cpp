// The system-information launcher and the registry reading it rests on.
#include "support/Fakes.h"
#include "support/TemporaryFolder.h"
#include "ui/about/frmAbout.h"

#include "platform/FileFinder.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using platform::kHkeyLocalMachine;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
constexpr char kUnavailable[] = "System Information Is Unavailable At This Time";

class SysInfoTest : public ::testing::Test {
protected:
    void Store(const std::string& key, const std::string& name, std::uint32_t type, Bytes data) {
        registry.SetValue(kHkeyLocalMachine, key, name, type, std::move(data));
    }
    void SetPath(const std::string& text) {
        Store(kSysInfoPathKey, "PATH", 1, platform::TextValueBytes(text));
    }
    void SetFolder(const std::string& text) {
        Store(kSysInfoFolderKey, "MSINFO", 1, platform::TextValueBytes(text));
    }
    Texts Messages() const {
        Texts prompts;
        for (const auto& message : messages.shown)
            prompts.push_back(message.icon == platform::MessageIcon::None ? message.prompt : "!");
        return prompts;
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

Bytes Text(const std::string& text, bool withZero = true) {
    Bytes bytes(text.begin(), text.end());
    if (withZero)
        bytes.push_back(0);
    return bytes;
}

// Guards text read less its terminating zero (and only that), number digits most significant
// byte first without leading zeros after what was held, the sizes at the buffer's edge, values
// of no bytes, other types left alone, names read without regard to case, and the access asked.
TEST_F(SysInfoTest, GetKeyValueReadsTextAndNumbers) {
    const struct {
        std::uint32_t type;
        Bytes data;
        std::string before, after;
    } rows[] = {{1, Text("/usr/bin/x"), "old", "/usr/bin/x"},
                {1, Text("/usr/bin/x", false), "", "/usr/bin/x"},
                {1, Text(std::string("a\0b", 3)), "", std::string("a\0b", 3)},
                {4, {0x78, 0x56, 0x34, 0x12}, "", "&h12345678"},
                {4, {0x05, 0x00, 0x01, 0x00}, "AB", "&hAB105"},
                {4, {0, 0, 0, 0}, "", "&h000"},
                {2, Text("/opt/x"), "kept", "kept"},
                {1, Text(std::string(1024, 'b'), false), "", std::string(1024, 'b')},
                {1, Text(std::string(1024, 'b')), "old", ""}, // 1025 bytes: refused
                {1, {}, "old", ""},
                {4, {}, "", "&h"}};
    // The key grants exactly what the launcher has always asked for, no more.
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Test", 0x0002003F);
    for (const auto& row : rows) {
        Store("SOFTWARE\\Test", "V", row.type, row.data);
        std::string value = row.before;
        EXPECT_EQ(about.GetKeyValue(kHkeyLocalMachine, "software\\TEST", "v", value),
                  row.data.size() <= 1024);
        EXPECT_EQ(value, row.after);
    }
    // A missing value or key, and a refused open: false and empty text.
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Locked", platform::kKeyRead);
    for (const auto& [key, name] : {std::pair{"SOFTWARE\\Test", "Other"},
                                    {"SOFTWARE\\None", "V"},
                                    {"SOFTWARE\\Locked", "V"}}) {
        std::string value = "old";
        EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, key, name, value)) << key;
        EXPECT_EQ(value, "") << key;
    }
}

// Guards the path value started as it stands (not searched for first) with normal focus,
// without trying the folder value, and a missing or empty program there reported rather
// than passed over.
TEST_F(SysInfoTest, PathValueIsStartedAsItStands) {
    const std::string hidden = folder.WriteScript("step1/.sysinfo", "exit 0");
    folder.WriteScript("tools/MSINFO32.EXE", "exit 0"); // started only if the folder is tried
    SetPath(hidden);
    SetFolder(folder / "tools");
    about.StartSysInfo();
    EXPECT_EQ(programs.started, Texts{hidden + " @1"});
    for (const std::string& unusable : {hidden + "-missing", std::string()}) {
        SetPath(unusable);
        about.StartSysInfo();
    }
    EXPECT_EQ(programs.started.size(), 1u);
    EXPECT_EQ(Messages(), (Texts{kUnavailable, kUnavailable}));
}

// Guards the fall-back to the folder value (when the path value is missing, too large or its
// key refused), the program name added with a backslash, and the one message when no program
// is found there: a folder without it, a file instead of a folder.
TEST_F(SysInfoTest, FolderValueIsTheFallBack) {
    const std::string tools = folder / "tools";
    folder.WriteScript("tools/MSINFO32.EXE", "exit 0");
    SetFolder(tools);
    about.StartSysInfo();
    SetPath(std::string(1024, 'x'));
    about.StartSysInfo();
    SetFolder(tools + "\\");
    registry.AddKey(kHkeyLocalMachine, kSysInfoPathKey, platform::kKeyRead);
    about.StartSysInfo();
    EXPECT_EQ(programs.started, (Texts{tools + "\\MSINFO32.EXE @1", tools + "\\MSINFO32.EXE @1",
                                       tools + "\\\\MSINFO32.EXE @1"}));
    for (const std::string& nothing : {folder / "step1", folder.WriteFile("file", "x")}) {
        SetFolder(nothing);
        about.StartSysInfo();
    }
    EXPECT_EQ(programs.attempts.size(), 3u);
    EXPECT_EQ(Messages(), (Texts{kUnavailable, kUnavailable}));
}

// Guards the whole chain on Linux: the registry view names a program installed in PATH (in
// a folder with a blank), and the real starter starts it.
TEST(SysInfoOnLinux, StartsTheInstalledProgram) {
    testing::TemporaryFolder folder;
    const std::string marker = folder / "marker";
    folder.WriteScript("a bin/hardinfo", "echo started > " + marker);
    testing::ScopedEnvironment path("PATH", folder / "a bin");
    testing::RecordingShell shell;
    testing::RecordingMessageDialog messages;
    frmAbout about({shell, platform::SystemRegistry(), platform::SystemFileFinder(),
                    platform::SystemProgramStarter(), &messages});
    about.StartSysInfo();
    EXPECT_EQ(testing::WaitForFile(marker), "started\n");
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick
