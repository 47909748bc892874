// The About window object: lives for the whole run; its window is built on show and
// destroyed on close, while the chosen link key stays.
#pragma once

#include "platform/FileFinder.h"
#include "platform/MessageDialog.h"
#include "platform/ProgramStarter.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "ui/about/AboutWindow.h"

#include <QObject>
#include <QPointer>

#include <string>

namespace tarnwick {

inline constexpr char kSysInfoProgramFile[] = "\\MSINFO32.EXE";
// Read control and every key-specific right, as the launcher has always asked for.
inline constexpr std::uint32_t kSysInfoKeyAccess = 0x0002003F;
inline constexpr std::uint32_t kKeyValueBufferSize = 1024;

// What the About window reaches outside itself; everything must outlive the object.
struct AboutServices {
    platform::Shell& shell;
    platform::Registry& registry;
    platform::FileFinder& files;
    platform::ProgramStarter& programs;
    // Null: a real message box over the About window.
    platform::MessageDialog* messages = nullptr;
};

AboutServices SystemAboutServices();

class frmAbout : public QObject {
    Q_OBJECT

public:
    explicit frmAbout(AboutServices services, QObject* parent = nullptr);
    ~frmAbout() override;

    // Shows the window, building it from the design when it is not open; modeless.
    void Show();
    // The open window, or null while it is closed.
    AboutWindow* window() const { return window_; }

    // Starts the system-information program, or tells the user it is unavailable.
    void StartSysInfo();
    // Reads one registry value as text (type 1) or hexadecimal digits (type 4).
    bool GetKeyValue(platform::RegistryKey KeyRoot, const std::string& KeyName,
                     const std::string& SubKeyRef, std::string& KeyVal);

public slots:
    void cmdOK_Click();
    void Combo1_Click();
    void Command1_Click();
    void cmdSysInfo_Click();

private:
    bool TryStartSysInfo();

    AboutServices services_;
    std::string strSeconds;
    QPointer<AboutWindow> window_;
};

} // namespace tarnwick
