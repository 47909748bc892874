// Test-only Qt style plugin, built from Qt's public headers as any user could build one, that
// deb-test.sh loads into the installed program through QT_PLUGIN_PATH and QT_STYLE_OVERRIDE. It
// prints what such a plugin could do there: the capability sets it holds and whether the kernel
// lets it open a packet socket (every frame of every interface) or a raw ICMP socket. Then it
// pings 127.0.0.1 through the window's own field and button and prints the status shown.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QStyleFactory>
#include <QStylePlugin>
#include <QTimer>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

void Print(const std::string& line) {
    std::printf("probe: %s\n", line.c_str());
    std::fflush(stdout);
}

void TrySocket(const char* name, int domain, int type, int protocol) {
    const int descriptor = socket(domain, type, protocol);
    Print(std::string(name) +
          (descriptor >= 0 ? " opened" : std::string(" ") + strerrorname_np(errno)));
    if (descriptor >= 0)
        close(descriptor);
}

// Once the main window is up: the address typed, Ping pressed, the status read off the window.
void PingThroughTheWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* address = window->findChild<QLineEdit*>(QStringLiteral("Text1"));
        auto* status = window->findChild<QLineEdit*>(QStringLiteral("Text2"));
        auto* ping = window->findChild<QAbstractButton*>(QStringLiteral("Command2"));
        if (window->isVisible() && address && status && ping) {
            address->setText(QStringLiteral("127.0.0.1"));
            ping->click();
            return Print("ping 127.0.0.1: " + status->text().toStdString());
        }
    }
    QTimer::singleShot(50, qApp, PingThroughTheWindow);
}

} // namespace

class ProbeStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "ProbeStyle.json")

public:
    QStyle* create(const QString&) override {
        Print("loaded");
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("Cap") && !line.starts_with("CapBnd"))
                Print(line.replace(line.find(":\t"), 2, " "));
        }
        TrySocket("AF_PACKET raw socket", AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        TrySocket("AF_INET raw ICMP socket", AF_INET, SOCK_RAW, IPPROTO_ICMP);
        QTimer::singleShot(0, qApp, PingThroughTheWindow);
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "ProbeStyle.moc"
