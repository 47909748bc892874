// The main window as the user meets it: what it shows at start, where the keyboard goes, and
// what a press of the ping button writes, over scripted echo services.
#include "Form1Fixture.h"

#include "support/SystemEcho.h"
#include "support/WindowChecks.h"
#include "ui/common/QtMessageDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <climits>

namespace tarnwick {
namespace {

using namespace platform::reply_layout;
using testing::Put;

// What the echo service writes for a reply from the local host after `milliseconds`, or for
// a failure with `status`.
std::function<std::uint32_t(std::uint8_t*)> Reply(std::int32_t milliseconds,
                                                  std::int32_t status = 0) {
    return [=](std::uint8_t* buffer) {
        if (status != 0)
            return Put(buffer, kStatus, status), 0u;
        const std::int32_t header[] = {16777343, 0, milliseconds, 9, 5555};
        std::memcpy(buffer, header, sizeof header);
        std::memcpy(buffer + kHeaderSize, "Echo This", 9);
        return 1u;
    };
}

class Form1Test : public testing::Form1Fixture {
protected:
    void Ping(const QString& address) {
        form->Text1->setText(address);
        form->Command2->click();
    }
    QStringList Shown() const {
        QStringList texts;
        for (const QLineEdit* field : ResultFields())
            texts.append(field->isEnabled() ? field->text() : "(disabled)");
        return texts;
    }
    QWidget* AfterTab() {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget();
    }
};

// Guards the twips conversion (the window's size in pixels), controls lost, stacked or
// clipped, and each caption standing beside the field it names.
TEST_F(Form1Test, EveryControlStandsClearOfTheOthersBesideItsCaption) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarnwick"));
    EXPECT_EQ(form->size(), QSize(322, 403));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(testing::ExpectControlsLaidOut(*form), 24);
    const std::pair<const char*, QLineEdit*> captions[] = {{"Enter IP Address", form->Text1},
                                                           {"Your IP:", form->Text8},
                                                           {"Status:", form->Text2},
                                                           {"Lag Time:", form->Text3},
                                                           {"Port Address:", form->Text4},
                                                           {"Size:", form->Text5},
                                                           {"Echo:", form->Text6},
                                                           {"Pointer:", form->Text7}};
    for (const auto& [caption, field] : captions)
        for (const QLabel* label : form->findChildren<QLabel*>())
            if (label->text() == QLatin1String(caption)) {
                EXPECT_EQ(label->buddy(), field) << caption;
                // A caption stands on its field's row; the address box has its caption above.
                const int middle = label->geometry().center().y();
                EXPECT_TRUE(field == form->Text1
                                ? label->geometry().bottom() < field->y()
                                : middle > field->y() && middle < field->geometry().bottom())
                    << caption;
            }
}

// Guards the start-up state: the local address read once, the one server entry with its
// blanks, empty disabled result fields, centring on the first show, the focus in the address
// box and the tab order, which takes in the result fields once a ping enabled them.
TEST_F(Form1Test, StartsReadyToTypeAnAddress) {
    EXPECT_EQ(form->Text8->text(), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(localAddress.reads, 1);
    EXPECT_EQ(form->ServerList->count(), 1);
    EXPECT_EQ(form->ServerList->currentText(), QStringLiteral(" whois.arin.net "));
    EXPECT_EQ(Shown(), QStringList(6, "(disabled)"));
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_FALSE(form->ServerList->isVisible() || form->Input_Label->isVisible());
    EXPECT_LE((form->screen()->availableGeometry().center() - form->frameGeometry().center())
                  .manhattanLength(),
              2);
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
    for (QWidget* next : std::initializer_list<QWidget*>{form->HelpBut, form->Command2, form->Text8,
                                                         form->Button2, form->Box, form->Text1})
        EXPECT_EQ(AfterTab(), next) << next->objectName().toStdString();
    form->Command2->click();
    form->Text1->setFocus();
    for (QLineEdit* field : ResultFields())
        EXPECT_EQ(AfterTab(), field) << field->objectName().toStdString();
}

// Guards each field's text (a swapped field, a lost suffix), a fresh zeroed record for every
// press, the earlier echo kept when a reply carries none, and the five fields a failure writes.
TEST_F(Form1Test, PingFillsTheResultFields) {
    icmp.reply = Reply(3);
    Ping("127.0.0.1");
    EXPECT_EQ(icmp.sends.at(0).destination, 16777343u);
    EXPECT_EQ(Shown(), (QStringList{"0   [ ip success ]", "3 (milliseconds)", "16777343",
                                    "9 (bytes)", "Echo This", "5555"}));
    icmp.reply = [](std::uint8_t* buffer) {
        const std::int32_t header[] = {-939415360, 0, 7}; // 192.168.1.200 answering
        return std::memcpy(buffer, header, sizeof header), 1u;
    };
    Ping("192.168.1.200");
    EXPECT_EQ(icmp.sends.at(1).bufferBefore, std::vector<std::uint8_t>(kEchoReplySize, 0));
    EXPECT_EQ(Shown(), (QStringList{"0   [ ip success ]", "7 (milliseconds)", "-939415360",
                                    "0 (bytes)", "Echo This", "0"}));
    icmp.reply = Reply(0, 11010);
    Ping("127.0.0.1");
    EXPECT_EQ(Shown(), (QStringList{"11010   [ ip req timed out ]", "0 (milliseconds)", "0",
                                    "0 (bytes)", "Echo This", "0"}));
    // Numbers as plain signed decimals at their extremes; the echo up to its first NUL, in
    // Latin-1, or all 250 bytes when there is no NUL.
    icmp.reply = [](std::uint8_t* buffer) {
        const std::int32_t header[] = {INT_MAX, 0, INT_MIN, -32768, INT_MIN};
        std::memcpy(buffer, header, sizeof header);
        return std::memcpy(buffer + kHeaderSize, "caf\xE9\0This", 9), 1u;
    };
    Ping("127.0.0.1");
    EXPECT_EQ(Shown(),
              (QStringList{"0   [ ip success ]", "-2147483648 (milliseconds)", "2147483647",
                           "-32768 (bytes)", QString::fromUtf16(u"caf\u00e9"), "-2147483648"}));
    icmp.reply = [](std::uint8_t* buffer) {
        return std::memset(buffer + kHeaderSize, 'x', 250), 1u;
    };
    Ping("127.0.0.1");
    EXPECT_EQ(form->Text6->text(), QString(250, u'x'));
    EXPECT_TRUE(messages.shown.empty());
}

// Guards what is drawn: a text wider than its field shows its start ("153 (milliseconds)",
// the status code), not its end as a line edit would after setting the text.
TEST_F(Form1Test, FieldsShowTheStartOfTheirText) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    for (const std::int32_t status : {0, 11050}) {
        icmp.reply = Reply(153, status);
        Ping("127.0.0.1");
        const QList<QLineEdit*> fields = ResultFields() << form->Text8;
        for (QLineEdit* field : fields) {
            const QImage shown = field->grab().toImage();
            field->home(false);
            EXPECT_EQ(field->grab().toImage(), shown) << field->text().toStdString();
        }
    }
    EXPECT_EQ(form->Text2->text(), QStringLiteral("11050   [ ip general failure ]"));
}

// Guards the message for each kind of bad address, nothing sent, and no result of an earlier
// address left beside the message.
TEST_F(Form1Test, RejectedAddressShowsWhatIsWrongBesideEmptyFields) {
    const std::pair<const char16_t*, const char*> rows[] = {
        {u"1.2.3.4.5", "The address has more than four parts."},
        {u"1.2.x.4", "A part of the address is empty or not a number."},
        {u"1.2.3.\u0664", "A part of the address is empty or not a number."},
        {u"1.2.3.4294967296", "A part of the address is too large a number."}};
    for (const auto& [typed, message] : rows) {
        icmp.reply = Reply(3);
        Ping("127.0.0.1");
        QStringList besideTheMessage;
        messages.onShow = [&] { besideTheMessage = Shown(); };
        Ping(QString::fromUtf16(typed));
        EXPECT_EQ(besideTheMessage, QStringList(6, QString())) << message;
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].icon, platform::MessageIcon::Exclamation);
        EXPECT_EQ(messages.shown[0].prompt, std::string(message) +
                                                " Type an IPv4 address as four numbers joined by "
                                                "dots, for example 192.168.1.10.");
        messages = {};
    }
    EXPECT_EQ(icmp.sends.size(), 4u);
}

// Guards a status with no negation: its own message, no field written, everything released.
TEST_F(Form1Test, StatusWithoutNegationIsReportedAndWritesNoField) {
    icmp.reply = Reply(0, INT_MIN);
    Ping("127.0.0.1");
    EXPECT_EQ(Shown(), QStringList(6, QString()));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].prompt.find("-2147483648"), std::string::npos);
    EXPECT_EQ(icmp.closed.size(), 1u);
}

// Guards the real message box: modal, titled "Tarnwick", a warning, plain text, closed by OK.
TEST(Form1Dialog, RejectionAppearsInAModalTarnwickBoxThatOkCloses) {
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::FakeLocalAddress localAddress;
    QtMessageDialog messages;
    Form1 form(EchoServices{sockets, icmp, messages}, localAddress);
    form.show();
    QString seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = QStringLiteral("%1 %2 %3 %4 ")
                       .arg(box->windowTitle())
                       .arg(box->icon())
                       .arg(box->isModal())
                       .arg(box->textFormat()) +
                   box->text().left(5);
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    form.Text1->setText(QStringLiteral("1.2.3.4.5"));
    form.Command2->click(); // returns once the box is closed
    EXPECT_EQ(
        seen,
        QStringLiteral("Tarnwick %1 1 %2 The a").arg(QMessageBox::Warning).arg(Qt::PlainText));
}

// Guards a press of the button through the system's echo services, to the local host only.
TEST(Form1SystemPing, LocalHostAnswersWithEchoThis) {
    TARNWICK_SKIP_WITHOUT_ICMP();
    testing::RecordingMessageDialog messages;
    testing::FakeLocalAddress localAddress;
    Form1 form(SystemEchoServices(messages), localAddress);
    form.Text1->setText(QStringLiteral("127.0.0.1"));
    form.Command2->click();
    EXPECT_EQ(form.Text2->text(), QStringLiteral("0   [ ip success ]"));
    EXPECT_TRUE(form.Text3->text().endsWith(QStringLiteral(" (milliseconds)")));
    EXPECT_EQ(form.Text6->text() + form.Text4->text(), QStringLiteral("Echo This16777343"));
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick
