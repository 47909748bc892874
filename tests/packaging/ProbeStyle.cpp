// Test-only Qt style plugin, built from Qt's public headers as any user could build one, that
// the installed package's test loads into the installed program (QT_PLUGIN_PATH,
// QT_STYLE_OVERRIDE). It prints the capability sets it holds there and whether it may open a packet
// socket (every frame of every interface) or a raw ICMP one, then pings 127.0.0.1 through the
// window's own field and button, prints the status shown, and how many ICMP sockets of either kind
// the window's process holds.
#include <QApplication>
#include <QStyleFactory>
#include <QStylePlugin>
#include <QTimer>
#include <QWidget>

#include <linux/if_ether.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

QObject* Find(const QWidget* window, const char* name) {
    return window->findChild<QObject*>(QLatin1String(name));
}

// The descriptors of this process that are ICMP sockets, raw or ping.
int IcmpSocketsHeld() {
    int held = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int descriptor = std::stoi(entry.path().filename());
        int type = 0, protocol = 0;
        socklen_t size = sizeof type;
        if (getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &size) == 0 &&
            (size = sizeof protocol,
             getsockopt(descriptor, SOL_SOCKET, SO_PROTOCOL, &protocol, &size) == 0) &&
            protocol == IPPROTO_ICMP && (type == SOCK_RAW || type == SOCK_DGRAM))
            ++held;
    }
    return held;
}

void PingThroughTheWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && Find(window, "Command2")) {
            Find(window, "Text1")->setProperty("text", QStringLiteral("127.0.0.1"));
            QMetaObject::invokeMethod(Find(window, "Command2"), "click");
            const QString status = Find(window, "Text2")->property("text").toString();
            std::printf("probe: ping 127.0.0.1: %s\n", qPrintable(status));
            return (void)std::printf("probe: ICMP sockets held after the ping: %d\n",
                                     IcmpSocketsHeld());
        }
    }
    QTimer::singleShot(50, qApp, PingThroughTheWindow); // until the main window is up
}

} // namespace

class ProbeStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "ProbeStyle.json")

public:
    QStyle* create(const QString&) override {
        std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line reaches the test as it is printed
        std::printf("probe: loaded\n");
        FILE* status = std::fopen("/proc/self/status", "r");
        for (char line[256]; status && std::fgets(line, sizeof line, status);)
            if (std::strncmp(line, "Cap", 3) == 0 && std::strncmp(line, "CapBnd", 6) != 0)
                std::printf("probe: %s", line);
        // Closed again at once: the count after the ping is the window's own.
        const auto tried = [](int descriptor) {
            return descriptor < 0 ? strerrorname_np(errno) : (close(descriptor), "opened");
        };
        std::printf("probe: AF_PACKET raw socket %s\n",
                    tried(socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL))));
        std::printf("probe: AF_INET raw ICMP socket %s\n",
                    tried(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)));
        QTimer::singleShot(0, qApp, PingThroughTheWindow);
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "ProbeStyle.moc"
