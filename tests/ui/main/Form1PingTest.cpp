// The ping command over scripted echo services: which fields it writes, with what, and when not.
#include "Form1Fixture.h"

#include "ui/common/QtMessageDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <climits>
#include <cstring>

namespace tarnwick {
namespace {

using namespace platform::reply_layout;
using platform::MessageIcon;
using testing::Form1Fixture;
using testing::PutInt16;
using testing::PutInt32;

// What the echo service writes for a reply from the local host.
std::uint32_t LocalReply(std::uint8_t* buffer, std::uint32_t) {
    PutInt32(buffer, kAddress, 16777343);
    PutInt32(buffer, kStatus, 0);
    PutInt32(buffer, kRoundTripTime, 3);
    PutInt16(buffer, kDataSize, 9);
    PutInt32(buffer, kDataPointer, 5555);
    std::memcpy(buffer + kHeaderSize, "Echo This", 9);
    return 1;
}

class PingCommand : public Form1Fixture {
protected:
    void Ping(const QString& address) {
        form->Text1->setText(address);
        form->Command2->click();
    }
    void FillResultFields(const QString& text) {
        for (QLineEdit* field : ResultFields())
            field->setText(text);
    }
    QStringList ResultTexts() const {
        QStringList texts;
        for (const QLineEdit* field : ResultFields())
            texts.append(field->text());
        return texts;
    }
};

TEST_F(PingCommand, ReplyFillsTheSixFieldsWithTheirTexts) {
    icmp.reply = LocalReply;
    Ping(QStringLiteral("127.0.0.1"));
    ASSERT_EQ(icmp.sends.size(), 1u);
    EXPECT_EQ(icmp.sends[0].destination, 16777343u);
    EXPECT_EQ(ResultTexts(), (QStringList{"0   [ ip success ]", "3 (milliseconds)", "16777343",
                                          "9 (bytes)", "Echo This", "5555"}));
    for (const QLineEdit* field : ResultFields())
        EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PingCommand, FieldsAreWrittenStatusPortLagSizeEchoPointer) {
    icmp.reply = LocalReply;
    QStringList writes;
    for (QLineEdit* field : ResultFields())
        QObject::connect(field, &QLineEdit::textChanged,
                         [&writes, field] { writes.append(field->objectName()); });
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(writes, (QStringList{"Text2", "Text4", "Text3", "Text5", "Text6", "Text7"}));
}

TEST_F(PingCommand, EveryPressUsesAFreshZeroedRecord) {
    icmp.reply = LocalReply;
    Ping(QStringLiteral("127.0.0.1"));
    Ping(QStringLiteral("127.0.0.1"));
    ASSERT_EQ(icmp.sends.size(), 2u);
    for (const auto& send : icmp.sends)
        EXPECT_EQ(send.bufferBefore, std::vector<std::uint8_t>(kEchoReplySize, 0));
}

TEST_F(PingCommand, HighLastPartShowsANegativePortAddress) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t size) {
        LocalReply(buffer, size);
        PutInt32(buffer, kAddress, -939415360); // 192.168.1.200 answering
        return 1u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->Text4->text(), QStringLiteral("-939415360"));
}

TEST_F(PingCommand, ReplyWithoutDataKeepsTheEarlierEcho) {
    icmp.reply = LocalReply;
    Ping(QStringLiteral("127.0.0.1"));
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kAddress, 16777343);
        PutInt32(buffer, kRoundTripTime, 7);
        PutInt32(buffer, kDataPointer, 99);
        return 1u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ResultTexts(), (QStringList{"0   [ ip success ]", "7 (milliseconds)", "16777343",
                                          "0 (bytes)", "Echo This", "99"}));
}

TEST_F(PingCommand, FailedEchoWritesFiveFieldsAndEnablesAllSix) {
    FillResultFields(QStringLiteral("earlier"));
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, 11010);
        return 0u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ResultTexts(), (QStringList{"11010   [ ip req timed out ]", "0 (milliseconds)", "0",
                                          "0 (bytes)", "earlier", "0"}));
    for (const QLineEdit* field : ResultFields())
        EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
}

TEST_F(PingCommand, FewerThanFourPartsPingAddressZeroAndShowTheVerdict) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, 11018);
        return 0u;
    };
    Ping(QString());
    ASSERT_EQ(icmp.sends.size(), 1u);
    EXPECT_EQ(icmp.sends[0].destination, 0u);
    EXPECT_EQ(form->Text2->text(), QStringLiteral("11018   [ ip bad destination ]"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PingCommand, ReplyDataWithoutAnyNulIsShownWhole) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t size) {
        std::memset(buffer + kHeaderSize, 'e', size - kHeaderSize);
        return 1u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->Text6->text(), QString(250, u'e'));
}

TEST_F(PingCommand, HighBytesInTheEchoShowAsLatin1Characters) {
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        std::memcpy(buffer + kHeaderSize, "caf\xE9", 4);
        return 1u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->Text6->text(), QStringLiteral(u"caf\u00e9"));
}

struct Rejection {
    const char* name;
    const char16_t* typed;
    const char* messageStart;
};

class PingRejection : public PingCommand, public ::testing::WithParamInterface<Rejection> {};

TEST_P(PingRejection, ShowsWhatIsWrongAndWritesNoField) {
    icmp.reply = LocalReply;
    form->Command2->click(); // enables the fields and fills them once
    FillResultFields(QStringLiteral("before"));
    const std::size_t sendsBefore = icmp.sends.size();
    QStringList besideTheMessage;
    messages.onShow = [&] { besideTheMessage = ResultTexts(); };

    Ping(QString::fromUtf16(GetParam().typed));

    EXPECT_EQ(icmp.sends.size(), sendsBefore);
    EXPECT_EQ(besideTheMessage, QStringList(6, QString()));
    for (const QLineEdit* field : ResultFields())
        EXPECT_TRUE(field->isEnabled());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(messages.shown[0].prompt.rfind(GetParam().messageStart, 0), 0u)
        << messages.shown[0].prompt;
    EXPECT_NE(messages.shown[0].prompt.find("192.168.1.10"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    TypedTexts, PingRejection,
    ::testing::Values(
        Rejection{"FiveParts", u"1.2.3.4.5", "The address has more than four parts."},
        Rejection{"TrailingDot", u"1.2.3.4.", "The address has more than four parts."},
        Rejection{"PartNotANumber", u"1.2.x.4", "A part of the address is empty or not a number."},
        Rejection{"EmptyPart", u"1.2..4", "A part of the address is empty or not a number."},
        Rejection{"HostNameOfFourLabels", u"www.example.co.uk",
                  "A part of the address is empty or not a number."},
        Rejection{"NonLatinDigit", u"1.2.3.\u0664",
                  "A part of the address is empty or not a number."},
        Rejection{"PartBeyond32Bits", u"1.2.3.4294967296",
                  "A part of the address is too large a number."}),
    [](const ::testing::TestParamInfo<Rejection>& info) { return info.param.name; });

TEST_F(PingCommand, StatusWithoutNegationIsReportedAndWritesNoField) {
    FillResultFields(QStringLiteral("before"));
    icmp.reply = [](std::uint8_t* buffer, std::uint32_t) {
        PutInt32(buffer, kStatus, INT_MIN);
        return 0u;
    };
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ResultTexts(), QStringList(6, QStringLiteral("before")));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].prompt.find("status"), std::string::npos);
    EXPECT_EQ(messages.shown[0].prompt.find("part"), std::string::npos);
    EXPECT_EQ(icmp.closed.size(), 1u);
    EXPECT_EQ(sockets.startups, 0); // cleaned up despite the error
}

TEST_F(PingCommand, SocketStartupMessageDoesNotStopThePing) {
    sockets.startupResult = 10091;
    icmp.reply = LocalReply;
    Ping(QStringLiteral("127.0.0.1"));
    EXPECT_GE(messages.shown.size(), 1u);
    EXPECT_EQ(form->Text6->text(), QStringLiteral("Echo This"));
}

// The real dialog: modal, titled "Tarnwick", closed here by pressing its OK button.
TEST(PingCommandDialog, RejectionAppearsInAModalTarnwickBoxThatOkCloses) {
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::FakeLocalAddress localAddress("10.1.2.3");
    QtMessageDialog messages;
    Form1 form(EchoServices{sockets, icmp, messages}, localAddress);
    form.Form_Load();
    form.show();

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false;
    Qt::TextFormat format = Qt::AutoText;
    int polls = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ++polls;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (polls > 500) // five seconds: give up rather than hang
                QApplication::exit(1);
            return;
        }
        poll.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        modal = box->isModal();
        format = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start();

    form.Text1->setText(QStringLiteral("1.2.3.4.5"));
    form.Command2->click();

    EXPECT_EQ(title, QStringLiteral("Tarnwick"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("The address has more than four parts.")));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(modal);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(form.Text2->text().isEmpty());
}

} // namespace
} // namespace tarnwick
