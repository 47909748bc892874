// The program runs until its last window closes, the About window included.
#include "support/FakeIcmpService.h"
#include "support/FakeLocalAddress.h"
#include "support/FakeSocketLibrary.h"
#include "support/RecordingMessageDialog.h"
#include "support/RecordingProgramStarter.h"
#include "support/RecordingRegistry.h"
#include "support/RecordingShell.h"
#include "ui/about/frmAbout.h"
#include "ui/main/Form1.h"

#include "platform/FileFinder.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace tarnwick {
namespace {

// Runs the application's event loop, doing one step after another with a short pause
// between them; returns the loop's exit code, or -1 when it had to be stopped.
int RunSteps(const std::vector<std::function<void()>>& steps) {
    int delay = 0;
    for (const auto& step : steps) {
        delay += 50;
        QTimer::singleShot(delay, qApp, step);
    }
    bool stopped = false;
    QTimer::singleShot(delay + 2000, qApp, [&] {
        stopped = true;
        QApplication::exit(-1);
    });
    const int code = QApplication::exec();
    return stopped ? -1 : code;
}

class LastWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());
        connect = QObject::connect(qApp, &QGuiApplication::lastWindowClosed,
                                   [this] { ++lastWindowClosed; });
        main.SetAboutServices({shell, registry, platform::SystemFileFinder(), programs, &messages});
        main.Form_Load();
        main.show();
        QTest::mouseClick(main.HelpBut, Qt::LeftButton);
        ASSERT_NE(main.About(), nullptr);
    }
    void TearDown() override { QObject::disconnect(connect); }

    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::FakeLocalAddress localAddress{"10.1.2.3"};
    Form1 main{EchoServices{sockets, icmp, messages}, localAddress};
    frmAbout& about() { return *main.About(); }
    QMetaObject::Connection connect;
    int lastWindowClosed = 0;
};

TEST_F(LastWindowTest, ClosingTheMainWindowLeavesTheProgramRunningWithTheAboutWindow) {
    bool aboutStillOpen = false;
    int closedAfterMain = -1;
    const int code = RunSteps({[&] { main.close(); },
                               [&] {
                                   closedAfterMain = lastWindowClosed;
                                   aboutStillOpen =
                                       about().window() != nullptr && about().window()->isVisible();
                                   about().window()->close();
                               }});
    EXPECT_EQ(closedAfterMain, 0);
    EXPECT_TRUE(aboutStillOpen);
    EXPECT_EQ(code, 0); // the program quit when the About window closed
    EXPECT_EQ(lastWindowClosed, 1);
}

TEST_F(LastWindowTest, ClosingTheAboutWindowAloneNeverEndsTheProgram) {
    int closedAfterAbout = -1;
    const int code = RunSteps({[&] { about().window()->close(); },
                               [&] {
                                   closedAfterAbout = lastWindowClosed;
                                   EXPECT_TRUE(main.isVisible());
                                   // and again, closed through OK this time
                                   QTest::mouseClick(main.HelpBut, Qt::LeftButton);
                               },
                               [&] { about().cmdOK_Click(); },
                               [&] {
                                   EXPECT_EQ(lastWindowClosed, 0);
                                   main.close();
                               }});
    EXPECT_EQ(closedAfterAbout, 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lastWindowClosed, 1);
}

TEST_F(LastWindowTest, MessageBoxClosingAfterTheMainWindowDoesNotEndTheProgram) {
    // The real message box over the About window: closing it must not count as the last
    // window while the About window is still open.
    frmAbout real({shell, registry, platform::SystemFileFinder(), programs, nullptr});
    int closedAfterMessage = -1;
    bool aboutStillOpen = false;
    const int code = RunSteps({[&] {
                                   about().window()->close();
                                   real.Show();
                                   main.close();
                               },
                               [&] {
                                   QTimer::singleShot(100, qApp, [] {
                                       if (QWidget* box = QApplication::activeModalWidget())
                                           box->close();
                                   });
                                   real.StartSysInfo(); // the registry is empty: the message
                                   closedAfterMessage = lastWindowClosed;
                                   aboutStillOpen =
                                       real.window() != nullptr && real.window()->isVisible();
                                   real.window()->close();
                               }});
    EXPECT_EQ(closedAfterMessage, 0);
    EXPECT_TRUE(aboutStillOpen);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lastWindowClosed, 1);
}

} // namespace
} // namespace tarnwick
