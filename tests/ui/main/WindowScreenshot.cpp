// Saves a picture, for the README, of the main window after a real ping of 127.0.0.1 or, built
// with TARNWICK_ABOUT_SHOT, of the About window with a link chosen.
#include "ui/main/Form1.h"
#include "ui/main/Startup.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

int main(int argc, char* argv[]) {
    const QString file = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    return tarnwick::RunTarnwick(argc, argv, [&file](tarnwick::Form1& form) {
        QWidget* shot = &form;
#ifdef TARNWICK_ABOUT_SHOT
        form.HelpBut->click();
        shot = form.About()->window();
        QTest::keyClick(form.About()->window()->Combo1, Qt::Key_Down);
#else
        QTest::keyClicks(form.Text1, QStringLiteral("127.0.0.1"));
        form.Command2->click();
#endif
        if (file.isEmpty() || !QTest::qWaitForWindowExposed(shot))
            return 1;
        QTest::qWait(200);
        return shot->grab().save(file) ? 0 : 1;
    });
}
