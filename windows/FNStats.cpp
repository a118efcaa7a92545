#include "windows/FNStats.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "support/FileWrite.h"
#include "support/NumberText.h"

namespace tallimer {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Amount(long double v, const Locale& l) {
    return Q(AmountText(static_cast<float>(v), l));
}

QString Duration(std::int64_t ms) {
    return Q(LongDurationText(ms));
}

QDate DateOf(DateTime t) {
    YearMonthDay d = DecodeDate(t);
    return QDate(d.year, static_cast<int>(d.month), static_cast<int>(d.day));
}

DateTime DayOf(const QDate& d) {
    return EncodeDate(d.year(), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
}

// A local ISO text in the user's short date and time format.
QString LocalStamp(const std::string& iso) {
    QDateTime t = QDateTime::fromString(Q(iso), Qt::ISODate);
    return t.isValid() ? QLocale().toString(t, QLocale::ShortFormat) : QString();
}

QChartView* NewChartView(const QString& name, QWidget* parent) {
    auto* view = new QChartView(new QChart, parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->chart()->setAnimationOptions(QChart::NoAnimation);
    view->setMinimumHeight(220);
    return view;
}

// A fresh chart for the view: charts whose series are replaced keep drawing stale bars.
QChart* Cleared(QChartView* view, const QString& title) {
    QChart* old = view->chart();
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setTitle(title);
    // Axis numbers with the user's decimal separator and, as everywhere, no group separator.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(locale);
    chart->setLocalizeNumbers(true);
    view->setChart(chart);
    delete old;
    return chart;
}

QValueAxis* ValueAxis(QChart* chart, const QString& title, Qt::Alignment side) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat("%.0f");
    chart->addAxis(axis, side);
    return axis;
}

// Connections per slot; the slots of the reduced rate in green.
void CountChart(QChartView* view, const QString& title, const QStringList& names,
                const std::vector<std::int64_t>& counts, const std::vector<bool>& reduced) {
    QChart* chart = Cleared(view, title);
    auto* set = new QBarSet("Connexions");
    set->setColor(QColor(32, 120, 200));
    set->setSelectedColor(QColor(90, 170, 60));
    double top = 1;
    QList<int> offPeak;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        auto n = static_cast<double>(counts[i]);
        *set << n;
        top = std::max(top, n);
        if (reduced[i]) offPeak << static_cast<int>(i);
    }
    set->selectBars(offPeak);
    auto* series = new QBarSeries;
    series->setBarWidth(0.8);
    series->append(set);
    chart->addSeries(series);
    chart->legend()->hide();
    auto* x = new QBarCategoryAxis;
    x->append(names);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    QValueAxis* y = ValueAxis(chart, "Connexions", Qt::AlignLeft);
    y->setRange(0, top);
    series->attachAxis(y);
}

enum Column { ColStart, ColEnd, ColDuration, ColCost, ColReceived, ColSent, ColEndState, ColCount };

}  // namespace

void ConnectionsModel::setRows(std::vector<JournalRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int ConnectionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ConnectionsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QVariant ConnectionsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const JournalRow& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return index.column() >= ColDuration && index.column() <= ColSent
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case ColStart:
            return LocalStamp(r.startLocal);
        case ColEnd:
            return LocalStamp(r.endLocal);
        case ColDuration:
            return Duration(r.durationMs);
        case ColCost:
            return Q(AmountText(r.cost, locale_));
        case ColReceived:
            return Q(BytesText(r.bytesReceived, locale_));
        case ColSent:
            return Q(BytesText(r.bytesSent, locale_));
        case ColEndState:
            return r.end == JournalEnd::Normal     ? "normale"
                   : r.end == JournalEnd::CutShort ? "interrompue"
                                                   : "en cours";
    }
    return {};
}

QVariant ConnectionsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const names[ColCount] = {"Début", "Fin",    "Durée",           "Coût",
                                                "Reçu",  "Envoyé", "Fin de connexion"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(names[section]);
}

void ConnectionsModel::sort(int column, Qt::SortOrder order) {
    auto key = [column](const JournalRow& a, const JournalRow& b) {
        switch (column) {
            case ColEnd:
                return a.endLocal < b.endLocal;
            case ColDuration:
                return a.durationMs < b.durationMs;
            case ColCost:
                return a.cost < b.cost;
            case ColReceived:
                return a.bytesReceived < b.bytesReceived;
            case ColSent:
                return a.bytesSent < b.bytesSent;
            case ColEndState:
                return a.end < b.end;
            default:
                return a.startLocal < b.startLocal;
        }
    };
    beginResetModel();
    if (order == Qt::AscendingOrder)
        std::stable_sort(rows_.begin(), rows_.end(), key);
    else
        std::stable_sort(rows_.begin(), rows_.end(),
                         [&key](const JournalRow& a, const JournalRow& b) { return key(b, a); });
    endResetModel();
}

TfStats::TfStats(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("fStats");
    setWindowTitle("Statistiques");
    resize(900, 700);

    cbCompte = new QComboBox(this);
    cbCompte->setObjectName("cbCompte");
    cbPeriode = new QComboBox(this);
    cbPeriode->setObjectName("cbPeriode");
    auto* choosers = new QHBoxLayout;
    choosers->addWidget(new QLabel("Compte :", this));
    choosers->addWidget(cbCompte, 1);
    choosers->addWidget(new QLabel("Période :", this));
    choosers->addWidget(cbPeriode, 2);

    lbTotaux = new QLabel(this);
    lbTotaux->setObjectName("lbTotaux");
    lbTotaux->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbTotaux->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    tabGraphiques = new QTabWidget(this);
    tabGraphiques->setObjectName("tabGraphiques");
    chJours = NewChartView("chJours", this);
    chMois = NewChartView("chMois", this);
    chHeures = NewChartView("chHeures", this);
    chSemaine = NewChartView("chSemaine", this);
    tabGraphiques->addTab(chJours, "Par jour");
    tabGraphiques->addTab(chMois, "Par mois");
    tabGraphiques->addTab(chHeures, "Par heure");
    tabGraphiques->addTab(chSemaine, "Par jour de la semaine");

    cbFiltre = new QCheckBox("Du", this);
    cbFiltre->setObjectName("cbFiltre");
    deDu = new QDateEdit(this);
    deDu->setObjectName("deDu");
    deDu->setCalendarPopup(true);
    deAu = new QDateEdit(this);
    deAu->setObjectName("deAu");
    deAu->setCalendarPopup(true);
    auto* filter = new QHBoxLayout;
    filter->addWidget(cbFiltre);
    filter->addWidget(deDu);
    filter->addWidget(new QLabel("au", this));
    filter->addWidget(deAu);
    filter->addStretch(1);

    model_ = new ConnectionsModel(locale_, this);
    lvConnexions = new QTableView(this);
    lvConnexions->setObjectName("lvConnexions");
    lvConnexions->setModel(model_);
    lvConnexions->setSortingEnabled(true);
    lvConnexions->sortByColumn(ColStart, Qt::DescendingOrder);
    lvConnexions->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvConnexions->verticalHeader()->hide();
    lvConnexions->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    lvConnexions->horizontalHeader()->setStretchLastSection(true);
    int stamp = fontMetrics().horizontalAdvance(QLocale().toString(
                    QDateTime(QDate(2000, 12, 28), QTime(20, 0)), QLocale::ShortFormat)) +
                24;
    lvConnexions->horizontalHeader()->resizeSection(ColStart, stamp);
    lvConnexions->horizontalHeader()->resizeSection(ColEnd, stamp);

    bnCsv = new QPushButton("Exporter en CSV…", this);
    bnCsv->setObjectName("bnCsv");
    bnJson = new QPushButton("Exporter en JSON…", this);
    bnJson->setObjectName("bnJson");
    bnPng = new QPushButton("Enregistrer le graphique…", this);
    bnPng->setObjectName("bnPng");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bnCsv);
    buttons->addWidget(bnJson);
    buttons->addWidget(bnPng);

    auto* alertes = new QGroupBox("Alertes du compte", this);
    edBudget = new QLineEdit(alertes);
    edBudget->setObjectName("edBudget");
    edAlerteForfait = new QLineEdit(alertes);
    edAlerteForfait->setObjectName("edAlerteForfait");
    edAlerteForfait->setPlaceholderText("10 % du forfait");
    cbFeries = new QCheckBox("Jours fériés comptés comme week-end", alertes);
    cbFeries->setObjectName("cbFeries");
    bnAlertes = new QPushButton("Appliquer", alertes);
    bnAlertes->setObjectName("bnAlertes");
    lbAlertes = new QLabel(alertes);
    lbAlertes->setObjectName("lbAlertes");
    lbAlertes->setWordWrap(true);
    auto* alertesLayout = new QGridLayout(alertes);
    alertesLayout->addWidget(new QLabel("Budget de la période", alertes), 0, 0);
    alertesLayout->addWidget(edBudget, 0, 1);
    alertesLayout->addWidget(new QLabel("Alerte forfait (reste)", alertes), 1, 0);
    alertesLayout->addWidget(edAlerteForfait, 1, 1);
    alertesLayout->addWidget(cbFeries, 2, 0, 1, 2);
    alertesLayout->addWidget(bnAlertes, 3, 1);
    alertesLayout->addWidget(lbAlertes, 4, 0, 1, 2);

    auto* left = new QVBoxLayout;
    left->addWidget(lbTotaux, 1);
    left->addWidget(alertes);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(tabGraphiques, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choosers);
    layout->addLayout(top, 3);
    layout->addLayout(filter);
    layout->addWidget(lvConnexions, 2);
    layout->addLayout(buttons);

    connect(cbCompte, &QComboBox::currentIndexChanged, this, &TfStats::cbCompteChange);
    connect(cbPeriode, &QComboBox::currentIndexChanged, this, &TfStats::cbPeriodeChange);
    connect(bnAlertes, &QPushButton::clicked, this, &TfStats::ApplyAlertSettings);
    connect(cbFiltre, &QCheckBox::toggled, this, &TfStats::filterChange);
    connect(deDu, &QDateEdit::dateChanged, this, &TfStats::filterChange);
    connect(deAu, &QDateEdit::dateChanged, this, &TfStats::filterChange);
    connect(bnCsv, &QPushButton::clicked, this,
            [this] { exportTo("Exporter en CSV", "CSV (*.csv)", &TfStats::ExportCsvTo); });
    connect(bnJson, &QPushButton::clicked, this,
            [this] { exportTo("Exporter en JSON", "JSON (*.json)", &TfStats::ExportJsonTo); });
    connect(bnPng, &QPushButton::clicked, this, [this] {
        QString path =
            QFileDialog::getSaveFileName(this, "Enregistrer le graphique", {}, "Image PNG (*.png)");
        if (!path.isEmpty() && !SaveChartTo(path))
            QMessageBox::warning(this, "Statistiques", "Impossible de créer le fichier " + path);
    });
}

void TfStats::Open() {
    show();
    raise();
    activateWindow();
}

void TfStats::Prepare(ConnectionJournal* journal, const AccountCollection& accounts,
                      const std::string& currentAccount, DateTime now, const Locale& locale) {
    journal_ = journal;
    accounts_ = accounts;
    locale_ = locale;
    now_ = now;
    filling_ = true;
    cbCompte->clear();
    if (!currentAccount.empty()) cbCompte->addItem(Q(currentAccount));
    for (const auto& [name, account] : accounts_)
        if (name != currentAccount) cbCompte->addItem(Q(name));
    filling_ = false;
    cbCompteChange();
}

void TfStats::cbCompteChange() {
    if (filling_) return;
    std::string name = cbCompte->currentText().toStdString();
    accountRows_.clear();
    if (journal_ && !name.empty()) accountRows_ = journal_->query({name, {}, {}});
    const Account* account = accounts_.find(name);
    Account none;
    periods_ = StatsPeriods(account ? *account : none, accountRows_, std::floor(now_));
    filling_ = true;
    cbPeriode->clear();
    for (const StatsPeriod& p : periods_) cbPeriode->addItem(Q(p.label));
    filling_ = false;
    cbPeriodeChange();
    showAlertSettings();
}

void TfStats::showAlertSettings() {
    const std::string name = cbCompte->currentText().toStdString();
    AccountAlerts a;
    if (alertSettings_) {
        auto it = alertSettings_->find(name);
        if (it != alertSettings_->end()) a = it->second;
    }
    edBudget->setText(a.budget > 0 ? Q(AmountText(a.budget, locale_)) : QString());
    edAlerteForfait->setText(a.packageLevelMs >= 0 ? Q(LongDurationText(a.packageLevelMs))
                                                   : QString());
    cbFeries->setChecked(a.holidaysAsWeekend);
    lbAlertes->clear();
    bnAlertes->setEnabled(alertSettings_ && !name.empty());
}

bool TfStats::ApplyAlertSettings() {
    const std::string name = cbCompte->currentText().toStdString();
    if (!alertSettings_ || name.empty()) return false;
    float budget = 0;
    const std::string budgetText = edBudget->text().trimmed().toStdString();
    if (!budgetText.empty()) {
        try {
            budget = TextToFloat(budgetText, locale_);
        } catch (const std::exception&) {
            budget = -1;
        }
        if (!(budget >= 0)) {
            lbAlertes->setText("Budget invalide : tapez un montant en euros, par exemple 15" +
                               Q(locale_.decimalSeparator) + "50.");
            return false;
        }
    }
    std::int64_t level = -1;
    const std::string levelText = edAlerteForfait->text().trimmed().toStdString();
    if (!levelText.empty()) {
        auto parsed = ParseDurationText(levelText);
        if (!parsed) {
            lbAlertes->setText(
                "Alerte forfait invalide : tapez une durée en heures et minutes, "
                "par exemple 1:30.");
            return false;
        }
        level = *parsed;
    }
    AccountAlerts& a = (*alertSettings_)[name];
    // A new threshold may be crossed again.
    if (a.budget != budget) a.fired &= ~static_cast<unsigned>(kBudget80 | kBudget100);
    if (a.packageLevelMs != level) a.fired &= ~static_cast<unsigned>(kPackageLow);
    a.budget = budget;
    a.packageLevelMs = level;
    a.holidaysAsWeekend = cbFeries->isChecked();
    if (saveAlerts_ && !saveAlerts_()) {
        lbAlertes->setText("Les réglages n'ont pas pu être enregistrés.");
        return false;
    }
    lbAlertes->setText("Réglages enregistrés.");
    return true;
}

void TfStats::cbPeriodeChange() {
    if (filling_) return;
    int i = std::max(0, cbPeriode->currentIndex());
    if (static_cast<std::size_t>(i) >= periods_.size()) return;
    period_ = periods_[static_cast<std::size_t>(i)];
    const Account* found = accounts_.find(cbCompte->currentText().toStdString());
    Account none;
    stats_ = ComputeStats(accountRows_, found ? *found : none, period_, now_);
    showTotals();
    showCharts();
    filling_ = true;
    QDate first = stats_.days.empty() ? DateOf(std::floor(now_)) : DateOf(stats_.days.front().day);
    QDate last = stats_.days.empty() ? first : DateOf(stats_.days.back().day);
    deDu->setDate(first);
    deAu->setDate(last);
    filling_ = false;
    filterChange();
}

void TfStats::filterChange() {
    if (filling_) return;
    bool on = cbFiltre->isChecked();
    deDu->setEnabled(on);
    deAu->setEnabled(on);
    model_->setRows(
        on ? RowsInPeriod(accountRows_, period_, DayOf(deDu->date()), DayOf(deAu->date()))
           : RowsInPeriod(accountRows_, period_));
    lvConnexions->horizontalHeader()->setSortIndicatorShown(true);
    model_->sort(lvConnexions->horizontalHeader()->sortIndicatorSection(),
                 lvConnexions->horizontalHeader()->sortIndicatorOrder());
}

void TfStats::showTotals() {
    const JournalStats& s = stats_;
    const Locale& l = locale_;
    QStringList lines;
    lines << QString("Connexions : %1").arg(s.connections)
          << "Durée totale : " + Duration(s.durationMs) << "Coût total : " + Amount(s.cost, l)
          << "Connexion moyenne : " + Duration(s.averageMs) + " pour " + Amount(s.averageCost, l)
          << "Octets reçus : " + Q(BytesText(s.bytesReceived, l))
          << "Octets envoyés : " + Q(BytesText(s.bytesSent, l)) << QString()
          << "Tarif normal : " + Duration(s.normalMs) + " pour " + Amount(s.normalCost, l)
          << "Tarif réduit : " + Duration(s.reducedMs) + " pour " + Amount(s.reducedCost, l)
          << "Forfait : " + Duration(s.packageMs) + ", prix du forfait " + Amount(s.packageFees, l)
          << "Crédit : " + Duration(s.creditMs) + " pour " + Amount(s.creditCost, l)
          << "Économie du tarif réduit : " + Amount(s.reducedSaving, l)
          << "Économie Primaliste : " + Amount(s.primalisteSaving, l);
    if (s.hasEstimate) {
        lines << QString()
              << "Estimation en fin de période : " + Amount(s.estimatedCost, l) + " pour " +
                     Duration(s.estimatedMs)
              << QString("(%1 jours écoulés, %2 jours restants)")
                     .arg(Q(FormatFixed(static_cast<float>(s.daysElapsed), 4, 1, l)),
                          Q(FormatFixed(static_cast<float>(s.daysLeft), 4, 1, l)));
    }
    if (s.packageExhausted)
        lines << "Forfait épuisé";
    else if (s.packageRunOut)
        lines << "Forfait épuisé vers le " +
                     QLocale().toString(DateOf(*s.packageRunOut), QLocale::ShortFormat) +
                     " à ce rythme";
    lbTotaux->setText(lines.join('\n'));
}

void TfStats::showCharts() {
    const JournalStats& s = stats_;
    {
        // Lines on a date axis: a period of years draws as well as a month. Days after today
        // have nothing yet and are left out.
        QChart* chart = Cleared(chJours, "Coût et durée par jour");
        auto* cost = new QLineSeries;
        cost->setName("Coût du jour");
        auto* cumulative = new QLineSeries;
        cumulative->setName("Coût cumulé");
        auto* minutes = new QLineSeries;
        minutes->setName("Durée du jour (minutes)");
        double topCost = 1, topMinutes = 1;
        qint64 first = 0, last = 0;
        for (const DayBucket& d : s.days) {
            if (d.day > now_) break;
            qint64 x = QDateTime(DateOf(d.day), QTime(12, 0)).toMSecsSinceEpoch();
            if (!first) first = x;
            last = x;
            double m = static_cast<double>(d.durationMs) / 60000.0;
            cost->append(static_cast<double>(x), static_cast<double>(d.cost));
            cumulative->append(static_cast<double>(x), static_cast<double>(d.cumulativeCost));
            minutes->append(static_cast<double>(x), m);
            topCost = std::max(topCost, static_cast<double>(d.cumulativeCost));
            topMinutes = std::max(topMinutes, m);
        }
        chart->addSeries(cost);
        chart->addSeries(cumulative);
        chart->addSeries(minutes);
        auto* x = new QDateTimeAxis;
        x->setFormat(s.days.size() > 62 ? "MM/yy" : "dd/MM");
        x->setTickCount(8);
        if (first)
            x->setRange(QDateTime::fromMSecsSinceEpoch(first),
                        QDateTime::fromMSecsSinceEpoch(std::max(last, first + 86400000)));
        chart->addAxis(x, Qt::AlignBottom);
        QValueAxis* money = ValueAxis(chart, "Coût", Qt::AlignLeft);
        money->setRange(0, topCost * 1.05);
        money->setLabelFormat("%.2f");
        QValueAxis* time = ValueAxis(chart, "Minutes", Qt::AlignRight);
        time->setRange(0, topMinutes * 1.05);
        for (QAbstractSeries* series : chart->series()) series->attachAxis(x);
        cost->attachAxis(money);
        cumulative->attachAxis(money);
        minutes->attachAxis(time);
    }
    {
        QChart* chart =
            Cleared(chMois, QString("Coût par mois, de %1 %2 à %3 %4")
                                .arg(Q(locale_.shortMonths[(s.months.front().month + 11) % 12]))
                                .arg(s.months.front().year)
                                .arg(Q(locale_.shortMonths[(s.months.back().month + 11) % 12]))
                                .arg(s.months.back().year));
        chart->legend()->hide();
        auto* cost = new QBarSet("Coût");
        QStringList names;
        double top = 1;
        for (const MonthBucket& m : s.months) {
            *cost << static_cast<double>(m.cost);
            top = std::max(top, static_cast<double>(m.cost));
            names << Q(locale_.shortMonths[(m.month + 11) % 12]);
        }
        auto* bars = new QBarSeries;
        bars->append(cost);
        chart->addSeries(bars);
        auto* x = new QBarCategoryAxis;
        x->append(names);
        chart->addAxis(x, Qt::AlignBottom);
        bars->attachAxis(x);
        QValueAxis* y = ValueAxis(chart, "Coût", Qt::AlignLeft);
        y->setRange(0, top * 1.05);
        y->setLabelFormat("%.2f");
        bars->attachAxis(y);
    }
    const Account* found = accounts_.find(cbCompte->currentText().toStdString());
    Account none;
    const Account& account = found ? *found : none;
    {
        std::array<bool, 24> reduced = OffPeakWeekdayHours(account);
        QStringList names;
        std::vector<std::int64_t> counts;
        for (int h = 0; h < 24; ++h) {
            names << QString::number(h);
            counts.push_back(s.hours[static_cast<std::size_t>(h)].connections);
        }
        CountChart(chHeures, "Connexions par heure de début (en vert : tarif réduit en semaine)",
                   names, counts, std::vector<bool>(reduced.begin(), reduced.end()));
    }
    {
        std::array<bool, 7> reduced = OffPeakWholeDays(account);
        std::vector<std::int64_t> counts;
        for (const CountBucket& b : s.weekdays) counts.push_back(b.connections);
        CountChart(chSemaine, "Connexions par jour de la semaine (en vert : tarif réduit)",
                   {"lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi", "dimanche"},
                   counts, std::vector<bool>(reduced.begin(), reduced.end()));
    }
}

bool TfStats::ExportCsvTo(const QString& path) const {
    return WriteFileAtomically(path.toStdString(), ExportCsv(model_->rows()));
}

bool TfStats::ExportJsonTo(const QString& path) const {
    return WriteFileAtomically(path.toStdString(), ExportJson(model_->rows()));
}

bool TfStats::SaveChartTo(const QString& path) {
    auto* view = qobject_cast<QChartView*>(tabGraphiques->currentWidget());
    if (!view) return false;
    return view->grab().save(path, "PNG");
}

void TfStats::exportTo(const QString& title, const QString& filter,
                       bool (TfStats::*write)(const QString&) const) {
    QString path = QFileDialog::getSaveFileName(this, title, {}, filter);
    if (!path.isEmpty() && !(this->*write)(path))
        QMessageBox::warning(this, "Statistiques", "Impossible de créer le fichier " + path);
}

}  // namespace tallimer
