// The About window's handlers and the system-information launcher.
#include "ui/about/frmAbout.h"

#include "ui/about/AboutLinks.h"
#include "ui/common/QtMessageDialog.h"

#include <QComboBox>
#include <QPushButton>

#include <array>
#include <cstdio>

namespace tarnwick {
namespace {

// Holds an open key's handle and closes it on every way out.
struct OpenKey {
    platform::Registry& registry;
    platform::RegistryKey handle = 0;
    ~OpenKey() { registry.RegCloseKey(handle); }
};

} // namespace

AboutServices SystemAboutServices() {
    return {platform::SystemShell(), platform::SystemRegistry(), platform::SystemFileFinder(),
            platform::SystemProgramStarter(), nullptr};
}

frmAbout::frmAbout(AboutServices services, QObject* parent)
    : QObject(parent), services_(services) {}

frmAbout::~frmAbout() {
    delete window_.data();
}

void frmAbout::Show() {
    // A window that was closed is only waiting to be deleted.
    if (window_ != nullptr && window_->isHidden()) {
        window_->deleteLater();
        window_.clear();
    }
    if (window_ == nullptr) {
        window_ = new AboutWindow;
        connect(window_->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
        connect(window_->Combo1, &QComboBox::activated, this, &frmAbout::Combo1_Click);
        connect(window_->Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
        connect(window_->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void frmAbout::cmdOK_Click() {
    if (window_ != nullptr)
        window_->close();
}

void frmAbout::Combo1_Click() {
    if (window_ == nullptr)
        return;
    const int index = window_->Combo1->currentIndex();
    if (index >= 0 && index < static_cast<int>(kLinks.size()))
        strSeconds = kLinks[static_cast<std::size_t>(index)].key;
}

void frmAbout::Command1_Click() {
    for (const LinkEntry& link : kLinks) {
        if (strSeconds == link.key) {
            const platform::WindowHandle owner =
                window_ != nullptr ? static_cast<platform::WindowHandle>(window_->winId()) : 0;
            // Failures stay silent: there is nothing useful to tell beyond the browser's own.
            services_.shell.ShellExecuteA(owner, "open", link.address, nullptr, nullptr,
                                          platform::kShowWindow);
            return;
        }
    }
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    bool started = false;
    try {
        started = TryStartSysInfo();
    } catch (...) {
        // Every failure on the way ends in the one message below.
    }
    if (started)
        return;
    QtMessageDialog dialog(window_);
    platform::MessageDialog& messages = services_.messages ? *services_.messages : dialog;
    messages.Show("System Information Is Unavailable At This Time", platform::MessageIcon::None);
}

bool frmAbout::TryStartSysInfo() {
    std::string SysInfoPath;
    if (!GetKeyValue(platform::kHkeyLocalMachine, platform::kSysInfoPathKey,
                     platform::kSysInfoPathValue, SysInfoPath)) {
        if (!GetKeyValue(platform::kHkeyLocalMachine, platform::kSysInfoFolderKey,
                         platform::kSysInfoFolderValue, SysInfoPath))
            return false;
        if (services_.files.FindFile(SysInfoPath + kSysInfoProgramFile, platform::kAttributeNormal)
                .empty())
            return false;
        SysInfoPath += kSysInfoProgramFile;
    }
    services_.programs.StartProgram(SysInfoPath, platform::kNormalFocusWindow);
    return true;
}

bool frmAbout::GetKeyValue(platform::RegistryKey KeyRoot, const std::string& KeyName,
                           const std::string& SubKeyRef, std::string& KeyVal) {
    platform::Registry& registry = services_.registry;
    OpenKey hKey{registry};
    std::array<std::uint8_t, kKeyValueBufferSize> buffer{};
    std::uint32_t KeyValType = 0;
    std::uint32_t KeyValSize = kKeyValueBufferSize;
    // The value is read only from a key that opened.
    if (registry.RegOpenKeyExA(KeyRoot, KeyName, 0, kSysInfoKeyAccess, hKey.handle) !=
            platform::kErrorSuccess ||
        registry.RegQueryValueExA(hKey.handle, SubKeyRef, 0, &KeyValType, buffer.data(),
                                  &KeyValSize) != platform::kErrorSuccess) {
        KeyVal.clear();
        return false;
    }

    // Keep the bytes stored, less a terminating zero; a value of 0 bytes keeps nothing.
    std::string tmpVal(buffer.begin(),
                       buffer.begin() + std::min<std::ptrdiff_t>(KeyValSize, buffer.size()));
    if (!tmpVal.empty() && tmpVal.back() == '\0')
        tmpVal.pop_back();

    switch (KeyValType) {
    case platform::kRegSz:
        KeyVal = tmpVal;
        break;
    case platform::kRegDword: {
        // Most significant byte first, each byte's hexadecimal digits without leading zeros.
        for (auto byte = tmpVal.rbegin(); byte != tmpVal.rend(); ++byte) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned char>(*byte));
            KeyVal += digits;
        }
        KeyVal = "&h" + KeyVal;
        break;
    }
    default:
        break; // other types are read but not handed back
    }
    return true;
}

} // namespace tarnwick
