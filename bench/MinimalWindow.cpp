// The floor for start-up with Qt 6 Widgets: one window of the main window's size and title,
// holding one focused line edit, shown. Built with TARNWICK_FLOOR_LINKS_NETWORK, it also loads
// Qt Network at start, as a program with a Qt socket in it does, without using it.
#include "ui/common/Twips.h"

#include <QApplication>
#include <QLineEdit>
#include <QWidget>

#ifdef TARNWICK_FLOOR_LINKS_NETWORK
#include <QTcpSocket>
// A reference that neither the compiler nor the linker can drop (the variable is visible to
// other files), so the library stays among those loaded at start.
const QMetaObject* linksNetwork = &QTcpSocket::staticMetaObject;
#endif

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
