#include "windows/PrincLayout.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPolygonF>
#include <QShortcut>
#include <QToolBar>
#include <QVBoxLayout>

#include "controls/Accessible.h"
#include "controls/ImageList.h"
#include "controls/RatePictures.h"
#include "controls/Timeedit.h"
#include "controls/Trayicon.h"
#include "controls/WholeText.h"
#include "windows/FNPrinc.h"

namespace tallimer {

namespace {

const QKeySequence kSettingsKey("Ctrl+R");
const QKeySequence kStatisticsKey("Ctrl+T");
const QKeySequence kQuitKey("Ctrl+Q");

// A hint with its command's shortcut after it, as a menu shows it in its own column.
QString WithShortcut(const QString& hint, const QKeySequence& key) {
    return hint + " (" + key.toString(QKeySequence::NativeText) + ")";
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

}  // namespace

void BuildPrincCommands(TfPrinc& w) {
    w.PopupMenu1 = new QMenu(&w);
    w.PopupMenu1->setObjectName("PopupMenu1");
    // The icon's menu shows the window's shortcuts; they act in the window, and in the menu
    // only while it is open.
    auto item = [&w](QAction*& action, const char* name, const QString& caption,
                     void (TfPrinc::*handler)(), const QKeySequence& key) {
        action = w.PopupMenu1->addAction(caption, &w, handler);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
    };
    item(w.Restaurer1, "Restaurer1", "&Restaurer", &TfPrinc::Restaurer1Click, {});
    w.PopupMenu1->setDefaultAction(w.Restaurer1);
    item(w.rglages1, "rglages1", "Ré&glages", &TfPrinc::rglages1Click, kSettingsKey);
    item(w.Statistiques1, "Statistiques1", "&Statistiques", &TfPrinc::Statistiques1Click,
         kStatisticsKey);
    QObject::connect(new QShortcut(kStatisticsKey, &w), &QShortcut::activated, &w,
                     &TfPrinc::Statistiques1Click);
    item(w.Quitter1, "Quitter1", "&Quitter", &TfPrinc::Quitter1Click, kQuitKey);

    QToolBar* bar = w.ToolBar1 = new QToolBar(&w);
    bar->setObjectName("ToolBar1");
    bar->setIconSize(QSize(20, 20));
    bar->setMovable(false);
    bar->setFloatable(false);
    // Each button is a Tab stop (Space presses it) with its shortcut in its hint; its text,
    // the hint alone, is what a screen reader says of it.
    auto add = [&w, bar](QAction*& action, const char* name, ToolbarGlyph glyph,
                         const QString& hint, void (TfPrinc::*handler)(), const QKeySequence& key) {
        action = bar->addAction(ToolbarIcon(glyph), hint);
        action->setObjectName(name);
        action->setShortcut(key);
        action->setToolTip(WithShortcut(hint, key));
        bar->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
        QObject::connect(action, &QAction::triggered, &w, handler);
    };
    add(w.bnGo, "bnGo", ToolbarGlyph::Go, "Comptage à la main", &TfPrinc::bnClick,
        QKeySequence("Ctrl+D"));
    w.bnGo->setCheckable(true);
    bar->addSeparator();
    add(w.bnRegle, "bnRegle", ToolbarGlyph::Settings, "Réglages", &TfPrinc::bnRegleClick,
        kSettingsKey);
    bar->addSeparator();
    add(w.BitBtn2, "BitBtn2", ToolbarGlyph::Invoices, "Gère les factures", &TfPrinc::BitBtn2Click,
        QKeySequence("Ctrl+F"));
    add(w.bnPropos, "bnPropos", ToolbarGlyph::About, "A propos...", &TfPrinc::bnProposClick,
        QKeySequence("Ctrl+I"));
    add(w.SpeedButton1, "SpeedButton1", ToolbarGlyph::StayOnTop,
        "Bloque la fenêtre en premier plan", &TfPrinc::SpeedButton1Click, QKeySequence("Ctrl+B"));
    w.SpeedButton1->setCheckable(true);
    add(w.bnAide, "bnAide", ToolbarGlyph::Help, "Aide en ligne", &TfPrinc::bnAideClick,
        QKeySequence(Qt::Key_F1));
    bar->addSeparator();
    add(w.BitBtn1, "BitBtn1", ToolbarGlyph::Reduce, "Réduire", &TfPrinc::BitBtn1Click,
        QKeySequence(Qt::Key_Escape));
    add(w.bnFermer, "bnFermer", ToolbarGlyph::Close, "Fermer", &TfPrinc::bnFermerClick, kQuitKey);
}

void AttachTrayIcon(TfPrinc& w, TrayShell* shell) {
    TTrayIcon* icon = w.TrayIcon1 = new TTrayIcon(&w, shell);
    icon->setObjectName("TrayIcon1");
    icon->SetMainWindow(&w);
    icon->SetVisible(true);
    icon->SetHint("Le tallimer internet");
    icon->SetPopupMenu(w.PopupMenu1);
    icon->SetRestoreOn(imNone);
    icon->SetPopupMenuOn(imRightClickUp);
    icon->SetIcons(w.ImageList1);
    icon->Loaded();
    QObject::connect(icon, &TTrayIcon::OnNotificationArea, &w, &TfPrinc::NotificationAreaChanged);
    w.NotificationAreaChanged();
}

void LayOutPrinc(TfPrinc& w) {
    // Small type, as the window's fixed size was laid out for.
    QFont small = w.font();
    small.setPointSizeF(8);
    w.setFont(small);
    // Figures are read from the keyboard too (Tab stops); a right-click on one opens the
    // window's menu, not an editor's, and the hint says what F2 does where it does something.
    auto figure = [](QLineEdit* field, const char* name, const QString& hint) {
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::StrongFocus);
        field->setContextMenuPolicy(Qt::NoContextMenu);
        field->setTextMargins(0, 0, 0, 0);
    };
    auto text = [&w, figure](QLineEdit*& field, const char* name, const QString& hint,
                             const QString& initial) {
        field = new QLineEdit(initial, &w);
        figure(field, name, hint);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    };
    auto time = [&w, figure](TTimeEdit*& field, const char* name, const QString& hint) {
        field = new TTimeEdit(&w);
        figure(field, name, hint);
        field->SetFHeure(msTIME(0));
        field->setAlignment(Qt::AlignCenter);
    };
    auto label = [&w](const QString& caption, QWidget* field) {
        return Names(new QLabel(caption, &w), field);
    };
    // Where no label of its own stands beside a field, its hint names it.
    auto byHint = [](QWidget* field, const QString& hint) { field->setAccessibleName(hint); };

    text(w.teFAI, "teFAI", "Nom du fournisseur d'accès", QString());
    w.teFAI->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text(w.teIP, "teIP", "Adresse IP en cours", QString());
    w.teIP->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    time(w.teDuree, "teDuree", "Durée de la connection");
    time(w.teDureeTotale, "teDureeTotale", "Durée totale");
    byHint(w.teDureeTotale, "Durée totale");
    text(w.teCout, "teCout", "Coût de la connection", "0,00 F");
    text(w.teCoutTotal, "teCoutTotal", "Coût total (F2\u00A0: corriger)", "0,00 F");
    byHint(w.teCoutTotal, "Coût total");
    time(w.teForfait, "teForfait", "Durée restante du forfait");
    time(w.teForfaitTotal, "teForfaitTotal", "Durée du forfait");
    byHint(w.teForfaitTotal, "Durée du forfait");
    time(w.teDureeTotalTotale, "teDureeTotalTotale", "Durée totale (F2\u00A0: remise à zéro)");
    text(w.tePrixTotalTotal, "tePrixTotalTotal", "Coût total (F2\u00A0: corriger)", "0,00 F");
    text(w.Edit1, "Edit1", "Débit en réception", "0,0");
    byHint(w.Edit1, "Débit en réception");
    text(w.Edit2, "Edit2", "Débit en émission", "0,0");
    byHint(w.Edit2, "Débit en émission");

    // Figures take a smaller type rather than lose a digit.
    QLineEdit* const figures[] = {
        w.teDuree,        w.teDureeTotale,      w.teCout,           w.teCoutTotal, w.teForfait,
        w.teForfaitTotal, w.teDureeTotalTotale, w.tePrixTotalTotal, w.Edit1,       w.Edit2};
    for (QLineEdit* figure : figures) KeepTextWhole(figure);

    auto* connection = new QGroupBox("Connection", &w);
    connection->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(connection);
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(2);
    grid->addWidget(label("FAI :", w.teFAI), 0, 0);
    grid->addWidget(w.teFAI, 0, 1, 1, 2);
    grid->addWidget(label("IP :", w.teIP), 1, 0);
    grid->addWidget(w.teIP, 1, 1, 1, 2);
    grid->addWidget(label("Durée :", w.teDuree), 2, 0);
    grid->addWidget(w.teDuree, 2, 1);
    grid->addWidget(w.teDureeTotale, 2, 2);
    grid->addWidget(label("Coût :", w.teCout), 3, 0);
    grid->addWidget(w.teCout, 3, 1);
    grid->addWidget(w.teCoutTotal, 3, 2);
    grid->addWidget(label("Forfait :", w.teForfait), 4, 0);
    grid->addWidget(w.teForfait, 4, 1);
    grid->addWidget(w.teForfaitTotal, 4, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    auto* total = new QGroupBox("Total", &w);
    total->setObjectName("GroupBox2");
    auto* totalGrid = new QGridLayout(total);
    totalGrid->setContentsMargins(4, 2, 4, 4);
    totalGrid->setHorizontalSpacing(3);
    totalGrid->setVerticalSpacing(2);
    totalGrid->addWidget(label("Durée :", w.teDureeTotalTotale), 0, 0);
    totalGrid->addWidget(w.teDureeTotalTotale, 0, 1);
    totalGrid->addWidget(label("Coût :", w.tePrixTotalTotal), 1, 0);
    totalGrid->addWidget(w.tePrixTotalTotal, 1, 1);

    auto picture = [&w](QLabel*& image, const char* name, const QPixmap& pixmap, int size) {
        image = new QLabel(&w);
        image->setObjectName(name);
        image->setFixedSize(size, size);
        image->setScaledContents(true);
        image->setPixmap(pixmap);
    };
    picture(w.Image2, "Image2", RateArrow(true), 16);
    picture(w.Image3, "Image3", RateArrow(false), 16);
    picture(w.Image1, "Image1", w.ImageList1->pixmap(0), 41);
    w.Label9 = new QLabel("kO/s", &w);
    w.Label9->setObjectName("Label9");
    w.Edit1->setFixedWidth(52);
    w.Edit2->setFixedWidth(52);

    auto* rates = new QGridLayout;
    rates->setHorizontalSpacing(3);
    rates->setVerticalSpacing(2);
    rates->addWidget(w.Edit1, 0, 0);
    rates->addWidget(w.Image2, 0, 1);
    rates->addWidget(w.Edit2, 1, 0);
    rates->addWidget(w.Image3, 1, 1);
    rates->addWidget(w.Label9, 2, 0, Qt::AlignHCenter);
    rates->addWidget(w.Image1, 0, 2, 3, 1, Qt::AlignRight | Qt::AlignVCenter);
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

    auto* window = new QVBoxLayout(&w);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(w.ToolBar1);
    window->addLayout(client, 1);

    w.StatusLine = new QLabel(&w);
    w.StatusLine->setObjectName("StatusLine");
    w.StatusLine->setWordWrap(true);
    w.StatusLine->setContentsMargins(4, 0, 4, 3);
    w.StatusLine->hide();
    window->addWidget(w.StatusLine);
}

}  // namespace tallimer
