// A press of the ping button through the system's echo services, to the local host only.
#include "ui/main/Form1.h"

#include "support/FakeLocalAddress.h"
#include "support/RecordingMessageDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(Form1SystemPing, LocalHostAnswersWithEchoThis) {
    testing::RecordingMessageDialog messages;
    testing::FakeLocalAddress localAddress("127.0.0.1");
    Form1 form(SystemEchoServices(messages), localAddress);
    form.Form_Load();
    form.Text1->setText(QStringLiteral("127.0.0.1"));
    form.Command2->click();

    EXPECT_EQ(form.Text2->text(), QStringLiteral("0   [ ip success ]"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+ \\(milliseconds\\)$"))
                    .match(form.Text3->text())
                    .hasMatch())
        << form.Text3->text().toStdString();
    EXPECT_EQ(form.Text4->text(), QStringLiteral("16777343"));
    EXPECT_EQ(form.Text5->text(), QStringLiteral("9 (bytes)"));
    EXPECT_EQ(form.Text6->text(), QStringLiteral("Echo This"));
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick
