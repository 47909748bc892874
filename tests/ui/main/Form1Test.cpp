// The main window as the user meets it: what it shows at start, where the keyboard goes, and
// what a press of the ping button writes, over scripted echo services.
#include "Form1Fixture.h"

#include "platform/linux/EchoProgramClient.h"
#include "support/TemporaryFolder.h"
#include "support/WindowChecks.h"
#include "ui/common/QtMessageDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <climits>

namespace tarnwick {
namespace {

using contract::OpenFailure;
using platform::MessageIcon;

class Form1Test : public testing::Form1Fixture {
protected:
    // The echo service's answer: the record's first numbers (address, status, milliseconds,
    // size, pointer) and the echoed bytes; a status other than 0 comes with no reply.
    void Answer(std::vector<std::int32_t> header, std::string echo = "") {
        icmp.reply = [=](std::uint8_t* buffer) {
            std::memcpy(buffer, header.data(), header.size() * sizeof header[0]);
            std::memcpy(buffer + contract::reply_layout::kHeaderSize, echo.data(), echo.size());
            return header[1] == 0 ? 1u : 0u;
        };
    }
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
};

// Guards controls lost, stacked or clipped, and each caption on its field's row (the address
// box's above it). The window's title and its size in pixels (the twips conversion) are the
// end-to-end test's, which finds the window by its title and compares its extents.
TEST_F(Form1Test, EveryControlStandsClearOfTheOthersBesideItsCaption) {
    EXPECT_EQ(testing::ExpectControlsLaidOut(*form), 24);
    QStringList captions;
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        if (const QWidget* field = label->buddy()) {
            captions.append(label->text() + "=" + field->objectName());
            const int middle = label->geometry().center().y();
            EXPECT_TRUE(field == form->Text1
                            ? label->geometry().bottom() < field->y()
                            : middle > field->y() && middle < field->geometry().bottom())
                << label->text().toStdString();
        }
    }
    EXPECT_EQ(captions, (QStringList{"Enter IP Address=Text1", "Your IP:=Text8", "Status:=Text2",
                                     "Lag Time:=Text3", "Port Address:=Text4", "Size:=Text5",
                                     "Echo:=Text6", "Pointer:=Text7"}));
}

// Guards the design's type as it is drawn in both windows: 8.25 pt, the address caption
// 9.75 pt and the server list bold, in Arial or a metric-compatible stand-in rather than the
// desktop's default, the same family in both.
TEST_F(Form1Test, TextIsDrawnInTheDesignsFonts) {
    // The hidden server list takes its font once the window has been drawn.
    form->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->ServerList->font().bold(); }, 60000));
    form->HelpBut->click();
    const AboutWindow* about = form->About()->window();
    const struct {
        const QWidget* widget;
        qreal points;
        bool bold;
    } rows[] = {{form->Label1, 8.25, false},      {form->Text2, 8.25, false},
                {form->Button2, 8.25, false},     {form->IP, 9.75, false},
                {form->ServerList, 8.25, true},   {about->lblDisclaimer, 8.25, false},
                {about->cmdSysInfo, 8.25, false}, {about->Combo1, 8.25, false}};
    const QString family = QFontInfo(form->Label1->font()).family();
    EXPECT_TRUE(QStringList({"Arial", "Liberation Sans", "Arimo"}).contains(family))
        << family.toStdString();
    for (const auto& row : rows) {
        const QFontInfo drawn(row.widget->font());
        const std::string name = row.widget->objectName().toStdString();
        EXPECT_DOUBLE_EQ(drawn.pointSizeF(), row.points) << name;
        EXPECT_EQ(drawn.bold(), row.bold) << name;
        EXPECT_EQ(drawn.family().toStdString(), family.toStdString()) << name;
    }
}

// Whether `part` appears pixel for pixel somewhere in `whole`; its transparent pixels match any.
bool ContainsImage(const QImage& whole, const QImage& part) {
    for (int top = 0; top + part.height() <= whole.height(); ++top) {
        for (int left = 0; left + part.width() <= whole.width(); ++left) {
            bool same = true;
            for (int y = 0; same && y < part.height(); ++y)
                for (int x = 0; same && x < part.width(); ++x)
                    same = qAlpha(part.pixel(x, y)) == 0 ||
                           whole.pixel(left + x, top + y) == part.pixel(x, y);
            if (same)
                return true;
        }
    }
    return false;
}

// Guards each picture drawn pixel for pixel from its artwork for the screen's pixel ratio, here
// 1 and, in a second run (tests/ui/main/CMakeLists.txt), 2: there a lost NAME@2x file shows
// as the 1x picture scaled up, soft beside the text.
TEST_F(Form1Test, PicturesAreDrawnFromTheArtworkForTheScreensPixelRatio) {
    form->HelpBut->click();
    const std::pair<QWidget*, QString> rows[] = {{form->Command2, "ping-button.gif"},
                                                 {form->HelpBut, "help-button.gif"},
                                                 {form->Image1, "address-marker.gif"},
                                                 {form->Image2, "two-computers.gif"},
                                                 {form->About()->window()->Image1, "tarnwick.ico"}};
    const qreal ratio = qGuiApp->devicePixelRatio();
    ASSERT_TRUE(ratio == 1 || ratio == 2) << ratio;
    for (auto [widget, artwork] : rows) {
        if (ratio == 2)
            artwork.insert(artwork.lastIndexOf(u'.'), u"@2x");
        const QImage picture(":/artwork/" + artwork);
        ASSERT_FALSE(picture.isNull()) << artwork.toStdString();
        EXPECT_TRUE(ContainsImage(widget->grab().toImage(), picture))
            << artwork.toStdString() << " in " << widget->objectName().toStdString();
    }
}

// Guards the start-up state: the local address read once, the one server entry with its
// blanks, empty disabled result fields, the focus in the address box and the tab order, which
// takes in the result fields once a ping enabled them. Centring is checked end to end.
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
    EXPECT_EQ(QApplication::focusWidget(), form->Text1);
    form->Command2->click();
    for (QWidget* next : QWidgetList{form->Text2, form->Text3, form->Text4, form->Text5,
                                     form->Text6, form->Text7, form->HelpBut, form->Command2,
                                     form->Text8, form->Button2, form->Box, form->Text1}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

// Guards each field's text (a swapped field, a lost suffix, signed numbers at their extremes,
// the echo in Latin-1 up to its first NUL or all 250 bytes), a fresh zeroed record for every
// press, the earlier echo kept when a reply carries none, the five fields a failure writes,
// and what is drawn: every field shows the start of its text ("153 (milliseconds)", the status
// code), not its end as a line edit would after setting the text.
TEST_F(Form1Test, PingFillsTheResultFields) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const struct {
        std::vector<std::int32_t> header;
        std::string echo;
        QString shown;
    } rows[] = {
        {{16777343, 0, 153, 9, 5555},
         "Echo This",
         "0   [ ip success ]|153 (milliseconds)|16777343|9 (bytes)|Echo This|5555"},
        {{-939415360, 0, 7}, // 192.168.1.200 answering, no data
         "",
         "0   [ ip success ]|7 (milliseconds)|-939415360|0 (bytes)|Echo This|0"},
        {{0, 11050}, "", "11050   [ ip general failure ]|0 (milliseconds)|0|0 (bytes)|Echo This|0"},
        {{INT_MAX, 0, INT_MIN, -32768, INT_MIN},
         std::string("caf\xE9\0This", 9),
         QString::fromUtf16(u"0   [ ip success ]|-2147483648 (milliseconds)|2147483647|"
                            u"-32768 (bytes)|caf\u00e9|-2147483648")},
        {{0, 0},
         std::string(250, 'x'),
         "0   [ ip success ]|0 (milliseconds)|0|0 (bytes)|" + QString(250, u'x') + "|0"}};
    for (const auto& row : rows) {
        Answer(row.header, row.echo);
        Ping("127.0.0.1");
        const auto& send = icmp.sends.back();
        EXPECT_EQ(send.bufferBefore, std::vector<std::uint8_t>(send.replySize, 0));
        EXPECT_EQ(Shown().join(u'|'), row.shown);
        for (QLineEdit* field : ResultFields() + QList{form->Text8}) {
            const QImage shown = field->grab().toImage();
            field->home(false);
            EXPECT_EQ(field->grab().toImage(), shown) << field->text().toStdString();
        }
    }
    EXPECT_EQ(icmp.sends.at(0).destination, 16777343u);
    EXPECT_TRUE(messages.shown.empty());
    // A status with no negation: its own message, no field written, every handle closed.
    Answer({0, INT_MIN});
    Ping("127.0.0.1");
    EXPECT_EQ(Shown().join(u'|'), std::end(rows)[-1].shown);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].prompt.find("-2147483648"), std::string::npos);
    EXPECT_EQ(icmp.closed.size(), icmp.sends.size());
}

// Guards the one message per run that says why every ping fails and what to do, taken from
// the reason the engine gives for opening no handle, not from the status: no permission (as
// the echo program's greeting says), or no echo program where the window looks for it, never
// one that crashed before its greeting; the setcap line names the echo program.
TEST_F(Form1Test, NoPermissionToPingIsExplainedOncePerRun) {
    platform::EchoProgramClient missing("/nonexistent/libexec/tarnwick-echo");
    // An echo program that may not ping: it says so in its greeting, then waits for its input.
    testing::TemporaryFolder folder;
    const std::string refusing =
        folder.WriteScript("tarnwick-echo", "printf '\\002\\000\\001\\000'\nexec cat >/dev/null");
    platform::EchoProgramClient refused(refusing);
    platform::EchoProgramClient crashed(
        folder.WriteScript("crashing/tarnwick-echo", "kill -SEGV $$"));
    const struct {
        const char* name;
        platform::IcmpService& icmp;
        OpenFailure failure;
        std::string program; // named in the message; empty: no message
    } rows[] = {
        {"Opened", icmp, OpenFailure::None, ""},
        {"SystemOutOfSockets", icmp, OpenFailure::Unavailable, ""},
        {"NotPermitted", icmp, OpenFailure::NotPermitted, "/opt/fake/tarnwick-echo"},
        {"EchoProgramMissing", missing, OpenFailure::None, "/nonexistent/libexec/tarnwick-echo"},
        {"EchoProgramNotPermitted", refused, OpenFailure::None, refusing},
        {"EchoProgramCrashedBeforeItsGreeting", crashed, OpenFailure::None, ""},
    };
    Answer({0, 11050});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        icmp.openFailure = row.failure;
        messages = {};
        form = std::make_unique<Form1>(EchoServices{sockets, row.icmp, messages}, localAddress);
        ::testing::internal::CaptureStderr();
        Ping("127.0.0.1");
        Ping("127.0.0.1");
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(form->Text2->text(), QStringLiteral("11050   [ ip general failure ]"));
        ASSERT_EQ(messages.shown.size(), row.program.empty() ? 0u : 1u);
        if (row.program.empty())
            continue;
        const auto& [text, icon] = messages.shown[0];
        EXPECT_EQ(icon, MessageIcon::Exclamation);
        EXPECT_EQ(errors, "tarnwick: " + text + "\n");
        const std::string parts[] = {"does not allow this user to send pings", "package",
                                     "setcap cap_net_raw+p " + row.program + "\n",
                                     "net.ipv4.ping_group_range"};
        for (const std::string& part : parts)
            EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

// Guards the message for each kind of bad address, nothing sent, and no result of an earlier
// address left beside the message.
TEST_F(Form1Test, RejectedAddressShowsWhatIsWrongBesideEmptyFields) {
    const std::pair<const char16_t*, const char*> rows[] = {
        {u"1.2.3.4.5", "The address has more than four parts."},
        {u"1.2.x.4", "A part of the address is empty or not a number."},
        {u"1.2.3.4294967296", "A part of the address is too large a number."}};
    Answer({16777343, 0, 3, 9, 5555}, "Echo This");
    for (const auto& [typed, message] : rows) {
        Ping("127.0.0.1");
        QStringList besideTheMessage;
        messages.onShow = [&] { besideTheMessage = Shown(); };
        Ping(QString::fromUtf16(typed));
        EXPECT_EQ(besideTheMessage, QStringList(6, QString())) << message;
        EXPECT_EQ(messages.shown,
                  (std::vector<testing::ShownMessage>{
                      {std::string(message) + " Type an IPv4 address as four numbers joined by "
                                              "dots, for example 192.168.1.10.",
                       MessageIcon::Exclamation}}));
        messages = {};
    }
    EXPECT_EQ(icmp.sends.size(), 3u);
}

// Guards the real message box: modal, titled "Tarnwick", a warning, plain text, closed by OK.
TEST_F(Form1Test, MessagesAppearInAModalTarnwickBoxThatOkCloses) {
    std::tuple<QString, QMessageBox::Icon, bool, Qt::TextFormat> seen;
    QTimer::singleShot(0, [&] { // runs once the box is up
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = {box->windowTitle() + ": " + box->text(), box->icon(), box->isModal(),
                    box->textFormat()};
            box->button(QMessageBox::Ok)->click();
        }
    });
    QtMessageDialog(form.get()).Show("<b>1.2.3.4.5</b>", MessageIcon::Exclamation);
    EXPECT_EQ(seen, std::tuple(QStringLiteral("Tarnwick: <b>1.2.3.4.5</b>"), QMessageBox::Warning,
                               true, Qt::PlainText));
}

} // namespace
} // namespace tarnwick
