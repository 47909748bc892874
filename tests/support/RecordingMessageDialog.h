// Message dialog for tests: records every message instead of showing it.
#pragma once

#include "platform/MessageDialog.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct ShownMessage {
    std::string prompt;
    platform::MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

class RecordingMessageDialog final : public platform::MessageDialog {
public:
    void Show(const std::string& prompt, platform::MessageIcon icon) override {
        shown.push_back({prompt, icon});
        if (onShow)
            onShow();
    }
    std::vector<ShownMessage> shown;
    // Runs while the message is up, to see what the window shows beside it.
    std::function<void()> onShow;
};

} // namespace tarnwick::testing
