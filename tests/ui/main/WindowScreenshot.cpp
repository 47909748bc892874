// Saves a picture of the main window after a real ping of 127.0.0.1 (for the README).
#include "ui/common/QtMessageDialog.h"
#include "ui/main/Form1.h"

#include <QApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/artwork/tarnwick.ico")));

    tarnwick::QtMessageDialog messages;
    tarnwick::Form1 form(tarnwick::SystemEchoServices(messages),
                         tarnwick::platform::SystemLocalAddress());
    form.Form_Load();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    QTest::keyClicks(form.Text1, QStringLiteral("127.0.0.1"));
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QTest::qWait(200);
    return form.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
