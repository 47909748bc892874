// The main window: address input, ping and WHOIS buttons, result fields, WHOIS output.
#pragma once

#include "engine/EchoProbe.h"
#include "engine/EngineError.h"
#include "platform/LocalAddress.h"
#include "ui/about/frmAbout.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tarnwick {

class PlainTextAnswerView;
class WhoisLookup;

inline constexpr char kWhoisServerEntry[] = " whois.arin.net ";
inline constexpr char kPictureButtonToolTip[] = "About the Tarnwick developers.";

// What the user is told when the echo engine rejects the typed address.
std::string RejectionMessage(EngineErrorKind kind);
// What the user is told, once per run, when the system lets them open no ICMP socket, or the
// echo program that would is missing.
std::string NoPingPermissionMessage(const std::string& echoProgramPath);

class Form1 : public QWidget {
    Q_OBJECT

public:
    // The echo services and the local-address reader are the system's in the program and
    // fakes in tests; both must outlive the window.
    Form1(const EchoServices& echoServices, platform::LocalAddress& localAddress,
          QWidget* parent = nullptr);

    // Start-up: the local address into Text8 and the WHOIS server entry into ServerList.
    void Form_Load();

    // The controls, named as in the design; each widget's objectName is the same name.
    QComboBox* ServerList;
    QLabel* IP;
    QPushButton* Command2;
    QLabel* Image1;
    QLineEdit* Text1;
    QPushButton* HelpBut;
    QLabel* Label8;
    QLineEdit* Text8;
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label2;
    QLineEdit* Text3;
    QLabel* Label3;
    QLineEdit* Text4;
    QLabel* Label4;
    QLineEdit* Text5;
    QLabel* Label5;
    QLineEdit* Text6;
    QLabel* Label6;
    QLineEdit* Text7;
    QLabel* Image2;
    QPushButton* Button2;
    QLabel* Input_Label;
    QPlainTextEdit* Box;

    // Reads the machine's own address once, at start-up; it never connects.
    platform::LocalAddress& Winsock1;
    // The WHOIS connection; its answer goes into Box.
    WhoisLookup* Winsock2;

    // The services the About window object is made with at the first press of HelpBut;
    // the system's unless set before that press.
    void SetAboutServices(const AboutServices& services) { aboutServices_.emplace(services); }
    // The one About window object of the run, or null before HelpBut was first pressed.
    frmAbout* About() const { return about_.get(); }

public slots:
    // One echo to the address in Text1, shown in Text2 to Text7.
    void Command2_Click();
    // A WHOIS lookup of Text1 at the server in ServerList, answered in Box.
    void Button2_Click();
    void Winsock2_Connect();
    void Winsock2_DataArrival(qint64 bytesTotal);
    // Shows the About window, making its object at the first press and keeping it.
    void HelpBut_Click();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // A closed window asks no server any more.
    void closeEvent(QCloseEvent* event) override;

private:
    EchoServices echoServices_;
    PlainTextAnswerView* boxView_;
    std::optional<AboutServices> aboutServices_;
    std::unique_ptr<frmAbout> about_;
    bool centred_ = false;
    bool serverListStyled_ = false;
    bool permissionExplained_ = false;
};

} // namespace tarnwick
