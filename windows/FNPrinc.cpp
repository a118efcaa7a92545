#include "windows/FNPrinc.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <cstdio>
#include <exception>

#include "accounts/AccountFiles.h"
#include "controls/ErrorReport.h"
#include "controls/RatePictures.h"
#include "invoices/Invoices.h"
#include "platform/JournalSqlite.h"
#include "platform/SystemLocale.h"
#include "richtext/InvoiceHistory.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "support/NumberText.h"
#include "windows/DialogFlows.h"
#include "windows/FNConfirme.h"
#include "windows/FNModifPrix.h"
#include "windows/FNPropos.h"
#include "windows/FNRegle.h"
#include "windows/PrincLayout.h"

namespace tallimer {

TfPrinc* fPrinc = nullptr;

namespace {

constexpr int kClientWidth = 315;
constexpr int kClientHeight = 189;
const char* const kHelpFile = "aide.html";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
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
      meter_(*d.clock, accounts_, *d.names, *d.counters, locale_),
      makeStats_(d.stats) {
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
    LayOutPrinc(*this);
    fitHeight();
    connect(teDureeTotalTotale, &TTimeEdit::clicked, this, &TfPrinc::teDureeTotalTotaleClick);
    connect(teDureeTotalTotale, &TTimeEdit::doubleClicked, this,
            &TfPrinc::teDureeTotalTotaleDblClick);
    teCoutTotal->installEventFilter(this);
    tePrixTotalTotal->installEventFilter(this);

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
    // Without a notification area the icon's menu is the window's right-click menu.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!TrayIcon1->HasNotificationArea()) PopupMenu1->popup(mapToGlobal(at));
    });

    OnlineIP1 = new TOnlineIP(this, d.hostAddresses);
    OnlineIP1->setObjectName("OnlineIP1");
    OnlineIP1->SetEnabled(true);
    OnlineIP1->SetDispatchInterval(2000);
    connect(OnlineIP1, &TOnlineIP::OnChanged, this, &TfPrinc::OnlineIP1Changed);
    connect(OnlineIP1, &TOnlineIP::OnIPChanged, this, &TfPrinc::OnlineIP1IPChanged);

    meter_.setHost(this);

    // What writes cut short by a crash left behind; no other copy runs on this folder.
    for (const char* folder : {"", "Comptes", "Factures"}) RemoveLeftovers(appFolder_ + folder);
    OverallState state;
    if (d.dataRead) {
        accounts_ = std::move(d.dataRead->accounts);
        state = d.dataRead->state;
    } else {
        LoadAll(appFolder_, accounts_, state);
    }
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
    names_->setOnSwitch([this] { metered([this] { ConnectionSwitched(); }); });
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
    if (journal->historyPending()) {
        historyImport_ = std::make_unique<HistoryImport>(
            *journal, appFolder_, accounts_, names_->defaultConnectionName(), LocalNow(*clock_));
        QTimer::singleShot(0, this, &TfPrinc::importHistorySlice);
    }
    ownJournal_ = std::move(journal);
    journal_ = ownJournal_.get();
    journalKeeper_ = std::make_unique<JournalKeeper>(
        journal_, *clock_, meter_,
        [this](const std::string& text) { ReportExceptionLater(this, Error(text)); });
    journalKeeper_->atStart();
}

// A long history goes in by slices, so the window, the tick and a stop request answer.
void TfPrinc::importHistorySlice() {
    constexpr int kSliceMs = 10;
    if (!historyImport_) return;
    if (!historyImport_->step(QDeadlineTimer(kSliceMs))) {
        QTimer::singleShot(0, this, &TfPrinc::importHistorySlice);
        return;
    }
    const std::size_t unrecognised = historyImport_->result().unrecognised;
    historyImport_.reset();
    if (unrecognised)
        TrayIcon1->ShowMessage("Le Tallimer Internet", "Import de l'historique : " +
                                                           Q(UnrecognisedLinesText(unrecognised)));
}

template <class Step>
void TfPrinc::metered(Step step) {
    QueuedReports queued;
    try {
        step();
    } catch (const std::exception& e) {
        ReportExceptionLater(this, e);
    }
}

template <class Step, class Then>
void TfPrinc::metered(Step step, Then then) {
    metered([&] {
        std::exception_ptr error;
        try {
            step();
        } catch (...) {
            error = std::current_exception();
        }
        then();
        if (error) std::rethrow_exception(error);
    });
}

void TfPrinc::Connect() {
    const bool wasMetering = meter_.metering();
    // Metering runs even when the period could not be closed.
    metered([this] { meter_.Connect(); },
            [this, wasMetering] {
                if (!wasMetering) keeper().connected(OnlineIP1->IP().toStdString());
                save(SaveMoment::Connected);
            });
}

void TfPrinc::Disconnect() {
    const bool wasMetering = meter_.metering();
    metered([this] { meter_.Disconnect(); },
            [this, wasMetering] {
                if (!wasMetering) return;
                keeper().disconnected(JournalEnd::Normal);
                save(SaveMoment::Disconnected);
            });
}

void TfPrinc::OnlineIP1Changed(QObject*) {
    if (OnlineIP1->Online()) {
        Connect();
        bnGo->setChecked(true);
        teIP->setText(OnlineIP1->IP());
    } else {
        Disconnect();
        bnGo->setChecked(false);
        teIP->clear();
    }
}

void TfPrinc::OnlineIP1IPChanged(QObject*) {
    // No split: without the name source's word there is no telling two connections apart.
    teIP->setText(OnlineIP1->IP());
}

void TfPrinc::ConnectionSwitched() {
    if (!meter_.metering()) return;
    // The detector looks now: the next row starts with its own connection's address, not the
    // one of the last poll, and a machine gone off line meanwhile starts nothing.
    OnlineIP1->Poll();
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

// ---- Saving: the one place that says when what is counted reaches the disk

bool TfPrinc::save(SaveMoment moment) {
    // The connection in progress first: a crash between the two finds its record ahead of the
    // accounts, never behind. Made at its start too, while there is room: a disk that fills
    // before its end still finds the record's blocks to write it in.
    if ((moment == SaveMoment::Minute || moment == SaveMoment::Connected) && meter_.metering() &&
        meter_.currentAccount)
        desk_->recordConnection(LocalNow(*clock_), meter_.connectionDuration, meter_.connectionCost,
                                meter_.providerName(), *meter_.currentAccount,
                                meter_.overallDuration, meter_.overallCost);
    // At a connection's start too: a closed period must reach the account file even when the
    // archive failed. At exit no later save will try again: a failure gets a second try now.
    bool saved = SaveFiles() || (moment == SaveMoment::Exit && SaveFiles());
    // The manager writes its lines and closings as they come; the rest reaches the running
    // invoice's file at exit, whether or not its window was opened.
    if (moment == SaveMoment::Exit && !desk_->saveRunning()) {
        if (saved) unsaved_ = appFolder_ + "temp.rtf";
        saved = false;
    }
    // A threshold crossed by a connection's fee or by a connection shorter than a minute is
    // said at once, not at the next connection's first minute.
    else
        checkAlerts();
    return saved;
}

bool TfPrinc::SaveFiles() {
    std::string failed;
    const bool saved =
        SaveAll(appFolder_, accounts_,
                OverallState{meter_.overallDuration, meter_.overallCost, askOnExit}, &failed);
    if (saved) desk_->accountsSaved();
    // Said once, until a save goes through again: the totals wait in memory for the next one.
    if (!saved && unsaved_.empty()) ReportExceptionLater(this, FileError::create(failed));
    unsaved_ = failed;
    return saved;
}

void TfPrinc::SaveTimerTimer() {
    metered([this] {
        keeper().minute(OnlineIP1->IP().toStdString());
        save(SaveMoment::Minute);
    });
}

void TfPrinc::checkAlerts() {
    if (!meter_.currentAccount) return;
    // An account never set keeps the defaults: its package is still watched.
    const std::vector<std::string> texts = DueAlerts(
        *meter_.currentAccount, alerts_[meter_.providerName()], LocalNow(*clock_), locale_);
    if (texts.empty()) return;
    // Remembered first: a restart must not say it again.
    SaveAlertSettings(appFolder_ + kAlertSettingsFile, alerts_);
    for (const std::string& text : texts) TrayIcon1->ShowMessage("Le Tallimer Internet", Q(text));
}

void TfPrinc::Recover() {
    OverallState state{meter_.overallDuration, meter_.overallCost, askOnExit};
    desk_->recover(accounts_, state);
    meter_.overallDuration = state.overallDuration;
    meter_.overallCost = state.overallCost;
}

// ---- MeterHost

void TfPrinc::showProviderName(const std::string& name) {
    teFAI->setText(Q(name));
}

void TfPrinc::closePeriod(Account& account, const std::string& providerName, DateTime today) {
    desk_->closePeriod(account, providerName, today);
}

void TfPrinc::addInvoiceLine(DateTime when, msTIME duration, float amount) {
    // Once metering has stopped, the line is the connection's own: it ends its record.
    if (!meter_.metering() && meter_.currentAccount)
        desk_->endConnection(when, duration, amount, meter_.providerName(), *meter_.currentAccount,
                             meter_.overallDuration, meter_.overallCost);
    else
        desk_->addLine(when, duration, amount, meter_.providerName());
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
    // One wake-up a second while metering: the detector's polls ride on the tick.
    OnlineIP1->RideTick(enabled ? static_cast<unsigned>(Timer1->interval()) : 0);
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
    teDureeTotalTotale->SetTotal(meter_.overallDuration);
    ShowText(tePrixTotalTotal, Q(AmountText(meter_.overallCost, locale_)));
    if (rateIconShown_ != meter_.rateIcon) {
        Image1->setPixmap(ImageList1->pixmap(meter_.rateIcon));
        rateIconShown_ = meter_.rateIcon;
    }
    if (const Account* account = meter_.currentAccount) {
        teDureeTotale->SetTotal(account->periodDuration);
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
    metered([this] { meter_.TimerTick(); });
    // Each queues its own reports.
    OnlineIP1->Tick();
    names_->tick();
}

void TfPrinc::Timer2Timer() {
    Timer2->stop();
    // Without a notification area nothing would be left to bring the window back.
    if (TrayIcon1->HasNotificationArea()) hide();
    metered([this] { keeper(); });
}

void TfPrinc::BitBtn1Click() {
    if (TrayIcon1->HasNotificationArea())
        hide();
    else
        showMinimized();
}

void TfPrinc::BitBtn2Click() {
    desk_->openManager();
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

// ---- Dialog commands. A dialog neither made nor to be made on demand: the command does nothing.

template <class Dialog>
Dialog* TfPrinc::dialog(Dialog*& global) {
    if (!global && dialogsOnDemand_) global = new Dialog(this);
    return global;
}

void TfPrinc::bnRegleClick() {
    TfRegle* settings = dialog(fRegle);
    if (!settings) return;
    settings->Prepare(accounts_, teFAI->text());
    settings->exec();
}

void TfPrinc::rglages1Click() {
    bnRegleClick();
}

void TfPrinc::Statistiques1Click() {
    if (!stats_) {
        QString why = "module introuvable";
        if (makeStats_) stats_ = makeStats_(this, why);
        if (!stats_) {
            auto* box = new QMessageBox(
                QMessageBox::Warning, QApplication::applicationDisplayName(),
                "Les statistiques ne peuvent pas s'ouvrir : " + why + ".", QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
    }
    stats_->SetAlertSettings(
        &alerts_, [this] { return SaveAlertSettings(appFolder_ + kAlertSettingsFile, alerts_); });
    stats_->Prepare(journal(), accounts_, meter_.providerName(), LocalNow(*clock_), locale_);
    stats_->Open();
}

void TfPrinc::bnProposClick() {
    if (TAboutBox* about = dialog(AboutBox)) about->exec();
}

void TfPrinc::teCoutTotalDblClick() {
    // No correction without an account: the dialog is not made for nothing.
    if (!meter_.currentAccount) return;
    if (TfModifPrix* correction = dialog(fModifPrix))
        CorrectPeriodCost(meter_.currentAccount, *correction, *teCoutTotal);
}

void TfPrinc::tePrixTotalTotalDblClick() {
    if (!meter_.currentAccount) return;
    if (TfModifPrix* correction = dialog(fModifPrix))
        CorrectOverallCost(meter_.currentAccount, meter_.overallCost, *correction,
                           *tePrixTotalTotal);
}

bool TfPrinc::FormCloseQuery() {
    // Asked no more: the confirmation is not made just to be skipped.
    if (!askOnExit) return true;
    TfConfirm* confirm = dialog(fConfirm);
    return !confirm || ConfirmClose(askOnExit, *confirm, *this);
}

// ---- Closing

void TfPrinc::FormClose() {
    if (closed_) return;
    closed_ = true;
    std::string failure;
    {
        QueuedReports queued;
        try {
            // A connection still metered ends with the program: its cost is in the period's
            // totals, so its line belongs on the running invoice too.
            meter_.Disconnect();
            keeper().disconnected(JournalEnd::CutShort);
            if (!save(SaveMoment::Exit)) failure = FileError::create(unsaved_).what();
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    if (failure.empty()) return;
    // Nothing is left to try again: it is said, in a box only to a user who asked to quit.
    std::fprintf(stderr, "%s\n", failure.c_str());
    if (!closeWithoutQuestion_) ReportException(this, Error(failure));
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
    metered([this] { save(SaveMoment::Exit); });
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
