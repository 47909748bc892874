// Saves a picture of the About window with a link chosen (for the README).
#include "ui/about/frmAbout.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
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

    tarnwick::frmAbout about(tarnwick::SystemAboutServices());
    about.Show();
    tarnwick::AboutWindow* window = about.window();
    if (!QTest::qWaitForWindowExposed(window))
        return 1;
    window->Combo1->setFocus();
    QTest::keyClick(window->Combo1, Qt::Key_Down);
    QTest::qWait(100);
    return window->grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
