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
    void CommentsClick();
    void Label1Click();

    // How a link is opened; the desktop's handler by default, a recorder in tests.
    std::function<void(const QUrl&)> openUrl;

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    TLinkLabel* Comments;
    TLinkLabel* Label1;
    QPushButton* OKButton;
};

// The about box, created third at start and alive until the end.
extern TAboutBox* AboutBox;

}  // namespace tallimer
