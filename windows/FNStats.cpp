#include "windows/FNStats.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "controls/Accessible.h"
#include "metering/JournalKeeper.h"
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

// The list's rows at the window's default size, whatever the notes and figures above take.
constexpr int kListRows = 8;

// Tabs down the side with their labels written across, on two lines where one would widen
// the column past its longest word group: a list of tabs that takes one more chart as one
// more line, where a row of them runs out of width.
class SideTabBar : public QTabBar {
  public:
    using QTabBar::QTabBar;

  protected:
    // Asked at every layout of the bar: each label's box is measured once.
    QSize tabSizeHint(int index) const override {
        const QString label = tabText(index);
        auto known = sizes_.find(label);
        if (known == sizes_.end()) {
            const QSize text = textBox(label).size();
            known = sizes_.insert(
                label,
                {text.width() + style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, this),
                 text.height() + style()->pixelMetric(QStyle::PM_TabBarTabVSpace, nullptr, this)});
        }
        return *known;
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            sizes_.clear();
        QTabBar::changeEvent(event);
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        for (int i = 0; i < count(); ++i) {
            QStyleOptionTab tab;
            initStyleOption(&tab, i);
            painter.drawControl(QStyle::CE_TabBarTabShape, tab);
            const QRect text = tab.rect.adjusted(4, 2, -4, -2);
            style()->drawItemText(&painter, text, Qt::AlignCenter | Qt::TextWordWrap, tab.palette,
                                  tab.state & QStyle::State_Enabled, tab.text,
                                  QPalette::WindowText);
            if (tab.state & QStyle::State_HasFocus) {
                QStyleOptionFocusRect focus;
                focus.initFrom(this);
                focus.rect = text;
                painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
            }
        }
    }

  private:
    mutable QHash<QString, QSize> sizes_;
    QRect textBox(const QString& text) const {
        const int width = fontMetrics().horizontalAdvance(QStringLiteral("Volume par heure"));
        return fontMetrics().boundingRect(QRect(0, 0, width, 0xFFFF),
                                          Qt::AlignCenter | Qt::TextWordWrap, text);
    }
};

class SideTabs : public QTabWidget {
  public:
    explicit SideTabs(QWidget* parent) : QTabWidget(parent) {
        setTabBar(new SideTabBar(this));
        setTabPosition(QTabWidget::West);
        setUsesScrollButtons(false);
        setElideMode(Qt::ElideNone);
    }
};

// A chart, named for a screen reader as its tab is: its picture says nothing to one, and the
// figures beside it say it all.
QChartView* NewChartView(const QString& name, const QString& caption, QWidget* parent) {
    auto* view = new QChartView(new QChart, parent);
    view->setObjectName(name);
    view->setAccessibleName(caption);
    view->setFocusPolicy(Qt::NoFocus);
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

// From 0 to past top on round steps (1, 2 or 5 times a power of ten, a whole number when
// counting), so each tick reads as a value of its own.
QValueAxis* ValueAxis(QChart* chart, const QString& title, Qt::Alignment side, double top,
                      bool whole) {
    top = std::isfinite(top) && top > 0 ? top : 1;
    const double raw = top / 5, power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) {
            step = m * power;
            break;
        }
    if (whole) step = std::max(1.0, std::ceil(step));
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(whole || step >= 1 ? "%.0f" : step >= 0.1 ? "%.1f" : "%.2f");
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setMinorTickCount(0);
    axis->setRange(0, std::ceil(top / step - 1e-9) * step);
    chart->addAxis(axis, side);
    return axis;
}

// A figure per slot (connections, a volume); the slots of the reduced rate in green.
void BarChart(QChartView* view, const QString& title, const QString& what, bool whole,
              const QStringList& names, const std::vector<double>& counts,
              const std::vector<bool>& reduced) {
    QChart* chart = Cleared(view, title);
    auto* set = new QBarSet(what);
    set->setColor(QColor(32, 120, 200));
    set->setSelectedColor(QColor(90, 170, 60));
    double top = 0;
    QList<int> offPeak;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double n = counts[i];
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
    if (names.isEmpty()) {
        // Slots by number (the hours): every other one labelled, so each label has room.
        auto* x = new QValueAxis;
        x->setRange(-0.5, static_cast<double>(counts.size()) - 0.5);
        x->setTickType(QValueAxis::TicksDynamic);
        x->setTickAnchor(0);
        x->setTickInterval(2);
        x->setLabelFormat("%.0f");
        x->setGridLineVisible(false);
        chart->addAxis(x, Qt::AlignBottom);
        series->attachAxis(x);
    } else {
        auto* x = new QBarCategoryAxis;
        x->append(names);
        chart->addAxis(x, Qt::AlignBottom);
        series->attachAxis(x);
    }
    series->attachAxis(ValueAxis(chart, what, Qt::AlignLeft, top, whole));
}

// Connections per slot.
void CountChart(QChartView* view, const QString& title, const QStringList& names,
                const std::vector<std::int64_t>& counts, const std::vector<bool>& reduced) {
    BarChart(view, title, "Connexions", true, names,
             std::vector<double>(counts.begin(), counts.end()), reduced);
}

// A line of one point draws nothing: the period's first day shows as a dot.
void ShowLonePoints(std::initializer_list<QLineSeries*> series) {
    for (QLineSeries* line : series) line->setPointsVisible(line->count() == 1);
}

// The day's point on a date axis: its noon.
double NoonOf(DateTime day) {
    return static_cast<double>(QDateTime(DateOf(day), QTime(12, 0)).toMSecsSinceEpoch());
}

// The axis of the days drawn, first to last (at least a day).
QDateTimeAxis* DayAxis(QChart* chart, double first, double last, std::size_t days) {
    auto* x = new QDateTimeAxis;
    x->setFormat(days > 62 ? "MM/yy" : "dd/MM");
    x->setTickCount(8);
    if (first != 0)
        x->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(first)),
                    QDateTime::fromMSecsSinceEpoch(
                        static_cast<qint64>(std::max(last, first + 86400000.0))));
    chart->addAxis(x, Qt::AlignBottom);
    return x;
}

// A volume axis in the unit its top is written in, as the figures are.
struct VolumeUnit {
    double scale = 1;
    QString name = "o";
};
VolumeUnit UnitOf(std::uint64_t top) {
    static const char* const names[] = {"o", "ko", "Mo", "Go", "To"};
    VolumeUnit u;
    for (std::size_t i = 1; i < std::size(names) && static_cast<double>(top) >= u.scale * 1000;
         ++i) {
        u.scale *= 1000;
        u.name = names[i];
    }
    return u;
}

enum Column { ColStart, ColEnd, ColDuration, ColCost, ColReceived, ColSent, ColEndState, ColCount };

}  // namespace

void ConnectionsModel::setRows(const std::vector<StatsRow>* all, std::vector<std::size_t> shown) {
    beginResetModel();
    all_ = all;
    rows_ = all ? std::move(shown) : std::vector<std::size_t>();
    endResetModel();
}

std::vector<std::int64_t> ConnectionsModel::keys() const {
    std::vector<std::int64_t> out;
    out.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) out.push_back(row(static_cast<int>(i)).key);
    return out;
}

int ConnectionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ConnectionsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QVariant ConnectionsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const StatsRow& r = row(index.row());
    if (role == Qt::TextAlignmentRole)
        return index.column() >= ColDuration && index.column() <= ColSent
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant();
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case ColStart:
            return LocalStamp(StartText(r));
        case ColEnd:
            return LocalStamp(EndText(r));
        case ColDuration:
            return Duration(r.durationMs);
        case ColCost:
            return Q(AmountText(r.cost, locale_));
        case ColReceived:
        case ColSent:
            if (r.origin == JournalOrigin::Imported) return "importée";
            return Q(
                BytesText(index.column() == ColReceived ? r.bytesReceived : r.bytesSent, locale_));
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
    if (!all_) return;
    auto key = [column](const StatsRow& a, const StatsRow& b) {
        switch (column) {
            case ColEnd:
                // The texts compared as the journal holds them; their digits when both have.
                return a.endDigits >= 0 && b.endDigits >= 0 ? a.endDigits < b.endDigits
                                                            : EndText(a) < EndText(b);
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
                return a.startDigits < b.startDigits;
        }
    };
    const std::vector<StatsRow>& all = *all_;
    beginResetModel();
    if (order == Qt::AscendingOrder)
        std::stable_sort(rows_.begin(), rows_.end(),
                         [&](std::size_t a, std::size_t b) { return key(all[a], all[b]); });
    else
        std::stable_sort(rows_.begin(), rows_.end(),
                         [&](std::size_t a, std::size_t b) { return key(all[b], all[a]); });
    endResetModel();
}

TfStats::TfStats(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("fStats");
    setWindowTitle("Statistiques");
    resize(900, 700);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    auto label = [this](const char* caption, QWidget* field) {
        return Names(new QLabel(QString::fromUtf8(caption), this), field);
    };

    cbCompte = new QComboBox(this);
    cbCompte->setObjectName("cbCompte");
    // A long name must not widen the window past the screen: it is elided.
    cbCompte->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbCompte->setMinimumContentsLength(16);
    cbPeriode = new QComboBox(this);
    cbPeriode->setObjectName("cbPeriode");
    cbPeriode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbPeriode->setMinimumContentsLength(24);
    auto* choosers = new QHBoxLayout;
    choosers->addWidget(label("&Compte\u00A0:", cbCompte));
    choosers->addWidget(cbCompte, 1);
    choosers->addWidget(label("&Période\u00A0:", cbPeriode));
    choosers->addWidget(cbPeriode, 2);

    // The figures are a Tab stop, for a screen reader to read them (a keyboard cursor in
    // them would cost their layout at every resize). However many lines they take, the list
    // below keeps its rows: their height is never asked of the window.
    lbTotaux = new QLabel(this);
    lbTotaux->setObjectName("lbTotaux");
    lbTotaux->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbTotaux->setFocusPolicy(Qt::StrongFocus);
    lbTotaux->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    lbTotaux->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);

    // The charts and the settings, their tabs down the side: one more chart is one more line.
    tabGraphiques = new SideTabs(this);
    tabGraphiques->setObjectName("tabGraphiques");
    tabGraphiques->tabBar()->setAccessibleName("Graphiques");
    chJours = NewChartView("chJours", "Par jour", this);
    chMois = NewChartView("chMois", "Par mois", this);
    chHeures = NewChartView("chHeures", "Par heure", this);
    chSemaine = NewChartView("chSemaine", "Par jour de la semaine", this);
    for (QChartView* view : {chJours, chMois, chHeures, chSemaine})
        tabGraphiques->addTab(view, view->accessibleName());

    cbFiltre = new QCheckBox("&Du", this);
    cbFiltre->setObjectName("cbFiltre");
    deDu = new QDateEdit(this);
    deDu->setObjectName("deDu");
    deDu->setCalendarPopup(true);
    deDu->setAccessibleName("Du");
    deAu = new QDateEdit(this);
    deAu->setObjectName("deAu");
    deAu->setCalendarPopup(true);
    auto* filter = new QHBoxLayout;
    filter->addWidget(cbFiltre);
    filter->addWidget(deDu);
    deAu->setAccessibleName("au");
    filter->addWidget(new QLabel("au", this));
    filter->addWidget(deAu);
    filter->addStretch(1);

    model_ = new ConnectionsModel(locale_, this);
    lvConnexions = new QTableView(this);
    lvConnexions->setObjectName("lvConnexions");
    lvConnexions->setAccessibleName("Connexions");
    lvConnexions->setModel(model_);
    lvConnexions->setSortingEnabled(true);
    lvConnexions->sortByColumn(ColStart, Qt::DescendingOrder);
    lvConnexions->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Arrows go from row to row; Tab leaves the list instead of walking its cells.
    lvConnexions->setTabKeyNavigation(false);
    lvConnexions->verticalHeader()->hide();
    lvConnexions->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    lvConnexions->horizontalHeader()->setStretchLastSection(true);
    int stamp = fontMetrics().horizontalAdvance(QLocale().toString(
                    QDateTime(QDate(2000, 12, 28), QTime(20, 0)), QLocale::ShortFormat)) +
                24;
    lvConnexions->horizontalHeader()->resizeSection(ColStart, stamp);
    lvConnexions->horizontalHeader()->resizeSection(ColEnd, stamp);
    // The rows the window is laid out for, whatever the notes and figures above take.
    lvConnexions->setMinimumHeight(
        kListRows * lvConnexions->verticalHeader()->defaultSectionSize() +
        lvConnexions->horizontalHeader()->sizeHint().height() + 2 * lvConnexions->frameWidth());

    bnCsv = new QPushButton("Exporter en C&SV…", this);
    bnCsv->setObjectName("bnCsv");
    bnJson = new QPushButton("Exporter en &JSON…", this);
    bnJson->setObjectName("bnJson");
    bnPng = new QPushButton("Enregistrer le &graphique…", this);
    bnPng->setObjectName("bnPng");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(bnCsv);
    buttons->addWidget(bnJson);
    buttons->addWidget(bnPng);

    // The account's settings, a tab of their own: the alerts, and the volume tariff that the
    // same "Appliquer" sets.
    auto* reglages = new QWidget;
    auto* alertes = new QGroupBox("Alertes du compte", reglages);
    edBudget = new QLineEdit(alertes);
    edBudget->setObjectName("edBudget");
    edAlerteForfait = new QLineEdit(alertes);
    edAlerteForfait->setObjectName("edAlerteForfait");
    edAlerteForfait->setPlaceholderText("10\u00A0% du forfait");
    cbFeries = new QCheckBox("Jours fé&riés comptés comme week-end", alertes);
    cbFeries->setObjectName("cbFeries");
    auto* alertesLayout = new QGridLayout(alertes);
    alertesLayout->addWidget(label("&Budget de la période\u00A0:", edBudget), 0, 0);
    alertesLayout->addWidget(edBudget, 0, 1);
    alertesLayout->addWidget(label("Alerte &forfait (reste)\u00A0:", edAlerteForfait), 1, 0);
    alertesLayout->addWidget(edAlerteForfait, 1, 1);
    alertesLayout->addWidget(cbFeries, 2, 0, 1, 2);
    alertesLayout->setColumnStretch(2, 1);

    auto* volume = new QGroupBox("Facturation au volume", reglages);
    cbVolume = new QCheckBox("Facturer ce compte au &volume", volume);
    cbVolume->setObjectName("cbVolume");
    edVolumeInclus = new QLineEdit(volume);
    edVolumeInclus->setObjectName("edVolumeInclus");
    edVolumeInclus->setPlaceholderText("20 Go");
    edPrixAuDela = new QLineEdit(volume);
    edPrixAuDela->setObjectName("edPrixAuDela");
    edPrixAuDela->setPlaceholderText("0");
    edPrixParMo = new QLineEdit(volume);
    edPrixParMo->setObjectName("edPrixParMo");
    edPrixParMo->setPlaceholderText("0");
    cbEnvoyes = new QCheckBox("Compter les octets &envoyés", volume);
    cbEnvoyes->setObjectName("cbEnvoyes");
    cbHeuresCreuses = new QCheckBox("&Heures creuses gratuites", volume);
    cbHeuresCreuses->setObjectName("cbHeuresCreuses");
    cbReseauLocal = new QCheckBox("&Ne pas compter le réseau local", volume);
    cbReseauLocal->setObjectName("cbReseauLocal");
    auto* volumeLayout = new QGridLayout(volume);
    volumeLayout->addWidget(cbVolume, 0, 0, 1, 2);
    volumeLayout->addWidget(label("Volume &inclus\u00A0:", edVolumeInclus), 1, 0);
    volumeLayout->addWidget(edVolumeInclus, 1, 1);
    volumeLayout->addWidget(label("Prix par Mo au-de&là\u00A0:", edPrixAuDela), 2, 0);
    volumeLayout->addWidget(edPrixAuDela, 2, 1);
    volumeLayout->addWidget(label("Prix par &Mo\u00A0:", edPrixParMo), 3, 0);
    volumeLayout->addWidget(edPrixParMo, 3, 1);
    volumeLayout->addWidget(cbEnvoyes, 4, 0, 1, 2);
    volumeLayout->addWidget(cbHeuresCreuses, 5, 0, 1, 2);
    volumeLayout->addWidget(cbReseauLocal, 6, 0, 1, 2);
    volumeLayout->setColumnStretch(2, 1);
    for (QWidget* field : std::initializer_list<QWidget*>{
             edVolumeInclus, edPrixAuDela, edPrixParMo, cbEnvoyes, cbHeuresCreuses, cbReseauLocal})
        connect(cbVolume, &QCheckBox::toggled, field, &QWidget::setEnabled);

    bnAlertes = new QPushButton("&Appliquer", reglages);
    bnAlertes->setObjectName("bnAlertes");
    lbAlertes = new QLabel(reglages);
    lbAlertes->setObjectName("lbAlertes");
    lbAlertes->setWordWrap(true);
    // Room for its notes from the start, so a note moves nothing.
    lbAlertes->setMinimumHeight(3 * fontMetrics().lineSpacing());
    lbAlertes->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* apply = new QHBoxLayout;
    apply->addWidget(bnAlertes, 0, Qt::AlignTop);
    apply->addWidget(lbAlertes, 1);
    auto* reglagesLayout = new QVBoxLayout(reglages);
    reglagesLayout->addWidget(alertes);
    reglagesLayout->addWidget(volume);
    reglagesLayout->addLayout(apply);
    reglagesLayout->addStretch(1);
    // Within the tab's room at any font size.
    auto* page = new QScrollArea(this);
    page->setWidgetResizable(true);
    page->setWidget(reglages);
    page->setFrameShape(QFrame::NoFrame);
    pgVolume = page;
    pgVolume->setObjectName("pgVolume");
    tabGraphiques->addTab(pgVolume, "Alertes et volume");

    lbOffre = new QLabel(this);
    lbOffre->setObjectName("lbOffre");
    lbOffre->setTextFormat(Qt::RichText);
    lbOffre->setWordWrap(true);
    // Its link is reached by Tab and followed by Return.
    lbOffre->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    lbOffre->setFocusPolicy(Qt::StrongFocus);
    lbOffre->setText(
        "Le bureau signale cette connexion comme limitée (au volume). Vous pouvez lui donner "
        "un tarif au volume dans l'onglet <a href=\"volume\">«\u00A0Alertes et "
        "volume\u00A0»</a>.");
    lbOffre->hide();
    connect(lbOffre, &QLabel::linkActivated, this, [this] {
        tabGraphiques->setCurrentWidget(pgVolume);
        cbVolume->setFocus(Qt::OtherFocusReason);
    });
    // Its one link is followed by Return as soon as the note has the focus.
    lbOffre->installEventFilter(this);

    auto* left = new QVBoxLayout;
    left->addWidget(lbTotaux, 1);
    left->addWidget(lbOffre);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(tabGraphiques, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choosers);
    layout->addLayout(top, 2);
    layout->addLayout(filter);
    layout->addWidget(lvConnexions, 1);
    layout->addLayout(buttons);

    // Tab goes as the eye reads: the choosers, the figures and the offer, the tabs and the
    // page shown, the filter, the list, the exports.
    QWidget* order[] = {cbCompte,
                        cbPeriode,
                        lbTotaux,
                        lbOffre,
                        tabGraphiques->tabBar(),
                        edBudget,
                        edAlerteForfait,
                        cbFeries,
                        cbVolume,
                        edVolumeInclus,
                        edPrixAuDela,
                        edPrixParMo,
                        cbEnvoyes,
                        cbHeuresCreuses,
                        bnAlertes,
                        cbFiltre,
                        deDu,
                        deAu,
                        lvConnexions,
                        bnCsv,
                        bnJson,
                        bnPng};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(cbCompte, &QComboBox::currentIndexChanged, this, &TfStats::cbCompteChange);
    connect(cbPeriode, &QComboBox::currentIndexChanged, this, &TfStats::cbPeriodeChange);
    connect(bnAlertes, &QPushButton::clicked, this, &TfStats::ApplyAlertSettings);
    // Return in a field of the settings applies them, as the button does.
    for (QLineEdit* field : {edBudget, edAlerteForfait, edVolumeInclus, edPrixAuDela, edPrixParMo})
        connect(field, &QLineEdit::returnPressed, this, &TfStats::ApplyAlertSettings);
    connect(cbFiltre, &QCheckBox::toggled, this, &TfStats::filterChange);
    connect(deDu, &QDateEdit::dateChanged, this, &TfStats::filterChange);
    connect(deAu, &QDateEdit::dateChanged, this, &TfStats::filterChange);
    connect(bnCsv, &QPushButton::clicked, this,
            [this] { exportTo(ExportKind::Csv, &TfStats::ExportCsvTo); });
    connect(bnJson, &QPushButton::clicked, this,
            [this] { exportTo(ExportKind::Json, &TfStats::ExportJsonTo); });
    connect(bnPng, &QPushButton::clicked, this,
            [this] { exportTo(ExportKind::Png, &TfStats::SaveChartTo); });
    // The settings' tab is no picture.
    connect(tabGraphiques, &QTabWidget::currentChanged, this, [this] {
        bnPng->setEnabled(qobject_cast<QChartView*>(tabGraphiques->currentWidget()));
    });
}

namespace {

// Widens the save dialog to show each column of its file list with its whole title, a
// vertical scroll bar beside them.
void FitColumns(QFileDialog& dialog) {
    auto* files = dialog.findChild<QTreeView*>("treeView");
    if (!files) return;
    QHeaderView* header = files->header();
    int needed = files->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, files);
    for (int i = 0; i < header->count(); ++i) {
        header->resizeSection(i, std::max(header->sectionSize(i), header->sectionSizeHint(i)));
        if (!header->isSectionHidden(i)) needed += header->sectionSize(i);
    }
    const int shown = files->viewport()->width();
    if (needed > shown) dialog.resize(dialog.width() + needed - shown, dialog.height());
}

}  // namespace

bool TfStats::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show)
        if (auto* dialog = qobject_cast<QFileDialog*>(watched)) FitColumns(*dialog);
    if (watched == lbOffre && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            emit lbOffre->linkActivated(QStringLiteral("volume"));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfStats::Open() {
    show();
    // Never wider or taller than the screen it opens on, frame included.
    if (QScreen* screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        const QSize frame = frameGeometry().size() - size();
        resize(std::min(width(), room.width() - frame.width()),
               std::min(height(), room.height() - frame.height()));
        if (!room.contains(frameGeometry())) move(room.topLeft());
    }
    raise();
    activateWindow();
}

void TfStats::Prepare(ConnectionJournal* journal, const AccountCollection& accounts,
                      const std::string& currentAccount, DateTime now, const Locale& locale) {
    journal_ = journal;
    accounts_ = accounts;
    locale_ = locale;
    now_ = now;
    currentAccount_ = currentAccount;
    // Asked once per opening: the desktop's answer takes a call on its bus.
    offered_ = volumes_ && meteredLink_ && accounts_.find(currentAccount) &&
               OffersVolumeTariff(*volumes_, currentAccount, *meteredLink_);
    filling_ = true;
    cbCompte->clear();
    auto add = [this](const std::string& name) {
        const QString shown = name.empty()               ? QString("(sans nom)")
                              : name == kImportedHistory ? QString("Historique importé")
                                                         : Q(name);
        cbCompte->addItem(fontMetrics().elidedText(shown, Qt::ElideMiddle, 300),
                          QByteArray::fromStdString(name));
        cbCompte->setItemData(cbCompte->count() - 1, shown, Qt::ToolTipRole);
    };
    if (accounts_.find(currentAccount)) add(currentAccount);
    for (const auto& [name, account] : accounts_)
        if (name != currentAccount) add(name);
    if (!accounts_.find(kImportedHistory) && journal_ && journal_->hasRows(kImportedHistory))
        add(kImportedHistory);
    filling_ = false;
    cbCompteChange();
}

std::string TfStats::chosenAccount() const {
    return cbCompte->currentData().toByteArray().toStdString();
}

void TfStats::cbCompteChange() {
    if (filling_) return;
    std::string name = chosenAccount();
    model_->setRows(nullptr, {});
    accountRows_.clear();
    if (journal_ && cbCompte->currentIndex() >= 0) accountRows_ = journal_->statsRows(name);
    const Account* account = accounts_.find(name);
    Account none;
    periods_ = StatsPeriods(account ? *account : none, accountRows_, std::floor(now_));
    filling_ = true;
    cbPeriode->clear();
    for (const StatsPeriod& p : periods_) cbPeriode->addItem(Q(p.label));
    filling_ = false;
    cbPeriodeChange();
    showAlertSettings();
    showVolumeSettings();
}

void TfStats::showAlertSettings() {
    const std::string name = chosenAccount();
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
    bnAlertes->setEnabled(alertSettings_ && accounts_.find(name));
}

bool TfStats::ApplyAlertSettings() {
    const std::string name = chosenAccount();
    const Account* account = accounts_.find(name);
    if (!alertSettings_ || !account) return false;
    float budget = 0;
    const std::string budgetText = edBudget->text().trimmed().toStdString();
    if (!budgetText.empty()) {
        try {
            budget = TextToFloat(budgetText, locale_);
        } catch (const std::exception&) {
            budget = -1;
        }
        if (!(budget >= 0)) {
            lbAlertes->setText("Budget invalide\u00A0: tapez un montant en euros, par exemple 15" +
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
                "Alerte forfait invalide\u00A0: tapez une durée en heures et minutes, "
                "par exemple 1:30.");
            return false;
        }
        level = *parsed;
    }
    // An empty field is nothing: no cap, no price.
    std::optional<VolumeTariff> tariff;
    if (volumes_ && cbVolume->isChecked()) {
        tariff.emplace();
        const std::string cap = edVolumeInclus->text().trimmed().toStdString();
        if (!cap.empty()) {
            const auto bytes = ParseVolumeText(cap);
            if (!bytes) {
                lbAlertes->setText(Q(VolumeRefusal(cap)));
                edVolumeInclus->setFocus();
                return false;
            }
            tariff->capBytes = *bytes;
        }
        for (auto [field, price] : {std::pair{edPrixAuDela, &tariff->pricePerMoBeyond},
                                    std::pair{edPrixParMo, &tariff->pricePerMo}}) {
            const std::string text = field->text().trimmed().toStdString();
            if (text.empty()) continue;
            const auto parsed = ParsePricePerMo(text);
            if (!parsed) {
                lbAlertes->setText(Q(PricePerMoRefusal(text)));
                field->setFocus();
                return false;
            }
            *price = *parsed;
        }
        tariff->countSent = cbEnvoyes->isChecked();
        tariff->offPeakFree = cbHeuresCreuses->isChecked();
        tariff->leaveOutLocal = cbReseauLocal->isChecked();
    }
    AccountAlerts& a = (*alertSettings_)[name];
    // A new threshold may be crossed again.
    if (a.budget != budget) a.fired &= ~static_cast<unsigned>(kBudget80 | kBudget100);
    if (a.packageLevelMs != level) a.fired &= ~static_cast<unsigned>(kPackageLow);
    a.budget = budget;
    a.packageLevelMs = level;
    a.holidaysAsWeekend = cbFeries->isChecked();
    bool saved = !saveAlerts_ || saveAlerts_();
    if (volumes_) {
        // Off: the account is metered by time alone and leaves the file.
        if (tariff)
            SetVolumeTariff(*volumes_, name, *account, *tariff);
        else
            volumes_->erase(name);
        saved = (!saveVolumes_ || saveVolumes_()) && saved;
        countVolume();
        showTotals();
        showCharts();
        showVolumeSettings();
    }
    if (!saved) {
        lbAlertes->setText("Les réglages n'ont pas pu être enregistrés.");
        return false;
    }
    lbAlertes->setText("Réglages enregistrés.");
    return true;
}

const VolumeAccount* TfStats::chosenVolume() {
    const std::string name = chosenAccount();
    if (!volumes_ || !accounts_.find(name)) return nullptr;
    const auto it = volumes_->find(name);
    return it == volumes_->end() ? nullptr : &it->second;
}

void TfStats::countVolume() {
    const VolumeAccount* v = chosenVolume();
    volumeStats_ = v ? ComputeVolumeBuckets(accountRows_, period_, stats_.days) : VolumeBuckets();
}

void TfStats::showVolumeSettings() {
    const std::string name = chosenAccount();
    const VolumeAccount* v = chosenVolume();
    const VolumeTariff t = v ? v->tariff : VolumeTariff();
    auto price = [this](float p) { return p > 0 ? Q(PricePerMoText(p, locale_)) : QString(); };
    cbVolume->setChecked(v);
    edVolumeInclus->setText(t.capBytes > 0 ? Q(VolumeFieldText(t.capBytes, locale_)) : QString());
    edPrixAuDela->setText(price(t.pricePerMoBeyond));
    edPrixParMo->setText(price(t.pricePerMo));
    cbEnvoyes->setChecked(t.countSent);
    cbHeuresCreuses->setChecked(t.offPeakFree);
    cbReseauLocal->setChecked(t.leaveOutLocal);
    for (QWidget* field : std::initializer_list<QWidget*>{
             edVolumeInclus, edPrixAuDela, edPrixParMo, cbEnvoyes, cbHeuresCreuses, cbReseauLocal})
        field->setEnabled(v);
    cbVolume->parentWidget()->setEnabled(volumes_ && alertSettings_ && accounts_.find(name));
    // The link is the current connection's: the other accounts are not offered anything.
    lbOffre->setVisible(offered_ && !v && name == currentAccount_);
}

void TfStats::cbPeriodeChange() {
    if (filling_) return;
    int i = std::max(0, cbPeriode->currentIndex());
    if (static_cast<std::size_t>(i) >= periods_.size()) return;
    period_ = periods_[static_cast<std::size_t>(i)];
    const Account* found = accounts_.find(chosenAccount());
    Account none;
    stats_ = ComputeStats(accountRows_, found ? *found : none, period_, now_);
    countVolume();
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
    model_->setRows(&accountRows_, on ? RowsInPeriod(accountRows_, period_, DayOf(deDu->date()),
                                                     DayOf(deAu->date()))
                                      : RowsInPeriod(accountRows_, period_));
    lvConnexions->horizontalHeader()->setSortIndicatorShown(true);
    model_->sort(lvConnexions->horizontalHeader()->sortIndicatorSection(),
                 lvConnexions->horizontalHeader()->sortIndicatorOrder());
}

void TfStats::showTotals() {
    const JournalStats& s = stats_;
    const Locale& l = locale_;
    // "Libellé : valeur", with the no-break space French puts before the colon.
    auto line = [](const char* caption, const QString& value) {
        return QString::fromUtf8(caption) + "\u00A0: " + value;
    };
    auto volume = [this](std::uint64_t bytes) { return Q(VolumeText(bytes, locale_)); };
    const VolumeAccount* v = chosenVolume();
    QStringList lines;
    lines << line("Connexions", QString::number(s.connections))
          << line("Durée totale", Duration(s.durationMs)) << line("Coût total", Amount(s.cost, l))
          << line("Connexion moyenne", Duration(s.averageMs) + " pour " + Amount(s.averageCost, l))
          << line("Octets reçus", Q(BytesText(s.bytesReceived, l)))
          << line("Octets envoyés", Q(BytesText(s.bytesSent, l))) << QString();
    if (s.imported > 0 && s.imported == s.connections) {
        // Invoice lines say neither the rates nor the bytes: nothing to split.
        lines << line("Connexions importées des factures", "pas de détail par tarif")
              << line("Prix du forfait", Amount(s.packageFees, l));
    } else {
        lines << line("Tarif normal", Duration(s.normalMs) + " pour " + Amount(s.normalCost, l))
              << line("Tarif réduit", Duration(s.reducedMs) + " pour " + Amount(s.reducedCost, l))
              << line("Forfait",
                      Duration(s.packageMs) + ", prix du forfait " + Amount(s.packageFees, l))
              << line("Crédit", Duration(s.creditMs) + " pour " + Amount(s.creditCost, l));
        // The volume's money on a line of its own: no time rate's.
        if (v || s.volumeBytes > 0 || s.volumeCost > 0)
            lines << line("Volume", volume(s.volumeBytes) + " pour " + Amount(s.volumeCost, l));
        lines << line("Économie du tarif réduit", Amount(s.reducedSaving, l))
              << line("Économie Primaliste", Amount(s.primalisteSaving, l));
        if (s.imported > 0)
            lines
                << QString("(dont %1 connexions importées, sans détail par tarif)").arg(s.imported);
    }
    if (s.hasEstimate) {
        lines << QString()
              << line("Estimation en fin de période",
                      Amount(s.estimatedCost, l) + " pour " + Duration(s.estimatedMs))
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
    if (v && period_.kind == StatsPeriodKind::Billing && period_.back == 0) {
        // The period's own count, kept as the tariff counts it (free hours apart).
        const VolumeFigures f = FiguresOf(*v, *accounts_.find(chosenAccount()), now_);
        lines << QString()
              << line("Volume de la période",
                      volume(f.used) + (f.cap > 0 ? " sur " + volume(f.cap) : QString()))
              << line("Volume estimé en fin de période", volume(f.estimate));
        if (f.cap > 0)
            lines << "Reste par jour jusqu'au " +
                         QLocale().toString(DateOf(period_.to - 1), QLocale::ShortFormat) +
                         "\u00A0: " + volume(f.leftPerDay);
        if (v->tariff.offPeakFree) lines << line("Heures creuses gratuites", volume(f.freeBytes));
    }
    lbTotaux->setText(lines.join('\n'));
}

void TfStats::showVolumeCharts() {
    const VolumeAccount* v = chosenVolume();
    if (!v) {
        for (QChartView* view : {chVolumeJours, chVolumeHeures})
            if (view && tabGraphiques->indexOf(view) >= 0)
                tabGraphiques->removeTab(tabGraphiques->indexOf(view));
        return;
    }
    if (!chVolumeJours) {
        chVolumeJours = NewChartView("chVolumeJours", "Volume par jour", this);
        chVolumeHeures = NewChartView("chVolumeHeures", "Volume par heure", this);
    }
    if (tabGraphiques->indexOf(chVolumeJours) < 0) {
        const int at = tabGraphiques->indexOf(pgVolume);
        tabGraphiques->insertTab(at, chVolumeJours, chVolumeJours->accessibleName());
        tabGraphiques->insertTab(at + 1, chVolumeHeures, chVolumeHeures->accessibleName());
    }
    // What the tariff counted, as the period's figures beside it count it.
    const QString counted = v->tariff.offPeakFree
                                ? "compté au tarif, heures creuses gratuites comprises"
                                : "compté au tarif";
    {
        // Against the cap in the current period only: an older one may have had another.
        const std::uint64_t cap =
            period_.kind == StatsPeriodKind::Billing && period_.back == 0 ? v->tariff.capBytes : 0;
        std::uint64_t top = cap;
        for (const DayVolume& d : volumeStats_.days)
            if (d.day <= now_) top = std::max(top, d.cumulative);
        const VolumeUnit unit = UnitOf(top);
        QChart* chart = Cleared(chVolumeJours, "Volume par jour<br>(" + counted + ")");
        auto* day = new QLineSeries;
        day->setName("Volume du jour");
        auto* cumulative = new QLineSeries;
        cumulative->setName("Volume cumulé");
        double first = 0, last = 0;
        for (const DayVolume& d : volumeStats_.days) {
            if (d.day > now_) break;
            const double x = NoonOf(d.day);
            if (first == 0) first = x;
            last = x;
            day->append(x, static_cast<double>(d.bytes) / unit.scale);
            cumulative->append(x, static_cast<double>(d.cumulative) / unit.scale);
        }
        ShowLonePoints({day, cumulative});
        chart->addSeries(day);
        chart->addSeries(cumulative);
        if (cap > 0 && first != 0) {
            auto* included = new QLineSeries;
            included->setName("Volume inclus");
            included->append(first, static_cast<double>(cap) / unit.scale);
            included->append(std::max(last, first + 86400000.0),
                             static_cast<double>(cap) / unit.scale);
            chart->addSeries(included);
        }
        QDateTimeAxis* x = DayAxis(chart, first, last, volumeStats_.days.size());
        QValueAxis* y = ValueAxis(chart, "Volume (" + unit.name + ")", Qt::AlignLeft,
                                  static_cast<double>(top) / unit.scale, false);
        for (QAbstractSeries* series : chart->series()) {
            series->attachAxis(x);
            series->attachAxis(y);
        }
    }
    const std::array<bool, 24> reduced = OffPeakWeekdayHours(*accounts_.find(chosenAccount()));
    const VolumeUnit unit =
        UnitOf(*std::max_element(volumeStats_.hours.begin(), volumeStats_.hours.end()));
    std::vector<double> hours;
    for (std::uint64_t bytes : volumeStats_.hours)
        hours.push_back(static_cast<double>(bytes) / unit.scale);
    BarChart(
        chVolumeHeures,
        "Volume par heure de début<br>(" + counted + ")<br>en vert\u00A0: tarif réduit en semaine",
        "Volume (" + unit.name + ")", false, {}, hours,
        std::vector<bool>(reduced.begin(), reduced.end()));
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
        minutes->setName("Minutes du jour");
        double topCost = 0, topMinutes = 0;
        double first = 0, last = 0;
        for (const DayBucket& d : s.days) {
            if (d.day > now_) break;
            const double x = NoonOf(d.day);
            if (first == 0) first = x;
            last = x;
            double m = static_cast<double>(d.durationMs) / 60000.0;
            cost->append(x, static_cast<double>(d.cost));
            cumulative->append(x, static_cast<double>(d.cumulativeCost));
            minutes->append(x, m);
            topCost = std::max(topCost, static_cast<double>(d.cumulativeCost));
            topMinutes = std::max(topMinutes, m);
        }
        ShowLonePoints({cost, cumulative, minutes});
        chart->addSeries(cost);
        chart->addSeries(cumulative);
        chart->addSeries(minutes);
        QDateTimeAxis* x = DayAxis(chart, first, last, s.days.size());
        QValueAxis* money = ValueAxis(chart, "Coût", Qt::AlignLeft, topCost, false);
        QValueAxis* time = ValueAxis(chart, "Minutes", Qt::AlignRight, topMinutes, true);
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
        double top = 0;
        for (const MonthBucket& m : s.months) {
            *cost << static_cast<double>(m.cost);
            top = std::max(top, static_cast<double>(m.cost));
            names << Q(locale_.shortMonths[(m.month + 11) % 12]);
        }
        auto* bars = new QBarSeries;
        bars->append(cost);
        chart->addSeries(bars);
        // Every other month named under its bar: twelve names do not fit side by side.
        auto* x = new QCategoryAxis;
        x->setRange(-0.5, 11.5);
        x->setStartValue(-0.5);
        x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        x->setGridLineVisible(false);
        for (int i = 0; i < 12; i += 2) x->append(names[i], i);
        chart->addAxis(x, Qt::AlignBottom);
        bars->attachAxis(x);
        bars->attachAxis(ValueAxis(chart, "Coût", Qt::AlignLeft, top, false));
    }
    const Account* found = accounts_.find(chosenAccount());
    Account none;
    const Account& account = found ? *found : none;
    {
        std::array<bool, 24> reduced = OffPeakWeekdayHours(account);
        std::vector<std::int64_t> counts;
        for (const CountBucket& b : s.hours) counts.push_back(b.connections);
        CountChart(chHeures,
                   "Connexions par heure de début<br>en vert\u00A0: tarif réduit en semaine", {},
                   counts, std::vector<bool>(reduced.begin(), reduced.end()));
    }
    {
        std::array<bool, 7> reduced = OffPeakWholeDays(account);
        std::vector<std::int64_t> counts;
        for (const CountBucket& b : s.weekdays) counts.push_back(b.connections);
        CountChart(chSemaine, "Connexions par jour de la semaine<br>en vert\u00A0: tarif réduit",
                   {"lun.", "mar.", "mer.", "jeu.", "ven.", "sam.", "dim."}, counts,
                   std::vector<bool>(reduced.begin(), reduced.end()));
    }
    showVolumeCharts();
}

std::optional<std::vector<JournalRow>> TfStats::listedRows() const {
    const std::vector<std::int64_t> keys = model_->keys();
    if (keys.empty()) return std::vector<JournalRow>();
    if (!journal_) return std::nullopt;
    std::vector<JournalRow> rows = journal_->fullRows(chosenAccount(), keys);
    if (rows.size() != keys.size()) return std::nullopt;
    return rows;
}

bool TfStats::ExportCsvTo(const QString& path) const {
    const auto rows = listedRows();
    return rows && WriteFileAtomically(path.toStdString(), ExportCsv(*rows));
}

bool TfStats::ExportJsonTo(const QString& path) const {
    const auto rows = listedRows();
    return rows && WriteFileAtomically(path.toStdString(), ExportJson(*rows));
}

bool TfStats::SaveChartTo(const QString& path) const {
    auto* view = qobject_cast<QChartView*>(tabGraphiques->currentWidget());
    if (!view) return false;
    // The picture says whose and when, away from the window: a line above the chart.
    const QPixmap chart = view->grab();
    const qreal ratio = chart.devicePixelRatio();
    const QSize size = chart.deviceIndependentSize().toSize();
    const QFontMetrics metrics(font());
    const int band = metrics.height() + 8;
    QImage image(QSize(size.width(), size.height() + band) * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    painter.drawText(QRect(0, 0, size.width(), band), Qt::AlignCenter,
                     metrics.elidedText(AccountTitle() + ", " + Q(period_.label), Qt::ElideMiddle,
                                        size.width() - 8));
    painter.drawPixmap(0, band, chart);
    painter.end();
    return image.save(path, "PNG");
}

QString TfStats::AccountTitle() const {
    return cbCompte->currentData(Qt::ToolTipRole).toString();
}

namespace {

QString Extension(TfStats::ExportKind kind) {
    static const char* const extensions[] = {"csv", "json", "png"};
    return extensions[static_cast<std::size_t>(kind)];
}

}  // namespace

QString TfStats::SuggestedFileName(ExportKind kind) const {
    QString name = AccountTitle();
    auto day = [](DateTime t) { return DateOf(t).toString("dd-MM-yyyy"); };
    if (period_.kind == StatsPeriodKind::All)
        name += " tout";
    else
        name += " " + day(period_.from) + " au " + day(period_.to - 1);
    name.replace('/', '-');
    return name + "." + Extension(kind);
}

QString TfStats::WithExtension(const QString& path, ExportKind kind) {
    return QFileInfo(path).suffix().compare(Extension(kind), Qt::CaseInsensitive) == 0
               ? path
               : path + "." + Extension(kind);
}

std::unique_ptr<QFileDialog> TfStats::ExportDialog(ExportKind kind) {
    static const char* const titles[] = {"Exporter en CSV", "Exporter en JSON",
                                         "Enregistrer le graphique"};
    static const char* const filters[] = {"CSV (*.csv)", "JSON (*.json)", "Image PNG (*.png)"};
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    const auto k = static_cast<std::size_t>(kind);
    auto dialog =
        std::make_unique<QFileDialog>(this, QString::fromUtf8(titles[k]), folder, filters[k]);
    // Qt's own dialog, in French like the program; the desktop's may speak another language.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setLabelText(QFileDialog::LookIn, "Dossier\u00A0:");
    dialog->setLabelText(QFileDialog::FileName, "Nom du fichier\u00A0:");
    dialog->setLabelText(QFileDialog::FileType, "Type\u00A0:");
    dialog->setLabelText(QFileDialog::Accept, "Enregistrer");
    dialog->setLabelText(QFileDialog::Reject, "Annuler");
    // A name typed without a dot gets its extension before the dialog asks about overwriting.
    dialog->setDefaultSuffix(Extension(kind));
    dialog->selectFile(SuggestedFileName(kind));
    // Every column's title whole once it shows, "Dernière modification" too.
    dialog->installEventFilter(this);
    return dialog;
}

void TfStats::exportTo(ExportKind kind, bool (TfStats::*write)(const QString&) const) {
    std::unique_ptr<QFileDialog> dialog = ExportDialog(kind);
    QString path;
    for (;;) {
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return;
        const QString chosen = dialog->selectedFiles().front();
        path = WithExtension(chosen, kind);
        // The dialog asked about the name it was given; the extension may name another file.
        if (path == chosen || !QFileInfo::exists(path)) break;
        const QString question =
            QCoreApplication::translate("QFileDialog",
                                        "%1 already exists.\nDo you want to replace it?")
                .arg(QFileInfo(path).fileName());
        if (QMessageBox::warning(dialog.get(), dialog->windowTitle(), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes)
            break;
    }
    if (!(this->*write)(path))
        QMessageBox::warning(this, "Statistiques", "Impossible de créer le fichier " + path);
}

}  // namespace tallimer
