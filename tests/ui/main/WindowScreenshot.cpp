// Saves a picture, for the README, of the main window after a real ping of 127.0.0.1 or, built
// with TARNWICK_ABOUT_SHOT, of the About window with a link chosen.
#include "ui/common/QtMessageDialog.h"
#include "ui/main/Form1.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    tarnwick::QtMessageDialog messages;
    tarnwick::Form1 form(tarnwick::SystemEchoServices(messages),
                         tarnwick::platform::SystemLocalAddress());
    form.Form_Load();
    form.show();
    QWidget* shot = &form;
#ifdef TARNWICK_ABOUT_SHOT
    form.HelpBut->click();
    shot = form.About()->window();
    QTest::keyClick(form.About()->window()->Combo1, Qt::Key_Down);
#else
    QTest::keyClicks(form.Text1, QStringLiteral("127.0.0.1"));
    form.Command2->click();
#endif
    if (argc != 2 || !QTest::qWaitForWindowExposed(shot))
        return 1;
    QTest::qWait(200);
    return shot->grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
