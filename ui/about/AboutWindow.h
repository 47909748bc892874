// The About window's widgets, built from the design each time the window is shown.
#pragma once

#include <QDialog>

#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tarnwick {

class AboutWindow : public QDialog {
    Q_OBJECT

public:
    AboutWindow();

    // The controls, named as in the design; each widget's objectName is the same name.
    QLabel* Image1;
    QLabel* Title;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QPushButton* cmdOK;
    QGroupBox* Frame1;
    QComboBox* Combo1;
    QPushButton* Command1;
    std::array<QWidget*, 2> Line1; // the etched separator: white below, grey on top
    QLabel* lblDisclaimer;
    QPushButton* cmdSysInfo;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace tarnwick
