// Modal message box with one OK button.
#include "ui/common/QtMessageDialog.h"

#include <QMessageBox>
#include <QString>

namespace tarnwick {

void QtMessageDialog::Show(const std::string& prompt, platform::MessageIcon icon) {
    QMessageBox box(icon == platform::MessageIcon::Exclamation ? QMessageBox::Warning
                                                               : QMessageBox::NoIcon,
                    QString::fromLatin1(kApplicationTitle), QString::fromStdString(prompt),
                    QMessageBox::Ok, parent_);
    box.setObjectName(QStringLiteral("TarnwickMessage"));
    // Prompts may quote typed or received text, which must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace tarnwick
