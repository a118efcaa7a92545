#include "windows/FNConfirme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tallimer {

TfConfirm* fConfirm = nullptr;

TfConfirm::TfConfirm(QWidget* parent) : QDialog(parent) {
    setObjectName("fConfirm");
    setWindowTitle(QStringLiteral("Confirmation de sortie"));
    // The close box is the title bar's only button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    Image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    Label1 = new QLabel(QStringLiteral("Vous allez fermer le Tallimer Internet."), this);
    Label1->setObjectName("Label1");
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label2 = new QLabel(
        QStringLiteral("Voulez-vous arrêter le programme ou seulement le réduire ?"), this);
    Label2->setObjectName("Label2");

    BitBtn1 = new QPushButton(QStringLiteral("&Arrêter"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn2 = new QPushButton(QStringLiteral("&Réduire"), this);
    BitBtn2->setObjectName("BitBtn2");
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    CheckBox1 = new QCheckBox(QStringLiteral("&Ne plus poser la question à l'avenir"), this);
    CheckBox1->setObjectName("CheckBox1");

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(Label1);
    texts->addWidget(Label2);
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 10);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addLayout(buttons);
    layout->addSpacing(6);
    layout->addWidget(CheckBox1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TfConfirm::~TfConfirm() {
    if (fConfirm == this) fConfirm = nullptr;
}

// The dialog is reused: without this, Return would press whichever button was clicked last.
void TfConfirm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    BitBtn2->setDefault(false);
    BitBtn1->setDefault(true);
    BitBtn1->setFocus(Qt::OtherFocusReason);
}

}  // namespace tallimer
