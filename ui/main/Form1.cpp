// The main window's controls, its start-up, the ping command and the WHOIS lookup.
#include "ui/main/Form1.h"

#include "ui/common/Artwork.h"
#include "ui/common/DesignFonts.h"
#include "ui/common/QtMessageDialog.h"
#include "ui/common/Twips.h"
#include "ui/main/EchoReplyTexts.h"
#include "ui/main/PlainTextAnswerView.h"
#include "whois/WhoisLookup.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <iostream>

namespace tarnwick {
namespace {

constexpr QColor kFormOrange(0xD2, 0x6A, 0x02);
constexpr char kAddressHint[] =
    " Type an IPv4 address as four numbers joined by dots, for example 192.168.1.10.";
constexpr char kUnknownStatusMessage[] =
    "The echo service answered with a status that Tarnwick does not know "
    "(-2147483648), so no result is shown.";

template <typename Widget>
Widget* Place(Widget* widget, const char* name, QRect twipsRect, const QString& accessibleName) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(twipsRect);
    widget->setAccessibleName(accessibleName);
    return widget;
}

void PaintOpaque(QWidget* widget, const QColor& background) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A line edit puts its cursor at the end of new text and scrolls there; a read-out must show
// the start (the status code, the leading digits) however long the text is.
void ShowFromStart(QLineEdit* field, const QString& text) {
    field->setText(text);
    field->setCursorPosition(0);
}

QPixmap Picture(const char* resource) {
    return ArtworkPixmap(QLatin1String(resource));
}

void SetPictureFace(QPushButton* button, const char* resource) {
    button->setIcon(QIcon(QLatin1String(resource)));
    button->setIconSize(ArtworkSize(QLatin1String(resource)));
    button->setToolTip(QLatin1String(kPictureButtonToolTip));
}

// Qt's interface for a combo box builds the drop-down list and reports its entries as showing
// even while the box is hidden, so a screen reader would read out the never-shown server list.
// As a plain widget it reports the box and its edit field as hidden, and builds nothing.
QAccessibleInterface* ServerListAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") &&
        object->objectName() == QLatin1String("ServerList"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::ComboBox);
    return nullptr;
}

} // namespace

std::string RejectionMessage(EngineErrorKind kind) {
    switch (kind) {
    case EngineErrorKind::SubscriptOutOfRange:
        return std::string("The address has more than four parts.") + kAddressHint;
    case EngineErrorKind::TypeMismatch:
        return std::string("A part of the address is empty or not a number.") + kAddressHint;
    case EngineErrorKind::Overflow:
        return std::string("A part of the address is too large a number.") + kAddressHint;
    }
    return std::string("The address is not valid.") + kAddressHint;
}

std::string NoPingPermissionMessage(const std::string& echoProgramPath) {
    return "This system does not allow this user to send pings, so every ping fails. Any one of "
           "these allows it:\n"
           "- install Tarnwick's package, which grants its echo program the capability;\n"
           "- sudo setcap cap_net_raw+p " +
           echoProgramPath +
           "\n"
           "- sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";
}

Form1::Form1(const EchoServices& echoServices, platform::LocalAddress& localAddress,
             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Winsock1(localAddress), echoServices_(echoServices) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(kApplicationTitle));
    setWindowIcon(QIcon(QStringLiteral(":/artwork/tarnwick.ico")));
    setFixedSize(TwipsToPixels(4830), TwipsToPixels(6045));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kFormOrange);
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(DialogFont(8.25));

    auto label = [this](const char* name, const char* caption, QRect rect) {
        auto* widget = new QLabel(QLatin1String(caption), this);
        QString accessible = QLatin1String(caption);
        if (accessible.endsWith(u':'))
            accessible.chop(1);
        return Place(widget, name, rect, accessible);
    };
    auto field = [this](const char* name, QRect rect, QLabel* caption) {
        auto* widget = Place(new QLineEdit(this), name, rect, caption->accessibleName());
        caption->setBuddy(widget);
        return widget;
    };

    QAccessible::installFactory(ServerListAccessible); // Qt keeps one of each
    ServerList = Place(new QComboBox(this), "ServerList", TwipsRect(120, 0, 330, 330),
                       QStringLiteral("WHOIS server"));
    // Editable through a line edit of its own: setEditable would also build the drop-down
    // list, which a list that is never shown does not need.
    ServerList->setLineEdit(new QLineEdit(ServerList));
    ServerList->setVisible(false);

    IP = label("IP", "Enter IP Address", TwipsRect(720, 120, 2055, 255));
    IP->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    IP->setFont(DialogFont(9.75));

    Command2 = Place(new QPushButton(this), "Command2", TwipsRect(3240, 120, 1335, 375),
                     QStringLiteral("Ping"));
    SetPictureFace(Command2, ":/artwork/ping-button.gif");

    Image1 = Place(new QLabel(this), "Image1", TwipsRect(120, 480, 300, 300),
                   QStringLiteral("Address picture"));
    Image1->setPixmap(Picture(":/artwork/address-marker.gif"));

    Text1 = Place(new QLineEdit(this), "Text1", TwipsRect(600, 480, 2295, 285),
                  QStringLiteral("Enter IP Address"));
    IP->setBuddy(Text1);

    HelpBut = Place(new QPushButton(this), "HelpBut", TwipsRect(3480, 600, 855, 375),
                    QStringLiteral("About"));
    SetPictureFace(HelpBut, ":/artwork/help-button.gif");

    Label8 = label("Label8", "Your IP:", TwipsRect(120, 960, 735, 255));
    PaintOpaque(Label8, kFormOrange);
    Text8 = field("Text8", TwipsRect(1200, 930, 1335, 285), Label8);

    Label1 = label("Label1", "Status:", TwipsRect(120, 1320, 615, 255));
    Text2 = field("Text2", TwipsRect(1200, 1320, 1335, 285), Label1);
    Label2 = label("Label2", "Lag Time:", TwipsRect(120, 1680, 855, 255));
    Text3 = field("Text3", TwipsRect(1200, 1680, 1335, 285), Label2);
    Label3 = label("Label3", "Port Address:", TwipsRect(120, 2040, 1095, 255));
    Text4 = field("Text4", TwipsRect(1200, 2040, 1335, 285), Label3);
    Label4 = label("Label4", "Size:", TwipsRect(120, 2400, 495, 255));
    Text5 = field("Text5", TwipsRect(1200, 2400, 1335, 285), Label4);
    Label5 = label("Label5", "Echo:", TwipsRect(120, 2760, 495, 255));
    Text6 = field("Text6", TwipsRect(1200, 2760, 1335, 285), Label5);
    Label6 = label("Label6", "Pointer:", TwipsRect(120, 3120, 735, 255));
    Text7 = field("Text7", TwipsRect(1200, 3120, 1335, 285), Label6);
    for (QLineEdit* result : {Text2, Text3, Text4, Text5, Text6, Text7})
        result->setEnabled(false);

    Image2 = Place(new QLabel(this), "Image2", TwipsRect(2640, 1080, 2100, 2400),
                   QStringLiteral("Two computers joined by a network cable"));
    Image2->setPixmap(Picture(":/artwork/two-computers.gif"));

    Button2 = Place(new QPushButton(QStringLiteral("Trace IP"), this), "Button2",
                    TwipsRect(120, 3480, 1335, 375), QStringLiteral("Trace IP"));

    Input_Label = label("Input_Label", "Hidden", TwipsRect(1680, 3600, 615, 255));
    Input_Label->setAccessibleName(QStringLiteral("WHOIS answer so far"));
    PaintOpaque(Input_Label, kFormOrange);
    Input_Label->setVisible(false);

    Box = Place(new QPlainTextEdit(this), "Box", TwipsRect(105, 3975, 4605, 1995),
                QStringLiteral("WHOIS answer"));
    Box->setTabChangesFocus(true);
    boxView_ = new PlainTextAnswerView(*Box);
    Winsock2 = new WhoisLookup(*boxView_, this);
    // The label holds the receive buffer, which may look like markup: never parse it.
    Input_Label->setTextFormat(Qt::PlainText);

    // Focus order of the design; labels and pictures take no focus.
    QWidget* const order[] = {Text1,   Text2,    Text3, Text4,      Text5,   Text6, Text7,
                              HelpBut, Command2, Text8, ServerList, Button2, Box};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    Text1->setFocus();

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Button2, &QPushButton::clicked, this, &Form1::Button2_Click);
    connect(Winsock2, &WhoisLookup::Connect, this, &Form1::Winsock2_Connect);
    connect(Winsock2, &WhoisLookup::DataArrival, this, &Form1::Winsock2_DataArrival);
    // Box shows the answer as it grows; the hidden label takes the buffer once, at the end,
    // instead of copying megabytes on every arrival.
    connect(Winsock2, &WhoisLookup::Ended, this,
            [this] { Input_Label->setText(Winsock2->Buffer()); });
    // The box may stay blank for seconds while a server is reached: a busy pointer over it
    // says that a lookup is under way without touching what it shows.
    connect(Winsock2, &WhoisLookup::WaitingChanged, this,
            [this, normal = Box->viewport()->cursor()](bool waiting) {
                Box->viewport()->setCursor(waiting ? QCursor(Qt::BusyCursor) : normal);
            });
    connect(HelpBut, &QPushButton::clicked, this, &Form1::HelpBut_Click);
}

void Form1::Form_Load() {
    ShowFromStart(Text8, QString::fromStdString(Winsock1.LocalIP()));
    ServerList->addItem(QLatin1String(kWhoisServerEntry));
    ServerList->setCurrentIndex(0);
}

void Form1::Command2_Click() {
    for (QLineEdit* result : {Text2, Text3, Text4, Text5, Text6, Text7})
        result->setEnabled(true);

    // The engine takes single-byte text; characters outside Latin-1 become '?'.
    const QByteArray addressBytes = Text1->text().toLatin1();
    const std::string addressText(addressBytes.constData(), addressBytes.size());
    EchoReply reply{};
    PingOutcome outcome;
    try {
        outcome = ProbeAddress(addressText, reply, echoServices_);
    } catch (const EngineError& error) {
        // Nothing on screen may belong to an earlier address.
        for (QLineEdit* result : {Text2, Text3, Text4, Text5, Text6, Text7})
            result->clear();
        echoServices_.messages.Show(RejectionMessage(error.kind()),
                                    platform::MessageIcon::Exclamation);
        return;
    }
    if (!outcome.result) {
        echoServices_.messages.Show(kUnknownStatusMessage, platform::MessageIcon::Exclamation);
        return;
    }

    const EchoReplyTexts texts = FormatEchoReply(reply);
    ShowFromStart(Text2, QString::fromStdString(texts.status));
    ShowFromStart(Text4, QString::fromStdString(texts.portAddress));
    ShowFromStart(Text3, QString::fromStdString(texts.lagTime));
    ShowFromStart(Text5, QString::fromStdString(texts.size));
    if (texts.echo)
        ShowFromStart(Text6, QString::fromLatin1(texts.echo->data(),
                                                 static_cast<qsizetype>(texts.echo->size())));
    ShowFromStart(Text7, QString::fromStdString(texts.pointer));

    // The status alone cannot say that a missing permission (or a missing echo program) is
    // the cause, nor what to do.
    const bool userCanMendIt = outcome.openFailure == contract::OpenFailure::NotPermitted ||
                               outcome.openFailure == contract::OpenFailure::ProgramMissing;
    if (!permissionExplained_ && userCanMendIt) {
        permissionExplained_ = true;
        const std::string message = NoPingPermissionMessage(outcome.echoProgram);
        std::cerr << "tarnwick: " << message << std::endl;
        echoServices_.messages.Show(message, platform::MessageIcon::Exclamation);
    }
}

void Form1::HelpBut_Click() {
    if (about_ == nullptr)
        about_ =
            std::make_unique<frmAbout>(aboutServices_ ? *aboutServices_ : SystemAboutServices());
    about_->Show();
}

void Form1::showEvent(QShowEvent* event) {
    // Centred on the first show only; later the user's placement stands.
    if (!centred_ && !event->spontaneous() && screen() != nullptr) {
        centred_ = true;
        QRect frame = frameGeometry();
        frame.moveCenter(screen()->availableGeometry().center());
        move(frame.topLeft());
    }
    QWidget::showEvent(event);
}

void Form1::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The hidden server list takes its font and colours once the window is on screen: its line
    // edit lays the entry out again in a bold face that nothing shown uses, and a combo box
    // builds its drop-down list for a new font or palette, work the first picture would wait
    // for otherwise.
    if (serverListStyled_)
        return;
    serverListStyled_ = true;
    QTimer::singleShot(0, this, [this] {
        ServerList->setFont(ArialFont(8.25, true));
        QPalette white = ServerList->palette();
        white.setColor(QPalette::Base, Qt::white);
        white.setColor(QPalette::Text, Qt::black);
        ServerList->setPalette(white);
    });
}

void Form1::closeEvent(QCloseEvent* event) {
    Winsock2->Stop();
    QWidget::closeEvent(event);
}

void Form1::Button2_Click() {
    Box->setEnabled(true);
    // Empties the box, ends any earlier lookup and connects to the trimmed entry. The earlier
    // lookup's Ended hands the label its buffer: the label is emptied after.
    Winsock2->Start(ServerList->currentText());
    Input_Label->setText(QString());
}

void Form1::Winsock2_Connect() {
    // Read now, not at the click: an edit made while the server was reached is what is asked.
    Winsock2->SendQuery(Text1->text());
}

void Form1::Winsock2_DataArrival(qint64 /*bytesTotal*/) {
    Winsock2->TakeData();
}

} // namespace tarnwick
