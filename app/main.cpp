// Starts Tarnwick: the main window, with the system's echo services, until its last window closes.
#include "ui/main/Startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    return tarnwick::RunTarnwick(argc, argv, [](tarnwick::Form1&) { return QApplication::exec(); });
}
