// Layout, colours and keyboard behaviour of the About window.
#include "ui/about/AboutWindow.h"

#include "ui/about/AboutLinks.h"
#include "ui/common/DesignFonts.h"
#include "ui/common/Twips.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace tarnwick {
namespace {

const QColor kBackground(0xC0, 0xC0, 0xC0);
const QColor kBlackText(0x00, 0x00, 0x00);
const QColor kLineHighlight(0xFF, 0xFF, 0xFF);
const QColor kLineShadow(0x80, 0x80, 0x80);

void Fill(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QRect& rect) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(rect);
    return button;
}

// One member of the separator: a strip of solid colour `thickness` pixels high.
QWidget* MakeLine(QWidget* parent, int fromX, int toX, int y, int thickness, const QColor& colour) {
    auto* line = new QWidget(parent);
    line->setObjectName(QStringLiteral("Line1"));
    const int left = TwipsToPixels(fromX);
    line->setGeometry(left, TwipsToPixels(y), TwipsToPixels(toX) - left, thickness);
    line->setAutoFillBackground(true);
    Fill(line, QPalette::Window, colour);
    return line;
}

// The program's icon, as the main window has it; a stock one where the artwork is missing.
QIcon WindowIcon(const QStyle* style) {
    const QIcon artwork(QStringLiteral(":/artwork/tarnwick.ico"));
    if (!artwork.availableSizes().isEmpty())
        return artwork;
    const QIcon program = QApplication::windowIcon();
    return program.isNull() ? style->standardIcon(QStyle::SP_ComputerIcon) : program;
}

// The icon's 32x32 image, scaled up when the icon has only smaller ones.
QPixmap LargeIconImage(const QIcon& icon) {
    const QPixmap pixmap = icon.pixmap(32, 32);
    if (pixmap.deviceIndependentSize().toSize() == QSize(32, 32))
        return pixmap;
    return pixmap.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

// A tool window without an owner: no taskbar button of its own, a close box but neither a
// minimize nor a maximize button.
AboutWindow::AboutWindow()
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tarnwick"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Tool windows do not keep the program running by default; this one does, so the
    // program ends only when both windows are closed.
    setAttribute(Qt::WA_QuitOnClose, true);
    setFont(DialogFont(8.25));
    setAutoFillBackground(true);
    Fill(this, QPalette::Window, kBackground);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint screenOrigin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
    setGeometry(TwipsRect(2340, 1935, 5730, 2550).translated(screenOrigin));
    setFixedSize(TwipsRect(0, 0, 5730, 2550).size());
    const QIcon icon = WindowIcon(style());
    setWindowIcon(icon);

    Image1 = MakeLabel(this, "Image1", QString(), TwipsRect(240, 240, 480, 480));
    Image1->setPixmap(LargeIconImage(icon));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAccessibleName(QStringLiteral("Tarnwick icon"));
    Title = MakeLabel(this, "Title", QStringLiteral("By the Tarnwick team"),
                      TwipsRect(1080, 120, 1725, 240));
    Fill(Title, QPalette::WindowText, kBlackText);
    lblVersion = MakeLabel(this, "lblVersion", QStringLiteral("Version " TARNWICK_VERSION),
                           TwipsRect(1080, 360, 1005, 225));
    lblDescription = MakeLabel(this, "lblDescription", QStringLiteral("\u00A9 2026 Tarnwick"),
                               TwipsRect(1080, 600, 1365, 210));
    Fill(lblDescription, QPalette::WindowText, kBlackText);
    cmdOK = MakeButton(this, "cmdOK", "&OK", TwipsRect(4320, 240, 1020, 345));
    cmdOK->setDefault(true);

    Frame1 = new QGroupBox(QStringLiteral("Visit A Website:"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(TwipsRect(600, 960, 4575, 735));
    Frame1->setAutoFillBackground(true);
    Fill(Frame1, QPalette::Window, kBackground);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(TwipsRect(480, 240, 2775, 315));
    Combo1->setEditable(true);
    // Its edit field takes the focus, so a screen reader names it there too.
    Combo1->setAccessibleName(QStringLiteral("Visit A Website"));
    Combo1->lineEdit()->setAccessibleName(Combo1->accessibleName());
    // The list is chosen from, never added to or completed from what is typed. QComboBox
    // would also choose the entry whose label equals the typed text on Enter or when the
    // field loses the focus; only the list and the arrow keys choose here.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setCompleter(nullptr);
    QObject::disconnect(Combo1->lineEdit(), &QLineEdit::returnPressed, Combo1, nullptr);
    QObject::disconnect(Combo1->lineEdit(), &QLineEdit::editingFinished, Combo1, nullptr);
    for (const LinkEntry& link : kLinks)
        Combo1->addItem(QString::fromUtf8(link.label));
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    Combo1->installEventFilter(this);
    Combo1->lineEdit()->installEventFilter(this);
    Command1 = MakeButton(Frame1, "Command1", "&GO", TwipsRect(3720, 240, 615, 375));

    Line1[0] = MakeLine(this, 105, 5654, 1800, 2, kLineHighlight);
    Line1[1] = MakeLine(this, 90, 5654, 1800, 1, kLineShadow);
    Line1[1]->raise();

    lblDisclaimer = MakeLabel(this, "lblDisclaimer",
                              QStringLiteral("Tarnwick comes with no warranty of any kind. Ping "
                                             "and look up only computers you are allowed to test."),
                              TwipsRect(120, 1920, 3870, 585));
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Fill(lblDisclaimer, QPalette::WindowText, kBlackText);
    cmdSysInfo =
        MakeButton(this, "cmdSysInfo", "&System Info...", TwipsRect(4200, 2040, 1245, 345));

    for (QLabel* label : {Title, lblVersion, lblDescription, lblDisclaimer})
        label->setAlignment(label->alignment() | Qt::AlignTop);
    setTabOrder(cmdOK, cmdSysInfo);
    setTabOrder(cmdSysInfo, Combo1);
    setTabOrder(Combo1, Command1);
    cmdOK->setFocus();
}

// Enter and Esc in the list's edit field act on the window (OK), never on the list: typing a
// label and pressing Enter must not choose it.
bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == Combo1 || watched == Combo1->lineEdit())) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
             key->key() == Qt::Key_Escape) &&
            !Combo1->view()->isVisible()) {
            QDialog::keyPressEvent(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tarnwick
