// Starting a run of the program: capabilities, then Qt, then the main window.
#include "ui/main/Startup.h"

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

namespace tarnwick {

int RunTarnwick(int& argc, char** argv, const std::function<int(Form1&)>& run) {
    // First of all, before Qt loads a plugin, theme or font a user can choose: every
    // capability goes (pings go through the echo program, which holds its own).
    const platform::StartPrivilege privilege =
        platform::GiveUpPrivileges(platform::SystemCapabilities());
    if (const char* note = platform::StartPrivilegeNote(privilege))
        std::fprintf(stderr, "%s\n", note);
    if (privilege == platform::StartPrivilege::SetId ||
        privilege == platform::StartPrivilege::CapabilitiesKept)
        return EXIT_FAILURE;
    // Without any display Qt would abort with a screenful of plugin errors.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("tarnwick: no display found; start it from a desktop session\n", stderr);
        return EXIT_FAILURE;
    }

    // Once for the whole process: the box's text and the answer grow by remapping.
    platform::MapLargeBlocks();
    StartLoadingFonts();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tarnwick"));

    QtMessageDialog messages;
    // A new line edit lays its empty text out in the application's font before it takes the
    // window's: with the window's font there meanwhile, no face that nothing shows is loaded.
    const QFont systemFont = QApplication::font();
    QApplication::setFont(DialogFont(8.25));
    Form1 form(SystemEchoServices(messages), platform::SystemLocalAddress());
    QApplication::setFont(systemFont);
    form.Form_Load();
    // The window's own icon, decoded once, serves every later window too.
    QApplication::setWindowIcon(form.windowIcon());
    form.show();
    return run(form);
}

} // namespace tarnwick
