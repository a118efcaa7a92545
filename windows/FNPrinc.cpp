#include "windows/FNPrinc.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <cstdio>
#include <exception>

#include "controls/ErrorReport.h"
#include "controls/RatePictures.h"
#include "platform/SystemLocale.h"
#include "support/Errors.h"
#include "support/NumberText.h"
#include "windows/DataJournal.h"
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
      session_({d.appFolder, d.clock, d.names, d.counters, SystemLocale(), OpenDataJournal,
                d.sockets}),
      makeStats_(d.stats),
      meteredLink_(d.meteredLink) {
    setObjectName("fPrinc");
    setWindowTitle("Le Tallimer Internet");
    setWindowIcon(AppIcon());

    auto timer = [this](QTimer*& t, const char* name, int ms, void (TfPrinc::*handler)()) {
        t = new QTimer(this);
        t->setObjectName(name);
        t->setInterval(ms);
        connect(t, &QTimer::timeout, this, handler);
    };
    timer(Timer1, "Timer1", 1000, &TfPrinc::Timer1Timer);
    timer(SaveTimer, "SaveTimer", 60 * 1000, &TfPrinc::SaveTimerTimer);
    timer(Timer2, "Timer2", 10, &TfPrinc::Timer2Timer);
    Timer2->setSingleShot(true);

    ImageList1 = MakeRateImages(this);
    ImageList1->setObjectName("ImageList1");

    BuildPrincCommands(*this);
    LayOutPrinc(*this);
    fitHeight();
    connect(teDureeTotalTotale, &TTimeEdit::clicked, this, &TfPrinc::teDureeTotalTotaleClick);
    for (QWidget* figure :
         {static_cast<QWidget*>(teCoutTotal), static_cast<QWidget*>(tePrixTotalTotal),
          static_cast<QWidget*>(teDureeTotalTotale)})
        figure->installEventFilter(this);

    // The icon comes before any account is loaded; a refused icon ends the construction.
    AttachTrayIcon(*this, d.trayShell);

    OnlineIP1 = new TOnlineIP(this, d.hostAddresses);
    OnlineIP1->setObjectName("OnlineIP1");
    OnlineIP1->SetEnabled(true);
    OnlineIP1->SetDispatchInterval(2000);
    connect(OnlineIP1, &TOnlineIP::OnChanged, this, &TfPrinc::OnlineIP1Changed);
    connect(OnlineIP1, &TOnlineIP::OnIPChanged, this, &TfPrinc::OnlineIP1IPChanged);

    session_.setHost(this);
    session_.load(d.dataRead);
    // The journal opens once the window is shown (its check reads the whole file), or at
    // its first use if that comes sooner.

    // Last: a construction that fails leaves no callback to a window that never was.
    session_.names().setOnSwitch([this] { metered([this] { ConnectionSwitched(); }); });
}

TfPrinc::~TfPrinc() {
    session_.names().setOnSwitch({});
    session_.setHost(nullptr);
    if (fPrinc == this) fPrinc = nullptr;
}

void TfPrinc::fitHeight() {
    int height = kClientHeight + ToolBar1->sizeHint().height();
    if (!StatusLine->isHidden()) height += StatusLine->heightForWidth(kClientWidth);
    setFixedSize(kClientWidth, height);
}

void TfPrinc::NotificationAreaChanged() {
    const bool inArea = TrayIcon1->HasNotificationArea();
    StatusLine->setText(inArea ? QString()
                               : QStringLiteral("Aucune zone de notification\u00A0: la fenêtre "
                                                "reste ouverte et «\u00A0Réduire\u00A0» la place "
                                                "dans la barre des tâches."));
    StatusLine->setHidden(inArea);
    fitHeight();
}

// ---- Connection lifecycle

template <class Step>
void TfPrinc::metered(Step step) {
    QueuedReports queued;
    try {
        step();
    } catch (const std::exception& e) {
        ReportExceptionLater(this, e);
    }
}

void TfPrinc::Connect() {
    metered([this] { session_.connect(OnlineIP1->IP().toStdString()); });
}

void TfPrinc::Disconnect() {
    metered([this] { session_.disconnect(); });
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
    if (!meter().metering()) return;
    // The detector looks now: the next row starts with its own connection's address, not the
    // one of the last poll, and a machine gone off line meanwhile starts nothing.
    OnlineIP1->Poll();
    if (!meter().metering()) return;
    metered([this] { session_.switchConnection(OnlineIP1->IP().toStdString()); });
}

void TfPrinc::bnClick() {
    if (bnGo->isChecked())
        Connect();
    else
        Disconnect();
}

void TfPrinc::SaveTimerTimer() {
    metered([this] { session_.minute(OnlineIP1->IP().toStdString()); });
}

// ---- SessionHost

void TfPrinc::showProviderName(const std::string& name) {
    teFAI->setText(Q(name));
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

void TfPrinc::reportLater(const std::exception& error) {
    ReportExceptionLater(this, error);
}

bool TfPrinc::notify(const std::string& text) {
    return TrayIcon1->ShowMessage("Le Tallimer Internet", Q(text));
}

void TfPrinc::later(std::function<void()> work) {
    QTimer::singleShot(0, this, std::move(work));
}

// ---- Display

void TfPrinc::RefreshDisplay() {
    TrayIcon1->SetIconIndex(meter().rateIcon);
    TrayIcon1->SetHint(Q(session_.trayHint()));
    refreshFields();
}

void TfPrinc::refreshDisplay() {
    TrayIcon1->SetIconIndex(meter().rateIcon);
    // Changes each second only for a connection billed by volume.
    TrayIcon1->SetHint(Q(session_.trayHint()));
    // Hidden in the notification area, its normal state: the fields wait until it is shown.
    if (isVisible()) refreshFields();
}

void TfPrinc::refreshFields() {
    const Meter& m = session_.meter();
    const Locale& locale = session_.locale();
    teDuree->SetFHeure(m.connectionDuration);
    ShowText(teCout, Q(AmountText(m.connectionCost, locale)));
    teDureeTotalTotale->SetTotal(m.overallDuration);
    ShowText(tePrixTotalTotal, Q(AmountText(m.overallCost, locale)));
    if (rateIconShown_ != m.rateIcon) {
        static const char* const rates[] = {"Hors ligne", "Tarif normal", "Tarif réduit",
                                            "Forfait"};
        Image1->setPixmap(ImageList1->pixmap(m.rateIcon));
        // What the picture says, for whoever does not see it.
        if (m.rateIcon < 4) Image1->setAccessibleName(QString::fromUtf8(rates[m.rateIcon]));
        rateIconShown_ = m.rateIcon;
    }
    if (const Account* account = m.currentAccount) {
        teDureeTotale->SetTotal(account->periodDuration);
        ShowText(teCoutTotal, Q(AmountText(account->periodCost, locale)));
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
    session_.resetOverallDuration();
    RefreshDisplay();
}

// ---- Window commands

void TfPrinc::Timer1Timer() {
    metered([this] { session_.tick(); });
    // Each queues its own reports.
    OnlineIP1->Tick();
    session_.names().tick();
}

void TfPrinc::Timer2Timer() {
    Timer2->stop();
    // Without a notification area nothing would be left to bring the window back.
    if (TrayIcon1->HasNotificationArea()) hide();
    metered([this] { session_.keeper(); });
}

void TfPrinc::BitBtn1Click() {
    if (TrayIcon1->HasNotificationArea())
        hide();
    else
        showMinimized();
}

void TfPrinc::BitBtn2Click() {
    session_.invoiceDesk().openManager();
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
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(AppFolder() + kHelpFile)));
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
    settings->Prepare(accounts(), teFAI->text());
    settings->exec();
}

void TfPrinc::rglages1Click() {
    bnRegleClick();
}

void TfPrinc::Statistiques1Click() {
    OpenStatistics(stats_, makeStats_, session_, meteredLink_, *this);
}

void TfPrinc::bnProposClick() {
    if (TAboutBox* about = dialog(AboutBox)) about->exec();
}

void TfPrinc::teCoutTotalDblClick() {
    // No correction without an account: the dialog is not made for nothing.
    if (!meter().currentAccount) return;
    if (TfModifPrix* correction = dialog(fModifPrix))
        CorrectPeriodCost(meter().currentAccount, *correction, *teCoutTotal);
}

void TfPrinc::tePrixTotalTotalDblClick() {
    Meter& m = meter();
    if (!m.currentAccount) return;
    if (TfModifPrix* correction = dialog(fModifPrix))
        CorrectOverallCost(m.currentAccount, m.overallCost, *correction, *tePrixTotalTotal);
}

bool TfPrinc::FormCloseQuery() {
    // Asked no more: the confirmation is not made just to be skipped.
    if (!session_.askOnExit) return true;
    TfConfirm* confirm = dialog(fConfirm);
    return !confirm || ConfirmClose(session_.askOnExit, *confirm, *this);
}

// ---- Closing

void TfPrinc::FormClose() {
    if (closed_) return;
    closed_ = true;
    std::string failure;
    {
        QueuedReports queued;
        failure = session_.end();
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
    metered([this] { session_.saveForSessionEnd(); });
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

void TfPrinc::contextMenuEvent(QContextMenuEvent* event) {
    // Without a notification area the icon's menu lives here, wherever one asks for it: the
    // figures defer theirs to the window.
    if (TrayIcon1->HasNotificationArea()) return QWidget::contextMenuEvent(event);
    PopUpMenu(PopupMenu1, event->globalPos());
}

bool TfPrinc::eventFilter(QObject* watched, QEvent* event) {
    // F2 or Return on a figure does what a double-click on it does.
    bool asked = event->type() == QEvent::MouseButtonDblClick;
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        asked = key == Qt::Key_F2 || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    const std::pair<QObject*, void (TfPrinc::*)()> figures[] = {
        {teCoutTotal, &TfPrinc::teCoutTotalDblClick},
        {tePrixTotalTotal, &TfPrinc::tePrixTotalTotalDblClick},
        {teDureeTotalTotale, &TfPrinc::teDureeTotalTotaleDblClick}};
    for (const auto& [figure, handler] : figures)
        if (asked && watched == figure) {
            (this->*handler)();
            return true;
        }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tallimer
