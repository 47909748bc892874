// The About window as the user meets it: one window per run, its links, its keys, closing and
// reopening, and the program ending with the last window; then the system-information launcher
// and the registry reading it rests on.
#include "support/TemporaryFolder.h"
#include "support/WindowChecks.h"
#include "tests/ui/main/Form1Fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace tarnwick {
namespace {

using platform::kHkeyLocalMachine;
using platform::kSysInfoFolderKey;
using platform::kSysInfoPathKey;
using platform::TextValueBytes;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
const testing::ShownMessage kUnavailable{"System Information Is Unavailable At This Time",
                                         platform::MessageIcon::None};

// The main window with recording About services (HelpBut opens the About window), and an About
// object of its own over the same services for the launcher.
class AboutTest : public testing::Form1Fixture {
protected:
    void SetUp() override {
        form->SetAboutServices(
            {shell, registry, platform::SystemFileFinder(), programs, &messages});
        form->show();
    }
    // Guards a key left open on any path.
    void TearDown() override { EXPECT_EQ(registry.OpenKeyCount(), 0u); }
    // Presses HelpBut; whatever happened before, the run then has one About window, shown.
    AboutWindow& PressHelp() {
        QTest::mouseClick(form->HelpBut, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        int windows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            windows += qobject_cast<AboutWindow*>(widget) != nullptr;
        EXPECT_EQ(windows, 1);
        EXPECT_TRUE(form->About()->window()->isVisible());
        return *form->About()->window();
    }
    // Chooses a list entry as the user does: the arrow keys move through the list.
    void Choose(int index) {
        QComboBox* combo = form->About()->window()->Combo1;
        while (combo->currentIndex() != index)
            QTest::keyClick(combo, combo->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }
    void PressKey(QWidget* focus, Qt::Key key) {
        focus->window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(focus->window()));
        focus->setFocus();
        QTest::keyClick(focus, key);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void SetPath(const std::string& text) {
        registry.SetValue(kHkeyLocalMachine, kSysInfoPathKey, "PATH", 1, TextValueBytes(text));
    }
    void SetFolder(const std::string& text) {
        registry.SetValue(kHkeyLocalMachine, kSysInfoFolderKey, "MSINFO", 1, TextValueBytes(text));
    }

    testing::TemporaryFolder folder;
    testing::RecordingShell shell;
    platform::MemoryRegistry registry;
    testing::RecordingProgramStarter programs;
    frmAbout launcher{{shell, registry, platform::SystemFileFinder(), programs, &messages}};
};
using SysInfoTest = AboutTest;

// Guards the one About object and window of the run: every press shows the same one, modeless,
// in its place, with its controls laid out.
TEST_F(AboutTest, EveryPressShowsTheSameOneWindow) {
    EXPECT_EQ(form->About(), nullptr);
    AboutWindow& window = PressHelp();
    const frmAbout* about = form->About();
    EXPECT_EQ(&PressHelp(), &window);
    EXPECT_EQ(form->About(), about);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("About Tarnwick"));
    EXPECT_EQ(window.geometry(),
              QRect(QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(156, 129),
                    QSize(382, 170)));
    EXPECT_EQ(testing::ExpectControlsLaidOut(window), 12);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Guards the link behind each entry: its address, opened through the shell's "open" with the
// window as owner, whatever entry was passed on the way; nothing before a choice; failures
// stay silent.
TEST_F(AboutTest, GoOpensTheChosenEntrysAddress) {
    const std::pair<const char*, const char*> links[] = {
        {"RFC 792 - ICMP", "https://www.rfc-editor.org/rfc/rfc792"},
        {"RFC 3912 - WHOIS", "https://www.rfc-editor.org/rfc/rfc3912"},
        {"ARIN Whois Search", "https://search.arin.net/"},
        {"RIPE NCC Database", "https://apps.db.ripe.net/db-web-ui/query"},
        {"IANA Whois Service", "https://www.iana.org/whois"}};
    AboutWindow& window = PressHelp();
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_TRUE(shell.requests.empty()) << "nothing chosen yet";
    shell.result = platform::kShellFileNotFound;
    for (int index : {4, 0, 3, 1, 2}) {
        Choose(index);
        EXPECT_EQ(window.Combo1->currentText(), QLatin1String(links[index].first));
        QTest::mouseClick(window.Command1, Qt::LeftButton);
        EXPECT_EQ(shell.requests.back(), "open " + std::string(links[index].second) + " 5");
        EXPECT_EQ(shell.owners.back(), static_cast<platform::WindowHandle>(window.winId()));
    }
    EXPECT_EQ(shell.requests.size(), 5u);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(window.isVisible());
}

// Guards the window built afresh after OK, the close box or a closing key, with the chosen
// link kept: a label typed into the list is chosen neither by Enter or Esc there, which close
// the window, nor by leaving the list. Enter on GO and on System Info acts and keeps the window.
TEST_F(AboutTest, ClosingAndReopeningKeepsTheChosenLink) {
    PressHelp();
    Choose(2);
    QTest::mouseClick(form->About()->window()->cmdOK, Qt::LeftButton);
    for (const auto& [control, key] :
         {std::pair{"cmdOK", Qt::Key_Return}, std::pair{"Combo1", Qt::Key_Return},
          std::pair{"Combo1", Qt::Key_Escape}, std::pair{"Command1", Qt::Key_Escape}}) {
        AboutWindow& window = PressHelp();
        EXPECT_EQ(window.Combo1->currentText(), "") << control;
        QTest::keyClicks(window.Combo1, "IANA Whois Service");
        PressKey(window.findChild<QWidget*>(control), key);
        EXPECT_EQ(form->About()->window(), nullptr) << control;
    }
    PressHelp().close(); // the close box, then a press before the deletion has run
    AboutWindow& again = PressHelp();
    PressKey(again.Command1, Qt::Key_Return);
    EXPECT_EQ(shell.requests, std::vector<std::string>{"open https://search.arin.net/ 5"});
    PressKey(again.cmdSysInfo, Qt::Key_Return);
    EXPECT_EQ(messages.shown, std::vector{kUnavailable});
    EXPECT_EQ(form->About()->window(), &again);
}

// Guards the last-window rule: the About window closing alone, or a message box over it,
// never ends the program while the main window is open; the program runs on with the About
// window after the main window closes, and ends with it.
TEST_F(AboutTest, TheProgramEndsWithItsLastWindow) {
    int lastWindowClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, form.get(),
                     [&] { ++lastWindowClosed; });
    frmAbout about({shell, registry, platform::SystemFileFinder(), programs, nullptr});
    about.Show();
    std::vector<int> seen;
    QTimer::singleShot(50, form.get(), [&] {
        about.window()->close();
        about.Show();
        QTimer::singleShot(100, form.get(), [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        about.StartSysInfo(); // an empty registry: the message box, until closed
        seen.push_back(lastWindowClosed);
        form->close();
        // Set only now: on a busy machine a timer set at the start could come due while the
        // message box is still open.
        QTimer::singleShot(100, form.get(), [&] {
            seen.push_back(lastWindowClosed);
            about.window()->close();
        });
    });
    QTimer::singleShot(30000, form.get(), [] { QApplication::exit(-1); }); // only if it hangs
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(seen, (std::vector<int>{0, 0}));
    EXPECT_EQ(lastWindowClosed, 1);
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
                {1, {'a', 'b'}, "", "ab"},
                {1, TextValueBytes(std::string("a\0b", 3)), "", std::string("a\0b", 3)},
                {4, {0x78, 0x56, 0x34, 0x12}, "", "&h12345678"},
                {4, {0x05, 0x00, 0x01, 0x00}, "AB", "&hAB105"},
                {4, {0, 0, 0, 0}, "", "&h000"},
                {2, TextValueBytes("/opt/x"), "kept", "kept"},
                {1, Bytes(1024, 'b'), "", std::string(1024, 'b')},
                {1, TextValueBytes(std::string(1024, 'b')), "old", ""}, // 1025 bytes: refused
                {1, {}, "old", ""},
                {4, {}, "", "&h"}};
    // The key grants exactly what the launcher has always asked for, no more.
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Test", 0x0002003F);
    for (const auto& row : rows) {
        registry.SetValue(kHkeyLocalMachine, "SOFTWARE\\Test", "V", row.type, row.data);
        std::string value = row.before;
        EXPECT_EQ(launcher.GetKeyValue(kHkeyLocalMachine, "software\\TEST", "v", value),
                  row.data.size() <= 1024);
        EXPECT_EQ(value, row.after);
    }
    // A missing value or key: false and empty text.
    for (const char* key : {"SOFTWARE\\Test", "SOFTWARE\\None"}) {
        std::string value = "old";
        EXPECT_FALSE(launcher.GetKeyValue(kHkeyLocalMachine, key, "Other", value)) << key;
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
    launcher.StartSysInfo();
    for (const std::string& path :
         {hidden, hidden + "-missing", std::string(), std::string(1024, 'x')}) {
        SetPath(path);
        launcher.StartSysInfo();
    }
    SetPath(hidden); // in a key that refuses what the launcher asks for
    SetFolder(tools + "\\");
    registry.AddKey(kHkeyLocalMachine, kSysInfoPathKey, platform::kKeyRead);
    launcher.StartSysInfo();
    for (const std::string& nothing : {folder / "step1", folder.WriteFile("file", "x")}) {
        SetFolder(nothing);
        launcher.StartSysInfo();
    }
    const std::string program = tools + "\\MSINFO32.EXE @1";
    EXPECT_EQ(programs.started,
              (Texts{program, hidden + " @1", program, tools + "\\\\MSINFO32.EXE @1"}));
    EXPECT_EQ(programs.attempts.size(), 6u);
    EXPECT_EQ(messages.shown, std::vector(4, kUnavailable));
}

// Guards the whole chain on Linux: the registry view names a program installed in PATH (in
// a folder with a blank) while running, the real starter starts it, and a program removed
// again is not named (no key): the message, as before it was installed.
TEST_F(SysInfoTest, OnLinuxStartsTheInstalledProgram) {
    const std::string marker = folder / "marker";
    testing::ScopedEnvironment path("PATH", folder / "a bin");
    frmAbout installed({shell, platform::SystemRegistry(), platform::SystemFileFinder(),
                        platform::SystemProgramStarter(), &messages});
    installed.StartSysInfo();
    const std::string program = folder.WriteScript("a bin/hardinfo", "echo started > " + marker);
    installed.StartSysInfo();
    EXPECT_EQ(testing::WaitForFile(marker), "started\n");
    std::filesystem::remove(program);
    platform::RegistryKey key = 0;
    EXPECT_EQ(platform::SystemRegistry().RegOpenKeyExA(kHkeyLocalMachine, kSysInfoPathKey, 0,
                                                       platform::kKeyRead, key),
              platform::kErrorFileNotFound);
    installed.StartSysInfo();
    EXPECT_EQ(messages.shown, std::vector(2, kUnavailable));
}

} // namespace
} // namespace tarnwick
