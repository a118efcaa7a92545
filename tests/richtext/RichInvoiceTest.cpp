#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTextDocument>
#include <QTextEdit>
#include <cstdlib>
#include <filesystem>

#include "richtext/RichInvoice.h"
#include "richtext/RtfWriter.h"
#include "support/Errors.h"
#include "tests/common/Fakes.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

std::string TemplatePath() {
    return std::string(std::getenv("TALLIMER_SOURCE_DIR")) + "/data/base.rtf";
}

const char* kLine = "\t05 mars 01, 21:07:44\t01:02:09\t12,35";

std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(InvoiceTemplate, TitleAndColumnTitlesWithTheTabStopsOfTheLines) {
    const std::string bytes = ReadFile(TemplatePath());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.rfind("{\\rtf1\\ansi\\ansicpg1252", 0), 0u);
    std::size_t lf = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++lf;
            EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_GT(lf, 3u);

    QTextDocument doc;
    LoadRtfFile(doc, QString::fromStdString(TemplatePath()));
    EXPECT_EQ(Paragraphs(doc), (QStringList{"Facture Internet", "Le Tallimer Internet",
                                            Q("\tDate\tDurée\tMontant")}));
    const QList<QTextOption::Tab> tabs = doc.lastBlock().blockFormat().tabPositions();
    ASSERT_EQ(tabs.size(), 3);
    EXPECT_LT(tabs[0].position, tabs[1].position);
    EXPECT_LT(tabs[1].position, tabs[2].position);
    EXPECT_EQ(tabs[2].type, QTextOption::RightTab);
}

TEST(RichInvoice, LinesGoAtTheEndWithTheLastParagraphsTabStops) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    ASSERT_EQ(invoice.paragraphCount(), 3u);
    const QTextBlockFormat columns = doc.lastBlock().blockFormat();

    invoice.appendParagraph(kLine);
    invoice.appendParagraph("\t06 mars 01, 09:15:02\t00:00:00\t1,20");
    EXPECT_EQ(invoice.paragraphCount(), 5u);
    EXPECT_EQ(doc.findBlockByNumber(3).text(), kLine);
    EXPECT_EQ(doc.lastBlock().blockFormat().tabPositions(), columns.tabPositions());
    // Same font as the column titles, but not their bold.
    const QTextCharFormat line = FormatAt(doc, 4, 1);
    EXPECT_EQ(line.fontWeight(), QFont::Normal);
    EXPECT_EQ(line.fontFamilies().toStringList(), QStringList{"Arial"});

    invoice.setAppendAttributes({.bold = true});
    invoice.appendParagraph(Q("\n\nCoût total = 13,55").toStdString());
    invoice.appendParagraph(Q("Durée totale = 01:02:09").toStdString());
    EXPECT_EQ(invoice.paragraphCount(), 9u);
    EXPECT_EQ(Paragraphs(doc).mid(5),
              (QStringList{"", "", Q("Coût total = 13,55"), Q("Durée totale = 01:02:09")}));
    EXPECT_EQ(BoldRuns(doc).mid(2),
              (QStringList{Q("Coût total = 13,55"), Q("Durée totale = 01:02:09")}));
}

TEST(RichInvoice, AppendAttributesAndWhatLoadingDoesToThem) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    EXPECT_EQ(invoice.appendAttributes(), CharAttributes{});
    const CharAttributes all{true, true, true, true};
    invoice.setAppendAttributes(all);
    EXPECT_EQ(invoice.appendAttributes(), all);
    invoice.appendParagraph("x");
    const QTextCharFormat f = FormatAt(doc, 0, 0);
    EXPECT_TRUE(f.fontWeight() >= QFont::Bold && f.fontItalic() && f.fontUnderline() &&
                f.fontStrikeOut());
    // A new document starts with plain text again.
    invoice.loadRtf(TemplatePath());
    EXPECT_EQ(invoice.appendAttributes(), CharAttributes{});
}

TEST(RichInvoice, AnEmptyDocumentGetsItsFirstParagraphFilled) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    EXPECT_EQ(invoice.paragraphCount(), 0u);
    invoice.appendParagraph("a");
    EXPECT_EQ(Paragraphs(doc), QStringList{"a"});
    invoice.appendParagraph("b\r\nc\n");
    EXPECT_EQ(Paragraphs(doc), (QStringList{"a", "b", "c", ""}));
    EXPECT_EQ(invoice.paragraphCount(), 4u);
}

TEST(RichInvoice, TruncatingLeavesExactlyTheEarlierContent) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    invoice.appendParagraph(kLine);
    const QByteArray before = WriteRtf(doc);
    const std::size_t count = invoice.paragraphCount();

    invoice.setAppendAttributes({.bold = true});
    invoice.appendParagraph(Q("\n\nCoût total = 12,35").toStdString());
    invoice.appendParagraph("Forfait restant = 10:00:00");
    invoice.truncateParagraphs(count);
    EXPECT_EQ(invoice.paragraphCount(), count);
    EXPECT_EQ(WriteRtf(doc), before);
    invoice.truncateParagraphs(count + 5);  // nothing to take back
    EXPECT_EQ(WriteRtf(doc), before);

    // Down to nothing, and the same again from an empty start.
    invoice.truncateParagraphs(0);
    EXPECT_TRUE(doc.isEmpty());
    QTextDocument empty;
    RichInvoice fresh(&empty);
    fresh.appendParagraph("a\nb");
    fresh.truncateParagraphs(0);
    EXPECT_EQ(fresh.paragraphCount(), 0u);
    EXPECT_EQ(WriteRtf(empty), WriteRtf(QTextDocument()));
}

TEST(RichInvoice, TheUserCannotUndoALineTheProgramAppended) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    QTextCursor user(&doc);
    user.insertText("note ");
    ASSERT_TRUE(doc.isUndoAvailable());
    invoice.appendParagraph(kLine);
    doc.undo();
    EXPECT_EQ(doc.lastBlock().text(), kLine);
    const std::size_t count = invoice.paragraphCount();
    invoice.appendParagraph("x");
    invoice.truncateParagraphs(count);
    doc.undo();
    EXPECT_EQ(invoice.paragraphCount(), count);
    EXPECT_FALSE(doc.isUndoAvailable());
}

TEST(RichInvoice, AppendingLeavesTheUsersCursorAlone) {
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    QTextEdit edit;
    edit.setDocument(&doc);
    QTextCursor user = edit.textCursor();
    user.setPosition(3);
    edit.setTextCursor(user);
    invoice.appendParagraph(kLine);
    EXPECT_EQ(edit.textCursor().position(), 3);
    EXPECT_EQ(doc.lastBlock().text(), kLine);
    edit.setDocument(nullptr);
}

TEST(RichInvoice, SaveReplacesTheFileThroughASiblingAndLoadReadsItBack) {
    TempDir dir;
    const std::string path = dir.str() + "temp.rtf";
    WriteFile(path, "ancien contenu");
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    invoice.appendParagraph(kLine);
    invoice.saveRtf(path);
    EXPECT_EQ(ReadFile(path), WriteRtf(doc).toStdString());
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"temp.rtf"});

    QTextDocument other;
    RichInvoice reloaded(&other);
    reloaded.loadRtf(path);
    EXPECT_EQ(Paragraphs(other), Paragraphs(doc));
    EXPECT_EQ(WriteRtf(other), WriteRtf(doc));
}

TEST(RichInvoice, SaveFailureNamesThePathAndLeavesTheOldFile) {
    QTextDocument doc;
    doc.setPlainText("facture");
    RichInvoice invoice(&doc);
    std::vector<std::string> unwritable = {"/proc/tallimer-facture.rtf",
                                           "/nonexistent-folder/temp.rtf"};
    TempDir dir;
    const std::filesystem::path locked = dir.path() / "verrou";
    std::filesystem::create_directory(locked);
    WriteFile(locked / "temp.rtf", "ancien");
    std::filesystem::permissions(
        locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    unwritable.push_back(dir.str());  // a folder is not a file
    for (const std::string& path : unwritable) {
        try {
            invoice.saveRtf(path);
            ADD_FAILURE() << "saved to " << path;
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Impossible de créer le fichier " + path);
            EXPECT_EQ(e.path(), path);
        }
    }
    EXPECT_EQ(ReadFile(locked / "temp.rtf"), "ancien");
    EXPECT_EQ(FilesIn(locked), std::vector<std::string>{"temp.rtf"});
    // A folder that refuses new names but holds a file that may be written: the save lands
    // in place (root writes anyway).
    invoice.saveRtf((locked / "temp.rtf").string());
    EXPECT_EQ(ReadFile(locked / "temp.rtf"), WriteRtf(doc).toStdString());
    EXPECT_EQ(FilesIn(locked), std::vector<std::string>{"temp.rtf"});
}

TEST(RichInvoice, LoadFailureNamesThePathAndLeavesTheDocument) {
    TempDir dir;
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(TemplatePath());
    invoice.appendParagraph(kLine);
    const QByteArray before = WriteRtf(doc);
    for (const std::string& path : {dir.str() + "absent.rtf", dir.str()}) {
        try {
            invoice.loadRtf(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier " + path);
        }
        EXPECT_EQ(WriteRtf(doc), before);
    }
    try {
        LoadRtfFile(doc, QString::fromStdString(dir.str() + "absent.rtf"));
        ADD_FAILURE();
    } catch (const FileError&) {
    }
    EXPECT_EQ(WriteRtf(doc), before);
}

TEST(RichInvoice, AFileThatIsNotRtfLoadsAsPlainText) {
    TempDir dir;
    WriteFile(dir.path() / "notes.txt", "Factures de mars\r\nsans mise en forme\r\n");
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(dir.str() + "notes.txt");
    EXPECT_EQ(Paragraphs(doc), (QStringList{"Factures de mars", "sans mise en forme"}));
    EXPECT_EQ(invoice.paragraphCount(), 2u);
}
