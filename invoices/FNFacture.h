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

class QComboBox;
class QGroupBox;
class QListWidget;
class QListWidgetItem;
class QPrintDialog;
class QPrinter;
class QPushButton;
class QTextDocument;
class QTextEdit;

namespace tallimer {

class RichInvoice;

class TfFacture : public QDialog {
    Q_OBJECT
  public:
    // Builds the window and takes the running invoice from appFolder (with its trailing
    // separator): "temp.rtf" when kept (read into the editor only when the window opens or
    // something needs its content), else the template "base.rtf".
    explicit TfFacture(const std::string& appFolder, QWidget* parent = nullptr);
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

    // Handlers, named after their control and event.
    void FormCreate();
    bool FormClose();  // false: "temp.rtf" could not be written, the window stays open
    void FileListBox1Change();
    void FilterComboBox1Change();
    void Button1Click();
    void BitBtn3Click();
    void BitBtn2Click();
    void BitBtn1Click();
    // Reads the file names of "Factures" that match the chosen filter; false when the
    // folder cannot be read.
    bool ReadFileList();

    // Controls, named as in the window's description.
    QGroupBox* GroupBox1;
    QListWidget* FileListBox1;
    QComboBox* FilterComboBox1;
    QTextEdit* RichEdit1;
    QPushButton* Button1;
    QPushButton* BitBtn3;
    QGroupBox* GroupBox2;
    QTextEdit* RichEdit2;
    QPushButton* BitBtn2;
    QPushButton* BitBtn1;
    QPrintDialog* PrintDialog1 = nullptr;  // made at the first print

  protected:
    // Lets the user choose the printer; false when cancelled. Tests choose without a dialog.
    virtual bool ChoosePrinter(QPrinter& printer);
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    QListWidgetItem* selectedEntry() const;
    void printDocument(QTextDocument& document);
    void report(const std::exception& error);
    void setAsideUnreadable(const QString& path);

    std::string appFolder_;
    std::unique_ptr<RichInvoice> invoice_;
    std::unique_ptr<RunningInvoiceFile> runningFile_;
    std::unique_ptr<QPrinter> printer_;
};

// The invoice manager, created fourth at start and alive until the end.
extern TfFacture* fFacture;

}  // namespace tallimer
