#pragma once
// The about box: the program's name, version, notice and the links to its web page and
// e-mail address.
#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;

namespace tallimer {

class TLinkLabel;

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    // Open the web address and the e-mail address as the labels show them.
    void CommentsClick();  // the web address
    void Label1Click();    // the e-mail address

    // How a link is opened; the desktop's handler by default, a recorder in tests.
    std::function<void(const QUrl&)> openUrl;

    // Controls, named as in the window's description.
    QLabel* ProgramIcon;    // the program's icon
    QLabel* ProductName;    // "Le Tallimer Internet", in bold
    QLabel* Version;        // "Version 6.0"
    QLabel* Copyright;      // the notice line
    TLinkLabel* Comments;   // the web address, a link
    TLinkLabel* Label1;     // the e-mail address, a link
    QPushButton* OKButton;  // "OK"
};

// The about box, created third at start and alive until the end.
extern TAboutBox* AboutBox;

}  // namespace tallimer
