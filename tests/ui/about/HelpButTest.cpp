// The main window's help button and the one About window object of the run.
#include "support/FakeIcmpService.h"
#include "support/FakeLocalAddress.h"
#include "support/FakeSocketLibrary.h"
#include "support/RecordingMessageDialog.h"
#include "support/RecordingProgramStarter.h"
#include "support/RecordingRegistry.h"
#include "support/RecordingShell.h"
#include "ui/about/AboutLinks.h"
#include "ui/main/Form1.h"

#include "platform/FileFinder.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace tarnwick {
namespace {

class HelpButTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<Form1>(EchoServices{sockets, icmp, echoMessages}, localAddress);
        form->SetAboutServices(
            {shell, registry, platform::SystemFileFinder(), programs, &aboutMessages});
        form->Form_Load();
        form->show();
    }
    void TearDown() override {
        form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(AboutWindows(), 0);
    }
    void PressHelp() {
        QTest::mouseClick(form->HelpBut, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static int AboutWindows(bool visibleOnly = false) {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<AboutWindow*>(widget) != nullptr &&
                (!visibleOnly || widget->isVisible()))
                ++count;
        return count;
    }

    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::RecordingMessageDialog echoMessages;
    testing::FakeLocalAddress localAddress{"10.1.2.3"};
    testing::RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog aboutMessages;
    std::unique_ptr<Form1> form;
};

TEST_F(HelpButTest, NoAboutObjectBeforeTheFirstPress) {
    EXPECT_EQ(form->About(), nullptr);
    EXPECT_EQ(AboutWindows(), 0);
}

TEST_F(HelpButTest, EveryPressShowsTheSameOneWindow) {
    PressHelp();
    frmAbout* about = form->About();
    ASSERT_NE(about, nullptr);
    AboutWindow* window = about->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    PressHelp();
    PressHelp();
    EXPECT_EQ(form->About(), about);
    EXPECT_EQ(about->window(), window);
    EXPECT_EQ(AboutWindows(true), 1);
    EXPECT_EQ(AboutWindows(), 1);
    // Modeless and without an owner: the main window stays usable beside it.
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Command2->isEnabled());
}

TEST_F(HelpButTest, PressAfterOkReopensFromTheDesignWithTheKeyKept) {
    PressHelp();
    frmAbout* about = form->About();
    QComboBox* combo = about->window()->Combo1;
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_EQ(about->chosenKey(), kLinks[2].key);
    QTest::mouseClick(about->window()->cmdOK, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(about->window(), nullptr);
    EXPECT_EQ(AboutWindows(), 0);

    PressHelp();
    EXPECT_EQ(form->About(), about);
    AboutWindow* again = about->window();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Combo1->currentIndex(), -1);
    EXPECT_EQ(again->Combo1->currentText(), "");
    EXPECT_EQ(again->Combo1->count(), 5);
    QTest::mouseClick(again->Command1, Qt::LeftButton);
    EXPECT_EQ(shell.OpenedFiles(), std::vector<std::string>{kLinks[2].address});
}

TEST_F(HelpButTest, PingStillWorksWhileTheAboutWindowIsOpen) {
    PressHelp();
    form->Text1->setText("1.2.3.4.5");
    form->Command2->click();
    EXPECT_EQ(echoMessages.shown.size(), 1u); // the rejection, from the main window
    EXPECT_TRUE(form->About()->window()->isVisible());
}

} // namespace
} // namespace tarnwick
