#include "windows/FNRegle.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <string>

#include "controls/Accessible.h"
#include "controls/DateEdit.h"
#include "controls/ErrorReport.h"
#include "controls/Timeedit.h"
#include "platform/SystemLocale.h"
#include "support/Date.h"
#include "support/Errors.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kFieldWidth = 100;  // prices and durations line up in one column

QGroupBox* RadioGroup(const QString& caption, const QStringList& items, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    auto* group = new QButtonGroup(box);
    auto* layout = new QVBoxLayout(box);
    layout->setSpacing(2);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], box);
        group->addButton(b, i);
        layout->addWidget(b);
    }
    return box;
}

QLineEdit* PriceEdit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(QStringLiteral("0,00"), parent);
    e->setObjectName(name);
    e->setFixedWidth(kFieldWidth);
    return e;
}

// The picker's day of a stored date; a date beyond the calendar's years shows its end.
QDate ToQDate(DateTime d) {
    YearMonthDay ymd = DecodeDate(d);
    if (ymd.year < 1) return QDate(1, 1, 1);
    if (ymd.year > 9999) return QDate(9999, 12, 31);
    return QDate(ymd.year, static_cast<int>(ymd.month), static_cast<int>(ymd.day));
}

}  // namespace

// ---- TUpDown

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max), position_(min) {
    upButton = new QToolButton(this);
    upButton->setArrowType(Qt::UpArrow);
    downButton = new QToolButton(this);
    downButton->setArrowType(Qt::DownArrow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* b : {upButton, downButton}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(18, 12);
        layout->addWidget(b);
    }
    connect(upButton, &QToolButton::clicked, this, [this] { Step(1); });
    connect(downButton, &QToolButton::clicked, this, [this] { Step(-1); });
    if (associate_) associate_->installEventFilter(this);
}

void TUpDown::Step(int delta) {
    // Start from what the edit shows when it reads as a number; a text typed out of range
    // comes back within it.
    if (associate_) {
        try {
            position_ = TextToInt(associate_->text().toStdString());
        } catch (const ConversionError&) {
        }
    }
    position_ = std::clamp(position_, min_, max_);
    position_ = std::clamp(position_ + delta, min_, max_);
    if (associate_) associate_->setText(QString::number(position_));
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == associate_ && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- TfRegle

TfRegle* fRegle = nullptr;

TfRegle::TfRegle(QWidget* parent) : QDialog(parent) {
    setObjectName("fRegle");
    setWindowTitle(QStringLiteral("Règlages des comptes"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    cbFAI = new QComboBox(this);
    cbFAI->setObjectName("cbFAI");
    cbFAI->setEditable(false);
    cbFAI->setMinimumWidth(220);
    connect(cbFAI, &QComboBox::activated, this, [this] { cbFAIChange(); });
    // Each field is named by its label, whose underlined letter (with Alt) reaches it.
    auto label = [this](const char* caption, QWidget* field) {
        return Names(new QLabel(QString::fromUtf8(caption), this), field);
    };
    auto* faiLabel = label("&Fournisseur d'accès :", cbFAI);

    // Package.
    auto* forfait = new QGroupBox(QStringLiteral("Forfait"), this);
    cbForfait = new QCheckBox(QStringLiteral("F&orfait"), forfait);
    cbForfait->setObjectName("cbForfait");
    teDureeForfait = new TTimeEdit(forfait);
    teDureeForfait->setObjectName("teDureeForfait");
    tePrixForfait = PriceEdit("tePrixForfait", forfait);
    RadioGroup1 = RadioGroup(QStringLiteral("Type de forfait"),
                             {QStringLiteral("Perm&anent"), QStringLiteral("&Nuit"),
                              QStringLiteral("Nuit et &Week-end")},
                             forfait);
    RadioGroup1->setObjectName("RadioGroup1");
    auto* forfaitForm = new QFormLayout;
    forfaitForm->addRow(label("&Durée (hh:mm:ss) :", teDureeForfait), teDureeForfait);
    forfaitForm->addRow(label("Prix &par période :", tePrixForfait), tePrixForfait);
    auto* forfaitLayout = new QVBoxLayout(forfait);
    forfaitLayout->addWidget(cbForfait);
    forfaitLayout->addLayout(forfaitForm);
    forfaitLayout->addWidget(RadioGroup1);
    forfaitLayout->addStretch(1);

    // Tariff.
    auto* tarifs = new QGroupBox(QStringLiteral("Tarifs"), this);
    tePrixSec = PriceEdit("tePrixSec", tarifs);
    teDureeCredit = new TTimeEdit(tarifs);
    teDureeCredit->setObjectName("teDureeCredit");
    tePrixCredit = PriceEdit("tePrixCredit", tarifs);
    tePrixRed = PriceEdit("tePrixRed", tarifs);
    cbPrimaliste = new QCheckBox(QStringLiteral("Pr&imaliste"), tarifs);
    cbPrimaliste->setObjectName("cbPrimaliste");
    cbPrimalisteInternet = new QCheckBox(QStringLiteral("Primaliste Inte&rnet"), tarifs);
    cbPrimalisteInternet->setObjectName("cbPrimalisteInternet");
    RadioGroup2 =
        RadioGroup(QStringLiteral("Type de réduction"),
                   {QStringLiteral("Soiré&e"), QStringLiteral("Soir et wee&k-end")}, tarifs);
    RadioGroup2->setObjectName("RadioGroup2");
    auto* tarifsForm = new QFormLayout;
    tarifsForm->addRow(label("Prix à la &seconde :", tePrixSec), tePrixSec);
    tarifsForm->addRow(label("Durée du &crédit temps :", teDureeCredit), teDureeCredit);
    tarifsForm->addRow(label("Prix du crédit &temps :", tePrixCredit), tePrixCredit);
    tarifsForm->addRow(label("Prix &heures creuses :", tePrixRed), tePrixRed);
    auto* discounts = new QHBoxLayout;
    discounts->addWidget(cbPrimaliste);
    discounts->addWidget(cbPrimalisteInternet);
    discounts->addStretch(1);
    auto* tarifsLayout = new QVBoxLayout(tarifs);
    tarifsLayout->addLayout(tarifsForm);
    tarifsLayout->addLayout(discounts);
    tarifsLayout->addWidget(RadioGroup2);
    tarifsLayout->addStretch(1);

    // Billing.
    DateFacture = new TDateEdit(this);
    DateFacture->setObjectName("DateFacture");
    DateFacture->setCalendarPopup(true);
    DateFacture->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    // Every date the account file can hold, the new account's 30/12/1899 included.
    DateFacture->setDateRange(QDate(1, 1, 1), QDate(9999, 12, 31));
    DateFacture->setDate(QDate(1899, 12, 30));
    tePeriode = new QLineEdit(QStringLiteral("1"), this);
    tePeriode->setObjectName("tePeriode");
    tePeriode->setMaximumWidth(60);
    UpDown1 = new TUpDown(tePeriode, 1, 12, this);
    UpDown1->setObjectName("UpDown1");
    auto* periode = new QHBoxLayout;
    periode->setSpacing(1);
    periode->addWidget(tePeriode);
    periode->addWidget(UpDown1);
    periode->addStretch(1);
    auto* billing = new QFormLayout;
    billing->addRow(label("Prochaine fact&ure :", DateFacture), DateFacture);
    // The focus goes to the date's own editor: it carries the name too.
    DateFacture->editor()->setAccessibleName(DateFacture->accessibleName());
    billing->addRow(label("Périodicité (&mois) :", tePeriode), periode);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Annu&ler"), this);
    BitBtn2->setObjectName("BitBtn2");
    connect(BitBtn1, &QPushButton::clicked, this, &TfRegle::okClicked);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    teDureeForfait->setFixedWidth(kFieldWidth);
    teDureeCredit->setFixedWidth(kFieldWidth);
    DateFacture->setMinimumWidth(kFieldWidth + 20);

    // A duration or date that does not read is an error of the application, as a bad price is.
    const auto report = [this](const QString& message) {
        ReportException(this, ConversionError(message.toStdString()));
    };
    for (TTimeEdit* e : {teDureeForfait, teDureeCredit})
        connect(e, &TTimeEdit::conversionFailed, this, report);
    connect(DateFacture, &TDateEdit::conversionFailed, this, report);

    // Before any account is chosen the fields show a new account's settings.
    SetItemIndex(RadioGroup1, 1);
    SetItemIndex(RadioGroup2, 1);
    teDureeForfait->SetFHeure(msTIME(0));
    teDureeCredit->SetFHeure(msTIME(0));

    auto* top = new QHBoxLayout;
    top->addWidget(faiLabel);
    top->addWidget(cbFAI, 1);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(forfait, 1);
    boxes->addWidget(tarifs, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(billing);
    bottom->addStretch(1);
    bottom->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(boxes);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TfRegle::~TfRegle() {
    if (fRegle == this) fRegle = nullptr;
}

int TfRegle::ItemIndex(const QGroupBox* group) {
    auto* buttons = group->findChild<QButtonGroup*>();
    return buttons ? buttons->checkedId() : -1;
}

void TfRegle::SetItemIndex(QGroupBox* group, int index) {
    auto* buttons = group->findChild<QButtonGroup*>();
    if (!buttons) return;
    int count = static_cast<int>(buttons->buttons().size());
    index = std::clamp(index, -1, count - 1);
    if (index >= 0) {
        buttons->button(index)->setChecked(true);
        return;
    }
    // An exclusive group cannot be emptied by unchecking its checked button.
    buttons->setExclusive(false);
    for (QAbstractButton* b : buttons->buttons()) b->setChecked(false);
    buttons->setExclusive(true);
}

void TfRegle::Prepare(AccountCollection& accounts, const QString& providerName) {
    editedAccount = nullptr;
    cbFAI->clear();
    references_.clear();
    for (auto& [name, account] : accounts) {
        cbFAI->addItem(Q(name));
        references_.push_back(&account);
    }
    int selected = -1;
    for (int i = 0; i < cbFAI->count(); ++i) {
        if (cbFAI->itemText(i).compare(providerName, Qt::CaseInsensitive) == 0) {
            selected = i;
            break;
        }
    }
    // Adding the first item selects it; only a matching name may stay selected.
    cbFAI->setCurrentIndex(selected);
    cbFAIChange();
}

void TfRegle::cbFAIChange() {
    int i = cbFAI->currentIndex();
    if (i < 0 || i >= static_cast<int>(references_.size())) return;
    editedAccount = references_[static_cast<std::size_t>(i)];
    FormShow();
}

void TfRegle::FormShow() {
    if (!editedAccount) return;
    const Account& a = *editedAccount;
    const Locale locale = SystemLocale();
    cbForfait->setChecked(a.packageEnabled);
    teDureeForfait->SetFHeure(a.packageDuration);
    tePrixForfait->setText(Q(FormatFixed(a.packagePrice, 7, 4, locale)));
    SetItemIndex(RadioGroup1, a.packageType);
    tePrixSec->setText(Q(FormatFixed(a.pricePerSecond, 7, 4, locale)));
    teDureeCredit->SetFHeure(a.creditDuration);
    tePrixCredit->setText(Q(FormatFixed(a.creditPrice, 4, 2, locale)));
    tePrixRed->setText(Q(FormatFixed(a.offPeakPrice, 7, 4, locale)));
    cbPrimaliste->setChecked(a.primaliste);
    cbPrimalisteInternet->setChecked(a.primalisteInternet);
    SetItemIndex(RadioGroup2, a.reductionType);
    DateFacture->setDate(ToQDate(a.nextInvoice));
    tePeriode->setText(QString::number(a.periodMonths));
}

void TfRegle::BitBtn1Click() {
    if (!editedAccount) return;
    Account& a = *editedAccount;
    const Locale locale = SystemLocale();
    auto price = [&](const QLineEdit* e) { return TextToFloat(e->text().toStdString(), locale); };
    a.packageEnabled = cbForfait->isChecked();
    a.packageDuration = teDureeForfait->value;
    // Once the period's package is charged, its remaining time waits for the next period.
    if (!a.packageCharged) a.packageRemaining = a.packageDuration;
    a.packagePrice = price(tePrixForfait);
    a.pricePerSecond = price(tePrixSec);
    a.creditDuration = teDureeCredit->value;
    a.creditPrice = price(tePrixCredit);
    a.offPeakPrice = price(tePrixRed);
    a.primaliste = cbPrimaliste->isChecked();
    a.primalisteInternet = cbPrimalisteInternet->isChecked();
    a.packageType = static_cast<std::int8_t>(ItemIndex(RadioGroup1));
    a.reductionType = static_cast<std::int8_t>(ItemIndex(RadioGroup2));
    QDate d = DateFacture->date();
    a.nextInvoice =
        EncodeDate(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
    a.periodMonths = static_cast<std::uint16_t>(TextToInt(tePeriode->text().toStdString()));
}

// OK closes the dialog whatever storing met: the error is reported first. A duration still
// half typed or a date that does not exist is not stored: the dialog waits for it.
void TfRegle::okClicked() {
    for (TTimeEdit* e : {teDureeForfait, teDureeCredit}) {
        if (!e->Commit()) {
            e->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    if (!DateFacture->Commit()) {
        DateFacture->setFocus(Qt::OtherFocusReason);
        return;
    }
    try {
        BitBtn1Click();
    } catch (const std::exception& error) {
        ReportException(this, error);
    }
    accept();
}

void TfRegle::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

}  // namespace tallimer
