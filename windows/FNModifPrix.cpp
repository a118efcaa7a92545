#include "windows/FNModifPrix.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/Accessible.h"
#include "platform/SystemLocale.h"
#include "support/Errors.h"
#include "support/NumberText.h"

namespace tallimer {

TfModifPrix* fModifPrix = nullptr;

TfModifPrix::TfModifPrix(QWidget* parent) : QDialog(parent) {
    setObjectName("fModifPrix");
    setWindowTitle(QStringLiteral("Modification d'un prix"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    showMessage = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                        QMessageBox::Ok, this);
        box.exec();
    };

    Label1 = new QLabel(QStringLiteral("&Entrer la nouvelle valeur du prix :"), this);
    Label1->setObjectName("Label1");
    Edit1 = new QLineEdit(QStringLiteral("0,00"), this);
    Edit1->setObjectName("Edit1");
    Names(Label1, Edit1);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Annu&ler"), this);
    BitBtn2->setObjectName("BitBtn2");
    connect(BitBtn1, &QPushButton::clicked, this, &TfModifPrix::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(Label1);
    layout->addWidget(Edit1);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The content alone is narrower than the caption: a title bar would cut it.
    const QMargins m = layout->contentsMargins();
    Edit1->setMinimumWidth(TitleBarWidth(windowTitle(), font()) - m.left() - m.right());
}

int TfModifPrix::TitleBarWidth(const QString& caption, const QFont& font) {
    QFont bold = font;
    bold.setBold(true);
    // Icon, minimize, maximize and close, each about a line high, and the frame's padding.
    const int buttons = 4 * (QFontMetrics(bold).height() + 8);
    return QFontMetrics(bold).horizontalAdvance(caption) + buttons + 40;
}

TfModifPrix::~TfModifPrix() {
    if (fModifPrix == this) fModifPrix = nullptr;
}

void TfModifPrix::FormActivate() {
    Edit1->setText(QString::fromStdString(InvoiceAmountText(Prix, SystemLocale())));
}

void TfModifPrix::BitBtn1Click() {
    float value;
    try {
        value = TextToFloat(Edit1->text().toStdString(), SystemLocale());
    } catch (const ConversionError&) {
        if (showMessage) showMessage(QStringLiteral("Valeur non correcte. Recommencez."));
        return;
    }
    Prix = value;
    accept();
}

// Showing counts as an activation too: an offscreen or unfocused window may never become
// the active one.
void TfModifPrix::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TfModifPrix::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isVisible() && isActiveWindow())
        FormActivate();
}

}  // namespace tallimer
