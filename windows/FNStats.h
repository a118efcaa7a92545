#pragma once
// TfStats, the statistics window: the journal's rows of an account over a period, shown as
// totals, charts and a list, and exported. Every figure comes from metering/JournalStats.
#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accounts/Comptes.h"
#include "metering/Alerts.h"
#include "metering/Journal.h"
#include "metering/JournalStats.h"
#include "support/Locale.h"
#include "windows/StatsView.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

class QChartView;

namespace tallimer {

// The list of connections: sorted by any column on the rows' own values, not their texts. It
// shows some of the rows the window holds, by their places there.
class ConnectionsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    ConnectionsModel(const Locale& locale, QObject* parent)
        : QAbstractTableModel(parent), locale_(locale) {}
    void setRows(const std::vector<StatsRow>* all, std::vector<std::size_t> shown);
    // The journal's keys of the rows shown, in the list's order.
    std::vector<std::int64_t> keys() const;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    const StatsRow& row(int i) const { return (*all_)[rows_[static_cast<std::size_t>(i)]]; }
    const Locale& locale_;
    const std::vector<StatsRow>* all_ = nullptr;
    std::vector<std::size_t> rows_;
};

class TfStats : public QWidget, public StatsView {
    Q_OBJECT
  public:
    explicit TfStats(QWidget* parent = nullptr);

    // Reads the account's rows from the journal (none when it is null) and shows them; the
    // current account comes first in the chooser.
    void Prepare(ConnectionJournal* journal, const AccountCollection& accounts,
                 const std::string& currentAccount, DateTime now, const Locale& locale) override;
    void Open() override;

    // What the export buttons write, without asking for a file. False when it could not.
    bool ExportCsvTo(const QString& path) const;
    bool ExportJsonTo(const QString& path) const;
    bool SaveChartTo(const QString& path) const;

    // What the export buttons ask: a save dialog in French, in the user's documents, on a
    // name of the account and the period (« Maison 16-11-2026 au 15-12-2026.csv »); the
    // extension is added when the typed name lacks it.
    enum class ExportKind { Csv, Json, Png };
    std::unique_ptr<QFileDialog> ExportDialog(ExportKind kind);
    QString SuggestedFileName(ExportKind kind) const;
    static QString WithExtension(const QString& path, ExportKind kind);
    // The chosen account as shown, never elided: « (sans nom) » for the unnamed one.
    QString AccountTitle() const;

    const JournalStats& stats() const { return stats_; }

    // The alert settings of every account, edited here for the chosen one; save writes them.
    void SetAlertSettings(AlertSettings* settings, std::function<bool()> save) override {
        alertSettings_ = settings;
        saveAlerts_ = std::move(save);
    }
    void SetVolumeBook(VolumeBook* book, std::function<bool()> save,
                       MeteredLinkSource* link) override {
        volumes_ = book;
        saveVolumes_ = std::move(save);
        meteredLink_ = link;
    }
    // Takes the typed values for the chosen account, its volume tariff too; false, with a
    // French note, when refused.
    bool ApplyAlertSettings();

    QComboBox* cbCompte;
    QComboBox* cbPeriode;
    QLabel* lbTotaux;
    QTabWidget* tabGraphiques;
    QChartView* chJours;
    QChartView* chMois;
    QChartView* chHeures;
    QChartView* chSemaine;
    QCheckBox* cbFiltre;
    QDateEdit* deDu;
    QDateEdit* deAu;
    QTableView* lvConnexions;
    QPushButton* bnCsv;
    QPushButton* bnJson;
    QPushButton* bnPng;
    QLineEdit* edBudget;
    QLineEdit* edAlerteForfait;
    QCheckBox* cbFeries;
    QPushButton* bnAlertes;
    QLabel* lbAlertes;
    // The account's settings (its alerts and volume tariff), a tab of their own; the offer of
    // a tariff under the figures.
    QWidget* pgVolume;
    QCheckBox* cbVolume;
    QLineEdit* edVolumeInclus;
    QLineEdit* edPrixAuDela;
    QLineEdit* edPrixParMo;
    QCheckBox* cbEnvoyes;
    QCheckBox* cbHeuresCreuses;
    QCheckBox* cbReseauLocal;
    QLabel* lbOffre;
    // Tabs of a volume account only, made at the first one.
    QChartView* chVolumeJours = nullptr;
    QChartView* chVolumeHeures = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void cbCompteChange();
    void cbPeriodeChange();
    void filterChange();
    void showTotals();
    void showCharts();
    void showAlertSettings();
    void showVolumeSettings();
    void showVolumeCharts();
    // The chosen account's volume figures, if it has a tariff: looked up each time, the
    // session may read its file again.
    const VolumeAccount* chosenVolume();
    void countVolume();
    void exportTo(ExportKind kind, bool (TfStats::*write)(const QString&) const);
    // The journal's rows of the list, in its order; nullopt when they could not all be read.
    std::optional<std::vector<JournalRow>> listedRows() const;
    // The real name of the chosen account: the chooser shows another for some.
    std::string chosenAccount() const;

    ConnectionJournal* journal_ = nullptr;
    AccountCollection accounts_;
    Locale locale_;
    DateTime now_ = 0;
    std::vector<StatsRow> accountRows_;
    std::vector<StatsPeriod> periods_;
    StatsPeriod period_;
    JournalStats stats_;
    ConnectionsModel* model_;
    bool filling_ = false;
    AlertSettings* alertSettings_ = nullptr;
    std::function<bool()> saveAlerts_;
    VolumeBook* volumes_ = nullptr;
    std::function<bool()> saveVolumes_;
    MeteredLinkSource* meteredLink_ = nullptr;
    std::string currentAccount_;
    bool offered_ = false;  // the current account's link is metered and it has no tariff
    VolumeBuckets volumeStats_;
};

}  // namespace tallimer
