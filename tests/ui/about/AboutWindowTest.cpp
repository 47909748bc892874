// The About window: its design, one window per run, closing and reopening, keys and links.
#include "support/RecordingMessageDialog.h"
#include "support/RecordingProgramStarter.h"
#include "support/RecordingRegistry.h"
#include "support/RecordingShell.h"
#include "ui/about/AboutLinks.h"
#include "ui/about/frmAbout.h"
#include "ui/common/Twips.h"

#include "platform/FileFinder.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <ostream>

#include <set>

namespace tarnwick {
namespace {

using testing::RecordingShell;

// Lets deferred deletions and posted events run.
void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int VisibleAboutWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<AboutWindow*>(widget) != nullptr && widget->isVisible())
            ++count;
    return count;
}

int AllAboutWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<AboutWindow*>(widget) != nullptr)
            ++count;
    return count;
}

class AboutWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        about.reset();
        Settle();
        EXPECT_EQ(AllAboutWindows(), 0);
    }
    AboutWindow& Shown() {
        about->Show();
        EXPECT_NE(about->window(), nullptr);
        return *about->window();
    }
    // Chooses a list entry as the user does: the keyboard moves through the list.
    void ChooseWithArrowKeys(int index) {
        QComboBox* combo = about->window()->Combo1;
        combo->setFocus();
        while (combo->currentIndex() < index)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > index)
            QTest::keyClick(combo, Qt::Key_Up);
    }
    void CloseWithOk() {
        QTest::mouseClick(about->window()->cmdOK, Qt::LeftButton);
        Settle();
    }

    RecordingShell shell;
    testing::RecordingRegistry registry;
    testing::RecordingProgramStarter programs;
    testing::RecordingMessageDialog messages;
    std::unique_ptr<frmAbout> about = std::make_unique<frmAbout>(
        AboutServices{shell, registry, platform::SystemFileFinder(), programs, &messages});
};

// ---- Design ----

struct ControlRow {
    const char* name;
    QRect twips; // Left, Top, Width, Height in the parent's client area
};
void PrintTo(const ControlRow& row, std::ostream* out) {
    *out << row.name;
}

class AboutLayoutTest : public AboutWindowTest, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(AboutLayoutTest, ControlStandsWhereTheDesignPutsIt) {
    AboutWindow& window = Shown();
    auto* control = window.findChild<QWidget*>(QString::fromLatin1(GetParam().name));
    ASSERT_NE(control, nullptr);
    const QRect& t = GetParam().twips;
    EXPECT_EQ(control->geometry(), TwipsRect(t.x(), t.y(), t.width(), t.height()));
    EXPECT_TRUE(control->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Rows, AboutLayoutTest,
                         ::testing::Values(ControlRow{"Image1", {240, 240, 480, 480}},
                                           ControlRow{"Title", {1080, 120, 1725, 240}},
                                           ControlRow{"lblVersion", {1080, 360, 1005, 225}},
                                           ControlRow{"lblDescription", {1080, 600, 1365, 210}},
                                           ControlRow{"cmdOK", {4320, 240, 1020, 345}},
                                           ControlRow{"Frame1", {600, 960, 4575, 735}},
                                           ControlRow{"Combo1", {480, 240, 2775, 315}},
                                           ControlRow{"Command1", {3720, 240, 615, 375}},
                                           ControlRow{"lblDisclaimer", {120, 1920, 3870, 585}},
                                           ControlRow{"cmdSysInfo", {4200, 2040, 1245, 345}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AboutWindowTest, WindowHasItsCaptionSizeAndFixedScreenPosition) {
    AboutWindow& window = Shown();
    EXPECT_EQ(window.windowTitle(), "About Tarnwick");
    const QPoint screenOrigin = QGuiApplication::primaryScreen()->geometry().topLeft();
    EXPECT_EQ(window.geometry(), TwipsRect(2340, 1935, 5730, 2550).translated(screenOrigin));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(window.windowType(), Qt::Tool);
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_TRUE(window.autoFillBackground());
}

TEST_F(AboutWindowTest, ControlsCarryTheDesignTextsAndColours) {
    AboutWindow& window = Shown();
    EXPECT_EQ(window.lblVersion->text(), "Version 1.1");
    EXPECT_EQ(window.cmdOK->text(), "&OK");
    EXPECT_EQ(window.Command1->text(), "&GO");
    EXPECT_EQ(window.cmdSysInfo->text(), "&System Info...");
    EXPECT_EQ(window.Frame1->title(), "Visit A Website:");
    EXPECT_EQ(window.Frame1->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(window.Combo1->parentWidget(), window.Frame1);
    EXPECT_EQ(window.Command1->parentWidget(), window.Frame1);
    EXPECT_TRUE(window.lblDescription->text().contains("2026"));
    for (QLabel* label : {window.Title, window.lblDescription, window.lblDisclaimer}) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        EXPECT_FALSE(label->autoFillBackground()); // transparent
    }
    // The disclaimer is two sentences.
    EXPECT_EQ(window.lblDisclaimer->text().count(". "), 1);
    EXPECT_TRUE(window.lblDisclaimer->text().endsWith('.'));
    ASSERT_FALSE(window.Image1->pixmap().isNull());
    EXPECT_EQ(window.Image1->pixmap().deviceIndependentSize().toSize(), QSize(32, 32));
    // The main window's icon, its 32x32 image.
    const QImage icon = QIcon(":/artwork/tarnwick.ico").pixmap(32, 32).toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(window.Image1->pixmap().toImage().convertToFormat(icon.format()), icon);
    EXPECT_EQ(window.windowIcon().pixmap(32, 32).toImage().convertToFormat(icon.format()), icon);
}

TEST_F(AboutWindowTest, TextsFitTheirLabels) {
    AboutWindow& window = Shown();
    for (QLabel* label :
         {window.Title, window.lblVersion, window.lblDescription, window.lblDisclaimer}) {
        SCOPED_TRACE(label->objectName().toStdString());
        const QFontMetrics metrics(label->font());
        const QRect needed =
            metrics.boundingRect(QRect(QPoint(), label->size()), Qt::TextWordWrap, label->text());
        EXPECT_LE(needed.width(), label->width());
        EXPECT_LE(needed.height(), label->height());
    }
}

TEST_F(AboutWindowTest, SeparatorIsAWhiteLineUnderAGreyOne) {
    AboutWindow& window = Shown();
    QWidget* highlight = window.Line1[0];
    QWidget* shadow = window.Line1[1];
    EXPECT_EQ(highlight->geometry(), QRect(7, 120, 370, 2));
    EXPECT_EQ(shadow->geometry(), QRect(6, 120, 371, 1));
    EXPECT_EQ(highlight->palette().color(QPalette::Window), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(shadow->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    // The grey line is drawn on top, so the white shows as the lower pixel row.
    const QImage image = window.grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 120), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(image.pixelColor(100, 121), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(image.pixelColor(100, 123), QColor(0xC0, 0xC0, 0xC0));
}

TEST_F(AboutWindowTest, FocusStartsOnOkAndTabFollowsTheDesignOrder) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    Settle();
    EXPECT_EQ(QApplication::focusWidget(), window.cmdOK);
    EXPECT_TRUE(window.cmdOK->isDefault());
    const std::vector<QWidget*> order = {window.cmdSysInfo, window.Combo1, window.Command1,
                                         window.cmdOK};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), expected->objectName());
    }
}

TEST_F(AboutWindowTest, ListStartsWithTheFiveLabelsAndNothingChosen) {
    AboutWindow& window = Shown();
    ASSERT_EQ(window.Combo1->count(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(window.Combo1->itemText(i).toStdString(), kLinks[i].label);
    EXPECT_EQ(window.Combo1->currentIndex(), -1);
    EXPECT_EQ(window.Combo1->currentText(), "");
    EXPECT_TRUE(window.Combo1->isEditable());
}

TEST(AboutLinks, AreFiveDistinctHttpsAddressesWithKeysOfTheirOwn) {
    std::set<std::string> labels, keys, addresses;
    for (const LinkEntry& link : kLinks) {
        SCOPED_TRACE(link.label);
        const QUrl url(QString::fromLatin1(link.address), QUrl::StrictMode);
        EXPECT_TRUE(url.isValid());
        EXPECT_EQ(url.scheme(), "https");
        EXPECT_FALSE(url.host().isEmpty());
        EXPECT_TRUE(url.host().contains('.'));
        EXPECT_STRNE(link.key, link.label);
        EXPECT_STRNE(link.key, "");
        labels.insert(link.label);
        keys.insert(link.key);
        addresses.insert(link.address);
    }
    EXPECT_EQ(labels.size(), 5u);
    EXPECT_EQ(keys.size(), 5u);
    EXPECT_EQ(addresses.size(), 5u);
}

// ---- One window, closing and reopening ----

TEST_F(AboutWindowTest, ShowingAgainKeepsExactlyOneVisibleWindow) {
    AboutWindow& first = Shown();
    about->Show();
    about->Show();
    Settle();
    EXPECT_EQ(about->window(), &first);
    EXPECT_EQ(VisibleAboutWindows(), 1);
    EXPECT_EQ(AllAboutWindows(), 1);
}

TEST_F(AboutWindowTest, OkDestroysTheWindowButKeepsTheObjectAndTheKey) {
    Shown();
    ChooseWithArrowKeys(2);
    EXPECT_EQ(about->chosenKey(), kLinks[2].key);
    QPointer<AboutWindow> closed = about->window();
    CloseWithOk();
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(about->window(), nullptr);
    EXPECT_EQ(AllAboutWindows(), 0);
    EXPECT_EQ(about->chosenKey(), kLinks[2].key);

    AboutWindow& again = Shown();
    EXPECT_EQ(again.Combo1->count(), 5);
    EXPECT_EQ(again.Combo1->currentIndex(), -1);
    EXPECT_EQ(again.Combo1->currentText(), "");
    EXPECT_EQ(VisibleAboutWindows(), 1);
}

TEST_F(AboutWindowTest, ReopenedWindowStartsFromTheDesignAfterTyping) {
    AboutWindow& window = Shown();
    QTest::keyClicks(window.Combo1, "typed");
    EXPECT_EQ(window.Combo1->currentText(), "typed");
    window.close(); // the close box
    Settle();
    EXPECT_EQ(about->window(), nullptr);
    EXPECT_EQ(Shown().Combo1->currentText(), "");
}

TEST_F(AboutWindowTest, ShowRightAfterCloseBuildsAFreshWindow) {
    AboutWindow& window = Shown();
    window.close();
    about->Show(); // before the closed window's deletion has run
    Settle();
    EXPECT_EQ(VisibleAboutWindows(), 1);
    EXPECT_EQ(AllAboutWindows(), 1);
    EXPECT_TRUE(about->window()->isVisible());
}

struct ClosingKeyRow {
    const char* name;
    const char* focus; // the control that has the focus
    Qt::Key key;
};
void PrintTo(const ClosingKeyRow& row, std::ostream* out) {
    *out << row.name;
}

class ClosingKeyTest : public AboutWindowTest,
                       public ::testing::WithParamInterface<ClosingKeyRow> {};

TEST_P(ClosingKeyTest, ClosesTheWindow) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    auto* focus = window.findChild<QWidget*>(GetParam().focus);
    focus->setFocus();
    Settle();
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, GetParam().key);
    Settle();
    EXPECT_EQ(about->window(), nullptr);
    EXPECT_EQ(AllAboutWindows(), 0);
    EXPECT_TRUE(shell.requests.empty());
    EXPECT_TRUE(programs.attempts.empty());
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ClosingKeyTest,
    ::testing::Values(ClosingKeyRow{"EnterOnOk", "cmdOK", Qt::Key_Return},
                      ClosingKeyRow{"EscOnOk", "cmdOK", Qt::Key_Escape},
                      ClosingKeyRow{"EnterInList", "Combo1", Qt::Key_Return},
                      ClosingKeyRow{"KeypadEnterInList", "Combo1", Qt::Key_Enter},
                      ClosingKeyRow{"EscInList", "Combo1", Qt::Key_Escape},
                      ClosingKeyRow{"EscOnGo", "Command1", Qt::Key_Escape},
                      ClosingKeyRow{"EscOnSysInfo", "cmdSysInfo", Qt::Key_Escape}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AboutWindowTest, EnterOnGoOpensTheLinkAndKeepsTheWindow) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    ChooseWithArrowKeys(0);
    window.Command1->setFocus();
    QTest::keyClick(window.Command1, Qt::Key_Return);
    Settle();
    EXPECT_EQ(shell.OpenedFiles(), std::vector<std::string>{kLinks[0].address});
    EXPECT_NE(about->window(), nullptr);
}

TEST_F(AboutWindowTest, EnterOnSysInfoStartsItAndKeepsTheWindow) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    window.cmdSysInfo->setFocus();
    QTest::keyClick(window.cmdSysInfo, Qt::Key_Return);
    Settle();
    EXPECT_EQ(messages.shown.size(), 1u);
    ASSERT_NE(about->window(), nullptr);
    EXPECT_TRUE(about->window()->isVisible());
}

// ---- Choosing and opening links ----

TEST_F(AboutWindowTest, GoBeforeAnyChoiceOpensNothing) {
    AboutWindow& window = Shown();
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_TRUE(shell.requests.empty());
}

TEST_F(AboutWindowTest, GoOpensTheChosenAddressThroughTheShell) {
    AboutWindow& window = Shown();
    ChooseWithArrowKeys(3);
    ChooseWithArrowKeys(1);
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    ASSERT_EQ(shell.requests.size(), 1u);
    const testing::ShellRequest& request = shell.requests[0];
    EXPECT_EQ(request.file, kLinks[1].address);
    EXPECT_EQ(request.operation, "open");
    EXPECT_TRUE(request.withoutParameters);
    EXPECT_TRUE(request.withoutDirectory);
    EXPECT_EQ(request.showCommand, 5);
    EXPECT_EQ(request.owner, static_cast<platform::WindowHandle>(window.winId()));
}

TEST_F(AboutWindowTest, GoTwiceOpensTheSameAddressTwice) {
    AboutWindow& window = Shown();
    ChooseWithArrowKeys(4);
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_EQ(shell.OpenedFiles(),
              (std::vector<std::string>{kLinks[4].address, kLinks[4].address}));
}

TEST_F(AboutWindowTest, ChoosingWithTheMouseFromTheListSetsTheKey) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    window.Combo1->showPopup();
    Settle();
    QAbstractItemView* list = window.Combo1->view();
    ASSERT_TRUE(list->isVisible());
    const QRect item = list->visualRect(list->model()->index(3, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    Settle();
    EXPECT_EQ(window.Combo1->currentIndex(), 3);
    EXPECT_EQ(about->chosenKey(), kLinks[3].key);
}

TEST_F(AboutWindowTest, TypingALabelChoosesNothing) {
    AboutWindow& window = Shown();
    QTest::keyClicks(window.Combo1, QString::fromLatin1(kLinks[2].label));
    EXPECT_EQ(about->chosenKey(), "");
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_TRUE(shell.requests.empty());

    // With an entry chosen before, typing another label keeps that choice.
    ChooseWithArrowKeys(0);
    window.Combo1->setEditText(QString());
    QTest::keyClicks(window.Combo1, QString::fromLatin1(kLinks[2].label));
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_EQ(shell.OpenedFiles(), std::vector<std::string>{kLinks[0].address});
}

TEST_F(AboutWindowTest, TypingALabelAndPressingEnterChoosesNothing) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    window.Combo1->setFocus();
    QTest::keyClicks(window.Combo1, QString::fromLatin1(kLinks[2].label));
    QTest::keyClick(window.Combo1, Qt::Key_Return);
    Settle();
    EXPECT_EQ(about->chosenKey(), "");
}

TEST_F(AboutWindowTest, TypingALabelAndLeavingTheFieldChoosesNothing) {
    AboutWindow& window = Shown();
    QApplication::setActiveWindow(&window);
    window.Combo1->setFocus();
    QTest::keyClicks(window.Combo1, QString::fromLatin1(kLinks[2].label));
    QTest::keyClick(window.Combo1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window.Command1);
    QTest::keyClick(window.Command1, Qt::Key_Space);
    EXPECT_EQ(about->chosenKey(), "");
    EXPECT_TRUE(shell.requests.empty());
}

TEST_F(AboutWindowTest, ChoiceMadeBeforeClosingIsOpenedAfterReopening) {
    Shown();
    ChooseWithArrowKeys(2);
    CloseWithOk();
    AboutWindow& again = Shown();
    EXPECT_EQ(again.Combo1->currentIndex(), -1);
    QTest::mouseClick(again.Command1, Qt::LeftButton);
    EXPECT_EQ(shell.OpenedFiles(), std::vector<std::string>{kLinks[2].address});
}

TEST_F(AboutWindowTest, FailingShellStaysSilent) {
    shell.result = platform::kShellFileNotFound;
    AboutWindow& window = Shown();
    ChooseWithArrowKeys(1);
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_EQ(shell.requests.size(), 1u);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(AboutWindowTest, SysInfoButtonShowsTheMessageAndTheWindowStaysUsable) {
    AboutWindow& window = Shown();
    QTest::mouseClick(window.cmdSysInfo, Qt::LeftButton);
    EXPECT_EQ(messages.shown,
              (std::vector<testing::ShownMessage>{{"System Information Is Unavailable At This Time",
                                                   platform::MessageIcon::None}}));
    ASSERT_EQ(about->window(), &window);
    EXPECT_TRUE(window.isVisible());
    ChooseWithArrowKeys(0);
    QTest::mouseClick(window.Command1, Qt::LeftButton);
    EXPECT_EQ(shell.requests.size(), 1u);
}

} // namespace
} // namespace tarnwick
