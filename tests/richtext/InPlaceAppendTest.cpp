// Lines appended to the running invoice's file in place, without reading it: the file must
// get exactly the bytes a whole rewrite would give it, or be rewritten whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QTextCursor>
#include <QTextDocument>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "support/Errors.h"
#include "support/FileWrite.h"
#include "tests/common/Fakes.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;
namespace fs = std::filesystem;

namespace {

std::string TemplatePath() {
    return std::string(std::getenv("TALLIMER_SOURCE_DIR")) + "/data/base.rtf";
}

QByteArray Bytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

// A second name for the file as it is now: it sees writes in place, not a replacement.
struct Watch {
    fs::path file, link;
    explicit Watch(const fs::path& f) : file(f), link(f.string() + ".watch") {
        fs::remove(link);
        fs::create_hard_link(file, link);
    }
    bool inPlace() const { return ReadFile(file) == ReadFile(link); }
};

CharAttributes Attributes(bool b, bool i, bool u, bool s) {
    CharAttributes a;
    a.bold = b;
    a.italic = i;
    a.underline = u;
    a.strikeOut = s;
    return a;
}

// Documents ending in every way the writer can end one.
std::vector<std::function<void(QTextDocument&)>> Documents() {
    auto block = [](QTextDocument& doc, const QTextBlockFormat& bf,
                    std::initializer_list<std::pair<QString, QTextCharFormat>> runs) {
        QTextCursor c(&doc);
        c.movePosition(QTextCursor::End);
        if (!doc.isEmpty()) c.insertBlock(bf);
        c.setBlockFormat(bf);
        for (const auto& [text, format] : runs) c.insertText(text, format);
    };
    QTextCharFormat rich;
    rich.setFontWeight(QFont::Bold);
    rich.setFontUnderline(true);
    rich.setFontFamilies({"Courier New"});
    rich.setFontPointSize(9.5);
    rich.setForeground(QColor(0, 0, 128));
    QTextCharFormat sized;
    sized.setFontPointSize(14);
    sized.setFontStrikeOut(true);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    centred.setLeftMargin(20);
    centred.setTextIndent(-10);
    centred.setBottomMargin(4);
    centred.setTabPositions({QTextOption::Tab(40, QTextOption::RightTab),
                             QTextOption::Tab(200, QTextOption::CenterTab)});
    return {
        [](QTextDocument& doc) { LoadRtfFile(doc, QString::fromStdString(TemplatePath())); },
        [=](QTextDocument& doc) {
            block(doc, centred, {{"Titre", sized}});
            block(doc, centred, {{"plain ", {}}, {"a\\b{c}\té€😀 \u00a0x", rich}});
        },
        [=](QTextDocument& doc) {
            block(doc, {}, {{"gras ", rich}, {"puis rien", {}}});
        },
        [=](QTextDocument& doc) {
            block(doc, centred, {{"x", rich}}), block(doc, {}, {});
        },
    };
}

const std::vector<std::string> kTexts = {"\t05 mars 01, 21:07:44\t01:02:09\t12,35",
                                         "\n\nCoût total = 3,00", "a{b}c\\d\té€😀\u2028\u0001",
                                         "x\r\ny", ""};

}  // namespace

TEST(InPlaceAppend, GivesTheBytesOfAWholeRewriteWithoutReadingTheFile) {
    TempDir dir;
    const fs::path file = dir.path() / "temp.rtf";
    const std::vector<CharAttributes> attributes = {{},
                                                    Attributes(true, false, false, false),
                                                    Attributes(false, true, true, false),
                                                    Attributes(true, true, true, true)};
    int inPlace = 0;
    for (const auto& make : Documents()) {
        QTextDocument original;
        make(original);
        const QByteArray old = WriteRtf(original);
        for (std::size_t a = 0; a < attributes.size(); ++a) {
            for (const std::string& text : kTexts) {
                SCOPED_TRACE(old.toStdString() + "\n+ [" + text + "] attributes " +
                             std::to_string(a));
                // What the program did before: the whole document read, appended, written.
                QTextDocument whole;
                ReadRtf(old, whole);
                ASSERT_EQ(WriteRtf(whole), old);
                RichInvoice expected(&whole);
                expected.setAppendAttributes(attributes[a]);
                expected.appendParagraph(text);
                expected.setAppendAttributes(attributes[(a + 1) % attributes.size()]);
                expected.appendParagraph(kTexts[0]);

                WriteFile(file, old.toStdString());
                const Watch watch(file);
                QTextDocument editor;
                RichInvoice invoice(&editor);
                invoice.openKept(file.string());
                invoice.setAppendAttributes(attributes[a]);
                invoice.appendParagraph(text);
                invoice.saveRtf(file.string());
                invoice.setAppendAttributes(attributes[(a + 1) % attributes.size()]);
                invoice.appendParagraph(kTexts[0]);
                invoice.saveRtf(file.string());
                EXPECT_EQ(Bytes(ReadFile(file)), WriteRtf(whole));
                if (watch.inPlace()) {
                    ++inPlace;
                    EXPECT_FALSE(invoice.loaded());
                }
                // An empty last paragraph says nothing of its character format: rewritten.
                if (old.endsWith(" \\par\r\n}\r\n")) {
                    EXPECT_FALSE(watch.inPlace());
                }
                invoice.load();
                EXPECT_EQ(WriteRtf(editor), WriteRtf(whole));
            }
        }
    }
    // Every document but the one ending empty, with every text but the empty one (the
    // line after it has no character format to take either).
    EXPECT_EQ(inPlace, 3 * 4 * static_cast<int>(kTexts.size() - 1));
}

// A closing leaves other accounts' lines out of a kept file and finds them by their text:
// from the bytes, what the document gives, or nothing done when that cannot be told.
TEST(InPlaceAppend, LinesLeftOutAndFoundFromTheFileAreTheDocuments) {
    TempDir dir;
    const std::string file = (dir.path() / "temp.rtf").string(),
                      filed = (dir.path() / "filed.rtf").string(),
                      ref = (dir.path() / "ref.rtf").string();
    const std::vector<std::string> texts = {kTexts[0], "a{b}c\\d\té€😀 日本",
                                            "\t06 mars 01, 08:00:00\t00:00:01\t0,02"};
    const std::vector<std::string> totals = {"\n\nCoût total = 3,00", "Durée totale = 00:00:03"};
    const CharAttributes bold = Attributes(true, false, false, false);
    // A line that alone brings a font and a colour into the tables.
    QTextCharFormat own;
    own.setFontFamilies({"Times New Roman"});
    own.setForeground(QColor(200, 0, 0));
    std::mt19937 random(26);
    for (const auto& make : Documents()) {
        QTextDocument original;
        make(original);
        RichInvoice lines(&original);
        for (int i = 0; i < 12; ++i) lines.appendParagraph(texts[i % texts.size()]);
        QTextCursor middle(original.findBlockByNumber(original.blockCount() - 4));
        middle.insertText(QString::fromStdString(texts[1]), own);
        middle.insertBlock();
        const QByteArray old = WriteRtf(original);
        const int count = original.blockCount();
        int copied = 0;
        for (int round = 0; round < 30; ++round) {
            std::vector<std::size_t> leftOut;
            for (int i = 1; i <= count; ++i)
                if (random() % 3 == 0) leftOut.push_back(static_cast<std::size_t>(i));
            SCOPED_TRACE(old.toStdString() + "\nround " + std::to_string(round));
            // The document's way; the last line not yet saved.
            QTextDocument whole;
            ReadRtf(old, whole);
            RichInvoice expected(&whole);
            expected.appendParagraph(texts[2]);
            WriteFile(file, old.toStdString());
            QTextDocument editor;
            RichInvoice invoice(&editor);
            invoice.openKept(file);
            invoice.appendParagraph(texts[2]);
            EXPECT_EQ(invoice.findParagraphs(texts), expected.findParagraphs(texts));
            expected.setAppendAttributes(bold);
            for (const std::string& text : totals) expected.appendParagraph(text);
            expected.saveRtfWithout(ref, leftOut);
            if (invoice.saveRtfAppended(filed, totals, bold, leftOut)) {
                ++copied;
                EXPECT_EQ(ReadFile(filed), ReadFile(ref));
            }
            EXPECT_FALSE(invoice.loaded());
        }
        EXPECT_GT(copied, 0);
    }
}

TEST(InPlaceAppend, TheShownDocumentAndTheFileStayInStepUntilTheUserEdits) {
    TempDir dir;
    const std::string file = (dir.path() / "temp.rtf").string();
    fs::copy_file(TemplatePath(), file);
    QTextDocument editor;
    RichInvoice invoice(&editor);
    invoice.openKept(file);
    invoice.appendParagraph("\tavant");
    invoice.saveRtf(file);  // the template's own end is not the writer's: rewritten once
    const Watch watch(file);
    invoice.appendParagraph("\tfermé");
    invoice.saveRtf(file);
    invoice.load();
    invoice.appendParagraph("\tmontré");
    invoice.saveRtf(file);
    EXPECT_TRUE(watch.inPlace());
    EXPECT_EQ(Bytes(ReadFile(file)), WriteRtf(editor));
    EXPECT_EQ(Paragraphs(editor).mid(3), (QStringList{"\tavant", Q("\tfermé"), Q("\tmontré")}));

    QTextCursor typing(&editor);
    typing.movePosition(QTextCursor::End);
    typing.insertText(" (vu)");
    invoice.appendParagraph("\taprès");
    invoice.saveRtf(file);
    EXPECT_FALSE(watch.inPlace());
    EXPECT_EQ(Bytes(ReadFile(file)), WriteRtf(editor));
    EXPECT_TRUE(Paragraphs(editor).endsWith(Q("\taprès")));
}

TEST(InPlaceAppend, AFileChangedBehindItsBackOrAFullDiskLosesNoLine) {
    TempDir dir;
    const std::string file = (dir.path() / "temp.rtf").string();
    QTextDocument first;
    LoadRtfFile(first, QString::fromStdString(TemplatePath()));
    WriteFile(file, WriteRtf(first).toStdString());

    QTextDocument editor;
    RichInvoice invoice(&editor);
    invoice.openKept(file);
    invoice.appendParagraph("\tune");
    invoice.saveRtf(file);

    // The disk full at the reservation, or at the write itself: the file as it was.
    const std::string before = ReadFile(file);
    invoice.appendParagraph("\tdeux");
    for (int failing : {1, 2}) {
        int writes = 0;
        SetFileCallHook([&](FileCall call, const std::string&) {
            return call == FileCall::Write && ++writes == failing ? ENOSPC : 0;
        });
        EXPECT_THROW(invoice.saveRtf(file), FileError);
        SetFileCallHook({});
        EXPECT_EQ(ReadFile(file), before);
    }

    // Another writer adds a line of its own.
    QTextDocument otherDoc;
    RichInvoice other(&otherDoc);
    other.openKept(file);
    other.appendParagraph("\td'ailleurs");
    other.saveRtf(file);

    invoice.appendParagraph("\ttrois");
    invoice.saveRtf(file);
    QTextDocument back;
    LoadRtfFile(back, QString::fromStdString(file));
    EXPECT_EQ(Paragraphs(back).mid(3), (QStringList{"\tune", "\td'ailleurs", "\tdeux", "\ttrois"}));
    EXPECT_EQ(Bytes(ReadFile(file)), WriteRtf(back));

    // Deleted while never read: what it held is still written back with the next line.
    QTextDocument laterDoc;
    RichInvoice later(&laterDoc);
    later.openKept(file);
    fs::remove(file);
    later.appendParagraph("\tquatre");
    later.saveRtf(file);
    LoadRtfFile(back, QString::fromStdString(file));
    EXPECT_EQ(Paragraphs(back).mid(3),
              (QStringList{"\tune", "\td'ailleurs", "\tdeux", "\ttrois", "\tquatre"}));
}

// A child adds lines in a loop, saying each one once its save has returned; it is killed
// at a random moment. The file must read back with every line said, in order.
TEST(InPlaceAppend, AKillAtAnyMomentKeepsEveryLineWhoseSaveReturned) {
    const std::string writer = (BuildDir() / "tests" / "invoice_writer").string();
    TempDir dir;
    const std::string file = (dir.path() / "temp.rtf").string();
    fs::copy_file(TemplatePath(), file);
    std::mt19937 random(20261207);
    int expectedLines = 0;
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        QProcess child;
        child.start(QString::fromStdString(writer),
                    {QString::fromStdString(file), QString::number(trial)});
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(child.waitForReadyRead(10000));  // a first line is on disk
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished();
        const QList<QByteArray> said = child.readAllStandardOutput().split('\n');
        int lines = 0;
        for (const QByteArray& s : said) lines += s == "ok";

        QTextDocument back;
        LoadRtfFile(back, QString::fromStdString(file));
        const QStringList paragraphs = Paragraphs(back);
        int found = 0;
        for (const QString& p : paragraphs) {
            if (p.startsWith("\t#" + QString::number(trial) + " ")) {
                EXPECT_EQ(p, "\t#" + QString::number(trial) + " " + QString::number(found) + "\té");
                ++found;
            }
        }
        EXPECT_GE(found, lines);
        EXPECT_LE(found, lines + 1);  // the one being written may be there already
        expectedLines += lines;
    }
    EXPECT_GT(expectedLines, 50);
}
