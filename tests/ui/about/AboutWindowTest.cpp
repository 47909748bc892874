// The About window as the user meets it: one window per run, its links, its keys, closing and
// reopening, and the program ending with the last window.
#include "support/Fakes.h"
#include "support/WindowChecks.h"
#include "ui/main/Form1.h"

#include "platform/FileFinder.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace tarnwick {
namespace {

// Lets deferred deletions and posted events run.
void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int AboutWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<AboutWindow*>(widget) != nullptr;
    return count;
}

// The main window with recording About services; HelpBut opens the About window.
class AboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        main.SetAboutServices({shell, registry, platform::SystemFileFinder(), programs, &messages});
        main.show();
    }
    void TearDown() override {
        Settle();
        EXPECT_LE(AboutWindows(), 1);
    }
    AboutWindow& PressHelp() {
        QTest::mouseClick(main.HelpBut, Qt::LeftButton);
        Settle();
        EXPECT_NE(main.About(), nullptr);
        return *main.About()->window();
    }
    // Chooses a list entry as the user does: the arrow keys move through the list.
    void Choose(int index) {
        QComboBox* combo = main.About()->window()->Combo1;
        combo->setFocus();
        while (combo->currentIndex() < index)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > index)
            QTest::keyClick(combo, Qt::Key_Up);
    }
    void PressKey(QWidget* focus, Qt::Key key) {
        QApplication::setActiveWindow(focus->window());
        focus->setFocus();
        QTest::keyClick(focus, key);
        Settle();
    }

    testing::RecordingShell shell;
    platform::MemoryRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::FakeLocalAddress localAddress;
    Form1 main{EchoServices{sockets, icmp, messages}, localAddress};
};

// Guards the one About object and window of the run: every press shows the same one, modeless
// beside a working main window, in its place, with its controls laid out.
TEST_F(AboutTest, EveryPressShowsTheSameOneWindow) {
    EXPECT_EQ(main.About(), nullptr);
    AboutWindow& window = PressHelp();
    const frmAbout* about = main.About();
    EXPECT_EQ(&PressHelp(), &window);
    EXPECT_EQ(main.About(), about);
    EXPECT_EQ(AboutWindows(), 1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("About Tarnwick"));
    EXPECT_EQ(window.geometry(),
              QRect(QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(156, 129),
                    QSize(382, 170)));
    EXPECT_EQ(testing::ExpectControlsLaidOut(window), 12);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    main.Text1->setText("1.2.3.4.5");
    main.Command2->click();
    EXPECT_EQ(messages.shown.size(), 1u); // the rejection, from the main window
}

// Guards the link behind each entry: its address, opened through the shell's "open" with the
// window as owner, whatever entry was passed on the way; failures stay silent.
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

// Guards the choice made only from the list: a typed label chosen neither by Enter, which
// closes the window instead, nor by leaving the field.
TEST_F(AboutTest, TypingALabelChoosesNothing) {
    AboutWindow& window = PressHelp();
    QTest::keyClicks(window.Combo1, QStringLiteral("ARIN Whois Search"));
    PressKey(window.Command1, Qt::Key_Space);
    EXPECT_TRUE(shell.requests.empty());
    QTest::keyClicks(window.Combo1, QStringLiteral("IANA Whois Service"));
    PressKey(window.Combo1, Qt::Key_Return);
    EXPECT_EQ(main.About()->window(), nullptr);
    EXPECT_EQ(main.About()->chosenKey(), "");
}

// Guards the window built afresh from the design after OK, the close box or a closing key,
// while the chosen link is kept; Enter on GO and on System Info act and keep the window.
TEST_F(AboutTest, ClosingAndReopeningKeepsTheChosenLink) {
    PressHelp();
    Choose(2);
    QTest::mouseClick(main.About()->window()->cmdOK, Qt::LeftButton);
    Settle();
    EXPECT_EQ(main.About()->window(), nullptr);
    EXPECT_EQ(AboutWindows(), 0);
    for (const auto& [control, key] : {std::pair{"cmdOK", Qt::Key_Return},
                                       {"Combo1", Qt::Key_Escape},
                                       {"Command1", Qt::Key_Escape}}) {
        AboutWindow& window = PressHelp();
        EXPECT_EQ(window.Combo1->currentText(), "") << control;
        QTest::keyClicks(window.Combo1, "typed");
        PressKey(window.findChild<QWidget*>(control), key);
        EXPECT_EQ(main.About()->window(), nullptr) << control;
    }
    AboutWindow& window = PressHelp();
    window.close(); // the close box, then a press before the deletion has run
    AboutWindow& again = PressHelp();
    EXPECT_EQ(AboutWindows(), 1);
    PressKey(again.Command1, Qt::Key_Return);
    EXPECT_EQ(shell.requests, std::vector<std::string>{"open https://search.arin.net/ 5"});
    PressKey(again.cmdSysInfo, Qt::Key_Return);
    EXPECT_EQ(messages.shown,
              (std::vector<testing::ShownMessage>{{"System Information Is Unavailable At This Time",
                                                   platform::MessageIcon::None}}));
    EXPECT_EQ(main.About()->window(), &again);
}

// Runs the application's event loop, one step after another; the loop's exit code, or -1
// when it had to be stopped.
int RunSteps(const std::vector<std::function<void()>>& steps) {
    int delay = 0;
    for (const auto& step : steps)
        QTimer::singleShot(delay += 50, qApp, step);
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [] { QApplication::exit(-1); });
    stop.start(delay + 2000);
    return QApplication::exec();
}

// Guards the last-window rule: the program runs on with the About window after the main
// window closes, ends with it, and never ends when the About window (or a message box over
// it) closes while the main window is open.
TEST_F(AboutTest, TheProgramEndsWithItsLastWindow) {
    int lastWindowClosed = 0;
    const auto counting =
        QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { ++lastWindowClosed; });
    PressHelp();
    frmAbout real({shell, registry, platform::SystemFileFinder(), programs, nullptr});
    std::vector<int> seen;
    const int code = RunSteps({[&] { main.About()->window()->close(); },
                               [&] {
                                   seen.push_back(lastWindowClosed);
                                   real.Show();
                                   main.close();
                               },
                               [&] {
                                   seen.push_back(lastWindowClosed);
                                   QTimer::singleShot(100, qApp, [] {
                                       if (QWidget* box = QApplication::activeModalWidget())
                                           box->close();
                                   });
                                   real.StartSysInfo(); // an empty registry: the message box
                                   seen.push_back(lastWindowClosed);
                                   real.window()->close();
                               }});
    QObject::disconnect(counting);
    EXPECT_EQ(seen, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lastWindowClosed, 1);
}

} // namespace
} // namespace tarnwick
