#include "windows/FNPropos.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/LinkLabel.h"
#include "controls/RatePictures.h"
#include "windows/ProjectInfo.h"

namespace tallimer {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    setWindowTitle(QStringLiteral("A propos"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    ProgramIcon = new QLabel(panel);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setPixmap(AppIcon().pixmap(32, 32));
    ProgramIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    ProductName = new QLabel(QStringLiteral("Le Tallimer Internet"), panel);
    ProductName->setObjectName("ProductName");
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    Version = new QLabel(QStringLiteral("Version 6.0"), panel);
    Version->setObjectName("Version");
    Copyright =
        new QLabel(QStringLiteral("Copyright © 2026 Les auteurs du Tallimer Internet"), panel);
    Copyright->setObjectName("Copyright");
    Comments = new TLinkLabel(QString::fromLatin1(kProjectWebAddress), panel);
    Comments->setObjectName("Comments");
    Comments->setHidden(Comments->text().isEmpty());
    Label1 = new TLinkLabel(QString::fromLatin1(kProjectMailAddress), panel);
    Label1->setObjectName("Label1");
    connect(Comments, &TLinkLabel::clicked, this, &TAboutBox::CommentsClick);
    connect(Label1, &TLinkLabel::clicked, this, &TAboutBox::Label1Click);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(ProductName);
    texts->addWidget(Version);
    texts->addSpacing(8);
    texts->addWidget(Copyright);
    texts->addSpacing(8);
    texts->addWidget(Comments);
    texts->addWidget(Label1);
    auto* inPanel = new QHBoxLayout(panel);
    inPanel->setContentsMargins(12, 12, 16, 12);
    inPanel->setSpacing(14);
    inPanel->addWidget(ProgramIcon, 0, Qt::AlignTop);
    inPanel->addLayout(texts, 1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName("OKButton");
    OKButton->setDefault(true);
    // Return closes the box; the addresses are the next Tab stops, which Return follows.
    OKButton->setFocus();
    setTabOrder(OKButton, Comments);
    setTabOrder(Comments, Label1);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(panel);
    outer->addWidget(OKButton, 0, Qt::AlignHCenter);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::CommentsClick() {
    if (openUrl && !Comments->text().isEmpty()) openUrl(QUrl(Comments->text()));
}

void TAboutBox::Label1Click() {
    if (openUrl) openUrl(QUrl(QStringLiteral("mailto:") + Label1->text()));
}

}  // namespace tallimer
