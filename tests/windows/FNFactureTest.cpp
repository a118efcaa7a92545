// The invoice manager and the running invoice, with the real rich-text layer on real files.
#include "windows/FNFacture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QListWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "accounts/AccountFiles.h"
#include "controls/ErrorReport.h"
#include "controls/Onlineip.h"
#include "controls/Trayicon.h"
#include "invoices/Invoices.h"
#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "shell/HeadlessTray.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "tests/common/Fakes.h"
#include "tests/common/qt/DialogChecks.h"
#include "windows/FNPrinc.h"

using namespace tallimer;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

namespace {

const char* kTemplate =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\pard\\tx600\\tx3000\\tx4500 "
    "Facture Internet\\par\\pard\\tx600\\tx3000\\tx4500 \\tab Date\\tab Dur\\'e9e\\tab "
    "Montant\\par}";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The printer choice without a dialog: prints to a PDF file, or cancels.
class Manager : public TfFacture {
  public:
    using TfFacture::TfFacture;
    QString pdf;
    bool cancel = false;
    int choices = 0;

  protected:
    bool ChoosePrinter(QPrinter& printer) override {
        ++choices;
        if (cancel) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    }
};

class ManagerTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::vector<std::string> reports;
    ErrorReportHandler previous;

    ManagerTest() {
        previous = SetErrorReportHandler(
            [this](QObject*, const std::exception& e) { reports.push_back(e.what()); });
        WriteFile(dir.path() / "base.rtf", kTemplate);
        fs::create_directory(dir.path() / "Factures");
    }
    ~ManagerTest() override { SetErrorReportHandler(previous); }

    std::string folder() const { return dir.str(); }
    fs::path factures() const { return dir.path() / "Factures"; }

    static QString TextOf(const QString& path) {
        QTextDocument doc;
        LoadRtfFile(doc, path);
        return doc.toPlainText();
    }
    static QStringList Names(QListWidget* list) {
        QStringList names;
        for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
        return names;
    }
    // Opens the manager as the main window does; `inside` runs while it is shown.
    static bool Open(TfFacture& manager, const std::function<void()>& inside = {}) {
        bool shown = false;
        QTimer::singleShot(0, &manager, [&] {
            shown = manager.isVisible();
            if (inside) inside();
            manager.BitBtn1->click();
        });
        manager.OpenFromMainWindow();
        // A window that did not close would still be waiting for the timer's click.
        QCoreApplication::processEvents();
        return shown;
    }
    static void Select(TfFacture& manager, const QString& name) {
        auto found = manager.FileListBox1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        manager.FileListBox1->setCurrentItem(found[0]);
    }
};

TEST_F(ManagerTest, ListsFiltersShowsAndDeletes) {
    WriteFile(
        factures() / "Maison 05 mars 01.rtf",
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard Maison\\par\\b Co\\'fbt total = 3,00\\par}");
    WriteFile(factures() / "Bureau 05 mars 01.RTF", "{\\rtf1\\ansi Bureau\\par}");
    WriteFile(factures() / "notes.txt", "{\\b pas du RTF}\n\tdeux\n");
    WriteFile(factures() / "LISEZMOI", "sans point");
    WriteFile(factures() / ".cache", "hidden");
    fs::create_directory(factures() / "dossier.rtf");

    Manager manager(folder());
    EXPECT_EQ(manager.windowTitle(), "Gestion des factures internet");
    ASSERT_EQ(manager.FilterComboBox1->count(), 2);
    EXPECT_EQ(manager.FilterComboBox1->itemText(0), "Factures RTF");
    EXPECT_EQ(manager.FilterComboBox1->itemText(1), "Tous fichiers");

    Open(manager, [&] {
        EXPECT_EQ(Names(manager.FileListBox1),
                  QStringList({"Bureau 05 mars 01.RTF", "Maison 05 mars 01.rtf"}));
        Select(manager, "Maison 05 mars 01.rtf");
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "Maison\nCoût total = 3,00");

        manager.FilterComboBox1->setCurrentIndex(1);
        EXPECT_EQ(Names(manager.FileListBox1),
                  QStringList({".cache", "Bureau 05 mars 01.RTF", "LISEZMOI",
                               "Maison 05 mars 01.rtf", "notes.txt"}));
        Select(manager, "notes.txt");
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "{\\b pas du RTF}\n\tdeux");

        // Deleting leaves the deleted text in the viewer and nothing selected.
        manager.Button1->click();
        EXPECT_FALSE(fs::exists(factures() / "notes.txt"));
        EXPECT_EQ(Names(manager.FileListBox1), QStringList({".cache", "Bureau 05 mars 01.RTF",
                                                            "LISEZMOI", "Maison 05 mars 01.rtf"}));
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "{\\b pas du RTF}\n\tdeux");
        manager.Button1->click();  // nothing selected: nothing deleted
        EXPECT_EQ(manager.FileListBox1->count(), 4);

        for (const char* name : {"LISEZMOI", "Bureau 05 mars 01.RTF", "Maison 05 mars 01.rtf"}) {
            Select(manager, name);
            manager.Button1->click();
        }
        EXPECT_EQ(Names(manager.FileListBox1), QStringList({".cache"}));
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "Maison\nCoût total = 3,00");
    });
    EXPECT_TRUE(fs::exists(factures() / ".cache"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ManagerTest, OpensWithNothingChosenAndOnlyASelectedEntryIsDeleted) {
    WriteFile(factures() / "Bureau 05 mars 01.rtf", "{\\rtf1\\ansi Bureau\\par}");
    WriteFile(factures() / ".Point 05 mars 01.rtf", "{\\rtf1\\ansi Point\\par}");
    Manager manager(folder());
    const QStringList all = {".Point 05 mars 01.rtf", "Bureau 05 mars 01.rtf"};
    Open(manager, [&] { Select(manager, "Bureau 05 mars 01.rtf"); });
    Open(manager, [&] {
        // A second opening starts afresh too: no entry chosen, nothing in the viewer.
        EXPECT_EQ(Names(manager.FileListBox1), all);
        EXPECT_TRUE(manager.FileListBox1->selectedItems().isEmpty());
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "");
        // The list taking the focus makes a row current, which is no choice of the user's.
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(manager.FileListBox1, &in);
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "");
        manager.Button1->click();
        EXPECT_EQ(Names(manager.FileListBox1), all);
        test::SaveScreenshot(manager, "invoice-manager-opened");

        // A provider name that begins with a dot is viewed and deleted like any other.
        Select(manager, ".Point 05 mars 01.rtf");
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "Point");
        manager.Button1->click();
        EXPECT_EQ(Names(manager.FileListBox1), QStringList({"Bureau 05 mars 01.rtf"}));
    });
    EXPECT_FALSE(fs::exists(factures() / ".Point 05 mars 01.rtf"));
    EXPECT_TRUE(fs::exists(factures() / "Bureau 05 mars 01.rtf"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ManagerTest, AFileThatCannotBeOpenedLeavesTheViewerAsItWas) {
    WriteFile(factures() / "a.rtf", "{\\rtf1 premier\\par}");
    WriteFile(factures() / "b.rtf", "{\\rtf1 second\\par}");
    Manager manager(folder());
    Open(manager, [&] {
        Select(manager, "a.rtf");
        fs::remove(factures() / "b.rtf");  // gone behind the list's back
        Select(manager, "b.rtf");
        EXPECT_EQ(manager.RichEdit1->toPlainText(), "premier");
    });
    EXPECT_EQ(reports, std::vector<std::string>{"Impossible d'ouvrir le fichier " + folder() +
                                                "Factures/b.rtf"});
}

TEST_F(ManagerTest, FirstStartShowsTheTemplateAndClosingKeepsIt) {
    Manager manager(folder());
    const QString shown = manager.RichEdit2->toPlainText();
    EXPECT_EQ(shown, "Facture Internet\n\tDate\tDurée\tMontant");
    EXPECT_FALSE(fs::exists(dir.path() / "temp.rtf"));
    EXPECT_TRUE(Open(manager, [&] {
        // Fixed size, centred on the screen.
        EXPECT_EQ(manager.minimumSize(), manager.maximumSize());
        const QPoint centre = manager.screen()->availableGeometry().center();
        EXPECT_LE((manager.frameGeometry().center() - centre).manhattanLength(), 1);
    }));
    EXPECT_FALSE(manager.isVisible());
    ASSERT_TRUE(fs::exists(dir.path() / "temp.rtf"));
    EXPECT_EQ(TextOf(Q(folder() + "temp.rtf")), shown);
    EXPECT_EQ(ReadFile(dir.path() / "base.rtf"), kTemplate);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ManagerTest, TypedTextSurvivesClosingAndARestart) {
    {
        Manager manager(folder());
        Open(manager, [&] {
            manager.RichEdit2->setFocus();
            manager.RichEdit2->moveCursor(QTextCursor::End);
            QTest::keyClick(manager.RichEdit2, Qt::Key_Return);
            QTest::keyClick(manager.RichEdit2, Qt::Key_Tab);
            QTest::keyClicks(manager.RichEdit2, "Remise fid");
            QTest::sendKeyEvent(QTest::Click, manager.RichEdit2, Qt::Key_Eacute, QString("é"),
                                Qt::NoModifier);
            QTest::keyClicks(manager.RichEdit2, "lit");
            QTest::sendKeyEvent(QTest::Click, manager.RichEdit2, Qt::Key_Eacute, QString("é"),
                                Qt::NoModifier);
            QTest::keyClick(manager.RichEdit2, Qt::Key_Tab);
            QTest::keyClicks(manager.RichEdit2, "-2,00");
            EXPECT_TRUE(manager.RichEdit2->toPlainText().endsWith("\tRemise fidélité\t-2,00"));
        });
    }
    Manager restarted(folder());
    Open(restarted);  // the kept invoice is read when the manager opens
    EXPECT_EQ(restarted.RichEdit2->toPlainText(),
              "Facture Internet\n\tDate\tDurée\tMontant\n\tRemise fidélité\t-2,00");
}

TEST_F(ManagerTest, LinesAreWrittenAtOnceWithoutTheWindow) {
    DateTime when = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    {
        Manager manager(folder());
        manager.RunningFile().AddLine(when, msTIME::Hms(1, 2, 9, 0), 12.3456f);
        EXPECT_EQ(
            TextOf(Q(folder() + "temp.rtf")),
            "Facture Internet\n\tDate\tDurée\tMontant\n\t05 mars 01, 21:07:44\t01:02:09\t12,35");
        manager.RunningFile().AddLine(when, 0, 9.5f);
    }  // no close, no exit save: as after a crash
    Manager restarted(folder());
    EXPECT_EQ(restarted.RichEdit2->toPlainText(), "");  // not read before it is needed
    restarted.RunningFile().AddLine(when, 1000, 0.5f);
    Open(restarted);
    EXPECT_EQ(restarted.RichEdit2->toPlainText(),
              "Facture Internet\n\tDate\tDurée\tMontant\n\t05 mars 01, 21:07:44\t01:02:09\t12,35\n"
              "\t05 mars 01, 21:07:44\t00:00:00\t9,50\n"
              "\t05 mars 01, 21:07:44\t00:00:01\t0,50");
}

class RunningClosingTest : public ManagerTest {
  protected:
    Account account;
    DateTime when = EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2});
    RunningClosingTest() {
        account.periodCost = 12.3456f;
        account.periodDuration = msTIME::Hms(3, 4, 5, 0);
        account.packageEnabled = true;
        account.packageDuration = msTIME::Hms(20, 0, 0, 0);
        account.packageRemaining = msTIME::Hms(7, 0, 0, 0);
        account.nextInvoice = EncodeDate(2001, 3, 5);
    }
};

TEST_F(RunningClosingTest, TheArchiveHasTheLinesAndBoldTotalsAndTheTemplateComesBack) {
    Manager manager(folder());
    manager.RunningFile().AddLine(when, msTIME::Hms(1, 2, 9, 0), 12.3456f);
    manager.RunningFile().ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6));

    const QString archive = Q(folder() + "Factures/Maison 05 mars 01.rtf");
    QTextDocument filed;
    LoadRtfFile(filed, archive);
    EXPECT_EQ(filed.toPlainText(),
              "Facture Internet\n\tDate\tDurée\tMontant\n\t05 mars 01, 21:07:44\t01:02:09\t12,35\n"
              "\n\nCoût total = 12,35\nDurée totale = 03:04:05\nForfait restant = 07:00:00");
    int bold = 0;
    for (QTextBlock b = filed.begin(); b.isValid(); b = b.next()) {
        if (b.text().isEmpty()) continue;
        const bool isTotal = b.text().contains(" = ");
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            EXPECT_EQ(it.fragment().charFormat().fontWeight() >= QFont::Bold, isTotal)
                << b.text().toStdString();
        }
        bold += isTotal;
    }
    EXPECT_EQ(bold, 3);

    EXPECT_EQ(manager.RichEdit2->toPlainText(), "Facture Internet\n\tDate\tDurée\tMontant");
    EXPECT_EQ(TextOf(Q(folder() + "temp.rtf")), "Facture Internet\n\tDate\tDurée\tMontant");
    EXPECT_EQ(account.nextInvoice, EncodeDate(2001, 4, 5));
    // What comes next is not bold.
    manager.RunningFile().AddLine(when, 0, 1);
    EXPECT_FALSE(manager.RichEdit2->document()->lastBlock().charFormat().font().bold());
    EXPECT_TRUE(reports.empty());
}

// The running invoice is shared: a closing files the closing account's lines (and lines of
// nobody's) and leaves the others' for their own closing, across a restart. Each file is the
// one an invoice of that account's lines alone gives, as every closing always wrote it.
TEST_F(RunningClosingTest, AClosingFilesItsOwnAccountsLinesAndKeepsTheOthers) {
    struct Line {
        int second;
        msTIME duration;
        float amount;
        std::optional<std::string> account;  // none: typed by hand
    };
    const std::string club = "Club Internet";
    const std::vector<Line> lines = {{0, 1000, 0.5f, "Maison"},
                                     {1, 2000, 0.25f, club},
                                     {2, 0, 9.5f, "Maison"},
                                     {3, 3000, 1, std::nullopt},
                                     {4, 4000, 2, club}};
    auto add = [&](TfFacture& manager, const Line& l, bool named) {
        manager.RunningFile().AddLine(EncodeDateTime({2001, 3, 5, 21, 7, 44 + l.second, 0, 2}),
                                      l.duration, l.amount, named ? l.account : std::nullopt);
    };
    {
        Manager running(folder());
        for (const Line& l : lines) add(running, l, true);
    }
    Manager restarted(folder());

    TempDir single;
    WriteFile(single.path() / "base.rtf", kTemplate);
    Manager alone(single.str());
    const std::string today = "Factures/Maison 05 mars 01.rtf";
    const std::string later = "Factures/" + club + " 05 mars 01.rtf";
    for (const Line& l : lines)
        if (l.account != club) add(alone, l, false);
    for (const std::string& name : {std::string("Maison"), club}) {
        Account mine = account, theirs = account;
        // With the manager open: it shows the lines kept, as they are read back.
        Open(restarted, [&] {
            restarted.closePeriod(mine, name, EncodeDate(2001, 3, 6));
            EXPECT_EQ(restarted.RichEdit2->toPlainText(), TextOf(Q(folder() + "temp.rtf")));
        });
        alone.RunningFile().ClosePeriod(theirs, name, EncodeDate(2001, 3, 6));
        if (name == "Maison")
            for (const Line& l : lines)
                if (l.account == club) add(alone, l, false);
        const std::string filed = name == club ? later : today;
        EXPECT_EQ(ReadFile(dir.path() / filed), ReadFile(single.path() / filed)) << name;
        EXPECT_EQ(ReadFile(dir.path() / "temp.rtf"), ReadFile(single.path() / "temp.rtf")) << name;
    }
    EXPECT_TRUE(reports.empty());
}

// Whatever the invoice's size and accounts, and whether its file is copied or the document
// written, the archive and the new running invoice are the bytes the writer gives them.
TEST_F(RunningClosingTest, AClosingFilesTheWritersBytesAtAnySize) {
    const std::string club = "Club Internet", filed = "Factures/Maison 05 mars 01.rtf";
    const Locale fr = Locale::french();
    const DateTime today = EncodeDate(2001, 3, 6);
    auto record = [](const std::string& name, const std::string& text) {
        return std::to_string(name.size()) + " " + name + text + "\r\n";
    };
    for (const int count : {100, 100000}) {
        for (const bool mixed : {false, true}) {
            SCOPED_TRACE(testing::Message() << count << (mixed ? " lines, three accounts" : ""));
            TempDir run, ref;
            for (const TempDir* d : {&run, &ref}) {
                WriteFile(d->path() / "base.rtf", kTemplate);
                fs::create_directory(d->path() / "Factures");
            }
            // The invoice the program keeps, written by the writer.
            QTextDocument doc;
            RichInvoice writer(&doc, ref.str());
            writer.loadRtf(ref.str() + "base.rtf");
            const std::size_t first = writer.paragraphCount();
            std::string owners;
            std::vector<std::size_t> leftOut;
            std::vector<std::string> kept, keptNames;
            for (int i = 0; i < count; ++i) {
                // Lines two by two the same, of one account or two.
                const std::string text = InvoiceLineText(when + i / 2 / 86400.0, i / 2 * 1000,
                                                         0.01f * static_cast<float>(i / 2), fr);
                writer.appendParagraph(text);
                // Every third line another account's, some a third one's; every seventh
                // typed by hand (no record); once a record of a line a crash kept out.
                const std::string name = !mixed        ? "Maison"
                                         : i % 3 == 1  ? club
                                         : i % 11 == 4 ? "Wanadoo"
                                                       : "Maison";
                if (mixed && i == count / 2) owners += record(club, "\t01 janv. 01, 00:00:00");
                if (mixed && i % 7 == 0) continue;
                owners += record(name, text);
                if (name != "Maison") {
                    leftOut.push_back(first + static_cast<std::size_t>(i));
                    kept.push_back(text);
                    keptNames.push_back(name);
                }
            }
            WriteFile(run.path() / "temp.rtf", WriteRtf(doc).toStdString());
            WriteFile(run.path() / "lignes.inf", owners);

            Account theirs = account, mine = account;
            ArchiveInvoice(theirs, "Maison", ref.str(), writer, fr, leftOut);
            writer.loadRtf(ref.str() + "base.rtf");
            for (const std::string& text : kept) writer.appendParagraph(text);
            writer.saveRtf(ref.str() + "temp.rtf");

            Manager manager(run.str());
            // Filed and kept from the bytes: the document is never read.
            int most = 0;
            QObject::connect(manager.RichEdit2->document(), &QTextDocument::blockCountChanged,
                             [&](int blocks) { most = std::max(most, blocks); });
            manager.RunningFile().ClosePeriod(mine, "Maison", today);
            EXPECT_LE(most, static_cast<int>(first) + 1);
            EXPECT_EQ(ReadFile(run.path() / filed), ReadFile(ref.path() / filed));
            EXPECT_EQ(ReadFile(run.path() / "temp.rtf"), ReadFile(ref.path() / "temp.rtf"));
            if (!mixed) continue;
            // The kept lines, once read, close with their own account in turn.
            EXPECT_EQ(manager.RunningInvoice().paragraphCount(), first + kept.size());
            leftOut.clear();
            for (std::size_t i = 0; i < kept.size(); ++i)
                if (keptNames[i] != club) leftOut.push_back(first + i);
            theirs = mine = account;
            ArchiveInvoice(theirs, club, ref.str(), writer, fr, leftOut);
            manager.RunningFile().ClosePeriod(mine, club, today);
            const std::string clubs = "Factures/" + club + " 05 mars 01.rtf";
            EXPECT_EQ(ReadFile(run.path() / clubs), ReadFile(ref.path() / clubs));
        }
    }

    // A file changed behind the program's back is not copied: the document is filed.
    Manager manager(folder());
    manager.RunningFile().AddLine(when, 1000, 0.5f);
    TempDir ref;
    fs::copy_file(dir.path() / "temp.rtf", ref.path() / "temp.rtf");
    WriteFile(dir.path() / "temp.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard Autre\\par}");
    QTextDocument doc;
    RichInvoice writer(&doc, ref.str());
    writer.loadRtf(ref.str() + "temp.rtf");
    Account theirs = account;
    ArchiveInvoice(theirs, "Maison", ref.str(), writer, fr);
    manager.RunningFile().ClosePeriod(account, "Maison", today);
    EXPECT_EQ(ReadFile(factures() / "Maison 05 mars 01.rtf"), ReadFile(ref.path() / filed));
    EXPECT_TRUE(reports.empty());
}

// A closing that keeps other accounts' lines, cut short at each of its file calls: the next
// start finishes it, or the next connection makes it again, and the files are the same.
TEST_F(RunningClosingTest, AClosingKeepingOthersLinesCutAnywhereEndsTheSame) {
    const DateTime today = EncodeDate(2001, 3, 6);
    auto lay = [&](const TempDir& d) {
        WriteFile(d.path() / "base.rtf", kTemplate);
        fs::create_directory(d.path() / "Factures");
        ASSERT_TRUE(SaveAccountFile(d.str(), "Maison", account));
        Manager running(d.str());
        for (int i = 0; i < 6; ++i)
            running.RunningFile().AddLine(when + i, 1000 * i, 0.5f * static_cast<float>(i),
                                          i % 2 ? "Club Internet" : "Maison");
    };
    auto files = [](const TempDir& d) {
        return ReadFile(d.path() / "Factures" / "Maison 05 mars 01.rtf") + "|" +
               ReadFile(d.path() / "temp.rtf") + "|" + ReadFile(d.path() / "lignes.inf");
    };
    TempDir whole;
    lay(whole);
    Account closed = account;
    Manager(whole.str()).RunningFile().ClosePeriod(closed, "Maison", today);
    int calls = 0;
    for (int crashAt = 0;; ++crashAt) {
        TempDir dir;
        lay(dir);
        {
            Manager cut(dir.str());
            Account mine = account;
            calls = 0;
            SetFileCallHook(
                [&](FileCall, const std::string&) { return calls++ < crashAt ? 0 : EIO; });
            try {
                cut.RunningFile().ClosePeriod(mine, "Maison", today);
            } catch (const FileError&) {
            }
            SetFileCallHook({});
        }
        if (calls <= crashAt) break;
        Manager restarted(dir.str());
        AccountCollection accounts;
        OverallState state;
        LoadAll(dir.str(), accounts, state);
        restarted.RunningFile().Recover(accounts, state);
        Account& after = *accounts.find("Maison");
        if (after.nextInvoice == account.nextInvoice)
            restarted.RunningFile().ClosePeriod(after, "Maison", today);
        EXPECT_EQ(files(dir), files(whole)) << crashAt;
        if (HasFailure()) return;
    }
    EXPECT_GT(calls, 10);
}

TEST_F(RunningClosingTest, AnUnwritableFolderLeavesTheRunningInvoiceAsItWas) {
    fs::remove(factures());
    WriteFile(factures(), "not a folder");
    Manager manager(folder());
    manager.RunningFile().AddLine(when, 1000, 1);
    const QString before = manager.RichEdit2->toPlainText();
    const std::string kept = ReadFile(dir.path() / "temp.rtf");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(manager.RunningFile().ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6)),
                     FileError);
        EXPECT_EQ(manager.RichEdit2->toPlainText(), before);
        EXPECT_EQ(ReadFile(dir.path() / "temp.rtf"), kept);
        EXPECT_EQ(account.nextInvoice, EncodeDate(2001, 3, 5));
        EXPECT_EQ(account.periodCost, 12.3456f);
    }
    // The manager cannot make its folder either: said, and not shown.
    EXPECT_FALSE(Open(manager));
    EXPECT_EQ(reports,
              std::vector<std::string>{"Impossible de créer le fichier " + folder() + "Factures"});
}

TEST_F(ManagerTest, AMissingFolderIsMadeWhenTheManagerOpens) {
    fs::remove(factures());
    Manager manager(folder());
    EXPECT_TRUE(Open(manager, [&] { EXPECT_EQ(manager.FileListBox1->count(), 0); }));
    EXPECT_TRUE(fs::is_directory(factures()));
    // Each opening reads the folder afresh.
    WriteFile(factures() / "Maison 05 mars 01.rtf", "{\\rtf1 mars\\par}");
    EXPECT_TRUE(Open(manager, [&] {
        EXPECT_EQ(Names(manager.FileListBox1), QStringList{"Maison 05 mars 01.rtf"});
    }));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ManagerTest, ARunningInvoiceThatCannotBeWrittenKeepsItsLinesAndTheWindow) {
    Manager manager(folder());
    fs::create_directory(dir.path() / "temp.rtf");  // nothing can replace a folder
    manager.RunningFile().AddLine(EncodeDate(2001, 3, 5), 1000, 2);
    const std::string message = "Impossible de créer le fichier " + folder() + "temp.rtf";
    EXPECT_EQ(reports, std::vector<std::string>{message});
    EXPECT_TRUE(
        manager.RichEdit2->toPlainText().endsWith("\t05 mars 01, 00:00:00\t00:00:01\t2,00"));

    manager.show();
    manager.BitBtn1->click();
    EXPECT_TRUE(manager.isVisible());  // not saved: stays open
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_FALSE(manager.SaveRunning());

    fs::remove(dir.path() / "temp.rtf");
    manager.BitBtn1->click();
    EXPECT_FALSE(manager.isVisible());
    EXPECT_TRUE(manager.SaveRunning());
    EXPECT_TRUE(TextOf(Q(folder() + "temp.rtf")).endsWith("\t00:00:01\t2,00"));
}

TEST_F(ManagerTest, AnUnreadableKeptInvoiceIsSetAsideNotOverwritten) {
    fs::create_directory(dir.path() / "temp.rtf");
    WriteFile(dir.path() / "temp.rtf" / "inside", "lines");
    Manager manager(folder());
    EXPECT_EQ(reports,
              std::vector<std::string>{"Impossible d'ouvrir le fichier " + folder() + "temp.rtf"});
    EXPECT_EQ(manager.RichEdit2->toPlainText(), "");
    EXPECT_EQ(ReadFile(dir.path() / "temp illisible.rtf" / "inside"), "lines");
    EXPECT_TRUE(manager.SaveRunning());
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "temp.rtf"));
}

TEST_F(ManagerTest, NoTemplateStartsEmpty) {
    fs::remove(dir.path() / "base.rtf");
    Manager manager(folder());
    EXPECT_EQ(reports,
              std::vector<std::string>{"Impossible d'ouvrir le fichier " + folder() + "base.rtf"});
    EXPECT_EQ(manager.RichEdit2->toPlainText(), "");
}

TEST_F(ManagerTest, PrintsEitherDocumentAsOneJob) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "pdftotext is not installed";
    WriteFile(factures() / "Maison 05 mars 01.rtf", "{\\rtf1\\ansi Archive de mars\\par}");
    Manager manager(folder());
    manager.RunningFile().AddLine(EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2}), 1000, 2);
    auto pdfText = [](const QString& pdf) {
        QProcess p;
        p.start("pdftotext", {"-layout", pdf, "-"});
        p.waitForFinished();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    Open(manager, [&] {
        manager.pdf = Q(folder() + "running.pdf");
        manager.BitBtn2->click();
        Select(manager, "Maison 05 mars 01.rtf");
        manager.pdf = Q(folder() + "archive.pdf");
        manager.BitBtn3->click();
        manager.cancel = true;
        manager.pdf = Q(folder() + "cancelled.pdf");
        manager.BitBtn2->click();
    });
    EXPECT_EQ(manager.choices, 3);
    const QString running = pdfText(Q(folder() + "running.pdf"));
    EXPECT_TRUE(running.contains("Facture Internet")) << running.toStdString();
    EXPECT_TRUE(running.contains("05 mars 01, 21:07:44")) << running.toStdString();
    EXPECT_TRUE(running.contains("2,00")) << running.toStdString();
    EXPECT_TRUE(pdfText(Q(folder() + "archive.pdf")).contains("Archive de mars"));
    QProcess info;
    info.start("pdfinfo", {Q(folder() + "running.pdf")});
    info.waitForFinished();
    const QString about = QString::fromUtf8(info.readAllStandardOutput());
    EXPECT_TRUE(about.contains(QRegularExpression("Title: +Facture Internet\n")))
        << about.toStdString();
    EXPECT_FALSE(fs::exists(dir.path() / "cancelled.pdf"));
}

// A notification area that accepts everything, as a run without a display has.
using QuietTray = tallimer::HeadlessTray;

TEST_F(ManagerTest, TheMainWindowLogsClosesOpensAndSavesThroughTheManager) {
    fs::create_directory(dir.path() / "Comptes");
    Account modem;
    modem.nextInvoice = EncodeDate(2001, 3, 5);  // passed: the next start closes the period
    modem.creditDuration = 0;
    modem.pricePerSecond = 0.01f;
    WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(modem));
    WriteFile(dir.path() / "temp.rtf", "{\\rtf1\\ansi Facture Internet\\par\\tab ancienne\\par}");
    test::FakeClock clock;  // 7 March 2001, 10:00
    test::FakeConnectionName names;
    names.name = "Modem";
    test::FakeCounters counters;
    QuietTray tray;
    const PrincDependencies d{folder(),  &clock, &names,
                              &counters, &tray,  [] { return std::vector<std::string>{}; }};
    TfPrinc princ(d);
    princ.OnlineIP1->SetEnabled(false);
    Manager manager(folder());
    princ.SetInvoiceDesk(&manager);

    princ.bnGo->trigger();  // closes the period: the old lines are filed
    EXPECT_EQ(TextOf(Q(folder() + "Factures/Modem 05 mars 01.rtf")),
              "Facture Internet\n\tancienne\n\n\nCoût total = 0,00\nDurée totale = 00:00:00");
    EXPECT_EQ(TextOf(Q(folder() + "temp.rtf")), "Facture Internet\n\tDate\tDurée\tMontant");
    clock.advance(1000);
    princ.meter().TimerTick();
    clock.advance(2000);
    princ.meter().TimerTick();
    princ.bnGo->trigger();
    const QString line = "\t07 mars 01, 10:00:03\t00:00:02\t0,02";
    EXPECT_TRUE(TextOf(Q(folder() + "temp.rtf")).endsWith(line));

    EXPECT_TRUE(Open(manager, [&] { EXPECT_EQ(manager.FileListBox1->count(), 1); }));
    QTimer::singleShot(0, &manager, [&] { manager.BitBtn1->click(); });
    princ.BitBtn2->trigger();
    EXPECT_FALSE(manager.isVisible());

    manager.RichEdit2->moveCursor(QTextCursor::End);
    manager.RichEdit2->insertPlainText(" vu");
    princ.EndWithoutAsking();
    EXPECT_TRUE(TextOf(Q(folder() + "temp.rtf")).endsWith(line + " vu"));
    EXPECT_TRUE(reports.empty());
}

// Someone checking a bill reads the amounts column: an archive made from the installed
// template shows it whole in the viewer, without scrolling sideways.
TEST_F(RunningClosingTest, TheViewerShowsTheInstalledTemplatesAmountColumn) {
    const char* source = std::getenv("TALLIMER_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    fs::copy_file(fs::path(source) / "data" / "base.rtf", dir.path() / "base.rtf",
                  fs::copy_options::overwrite_existing);
    Manager manager(folder());
    manager.RunningFile().AddLine(when, msTIME::Hms(23, 59, 59, 0), 1234.5f);
    manager.RunningFile().ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6));
    EXPECT_TRUE(Open(manager, [&] {
        Select(manager, "Maison 05 mars 01.rtf");
        QCoreApplication::processEvents();
        ASSERT_TRUE(manager.RichEdit1->toPlainText().contains("1235,00"));
        EXPECT_EQ(manager.RichEdit1->horizontalScrollBar()->maximum(), 0);
        EXPECT_EQ(manager.RichEdit2->horizontalScrollBar()->maximum(), 0);
    }));
    EXPECT_TRUE(reports.empty());
}

// The program builds the manager's controls only when it first opens. Whatever happened
// before (lines, a closing, a restart over the kept invoice), the files must be those an
// editor built at once would have written, and the editor must show every line.
TEST_F(RunningClosingTest, ControlsBuiltAtFirstOpeningChangeNoByteAndShowEveryLine) {
    // An editors' font unlike the application's: the files name the default font first, and
    // a bare document's would be the application's.
    struct EditorFont {
        QFont previous = QApplication::font("QTextEdit");
        EditorFont() { QApplication::setFont(QFont("Tallimer Serif", 11), "QTextEdit"); }
        ~EditorFont() { QApplication::setFont(previous, "QTextEdit"); }
    } editorFont;
    QTextEdit editor;
    editor.ensurePolished();  // as in the window, where laying it out polishes it
    const QString editorFamily = editor.document()->defaultFont().family();
    ASSERT_NE(editorFamily, QTextDocument().defaultFont().family());

    const char* source = std::getenv("TALLIMER_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    struct Run {
        std::string temp, archive, first, restarted, shown, kept;
    };
    auto run = [&](const fs::path& where, TfFacture::Controls controls) {
        fs::copy_file(fs::path(source) / "data" / "base.rtf", where / "base.rtf",
                      fs::copy_options::overwrite_existing);
        fs::create_directories(where / "Factures");
        const std::string folder = where.string() + "/";
        Account period = account;
        Run r;
        {
            Manager manager(folder, nullptr, controls);
            InvoiceDesk& desk = manager;
            desk.addLine(when, msTIME::Hms(1, 2, 9, 0), 12.3456f, "Maison");
            desk.addLine(when, 0, 9.5f, "Maison");
            desk.closePeriod(period, "Maison", EncodeDate(2001, 3, 6));
            desk.addLine(when, 1000, 0.5f, "Maison");
            desk.addLine(when, msTIME::Hms(0, 59, 59, 0), 1234.5f, "Maison");
            if (controls == TfFacture::Controls::AtFirstOpening) {
                EXPECT_EQ(manager.RichEdit2, nullptr);
            }
            r.temp = ReadFile(where / "temp.rtf");
            r.archive = ReadFile(where / "Factures" / "Maison 05 mars 01.rtf");
            EXPECT_TRUE(Open(manager, [&] {
                r.first = manager.RichEdit2->toPlainText().toStdString();
                desk.addLine(when, 3000, 2.5f, "Maison");  // shown while open, written at once
            }));
        }  // no exit save: as after a crash
        Manager restarted(folder, nullptr, controls);
        restarted.addLine(when, 2000, 1.25f, "Maison");
        r.restarted = ReadFile(where / "temp.rtf");
        EXPECT_TRUE(
            Open(restarted, [&] { r.shown = restarted.RichEdit2->toPlainText().toStdString(); }));
        r.kept = ReadFile(where / "temp.rtf");
        return r;
    };
    TempDir other;
    const Run atOnce = run(dir.path(), TfFacture::Controls::AtOnce);
    const Run later = run(other.path(), TfFacture::Controls::AtFirstOpening);

    EXPECT_EQ(later.temp, atOnce.temp);
    EXPECT_EQ(later.archive, atOnce.archive);
    EXPECT_EQ(later.first, atOnce.first);
    EXPECT_EQ(later.restarted, atOnce.restarted);
    EXPECT_EQ(later.shown, atOnce.shown);
    EXPECT_EQ(later.kept, atOnce.kept);
    // Both as an editor's own document would have them: its font first, every line there.
    for (const std::string* file : {&later.temp, &later.archive, &later.kept})
        EXPECT_NE(
            file->find("{\\fonttbl{\\f0\\fnil\\fcharset0 " + editorFamily.toStdString() + ";}"),
            std::string::npos);
    QTextDocument written;
    ReadRtf(QByteArrayView(later.temp.data(), static_cast<qsizetype>(later.temp.size())), written);
    EXPECT_EQ(QString::fromStdString(later.first), written.toPlainText());
    EXPECT_EQ(QString::fromStdString(later.shown), TextOf(Q(other.str() + "temp.rtf")));
    EXPECT_TRUE(TextOf(Q(other.str() + "Factures/Maison 05 mars 01.rtf"))
                    .contains("\t05 mars 01, 21:07:44\t00:00:00\t9,50\n"));
    for (const char* line :
         {"\t05 mars 01, 21:07:44\t00:00:01\t0,50\n", "\t05 mars 01, 21:07:44\t00:00:03\t2,50\n"})
        EXPECT_NE(later.shown.find(line), std::string::npos) << line;
    EXPECT_TRUE(later.shown.ends_with("\t05 mars 01, 21:07:44\t00:00:02\t1,25"));
    EXPECT_TRUE(reports.empty());
}

}  // namespace
