// "Trace IP" through the main window, against WHOIS servers on 127.0.0.1 only.
#include "Form1Fixture.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "ui/main/WhoisLookup.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tarnwick::testing {
namespace {

using namespace std::chrono_literals;

class Form1Whois : public Form1Fixture {
protected:
    void SetUp() override {
        Form1Fixture::SetUp();
        // Never the public server: the entry points at this test's own server.
        form->ServerList->setItemText(0, QStringLiteral(" 127.0.0.1 "));
        form->Winsock2->SetPort(server.Port());
        form->show();
    }
    void TraceIp(const QString& typed) {
        form->Text1->setText(typed);
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return form->Box->toPlainText() == text; });
    }
    ScriptedWhoisServer server;
};

// Guards the query line: trimmed of blanks only, in UTF-8, with CR LF, sent once, to the
// server entry trimmed of its blanks.
TEST_F(Form1Whois, ClickSendsText1TrimmedOfBlanks) {
    const std::pair<QString, QByteArray> rows[] = {{"  example.com  ", "example.com\r\n"},
                                                   {" two  words ", "two  words\r\n"},
                                                   {"\t8.8.8.8\t ", "\t8.8.8.8\t\r\n"},
                                                   {QString::fromUtf16(u"\u00A0b\u00FCcher"),
                                                    "\xC2\xA0"
                                                    "b\xC3\xBC"
                                                    "cher\r\n"}};
    for (std::size_t row = 0; row < std::size(rows); ++row) {
        TraceIp(rows[row].first);
        ASSERT_TRUE(server.WaitForClients(row + 1));
        EXPECT_TRUE(WaitUntil([&] { return server.Received(row) == rows[row].second; }))
            << server.Received(row).toStdString();
    }
    form->Winsock2->SendQuery("again");
    RunEvents(100ms);
    EXPECT_EQ(server.Received(), rows[3].second);
}

// Guards the box growing piece by piece, the hidden label holding the raw answer at the end,
// and the query read when the connection stands, not at the click.
TEST_F(Form1Whois, TheBoxGrowsWithTheAnswer) {
    form->Box->setEnabled(false);
    TraceIp("before.example");
    QTest::keyClicks(form->Text1, ".after");
    EXPECT_TRUE(form->Box->isEnabled());
    ASSERT_TRUE(server.WaitForReceived("before.example.after\r\n"));
    server.Send("Domain Name: EXAMPLE.COM\r\nRegistrar: ");
    ASSERT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: "));
    server.Send("Example Inc.\r\n");
    ASSERT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: Example Inc.\n"));
    server.Close();
    ASSERT_TRUE(WaitUntil([&] { return !form->Input_Label->text().isEmpty(); }));
    EXPECT_EQ(form->Input_Label->text(),
              QStringLiteral("Domain Name: EXAMPLE.COM\r\nRegistrar: Example Inc.\r\n"));
    EXPECT_FALSE(form->Input_Label->isVisible());
}

// Guards the blank query: the message, nothing sent, the connection kept open, and what the
// server sends then replacing the message.
TEST_F(Form1Whois, BlankText1ShowsTheMessageAndSendsNothing) {
    TraceIp("   ");
    ASSERT_TRUE(WaitForShown(" No domain name was entered."));
    RunEvents(100ms);
    EXPECT_EQ(server.Received(), QByteArray());
    server.Send("% no query given\n");
    EXPECT_TRUE(WaitForShown("% no query given\n"));
}

// Guards a second click mid-answer: nothing of the first answer shows, before or after.
TEST_F(Form1Whois, SecondClickShowsOnlyTheSecondAnswer) {
    TraceIp("first.example");
    ASSERT_TRUE(server.WaitForReceived("first.example\r\n"));
    server.Send("FIRST answer\n");
    ASSERT_TRUE(WaitForShown("FIRST answer\n"));
    server.Send(0, "FIRST more\n"); // already in the kernel when the second lookup starts
    TraceIp("second.example");
    bool firstShownLater = false;
    QObject::connect(form->Box, &QPlainTextEdit::textChanged, form.get(), [&] {
        firstShownLater |= form->Box->toPlainText().contains("FIRST") && server.ClientCount() > 1;
    });
    ASSERT_TRUE(server.WaitForClients(2));
    ASSERT_TRUE(WaitUntil([&] { return server.Received(1) == "second.example\r\n"; }));
    server.Send(0, "FIRST still more\n");
    server.Send(1, "SECOND answer\n");
    ASSERT_TRUE(WaitForShown("SECOND answer\n"));
    RunEvents(100ms);
    EXPECT_EQ(form->Box->toPlainText(), QStringLiteral("SECOND answer\n"));
    EXPECT_FALSE(firstShownLater);
}

// Guards the failure named in the box, server and reason, in place of an earlier answer.
TEST_F(Form1Whois, RefusedConnectionIsNamedInTheBox) {
    form->Box->setPlainText("an earlier answer");
    form->Winsock2->SetPort(ClosedLoopbackPort());
    TraceIp("example.com");
    EXPECT_TRUE(WaitForShown(" Could not connect to 127.0.0.1: the connection was refused."));
}

} // namespace
} // namespace tarnwick::testing
