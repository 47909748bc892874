// "Trace IP" through the real main window, against WHOIS servers on 127.0.0.1 only.
#include "tests/support/QtEventLoop.h"
#include "tests/support/ScriptedWhoisServer.h"
#include "tests/ui/main/Form1Fixture.h"
#include "ui/main/WhoisLookup.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

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
    void ClickTraceIp() { QTest::mouseClick(form->Button2, Qt::LeftButton); }
    QString Shown() const { return form->Box->toPlainText(); }
    bool WaitForShown(const QString& text) {
        return WaitUntil([&] { return Shown() == text; });
    }

    ScriptedWhoisServer server;
};

TEST_F(Form1Whois, ClickSendsTrimmedText1AndTheBoxGrowsWithTheAnswer) {
    form->Box->setEnabled(false);
    form->Text1->setText("  example.com  ");
    ClickTraceIp();
    EXPECT_TRUE(form->Box->isEnabled());
    EXPECT_EQ(form->Input_Label->text(), QString());
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("Domain Name: EXAMPLE.COM\r\n");
    ASSERT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\n"));
    server.Send("Registrar: ");
    ASSERT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: "));
    server.Send("Example Inc.\r\n");
    ASSERT_TRUE(WaitForShown("Domain Name: EXAMPLE.COM\nRegistrar: Example Inc.\n"));
    server.Close();
    ASSERT_TRUE(WaitUntil([&] { return !form->Input_Label->text().isEmpty(); }));
    EXPECT_EQ(form->Input_Label->text(),
              QStringLiteral("Domain Name: EXAMPLE.COM\r\nRegistrar: Example Inc.\r\n"));
    EXPECT_FALSE(form->Input_Label->isVisible());
    EXPECT_EQ(server.Received(), QByteArray("example.com\r\n"));
}

TEST_F(Form1Whois, EditingText1AfterTheClickChangesWhatIsSent) {
    form->Text1->setText("before.example");
    ClickTraceIp();
    // The connection can only stand once the event loop runs again.
    QTest::keyClicks(form->Text1, ".after");
    EXPECT_TRUE(server.WaitForReceived("before.example.after\r\n"));
}

TEST_F(Form1Whois, BlankText1ShowsTheMessageAndSendsNothing) {
    form->Text1->setText("   ");
    ClickTraceIp();
    ASSERT_TRUE(WaitForShown(" No domain name was entered."));
    RunEvents(100ms);
    EXPECT_EQ(server.ClientCount(), 1u);
    EXPECT_EQ(server.Received(), QByteArray());
}

TEST_F(Form1Whois, SecondClickShowsOnlyTheSecondAnswer) {
    form->Text1->setText("first.example");
    ClickTraceIp();
    ASSERT_TRUE(server.WaitForReceived("first.example\r\n"));
    server.Send("FIRST answer\n");
    ASSERT_TRUE(WaitForShown("FIRST answer\n"));
    server.Send(0, "FIRST more\n");
    form->Text1->setText("second.example");
    ClickTraceIp();
    EXPECT_EQ(Shown(), QString());
    ASSERT_TRUE(server.WaitForClients(2));
    ASSERT_TRUE(WaitUntil([&] { return server.Received(1) == "second.example\r\n"; }));
    server.Send(0, "FIRST still more\n");
    server.Send(1, "SECOND answer\n");
    ASSERT_TRUE(WaitForShown("SECOND answer\n"));
    RunEvents(100ms);
    EXPECT_EQ(Shown(), QStringLiteral("SECOND answer\n"));
}

TEST_F(Form1Whois, TextTypedIntoTheBoxGivesWayToTheAnswerAtTheNextPiece) {
    form->Text1->setText("example.com");
    ClickTraceIp();
    ASSERT_TRUE(server.WaitForReceived("example.com\r\n"));
    server.Send("first ");
    ASSERT_TRUE(WaitForShown("first "));
    form->Box->setFocus();
    QTest::keyClicks(form->Box, "typed");
    ASSERT_NE(Shown(), QStringLiteral("first "));
    server.Send("second");
    EXPECT_TRUE(WaitForShown("first second"));
}

TEST_F(Form1Whois, RefusedConnectionIsNamedInTheBox) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 closedPort = probe.serverPort();
    probe.close();
    form->Winsock2->SetPort(closedPort);
    form->Text1->setText("example.com");
    ClickTraceIp();
    EXPECT_TRUE(WaitForShown(" Could not connect to 127.0.0.1: the connection was refused."));
}

} // namespace
} // namespace tarnwick::testing
