// The floor for start-up with Qt 6 Widgets: one window of the main window's size and title,
// holding one focused line edit, shown.
#include "ui/common/Twips.h"

#include <QApplication>
#include <QLineEdit>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tarnwick"));
    window.setFixedSize(tarnwick::TwipsToPixels(4830), tarnwick::TwipsToPixels(6045));
    QLineEdit input(&window);
    input.setGeometry(tarnwick::TwipsRect(600, 480, 2295, 285));
    window.show();
    input.setFocus();
    return application.exec();
}
