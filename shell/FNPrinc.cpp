#include "shell/FNPrinc.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPolygonF>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "accounts/AccountFiles.h"
#include "accounts/FNRegle.h"
#include "controls/ErrorReport.h"
#include "controls/RatePictures.h"
#include "controls/WholeText.h"
#include "invoices/Invoices.h"
#include "platform/JournalSqlite.h"
#include "platform/SystemLocale.h"
#include "richtext/InvoiceHistory.h"
#include "shell/DialogFlows.h"
#include "shell/FNConfirme.h"
#include "shell/FNModifPrix.h"
#include "shell/FNPropos.h"
#include "shell/FNStats.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "support/NumberText.h"

namespace tallimer {

TfPrinc* fPrinc = nullptr;

namespace {

constexpr int kClientWidth = 315;
constexpr int kClientHeight = 189;
const char* const kHelpFile = "aide.html";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The small arrows beside the rate fields: down for received, up for sent.
QPixmap RateArrow(bool down) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(down ? QColor(0, 120, 0) : QColor(170, 0, 0));
    QPolygonF arrow = down ? QPolygonF{{8, 15}, {2, 8}, {6, 8}, {6, 1}, {10, 1}, {10, 8}, {14, 8}}
                           : QPolygonF{{8, 1}, {2, 8}, {6, 8}, {6, 15}, {10, 15}, {10, 8}, {14, 8}};
    painter.drawPolygon(arrow);
    return pixmap;
}

// Setting a line edit's text lays it out again even when nothing changed.
void ShowText(QLineEdit* field, const QString& text) {
    if (field->text() != text) field->setText(text);
}

}  // namespace

TfPrinc::TfPrinc(const PrincDependencies& d, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      appFolder_(d.appFolder),
      names_(d.names),
      clock_(d.clock),
      locale_(SystemLocale()),
      meter_(*d.clock, accounts_, *d.names, *d.counters, locale_) {
    setObjectName("fPrinc");
    setWindowTitle("Le Tallimer Internet");
    setWindowIcon(AppIcon());

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfPrinc::Timer1Timer);

    SaveTimer = new QTimer(this);
    SaveTimer->setObjectName("SaveTimer");
    SaveTimer->setInterval(60 * 1000);
    connect(SaveTimer, &QTimer::timeout, this, &TfPrinc::SaveTimerTimer);

    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(10);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &TfPrinc::Timer2Timer);

    ImageList1 = MakeRateImages(this);
    ImageList1->setObjectName("ImageList1");

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Restaurer1 = PopupMenu1->addAction("&Restaurer", this, &TfPrinc::Restaurer1Click);
    Restaurer1->setObjectName("Restaurer1");
    PopupMenu1->setDefaultAction(Restaurer1);
    rglages1 = PopupMenu1->addAction("Ré&glages", this, &TfPrinc::rglages1Click);
    rglages1->setObjectName("rglages1");
    Statistiques1 = PopupMenu1->addAction("&Statistiques", this, &TfPrinc::Statistiques1Click);
    Statistiques1->setObjectName("Statistiques1");
    connect(new QShortcut(QKeySequence("Ctrl+T"), this), &QShortcut::activated, this,
            &TfPrinc::Statistiques1Click);
    Quitter1 = PopupMenu1->addAction("&Quitter", this, &TfPrinc::Quitter1Click);
    Quitter1->setObjectName("Quitter1");

    buildToolBar();
    buildFields();

    // The icon comes before any account is loaded; a refused icon ends the construction.
    TrayIcon1 = new TTrayIcon(this, d.trayShell);
    TrayIcon1->setObjectName("TrayIcon1");
    TrayIcon1->SetMainWindow(this);
    TrayIcon1->SetVisible(true);
    TrayIcon1->SetHint("Le tallimer internet");
    TrayIcon1->SetPopupMenu(PopupMenu1);
    TrayIcon1->SetRestoreOn(imNone);
    TrayIcon1->SetPopupMenuOn(imRightClickUp);
    TrayIcon1->SetIcons(ImageList1);
    TrayIcon1->Loaded();
    connect(TrayIcon1, &TTrayIcon::OnNotificationArea, this, &TfPrinc::NotificationAreaChanged);
    NotificationAreaChanged();

    OnlineIP1 = new TOnlineIP(this, d.hostAddresses);
    OnlineIP1->setObjectName("OnlineIP1");
    OnlineIP1->SetEnabled(true);
    OnlineIP1->SetDispatchInterval(2000);
    connect(OnlineIP1, &TOnlineIP::OnChanged, this, &TfPrinc::OnlineIP1Changed);
    connect(OnlineIP1, &TOnlineIP::OnSwitched, this, &TfPrinc::OnlineIP1Switched);

    meter_.setHost(this);

    // What writes cut short by a crash left behind; no other copy runs on this folder.
    for (const char* folder : {"", "Comptes", "Factures"}) RemoveLeftovers(appFolder_ + folder);
    OverallState state;
    LoadAll(appFolder_, accounts_, state);
    meter_.overallDuration = state.overallDuration;
    meter_.overallCost = state.overallCost;
    askOnExit = state.askOnExit;
    alerts_ = LoadAlertSettings(appFolder_ + kAlertSettingsFile);
    meter_.holidaysAsWeekend = [this](const std::string& name) {
        auto it = alerts_.find(name);
        return it != alerts_.end() && it->second.holidaysAsWeekend;
    };
    // The journal opens once the window is shown (its check reads the whole file), or at
    // its first use if that comes sooner.

    // Last: a construction that fails leaves no callback to a window that never was.
    names_->setOnSwitch([this] {
        try {
            ConnectionSwitched();
        } catch (const std::exception& e) {
            ReportException(this, e);
        }
    });
}

TfPrinc::~TfPrinc() {
    names_->setOnSwitch({});
    meter_.setHost(nullptr);
    if (fPrinc == this) fPrinc = nullptr;
}

void TfPrinc::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    auto add = [this](QAction*& action, const char* name, ToolbarGlyph glyph, const QString& hint,
                      void (TfPrinc::*handler)()) {
        action = ToolBar1->addAction(ToolbarIcon(glyph), hint);
        action->setObjectName(name);
        action->setToolTip(hint);
        connect(action, &QAction::triggered, this, handler);
    };
    add(bnGo, "bnGo", ToolbarGlyph::Go, QString(), &TfPrinc::bnClick);
    bnGo->setCheckable(true);
    ToolBar1->addSeparator();
    add(bnRegle, "bnRegle", ToolbarGlyph::Settings, "Réglages", &TfPrinc::bnRegleClick);
    ToolBar1->addSeparator();
    add(BitBtn2, "BitBtn2", ToolbarGlyph::Invoices, "Gère les factures", &TfPrinc::BitBtn2Click);
    add(bnPropos, "bnPropos", ToolbarGlyph::About, "A propos...", &TfPrinc::bnProposClick);
    add(SpeedButton1, "SpeedButton1", ToolbarGlyph::StayOnTop, "Bloque la fenêtre en premier plan",
        &TfPrinc::SpeedButton1Click);
    SpeedButton1->setCheckable(true);
    add(bnAide, "bnAide", ToolbarGlyph::Help, "Aide en ligne", &TfPrinc::bnAideClick);
    ToolBar1->addSeparator();
    add(BitBtn1, "BitBtn1", ToolbarGlyph::Reduce, "Réduire", &TfPrinc::BitBtn1Click);
    add(bnFermer, "bnFermer", ToolbarGlyph::Close, "Fermer", &TfPrinc::bnFermerClick);
}

void TfPrinc::buildFields() {
    // Small type, as the window's fixed size was laid out for.
    QFont small = font();
    small.setPointSizeF(8);
    setFont(small);
    auto text = [this](QLineEdit*& field, const char* name, const QString& hint,
                       const QString& initial) {
        field = new QLineEdit(initial, this);
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field->setTextMargins(0, 0, 0, 0);
    };
    auto time = [this](TTimeEdit*& field, const char* name, const QString& hint) {
        field = new TTimeEdit(this);
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        field->SetFHeure(msTIME(0));
        field->setAlignment(Qt::AlignCenter);
        field->setTextMargins(0, 0, 0, 0);
    };
    auto label = [this](const QString& caption) { return new QLabel(caption, this); };

    text(teFAI, "teFAI", "Nom du fournisseur d'accès", QString());
    teFAI->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text(teIP, "teIP", "Adresse IP en cours", QString());
    teIP->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    time(teDuree, "teDuree", "Durée de la connection");
    time(teDureeTotale, "teDureeTotale", "Durée totale");
    text(teCout, "teCout", "Coût de la connection", "0,00 F");
    text(teCoutTotal, "teCoutTotal", "Coût total", "0,00 F");
    time(teForfait, "teForfait", "Durée restante du forfait");
    time(teForfaitTotal, "teForfaitTotal", "Durée du forfait");
    time(teDureeTotalTotale, "teDureeTotalTotale", "Durée totale");
    text(tePrixTotalTotal, "tePrixTotalTotal", "Coût total", "0,00 F");
    text(Edit1, "Edit1", "Débit en réception", "0,0");
    text(Edit2, "Edit2", "Débit en émission", "0,0");

    // Figures take a smaller type rather than lose a digit.
    QLineEdit* const figures[] = {
        teDuree,        teDureeTotale,      teCout,           teCoutTotal, teForfait,
        teForfaitTotal, teDureeTotalTotale, tePrixTotalTotal, Edit1,       Edit2};
    for (QLineEdit* figure : figures) KeepTextWhole(figure);

    auto* connection = new QGroupBox("Connection", this);
    connection->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(connection);
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(2);
    grid->addWidget(label("FAI :"), 0, 0);
    grid->addWidget(teFAI, 0, 1, 1, 2);
    grid->addWidget(label("IP :"), 1, 0);
    grid->addWidget(teIP, 1, 1, 1, 2);
    grid->addWidget(label("Durée :"), 2, 0);
    grid->addWidget(teDuree, 2, 1);
    grid->addWidget(teDureeTotale, 2, 2);
    grid->addWidget(label("Coût :"), 3, 0);
    grid->addWidget(teCout, 3, 1);
    grid->addWidget(teCoutTotal, 3, 2);
    grid->addWidget(label("Forfait :"), 4, 0);
    grid->addWidget(teForfait, 4, 1);
    grid->addWidget(teForfaitTotal, 4, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto* total = new QGroupBox("Total", this);
    total->setObjectName("GroupBox2");
    auto* totalGrid = new QGridLayout(total);
    totalGrid->setContentsMargins(4, 2, 4, 4);
    totalGrid->setHorizontalSpacing(3);
    totalGrid->setVerticalSpacing(2);
    totalGrid->addWidget(label("Durée :"), 0, 0);
    totalGrid->addWidget(teDureeTotalTotale, 0, 1);
    totalGrid->addWidget(label("Coût :"), 1, 0);
    totalGrid->addWidget(tePrixTotalTotal, 1, 1);

    auto picture = [this](QLabel*& image, const char* name, const QPixmap& pixmap, int size) {
        image = new QLabel(this);
        image->setObjectName(name);
        image->setFixedSize(size, size);
        image->setScaledContents(true);
        image->setPixmap(pixmap);
    };
    picture(Image2, "Image2", RateArrow(true), 16);
    picture(Image3, "Image3", RateArrow(false), 16);
    picture(Image1, "Image1", ImageList1->pixmap(0), 41);
    Label9 = new QLabel("kO/s", this);
    Label9->setObjectName("Label9");
    Edit1->setFixedWidth(52);
    Edit2->setFixedWidth(52);

    auto* rates = new QGridLayout;
    rates->setHorizontalSpacing(3);
    rates->setVerticalSpacing(2);
    rates->addWidget(Edit1, 0, 0);
    rates->addWidget(Image2, 0, 1);
    rates->addWidget(Edit2, 1, 0);
    rates->addWidget(Image3, 1, 1);
    rates->addWidget(Label9, 2, 0, Qt::AlignHCenter);
    rates->addWidget(Image1, 0, 2, 3, 1, Qt::AlignRight | Qt::AlignVCenter);
    rates->setColumnStretch(2, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    right->addWidget(total);
    right->addLayout(rates);
    right->addStretch(1);

    auto* client = new QHBoxLayout;
    client->setContentsMargins(4, 2, 4, 4);
    client->setSpacing(4);
    client->addWidget(connection, 3);
    client->addLayout(right, 2);

    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(ToolBar1);
    window->addLayout(client, 1);

    StatusLine = new QLabel(this);
    StatusLine->setObjectName("StatusLine");
    StatusLine->setWordWrap(true);
    StatusLine->setContentsMargins(4, 0, 4, 3);
    StatusLine->hide();
    window->addWidget(StatusLine);
    fitHeight();

    connect(teDureeTotalTotale, &TTimeEdit::clicked, this, &TfPrinc::teDureeTotalTotaleClick);
    connect(teDureeTotalTotale, &TTimeEdit::doubleClicked, this,
            &TfPrinc::teDureeTotalTotaleDblClick);
    teCoutTotal->installEventFilter(this);
    tePrixTotalTotal->installEventFilter(this);
}

void TfPrinc::fitHeight() {
    int height = kClientHeight + ToolBar1->sizeHint().height();
    if (!StatusLine->isHidden()) height += StatusLine->heightForWidth(kClientWidth);
    setFixedSize(kClientWidth, height);
}

void TfPrinc::NotificationAreaChanged() {
    const bool inArea = TrayIcon1->HasNotificationArea();
    StatusLine->setText(inArea ? QString()
                               : QStringLiteral("Aucune zone de notification : la fenêtre reste "
                                                "ouverte et « Réduire » la place dans la barre "
                                                "des tâches."));
    StatusLine->setHidden(inArea);
    fitHeight();
}

// ---- Connection lifecycle

JournalKeeper& TfPrinc::keeper() {
    if (!journalKeeper_) openJournal();
    return *journalKeeper_;
}

void TfPrinc::openJournal() {
    auto journal = std::make_unique<SqliteJournal>(appFolder_ + "journal.sqlite");
    if (journal->created())
        ImportInvoiceHistory(*journal, appFolder_,
                             RunningInvoiceAccount(accounts_, names_->defaultConnectionName()));
    ownJournal_ = std::move(journal);
    journal_ = ownJournal_.get();
    journalKeeper_ = std::make_unique<JournalKeeper>(
        journal_, *clock_, meter_,
        [this](const std::string& text) { ReportExceptionLater(this, Error(text)); });
    journalKeeper_->atStart();
}

void TfPrinc::Connect() {
    std::exception_ptr error;
    const bool wasMetering = meter_.metering();
    try {
        meter_.Connect();
    } catch (...) {
        error = std::current_exception();
    }
    if (!wasMetering) keeper().connected(OnlineIP1->IP().toStdString());
    // A closed period must reach the account file even when the archive failed.
    SaveFiles();
    if (error) std::rethrow_exception(error);
}

void TfPrinc::Disconnect() {
    const bool wasMetering = meter_.metering();
    meter_.Disconnect();
    if (wasMetering) {
        keeper().disconnected(JournalEnd::Normal);
        SaveFiles();
    }
}

void TfPrinc::OnlineIP1Changed(QObject*) {
    if (OnlineIP1->Online()) {
        std::exception_ptr error;
        try {
            Connect();
        } catch (...) {
            error = std::current_exception();
        }
        // Metering runs even when the period could not be closed: show it, then the error.
        bnGo->setChecked(true);
        teIP->setText(OnlineIP1->IP());
        if (error) std::rethrow_exception(error);
    } else {
        Disconnect();
        bnGo->setChecked(false);
        teIP->clear();
    }
}

void TfPrinc::OnlineIP1Switched(QObject*) {
    teIP->setText(OnlineIP1->IP());
    if (meter_.AddressMoveSplits()) ConnectionSwitched();
}

void TfPrinc::ConnectionSwitched() {
    if (!meter_.metering()) return;
    Disconnect();
    Connect();
}

void TfPrinc::bnClick() {
    if (bnGo->isChecked())
        Connect();
    else
        Disconnect();
}

bool TfPrinc::SaveFiles() {
    const bool saved = SaveAll(appFolder_, accounts_,
                               OverallState{meter_.overallDuration, meter_.overallCost, askOnExit});
    if (saved && desk_.accountsSaved) desk_.accountsSaved();
    return saved;
}

void TfPrinc::SaveTimerTimer() {
    keeper().minute(OnlineIP1->IP().toStdString());
    // The record first: a crash between the two finds it ahead of the accounts, never behind.
    if (meter_.metering() && meter_.currentAccount && desk_.recordConnection)
        desk_.recordConnection(LocalNow(*clock_), meter_.connectionDuration, meter_.connectionCost,
                               meter_.providerName(), *meter_.currentAccount,
                               meter_.overallDuration, meter_.overallCost);
    SaveFiles();
    checkAlerts();
}

void TfPrinc::checkAlerts() {
    if (!meter_.metering() || !meter_.currentAccount) return;
    auto it = alerts_.find(meter_.providerName());
    if (it == alerts_.end()) return;
    const std::vector<std::string> texts =
        DueAlerts(*meter_.currentAccount, it->second, LocalNow(*clock_), locale_);
    if (texts.empty()) return;
    // Remembered first: a restart must not say it again.
    SaveAlertSettings(appFolder_ + kAlertSettingsFile, alerts_);
    for (const std::string& text : texts) TrayIcon1->ShowMessage("Le Tallimer Internet", Q(text));
}

void TfPrinc::Recover() {
    if (!desk_.recover) return;
    OverallState state{meter_.overallDuration, meter_.overallCost, askOnExit};
    desk_.recover(accounts_, state);
    meter_.overallDuration = state.overallDuration;
    meter_.overallCost = state.overallCost;
}

// ---- MeterHost

void TfPrinc::showProviderName(const std::string& name) {
    teFAI->setText(Q(name));
}

void TfPrinc::saveRunningInvoice() {
    if (desk_.saveRunning) desk_.saveRunning();
}

void TfPrinc::closePeriod(Account& account, const std::string& providerName, DateTime today) {
    if (desk_.closePeriod) desk_.closePeriod(account, providerName, today);
}

void TfPrinc::addInvoiceLine(DateTime when, msTIME duration, float amount) {
    // Once metering has stopped, the line is the connection's own: it ends its record.
    if (!meter_.metering() && meter_.currentAccount && desk_.endConnection)
        desk_.endConnection(when, duration, amount, meter_.providerName(), *meter_.currentAccount,
                            meter_.overallDuration, meter_.overallCost);
    else if (desk_.addLine)
        desk_.addLine(when, duration, amount);
}

void TfPrinc::showRates(const std::optional<std::string>& received,
                        const std::optional<std::string>& sent) {
    if (received) receivedRate_ = Q(*received);
    if (sent) sentRate_ = Q(*sent);
    if (!isVisible()) return;
    if (received) ShowText(Edit1, *receivedRate_);
    if (sent) ShowText(Edit2, *sentRate_);
}

void TfPrinc::setTickEnabled(bool enabled) {
    if (enabled) {
        Timer1->start();
        SaveTimer->start();
    } else {
        Timer1->stop();
        SaveTimer->stop();
    }
}

// ---- Display

void TfPrinc::RefreshDisplay() {
    TrayIcon1->SetIconIndex(meter_.rateIcon);
    refreshFields();
}

void TfPrinc::refreshDisplay() {
    TrayIcon1->SetIconIndex(meter_.rateIcon);
    // Hidden in the notification area, its normal state: the fields wait until it is shown.
    if (isVisible()) refreshFields();
}

void TfPrinc::refreshFields() {
    teDuree->SetFHeure(meter_.connectionDuration);
    ShowText(teCout, Q(AmountText(meter_.connectionCost, locale_)));
    teDureeTotalTotale->SetFHeure(meter_.overallDuration);
    ShowText(tePrixTotalTotal, Q(AmountText(meter_.overallCost, locale_)));
    if (rateIconShown_ != meter_.rateIcon) {
        Image1->setPixmap(ImageList1->pixmap(meter_.rateIcon));
        rateIconShown_ = meter_.rateIcon;
    }
    if (const Account* account = meter_.currentAccount) {
        teDureeTotale->SetFHeure(account->periodDuration);
        ShowText(teCoutTotal, Q(AmountText(account->periodCost, locale_)));
        teForfait->SetFHeure(account->packageRemaining);
        teForfaitTotal->SetFHeure(account->packageDuration);
    }
    if (receivedRate_) ShowText(Edit1, *receivedRate_);
    if (sentRate_) ShowText(Edit2, *sentRate_);
}

void TfPrinc::FormActivate() {
    RefreshDisplay();
}

void TfPrinc::teDureeTotalTotaleClick() {
    teDureeTotalTotale->SetFHeure(msTIME(0));
}

void TfPrinc::teDureeTotalTotaleDblClick() {
    meter_.overallDuration = 0;
    RefreshDisplay();
}

// ---- Window commands

void TfPrinc::Timer1Timer() {
    QueuedReports queued;
    meter_.TimerTick();
}

void TfPrinc::Timer2Timer() {
    Timer2->stop();
    // Without a notification area nothing would be left to bring the window back.
    if (TrayIcon1->HasNotificationArea()) hide();
    keeper();
}

void TfPrinc::BitBtn1Click() {
    if (TrayIcon1->HasNotificationArea())
        hide();
    else
        showMinimized();
}

void TfPrinc::BitBtn2Click() {
    if (desk_.open) desk_.open();
}

void TfPrinc::Restaurer1Click() {
    WMShowInstance();
}

void TfPrinc::WMShowInstance() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TfPrinc::SpeedButton1Click() {
    // Changing the flags of a shown window hides it; show it again as it was.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, SpeedButton1->isChecked());
    if (wasVisible) WMShowInstance();
}

void TfPrinc::bnAideClick() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(appFolder_ + kHelpFile)));
}

void TfPrinc::bnFermerClick() {
    close();
}

void TfPrinc::Quitter1Click() {
    close();
}

// ---- Dialog commands. A dialog not created (this window tested alone) does nothing.

void TfPrinc::bnRegleClick() {
    if (!fRegle) return;
    fRegle->Prepare(accounts_, teFAI->text());
    fRegle->exec();
}

void TfPrinc::rglages1Click() {
    bnRegleClick();
}

void TfPrinc::Statistiques1Click() {
    if (!stats_) stats_ = new TfStats(this);
    stats_->SetAlertSettings(
        &alerts_, [this] { return SaveAlertSettings(appFolder_ + kAlertSettingsFile, alerts_); });
    stats_->Prepare(journal(), accounts_, meter_.providerName(), LocalNow(*clock_), locale_);
    stats_->show();
    stats_->raise();
    stats_->activateWindow();
}

void TfPrinc::bnProposClick() {
    if (AboutBox) AboutBox->exec();
}

void TfPrinc::teCoutTotalDblClick() {
    if (fModifPrix) CorrectPeriodCost(meter_.currentAccount, *fModifPrix, *teCoutTotal);
}

void TfPrinc::tePrixTotalTotalDblClick() {
    if (fModifPrix)
        CorrectOverallCost(meter_.currentAccount, meter_.overallCost, *fModifPrix,
                           *tePrixTotalTotal);
}

bool TfPrinc::FormCloseQuery() {
    return !fConfirm || ConfirmClose(askOnExit, *fConfirm, *this);
}

// ---- Closing

void TfPrinc::FormClose() {
    closed_ = true;
    // A connection still metered ends with the program: its cost is in the period's totals,
    // so its line belongs on the running invoice too.
    meter_.Disconnect();
    keeper().disconnected(JournalEnd::CutShort);
    SaveFiles();
    // The running invoice reaches its file at exit, whether or not its window was opened.
    saveRunningInvoice();
}

void TfPrinc::EndWithoutAsking() {
    closeWithoutQuestion_ = true;
    if (!closed_) close();
    // A close from a signal or the session must end the program even if it was refused.
    if (!closed_) {
        FormClose();
        emit Closed();
    }
}

void TfPrinc::SaveForSessionEnd() {
    closeWithoutQuestion_ = true;
    SaveFiles();
    saveRunningInvoice();
}

void TfPrinc::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    if (!closeWithoutQuestion_ && !FormCloseQuery()) {
        event->ignore();
        BitBtn1Click();  // "Réduire"
        return;
    }
    FormClose();
    event->accept();
    emit Closed();
}

void TfPrinc::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshFields();
    // Hidden into the notification area right after the first show.
    if (!shownOnce_) {
        shownOnce_ = true;
        Timer2->start();
    }
}

bool TfPrinc::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(event);
}

bool TfPrinc::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == teCoutTotal) {
            teCoutTotalDblClick();
            return true;
        }
        if (watched == tePrixTotalTotal) {
            tePrixTotalTotalDblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tallimer
