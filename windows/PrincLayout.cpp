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

#include "controls/ImageList.h"
#include "controls/RatePictures.h"
#include "controls/Timeedit.h"
#include "controls/Trayicon.h"
#include "controls/WholeText.h"
#include "windows/FNPrinc.h"

namespace tallimer {

namespace {

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
    w.Restaurer1 = w.PopupMenu1->addAction("&Restaurer", &w, &TfPrinc::Restaurer1Click);
    w.Restaurer1->setObjectName("Restaurer1");
    w.PopupMenu1->setDefaultAction(w.Restaurer1);
    w.rglages1 = w.PopupMenu1->addAction("Ré&glages", &w, &TfPrinc::rglages1Click);
    w.rglages1->setObjectName("rglages1");
    w.Statistiques1 = w.PopupMenu1->addAction("&Statistiques", &w, &TfPrinc::Statistiques1Click);
    w.Statistiques1->setObjectName("Statistiques1");
    QObject::connect(new QShortcut(QKeySequence("Ctrl+T"), &w), &QShortcut::activated, &w,
                     &TfPrinc::Statistiques1Click);
    w.Quitter1 = w.PopupMenu1->addAction("&Quitter", &w, &TfPrinc::Quitter1Click);
    w.Quitter1->setObjectName("Quitter1");

    QToolBar* bar = w.ToolBar1 = new QToolBar(&w);
    bar->setObjectName("ToolBar1");
    bar->setIconSize(QSize(20, 20));
    bar->setMovable(false);
    bar->setFloatable(false);
    auto add = [&w, bar](QAction*& action, const char* name, ToolbarGlyph glyph,
                         const QString& hint, void (TfPrinc::*handler)()) {
        action = bar->addAction(ToolbarIcon(glyph), hint);
        action->setObjectName(name);
        action->setToolTip(hint);
        QObject::connect(action, &QAction::triggered, &w, handler);
    };
    add(w.bnGo, "bnGo", ToolbarGlyph::Go, QString(), &TfPrinc::bnClick);
    w.bnGo->setCheckable(true);
    bar->addSeparator();
    add(w.bnRegle, "bnRegle", ToolbarGlyph::Settings, "Réglages", &TfPrinc::bnRegleClick);
    bar->addSeparator();
    add(w.BitBtn2, "BitBtn2", ToolbarGlyph::Invoices, "Gère les factures", &TfPrinc::BitBtn2Click);
    add(w.bnPropos, "bnPropos", ToolbarGlyph::About, "A propos...", &TfPrinc::bnProposClick);
    add(w.SpeedButton1, "SpeedButton1", ToolbarGlyph::StayOnTop,
        "Bloque la fenêtre en premier plan", &TfPrinc::SpeedButton1Click);
    w.SpeedButton1->setCheckable(true);
    add(w.bnAide, "bnAide", ToolbarGlyph::Help, "Aide en ligne", &TfPrinc::bnAideClick);
    bar->addSeparator();
    add(w.BitBtn1, "BitBtn1", ToolbarGlyph::Reduce, "Réduire", &TfPrinc::BitBtn1Click);
    add(w.bnFermer, "bnFermer", ToolbarGlyph::Close, "Fermer", &TfPrinc::bnFermerClick);
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
    w.setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(&w, &QWidget::customContextMenuRequested, &w, [&w](const QPoint& at) {
        if (!w.TrayIcon1->HasNotificationArea()) w.PopupMenu1->popup(w.mapToGlobal(at));
    });
}

void LayOutPrinc(TfPrinc& w) {
    // Small type, as the window's fixed size was laid out for.
    QFont small = w.font();
    small.setPointSizeF(8);
    w.setFont(small);
    auto text = [&w](QLineEdit*& field, const char* name, const QString& hint,
                     const QString& initial) {
        field = new QLineEdit(initial, &w);
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field->setTextMargins(0, 0, 0, 0);
    };
    auto time = [&w](TTimeEdit*& field, const char* name, const QString& hint) {
        field = new TTimeEdit(&w);
        field->setObjectName(name);
        field->setToolTip(hint);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        field->SetFHeure(msTIME(0));
        field->setAlignment(Qt::AlignCenter);
        field->setTextMargins(0, 0, 0, 0);
    };
    auto label = [&w](const QString& caption) { return new QLabel(caption, &w); };

    text(w.teFAI, "teFAI", "Nom du fournisseur d'accès", QString());
    w.teFAI->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text(w.teIP, "teIP", "Adresse IP en cours", QString());
    w.teIP->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    time(w.teDuree, "teDuree", "Durée de la connection");
    time(w.teDureeTotale, "teDureeTotale", "Durée totale");
    text(w.teCout, "teCout", "Coût de la connection", "0,00 F");
    text(w.teCoutTotal, "teCoutTotal", "Coût total", "0,00 F");
    time(w.teForfait, "teForfait", "Durée restante du forfait");
    time(w.teForfaitTotal, "teForfaitTotal", "Durée du forfait");
    time(w.teDureeTotalTotale, "teDureeTotalTotale", "Durée totale");
    text(w.tePrixTotalTotal, "tePrixTotalTotal", "Coût total", "0,00 F");
    text(w.Edit1, "Edit1", "Débit en réception", "0,0");
    text(w.Edit2, "Edit2", "Débit en émission", "0,0");

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
    grid->addWidget(label("FAI :"), 0, 0);
    grid->addWidget(w.teFAI, 0, 1, 1, 2);
    grid->addWidget(label("IP :"), 1, 0);
    grid->addWidget(w.teIP, 1, 1, 1, 2);
    grid->addWidget(label("Durée :"), 2, 0);
    grid->addWidget(w.teDuree, 2, 1);
    grid->addWidget(w.teDureeTotale, 2, 2);
    grid->addWidget(label("Coût :"), 3, 0);
    grid->addWidget(w.teCout, 3, 1);
    grid->addWidget(w.teCoutTotal, 3, 2);
    grid->addWidget(label("Forfait :"), 4, 0);
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
    totalGrid->addWidget(label("Durée :"), 0, 0);
    totalGrid->addWidget(w.teDureeTotalTotale, 0, 1);
    totalGrid->addWidget(label("Coût :"), 1, 0);
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
