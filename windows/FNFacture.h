#pragma once
// TfFacture, the invoice manager: it owns the running invoice for the whole run, shown or
// not, and lists, shows, prints and deletes the archived invoices of the folder "Factures".
#include <QDialog>
#include <QString>
#include <exception>
#include <memory>
#include <string>

#include "invoices/InvoiceDocument.h"
#include "invoices/RunningInvoiceFile.h"
#include "metering/InvoiceDesk.h"

class QComboBox;
class QGroupBox;
class QListWidget;
class QListWidgetItem;
class QPrintDialog;
class QPrinter;
class QPushButton;
class QTextDocument;
class QTextEdit;
class QTimer;

namespace tallimer {

class RichInvoice;

class TfFacture : public QDialog, public InvoiceDesk {
    Q_OBJECT
  public:
    // Most runs never open the manager: its controls can wait for the first opening.
    enum class Controls { AtOnce, AtFirstOpening };

    // Takes the running invoice from appFolder (with its trailing separator): "temp.rtf" when
    // kept (read into the document only when the window opens or something needs its
    // content), else the template "base.rtf".
    explicit TfFacture(const std::string& appFolder, QWidget* parent = nullptr,
                       Controls controls = Controls::AtOnce);
    ~TfFacture() override;

    const std::string& AppFolder() const { return appFolder_; }
    QString InvoiceFolder() const;  // AppFolder + "Factures/"

    // What the main window uses: the running invoice, the same kept in step with
    // "temp.rtf" (lines, period closings), the toolbar's command and the save at exit.
    InvoiceDocument& RunningInvoice();
    RunningInvoiceFile& RunningFile() { return *runningFile_; }
    // Reads the folder "Factures" afresh (creating it when missing) and shows the window
    // modally; a folder that cannot be made is reported and the window is not shown.
    void OpenFromMainWindow();
    // Writes the running invoice to "temp.rtf"; a failure is reported and gives false.
    bool SaveRunning();

    // InvoiceDesk: the main window's calls, to the running invoice and its file.
    void openManager() override { OpenFromMainWindow(); }
    bool saveRunning() override { return SaveRunning(); }
    void addLine(DateTime when, msTIME duration, float amount, const std::string& name) override;
    void closePeriod(Account& account, const std::string& providerName, DateTime today) override;
    void recordConnection(DateTime when, msTIME duration, float amount, const std::string& name,
                          const Account& account, TotalTime overall, float overallCost) override;
    void endConnection(DateTime when, msTIME duration, float amount, const std::string& name,
                       const Account& account, TotalTime overall, float overallCost) override;
    void accountsSaved() override;
    void recover(AccountCollection& accounts, OverallState& state) override;

    // Handlers, named after their control and event.
    void FormCreate();
    bool FormClose();              // false: "temp.rtf" could not be written, the window stays open
    void FileListBox1Change();     // an archived invoice chosen: shown in the viewer
    void FilterComboBox1Change();  // "Factures RTF" or "Tous fichiers" chosen
    void Button1Click();           // "Supprimer": deletes the chosen archive
    void BitBtn3Click();           // "Imprimer" under the archives: prints the viewer's
    void BitBtn2Click();           // "Imprimer" under the running invoice: prints it
    void BitBtn1Click();           // "Fermer"
    // Reads the file names of "Factures" that match the chosen filter; false when the
    // folder cannot be read.
    bool ReadFileList();

    // Shown by any path (exec, show): the controls are built first.
    void setVisible(bool visible) override;

    // Controls, named as in the window's description; null until built.
    QGroupBox* GroupBox1 = nullptr;        // "Factures archivées"
    QListWidget* FileListBox1 = nullptr;   // the archived invoices' files
    QComboBox* FilterComboBox1 = nullptr;  // "Factures RTF" or "Tous fichiers"
    QTextEdit* RichEdit1 = nullptr;        // the viewer of the chosen archive
    QPushButton* Button1 = nullptr;        // "Supprimer"
    QPushButton* BitBtn3 = nullptr;        // "Imprimer", the chosen archive
    QGroupBox* GroupBox2 = nullptr;        // "Facture en cours"
    QTextEdit* RichEdit2 = nullptr;        // shows the running invoice's document
    QPushButton* BitBtn2 = nullptr;        // "Imprimer", the running invoice
    QPushButton* BitBtn1 = nullptr;        // "Fermer"
    QPrintDialog* PrintDialog1 = nullptr;  // made at the first print

  protected:
    // Lets the user choose the printer; false when cancelled. Tests choose without a dialog.
    virtual bool ChoosePrinter(QPrinter& printer);
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    QListWidgetItem* selectedEntry() const;
    void printDocument(QTextDocument& document);
    void report(const std::exception& error);
    void setAsideUnreadable(const QString& path);
    void loadSlice();
    bool readRunning();  // starts reading the running invoice in slices; false on an error

    std::string appFolder_;
    // The running invoice's own document, not the editor's: it needs no editor until shown.
    std::unique_ptr<QTextDocument> document_;
    std::unique_ptr<RichInvoice> invoice_;
    std::unique_ptr<RunningInvoiceFile> runningFile_;
    std::unique_ptr<QPrinter> printer_;
    // Reads the rest of a long running invoice between the window's events.
    QTimer* loadTimer_ = nullptr;
};

// The invoice manager, created fourth at start and alive until the end.
extern TfFacture* fFacture;

}  // namespace tallimer
