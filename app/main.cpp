// Starts Tarnwick: the main window, with the system's echo services.
#include "engine/EchoProbe.h"
#include "platform/Capabilities.h"
#include "platform/LocalAddress.h"
#include "platform/Memory.h"
#include "ui/common/DesignFonts.h"
#include "ui/common/QtMessageDialog.h"
#include "ui/main/Form1.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

int main(int argc, char* argv[]) {
    // First of all, before Qt loads a plugin, theme or font a user can choose: every
    // capability goes (pings go through the echo program, which holds its own).
    const tarnwick::platform::StartPrivilege privilege =
        tarnwick::platform::GiveUpPrivileges(tarnwick::platform::SystemCapabilities());
    if (const char* note = tarnwick::platform::StartPrivilegeNote(privilege))
        std::fprintf(stderr, "%s\n", note);
    if (privilege == tarnwick::platform::StartPrivilege::SetId ||
        privilege == tarnwick::platform::StartPrivilege::CapabilitiesKept)
        return EXIT_FAILURE;
    // Without any display Qt would abort with a screenful of plugin errors.
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
        std::fputs("tarnwick: no display found; start it from a desktop session\n", stderr);
        return EXIT_FAILURE;
    }

    // Long WHOIS answers and the box's text grow by remapping instead of copying (whois/,
    // ui/main/PlainTextAnswerView.cpp).
    tarnwick::platform::MapLargeBlocks();
    tarnwick::StartLoadingFonts();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tarnwick"));

    tarnwick::QtMessageDialog messages;
    tarnwick::Form1 form(tarnwick::SystemEchoServices(messages),
                         tarnwick::platform::SystemLocalAddress());
    form.Form_Load();
    // The window's own icon, decoded once, serves every later window too.
    QApplication::setWindowIcon(form.windowIcon());
    form.show();
    return application.exec();
}
