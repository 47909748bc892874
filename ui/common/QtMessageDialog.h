// The message-box interface bound to a real modal Qt dialog titled "Tarnwick".
#pragma once

#include "platform/MessageDialog.h"

class QWidget;

namespace tarnwick {

inline constexpr char kApplicationTitle[] = "Tarnwick";

class QtMessageDialog final : public platform::MessageDialog {
public:
    explicit QtMessageDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void Show(const std::string& prompt, platform::MessageIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace tarnwick
