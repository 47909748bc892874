// Modal message box with one OK button, behind an interface so tests can record what is shown.
#pragma once

#include <string>

namespace tarnwick::platform {

enum class MessageIcon { None, Exclamation };

class MessageDialog {
public:
    virtual ~MessageDialog() = default;
    // Shows the prompt modally under the application's title and returns when it is closed.
    virtual void Show(const std::string& prompt, MessageIcon icon) = 0;
};

} // namespace tarnwick::platform
