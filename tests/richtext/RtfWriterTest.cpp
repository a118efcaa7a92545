#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdlib>

#include "richtext/RtfReader.h"
#include "richtext/RtfShared.h"
#include "richtext/RtfWriter.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

// Every kind of content the writer knows, and a few it does not.
void BuildRichDocument(QTextDocument& doc) {
    QTextCursor c(&doc);
    QTextBlockFormat title;
    title.setAlignment(Qt::AlignHCenter);
    title.setBottomMargin(8);
    c.setBlockFormat(title);
    QTextCharFormat big;
    big.setFontWeight(QFont::Bold);
    big.setFontPointSize(14);
    big.setFontFamilies({"DejaVu Serif"});
    big.setForeground(QColor(0, 0, 128));
    c.insertText("Facture d'été", big);

    QTextBlockFormat lines;
    lines.setTabPositions({QTextOption::Tab(37.8, QTextOption::LeftTab),
                           QTextOption::Tab(491.4, QTextOption::RightTab),
                           QTextOption::Tab(264.6, QTextOption::CenterTab),
                           QTextOption::Tab(400, QTextOption::DelimiterTab, QChar(','))});
    lines.setLeftMargin(12.3);
    lines.setTextIndent(-6);
    c.insertBlock(lines);
    c.insertText("\t05 mars 01, 21:07:44\t01:02:09\t12,35", QTextCharFormat());
    c.insertBlock(lines);
    QTextCharFormat italic;
    italic.setFontItalic(true);
    QTextCharFormat under;
    under.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    QTextCharFormat strike;
    strike.setFontStrikeOut(true);
    strike.setFontPointSize(9.3);
    c.insertText("it", italic);
    c.insertText(" sous", under);
    c.insertText(" barré", strike);
    c.insertText(" {\\} €’ αβγ Жж ž 😀 \u00A0\u00AD\u2011 fin", QTextCharFormat());

    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    right.setRightMargin(20);
    right.setTopMargin(4.5);
    c.insertBlock(right);
    QTextCharFormat red;
    red.setForeground(QColor(200, 10, 10));
    red.setFontFamilies({" Police;bizarre\t "});
    c.insertText("rouge", red);
    c.insertText(QString("ligne") + QChar::LineSeparator + "suite", QTextCharFormat());

    QTextBlockFormat justify;
    justify.setAlignment(Qt::AlignJustify);
    justify.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    c.insertBlock(justify);
    c.insertText("justifié", QTextCharFormat());
    c.insertBlock(QTextBlockFormat());  // an empty last paragraph
}

}  // namespace

TEST(RtfWriter, HeaderTablesAndLineEnds) {
    QTextDocument doc;
    BuildRichDocument(doc);
    const QByteArray rtf = WriteRtf(doc);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0\r\n{\\fonttbl{\\f0\\fnil"));
    EXPECT_TRUE(rtf.endsWith("\\par\r\n}\r\n"));
    EXPECT_EQ(rtf.count('\n'), rtf.count("\r\n"));
    EXPECT_TRUE(
        rtf.contains("{\\f1\\fnil\\fcharset0 DejaVu Serif;}{\\f2\\fnil\\fcharset0 "
                     "Policebizarre;}}"));
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red0\\green0\\blue128;\\red200\\green10\\blue10;}"));
    for (const char c : rtf) EXPECT_LT(static_cast<unsigned char>(c), 0x80);

    QTextDocument plain;
    plain.setPlainText("a");
    EXPECT_FALSE(WriteRtf(plain).contains("colortbl"));
}

TEST(RtfWriter, ParagraphsAndRuns) {
    QTextDocument doc;
    BuildRichDocument(doc);
    const QByteArray rtf = WriteRtf(doc);
    EXPECT_TRUE(
        rtf.contains("\\pard\\qc\\sa120 {\\b\\f1\\fs28\\cf1 Facture d'\\'e9t\\'e9}\\par\r\n"))
        << rtf.constData();
    EXPECT_TRUE(
        rtf.contains("\\pard\\li185\\fi-90\\tx567\\tqc\\tx3969\\tqdec\\tx6000\\tqr\\tx7371 "
                     "\\tab 05 mars 01, 21:07:44\\tab 01:02:09\\tab 12,35\\par\r\n"));
    EXPECT_TRUE(
        rtf.contains("{\\i it}{\\ul  sous}{\\strike\\fs19  barr\\'e9} \\{\\\\\\} "
                     "\\'80\\'92 \\u945 ?\\u946 ?\\u947 ? \\u1046 ?\\u1078 ? \\'9e "
                     "\\u-10179 ?\\u-8704 ? \\~\\-\\_ fin\\par"));
    EXPECT_TRUE(rtf.contains("\\pard\\qr\\ri300\\sb68 {\\f2\\cf2 rouge}ligne\\line suite\\par"));
    EXPECT_TRUE(rtf.contains("\\pard\\qj\\pagebb justifi\\'e9\\par\r\n\\pard \\par\r\n}"));
}

TEST(RtfWriter, ReadingWhatWasWrittenGivesTheDocumentBack) {
    QTextDocument doc;
    BuildRichDocument(doc);
    QTextDocument back;
    ReadRtf(WriteRtf(doc), back);
    EXPECT_EQ(Paragraphs(back), Paragraphs(doc));
    EXPECT_EQ(BoldRuns(back), QStringList{Q("Facture d'été")});
    EXPECT_EQ(FormatAt(back, 0, 0).fontFamilies().toStringList(), QStringList{"DejaVu Serif"});
    EXPECT_EQ(FormatAt(back, 0, 0).foreground().color(), QColor(0, 0, 128));
    EXPECT_EQ(FormatAt(back, 2, 0).fontItalic(), true);
    EXPECT_EQ(FormatAt(back, 2, 3).fontUnderline(), true);
    EXPECT_EQ(FormatAt(back, 2, 8).fontStrikeOut(), true);
    EXPECT_EQ(FormatAt(back, 2, 8).fontPointSize(), 9.5);
    const QTextBlockFormat lines = back.findBlockByNumber(1).blockFormat();
    ASSERT_EQ(lines.tabPositions().size(), 4);
    EXPECT_EQ(lines.tabPositions()[3].type, QTextOption::RightTab);
    EXPECT_DOUBLE_EQ(lines.tabPositions()[3].position, 7371 / 15.0);
    EXPECT_EQ(back.findBlockByNumber(3).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
}

TEST(RtfWriter, WritingWhatWasReadIsAFixedPoint) {
    QTextDocument doc;
    BuildRichDocument(doc);
    std::vector<QByteArray> inputs = {WriteRtf(doc)};
    const QString samples =
        QString::fromUtf8(std::getenv("TALLIMER_SOURCE_DIR")) + "/tests/richtext/samples";
    for (const QString& name : QDir(samples).entryList({"*.rtf"})) {
        QFile f(samples + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QTextDocument sample;
        ReadRtf(f.readAll(), sample);
        inputs.push_back(WriteRtf(sample));
    }
    EXPECT_EQ(inputs.size(), 5u);
    for (const QByteArray& first : inputs) {
        QTextDocument again;
        ReadRtf(first, again);
        EXPECT_EQ(WriteRtf(again), first);
    }
}

TEST(RtfWriter, EmptyDocumentAndEmptyParagraphs) {
    QTextDocument doc;
    const QByteArray empty = WriteRtf(doc);
    EXPECT_TRUE(empty.endsWith("\\uc1\r\n\\pard \\par\r\n}\r\n"));
    QTextDocument back;
    ReadRtf(empty, back);
    EXPECT_TRUE(back.isEmpty());

    doc.setPlainText("\n\na\n\n");
    ReadRtf(WriteRtf(doc), back);
    EXPECT_EQ(Paragraphs(back), (QStringList{"", "", "a", "", ""}));
}

namespace {

std::string SourceDir() {
    const char* dir = std::getenv("TALLIMER_SOURCE_DIR");
    return dir ? dir : ".";
}

}  // namespace

TEST(RtfWriter, ThePageAndTitleOfTheTemplateGoThroughReadingAndWriting) {
    // A4 with 2 cm margins, a title with accents, and information that is not kept.
    const QByteArray templateRtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}\r\n"
        "{\\info{\\title Facture d'\\'e9t\\'e9}{\\author Le Tallimer Internet}"
        "{\\subject sujet}{\\creatim\\yr2001\\mo3\\dy5}{\\*\\company soci\\'e9t\\'e9}}\r\n"
        "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134\r\n"
        "\\pard Facture\\par}";
    const QByteArray tail =
        "}\r\n{\\info{\\title Facture d'\\'e9t\\'e9}{\\author Le Tallimer Internet}}\r\n"
        "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134\r\n\\uc1\r\n"
        "\\pard Facture\\par\r\n"
        "\\pard \\tab 05 mars 01, 21:07:44\\tab 01:02:09\\tab 12,35\\par\r\n}\r\n";

    QTextDocument doc;
    ReadRtf(templateRtf, doc);
    EXPECT_EQ(Paragraphs(doc), QStringList({"Facture"}));
    const rtf::PageSetup page = rtf::PageSetupOf(doc);
    EXPECT_EQ(page.paperWidth, 11906);
    EXPECT_EQ(page.paperHeight, 16838);
    EXPECT_EQ(page.marginLeft, 1134);
    EXPECT_EQ(page.marginRight, 1134);
    EXPECT_EQ(page.marginTop, 1134);
    EXPECT_EQ(page.marginBottom, 1134);
    EXPECT_FALSE(page.landscape);
    EXPECT_EQ(page.title, Q("Facture d'été"));
    EXPECT_EQ(page.author, "Le Tallimer Internet");

    // Lines added as the running invoice gets them, then written, read and written again.
    QTextCursor end(&doc);
    end.movePosition(QTextCursor::End);
    end.insertBlock();
    end.insertText("\t05 mars 01, 21:07:44\t01:02:09\t12,35");
    const QByteArray once = WriteRtf(doc);
    EXPECT_TRUE(once.endsWith(tail)) << once.toStdString();
    QTextDocument back;
    ReadRtf(once, back);
    EXPECT_EQ(rtf::PageSetupOf(back), page);
    EXPECT_EQ(WriteRtf(back), once);

    // A document that gave no page gets none, and the next reading forgets the last page.
    ReadRtf("{\\rtf1\\ansi Sans page\\par}", back);
    EXPECT_EQ(rtf::PageSetupOf(back), rtf::PageSetup{});
    const QByteArray plain = WriteRtf(back);
    EXPECT_FALSE(plain.contains("\\paperw") || plain.contains("\\margl") ||
                 plain.contains("\\info"))
        << plain.toStdString();
    ReadRtf(templateRtf, back);
    ReadRtf("pas du RTF", back);
    EXPECT_EQ(rtf::PageSetupOf(back), rtf::PageSetup{});

    // The installed template's page reaches what is written from it.
    QFile base(QString::fromStdString(SourceDir() + "/data/base.rtf"));
    ASSERT_TRUE(base.open(QIODevice::ReadOnly));
    QTextDocument invoice;
    ReadRtf(base.readAll(), invoice);
    EXPECT_TRUE(WriteRtf(invoice).contains(
        "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134\r\n"));
}
