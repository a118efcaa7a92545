#include "windows/FNFacture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "controls/ErrorReport.h"
#include "platform/SystemLocale.h"
#include "richtext/Printing.h"
#include "richtext/RichInvoice.h"
#include "richtext/VisibleLayout.h"
#include "support/Errors.h"

namespace tallimer {

TfFacture* fFacture = nullptr;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A long running invoice is shown from its first slice, read on in slices short enough to
// keep scrolling fluid.
constexpr std::chrono::milliseconds kFirstSlice{20};
constexpr std::chrono::milliseconds kSlice{12};

// On the system these patterns come from, "*.*" means every file, dot or not.
constexpr const char* kAllFiles = "*.*";

QTextEdit* MakeEditor(QWidget* parent, const char* name) {
    auto* edit = new QTextEdit(parent);
    edit->setObjectName(name);
    edit->setLineWrapMode(QTextEdit::NoWrap);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TfFacture::TfFacture(const std::string& appFolder, QWidget* parent, Controls controls)
    : QDialog(parent), appFolder_(appFolder), document_(std::make_unique<QTextDocument>()) {
    setObjectName("fFacture");
    setWindowTitle("Gestion des factures internet");
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // The writer puts the default font first in the file's font table: the editor's, as on
    // its own document (polished in the window), whether or not the editor exists yet.
    document_->setDefaultFont(QApplication::font("QTextEdit"));
    // Lays out only what is seen: opening a long invoice does not shape every line.
    document_->setDocumentLayout(new VisibleLayout(document_.get()));
    invoice_ = std::make_unique<RichInvoice>(document_.get(), appFolder_);
    runningFile_ = std::make_unique<RunningInvoiceFile>(
        *invoice_, appFolder_, SystemLocale(), [this](const std::exception& e) { report(e); });
    if (controls == Controls::AtOnce) buildControls();
    FormCreate();
}

void TfFacture::buildControls() {
    if (GroupBox1) return;
    GroupBox1 = new QGroupBox("Factures archivées", this);
    FileListBox1 = new QListWidget(GroupBox1);
    FileListBox1->setObjectName("FileListBox1");
    FileListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    FileListBox1->setFixedWidth(190);
    FilterComboBox1 = new QComboBox(GroupBox1);
    FilterComboBox1->setObjectName("FilterComboBox1");
    FilterComboBox1->addItem("Factures RTF", QString("*.rtf"));
    FilterComboBox1->addItem("Tous fichiers", QString(kAllFiles));
    FilterComboBox1->setFixedWidth(190);
    RichEdit1 = MakeEditor(GroupBox1, "RichEdit1");
    RichEdit1->setTabChangesFocus(true);
    Button1 = MakeButton(GroupBox1, "Button1", "&Supprimer");
    BitBtn3 = MakeButton(GroupBox1, "BitBtn3", "&Imprimer");

    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(FileListBox1, 1);
    listColumn->addWidget(FilterComboBox1);
    auto* archiveButtons = new QHBoxLayout;
    archiveButtons->addStretch(1);
    archiveButtons->addWidget(Button1);
    archiveButtons->addWidget(BitBtn3);
    auto* viewerColumn = new QVBoxLayout;
    viewerColumn->addWidget(RichEdit1, 1);
    viewerColumn->addLayout(archiveButtons);
    auto* archived = new QHBoxLayout(GroupBox1);
    archived->addLayout(listColumn);
    archived->addLayout(viewerColumn, 1);

    GroupBox2 = new QGroupBox("Facture en cours", this);
    RichEdit2 = MakeEditor(GroupBox2, "RichEdit2");
    RichEdit2->setTabChangesFocus(false);  // the Tab key types a tab: lines are in columns
    BitBtn2 = MakeButton(GroupBox2, "BitBtn2", "Im&primer");
    auto* runningButtons = new QHBoxLayout;
    runningButtons->addStretch(1);
    runningButtons->addWidget(BitBtn2);
    auto* running = new QVBoxLayout(GroupBox2);
    running->addWidget(RichEdit2, 1);
    running->addLayout(runningButtons);

    BitBtn1 = MakeButton(this, "BitBtn1", "&Fermer");
    BitBtn1->setDefault(true);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(BitBtn1);

    auto* window = new QVBoxLayout(this);
    window->addWidget(GroupBox1, 1);
    window->addWidget(GroupBox2, 1);
    window->addLayout(closeRow);

    // Wide enough for the template's amounts column (right tab at 13 cm) without scrolling.
    RichEdit1->setMinimumSize(540, 190);
    RichEdit2->setMinimumSize(620, 190);
    setFixedSize(sizeHint());

    // The selection, not the current row: focus alone makes a row current without the user
    // having chosen it.
    connect(FileListBox1, &QListWidget::itemSelectionChanged, this,
            [this] { FileListBox1Change(); });
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { FilterComboBox1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    RichEdit2->setDocument(document_.get());
}

TfFacture::~TfFacture() {
    if (fFacture == this) fFacture = nullptr;
    // The editor goes before the document it shows.
    delete RichEdit2;
}

QString TfFacture::InvoiceFolder() const {
    return Q(appFolder_) + "Factures/";
}

InvoiceDocument& TfFacture::RunningInvoice() {
    return *invoice_;
}

void TfFacture::report(const std::exception& error) {
    ReportException(this, error);
}

void TfFacture::FormCreate() {
    const QString temp = Q(runningFile_->path());
    const bool kept = QFileInfo::exists(temp);
    const QString path = kept ? temp : Q(appFolder_) + "base.rtf";
    try {
        // A kept invoice is read only when something needs it: start-up stays short.
        if (kept)
            invoice_->openKept(path.toStdString());
        else
            invoice_->loadRtf(path.toStdString());
    } catch (const std::exception& e) {
        document_->clear();
        report(e);
        if (kept) setAsideUnreadable(temp);
    }
}

// A kept running invoice that cannot be read would be replaced at the next save, with the
// lines it holds. It is moved aside under a name of its own instead.
void TfFacture::setAsideUnreadable(const QString& path) {
    const QString base = Q(appFolder_) + "temp illisible";
    QString aside = base + ".rtf";
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = base + " " + QString::number(n) + ".rtf";
    QFile::rename(path, aside);
}

bool TfFacture::SaveRunning() {
    return runningFile_->SaveReporting();
}

void TfFacture::addLine(DateTime when, msTIME duration, float amount, const std::string& name) {
    RunningFile().AddLine(when, duration, amount, name);
}

void TfFacture::closePeriod(Account& account, const std::string& providerName, DateTime today) {
    // Lines kept for other accounts come back into the document shown as it is read.
    struct ReadOn {
        TfFacture& manager;
        ~ReadOn() {
            if (manager.isVisible()) manager.readRunning();
        }
    } readOn{*this};
    RunningFile().ClosePeriod(account, providerName, today);
}

void TfFacture::recordConnection(DateTime when, msTIME duration, float amount,
                                 const std::string& name, const Account& account, TotalTime overall,
                                 float overallCost) {
    RunningFile().RecordConnection(when, duration, amount, name, account, overall, overallCost);
}

void TfFacture::endConnection(DateTime when, msTIME duration, float amount, const std::string& name,
                              const Account& account, TotalTime overall, float overallCost) {
    RunningFile().EndConnection(when, duration, amount, name, account, overall, overallCost);
}

void TfFacture::accountsSaved() {
    RunningFile().AccountsSaved();
}

void TfFacture::recover(AccountCollection& accounts, OverallState& state) {
    RunningFile().Recover(accounts, state);
}

bool TfFacture::FormClose() {
    try {
        runningFile_->Save();
        return true;
    } catch (const std::exception& e) {
        report(e);
        return false;
    }
}

void TfFacture::done(int result) {
    if (!FormClose()) return;
    QDialog::done(result);
}

void TfFacture::showEvent(QShowEvent* event) {
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

bool TfFacture::ReadFileList() {
    FileListBox1->clear();
    QDir folder(InvoiceFolder());
    if (!folder.exists()) return false;
    const QString pattern = FilterComboBox1->currentData().toString();
    QStringList filters;
    if (pattern != kAllFiles) filters << pattern;
    // A provider name may begin with a dot: its archives are listed like any other.
    FileListBox1->addItems(
        folder.entryList(filters, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase));
    return true;
}

void TfFacture::setVisible(bool visible) {
    if (visible) buildControls();
    QDialog::setVisible(visible);
}

void TfFacture::OpenFromMainWindow() {
    buildControls();
    const QString folder = InvoiceFolder();
    if (!QDir().mkpath(folder) || !ReadFileList()) {
        report(FileError::create(folder.chopped(1).toStdString()));
        return;
    }
    if (!readRunning()) return;
    // Nothing chosen yet: nothing shown, nothing that "Supprimer" could delete.
    FileListBox1->setCurrentRow(-1);
    RichEdit1->clear();
    exec();
}

bool TfFacture::readRunning() {
    try {
        if (!invoice_->loadFor(kFirstSlice)) {
            // Shown as read; typed into once whole.
            RichEdit2->setReadOnly(true);
            if (!loadTimer_) {
                loadTimer_ = new QTimer(this);
                connect(loadTimer_, &QTimer::timeout, this, [this] { loadSlice(); });
            }
            loadTimer_->start(0);
        }
    } catch (const std::exception& e) {
        report(e);
        return false;
    }
    return true;
}

void TfFacture::loadSlice() {
    bool whole = true;
    try {
        whole = invoice_->loadFor(kSlice);
    } catch (const std::exception& e) {
        report(e);
    }
    if (!whole) return;
    loadTimer_->stop();
    RichEdit2->setReadOnly(false);
}

QListWidgetItem* TfFacture::selectedEntry() const {
    const QList<QListWidgetItem*> selected = FileListBox1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TfFacture::FileListBox1Change() {
    QListWidgetItem* item = selectedEntry();
    if (!item) return;
    try {
        LoadRtfFile(*RichEdit1->document(), InvoiceFolder() + item->text());
    } catch (const std::exception& e) {
        report(e);
    }
}

void TfFacture::FilterComboBox1Change() {
    ReadFileList();
}

void TfFacture::Button1Click() {
    QListWidgetItem* item = selectedEntry();
    if (!item) return;
    // A file that cannot be deleted simply stays in the list.
    QFile::remove(InvoiceFolder() + item->text());
    ReadFileList();
}

void TfFacture::BitBtn3Click() {
    printDocument(*RichEdit1->document());
}

void TfFacture::BitBtn2Click() {
    printDocument(*document_);
}

void TfFacture::BitBtn1Click() {
    close();
}

bool TfFacture::ChoosePrinter(QPrinter& printer) {
    if (!PrintDialog1 || PrintDialog1->printer() != &printer) {
        delete PrintDialog1;
        PrintDialog1 = new QPrintDialog(&printer, this);
        PrintDialog1->setObjectName("PrintDialog1");
        // Always the whole document.
        PrintDialog1->setOptions(QAbstractPrintDialog::PrintToFile |
                                 QAbstractPrintDialog::PrintShowPageSize |
                                 QAbstractPrintDialog::PrintCollateCopies);
    }
    return PrintDialog1->exec() == QDialog::Accepted;
}

void TfFacture::printDocument(QTextDocument& document) {
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setPrintRange(QPrinter::AllPages);
    printer_->setFromTo(0, 0);
    if (!ChoosePrinter(*printer_)) return;
    if (!PrintDocument(document, *printer_)) report(Error("Impossible d'imprimer la facture"));
}

}  // namespace tallimer
