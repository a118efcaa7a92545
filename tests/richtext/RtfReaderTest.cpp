#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdlib>
#include <random>

#include "richtext/RtfReader.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

QByteArray Sample(const char* name) {
    QFile f(QString::fromUtf8(std::getenv("TALLIMER_SOURCE_DIR")) + "/tests/richtext/samples/" +
            name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

QTextBlockFormat BlockFormat(const QByteArray& rtf, int block = 0) {
    QTextDocument doc;
    ReadRtf(rtf, doc);
    return doc.findBlockByNumber(block).blockFormat();
}

}  // namespace

// The import reads long invoices without a document: the same paragraphs, whatever wrote them.
TEST(RtfReader, TheParagraphsWithoutADocumentAreTheDocumentsOnes) {
    for (const char* name : {"codepages.rtf", "mac.rtf", "word97.rtf", "wordpad.rtf"})
        EXPECT_FALSE(ReadParagraphs(Sample(name)).isEmpty()) << name;
    EXPECT_FALSE(ReadParagraphs(Q("Un\r\nDeux\rTrois\u2029é\n\n").toUtf8()).isEmpty());
}

TEST(RtfReader, ParagraphsFollowParAndTheLastParLeavesNoEmptyParagraph) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1 Un\\par Deux\\par}"), (QStringList{"Un", "Deux"}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1 Un\\par Deux}"), (QStringList{"Un", "Deux"}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1 Un\\par\\par\\par Deux\\par}"),
              (QStringList{"Un", "", "", "Deux"}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1 A\\line B\\tab C\\par}"), QStringList{Q("A\u2028B\tC")});
    // Line ends in the file are not text; a backslash before one is a paragraph mark.
    EXPECT_EQ(ReadParagraphs("{\\rtf1 A\r\nB\\\r\nC}"), (QStringList{"AB", "C"}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1}"), QStringList{""});
}

TEST(RtfReader, ControlWordsTakeTheirParameterAndOneDelimitingSpace) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\b  deux espaces\\b0 x\\fs-20y}"),
              QStringList{" deux espacesxy"});
    // \'hh has exactly two digits; what follows is text.
    EXPECT_EQ(ReadParagraphs("{\\rtf1 caf\\'e9s \\'e9t\\'e9}"), QStringList{Q("cafés été")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a\\\\b\\{c\\}d}"), QStringList{"a\\b{c}d"});
}

TEST(RtfReader, NamedSymbols) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1 \\emdash\\endash\\lquote\\rquote\\ldblquote\\rdblquote"
                             "\\bullet\\~\\-\\_}"),
              QStringList{Q("\u2014\u2013\u2018\u2019\u201C\u201D\u2022\u00A0\u00AD\u2011")});
}

TEST(RtfReader, CodePagesOfTheDocumentAndOfEachFont) {
    QTextDocument doc;
    ReadRtf(Sample("codepages.rtf"), doc);
    EXPECT_EQ(Paragraphs(doc),
              (QStringList{Q("Příliš žluťoučký kůň"), Q("Счет"), Q("Αριθμός"), Q("Café")}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1\\'e2}"), QStringList{Q("Абв")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2}"), QStringList{Q("αβ")});
    // A code page we have no table for reads as 1252 rather than losing the text.
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\ansi\\ansicpg932 caf\\'e9}"), QStringList{Q("café")});
    // \cpg in a font entry wins over its charset.
    EXPECT_EQ(ReadParagraphs("{\\rtf1{\\fonttbl{\\f0\\fcharset0\\cpg1251 X;}}\\f0\\'c0}"),
              QStringList{Q("А")});
    // Raw 8-bit text, as some writers leave it, is in the code page too.
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\ansi caf\xe9}"), QStringList{Q("café")});
}

TEST(RtfReader, OldMacintoshFile) {
    QTextDocument doc;
    ReadRtf(Sample("mac.rtf"), doc);
    EXPECT_EQ(Paragraphs(doc), (QStringList{Q("Facture d'été à Paris"), Q("Coût total = 12,35")}));
    EXPECT_EQ(BoldRuns(doc), QStringList{Q("Coût total")});
    EXPECT_EQ(FormatAt(doc, 0, 0).fontFamilies().toStringList(), QStringList{"Geneva"});
    EXPECT_EQ(FormatAt(doc, 0, 0).fontPointSize(), 9.0);
}

TEST(RtfReader, UnicodeEscapesSkipTheirFallback) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1 caf\\u233?s}"), QStringList{Q("cafés")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 caf\\u233\\'e9s}"), QStringList{Q("cafés")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\uc2 \\u8364EUR}"), QStringList{Q("€R")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\uc0 \\u8364 EUR}"), QStringList{Q("€EUR")});
    // \uc is scoped by groups; a group boundary ends the skipping.
    EXPECT_EQ(ReadParagraphs("{\\rtf1{\\uc3 \\u945abc}\\u946?{\\u947}x}"), QStringList{Q("αβγx")});
    // Negative values and surrogate pairs, as 16-bit writers put them.
    EXPECT_EQ(ReadParagraphs("{\\rtf1 \\u-3?\\u-10179?\\u-8704?}"), QStringList{Q("\uFFFD😀")});
    // Lone surrogates and values out of range become U+FFFD instead of broken text.
    EXPECT_EQ(ReadParagraphs("{\\rtf1 \\u-10179?x\\u-8704?\\u99999?}"),
              QStringList{Q("\uFFFDx\uFFFD\uFFFD")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 \\u-10179?}"), QStringList{Q("\uFFFD")});
}

TEST(RtfReader, CharacterAttributesWithTheirOffFormsAndGroups) {
    QTextDocument doc;
    ReadRtf(
        "{\\rtf1 n{\\b g{\\i gi}g}\\ul u\\ul0 n\\uldb u\\ulnone n\\strike s\\strike0 n"
        "\\b\\i\\ul\\strike x\\plain n\\b1 g\\b0 n}",
        doc);
    EXPECT_EQ(Paragraphs(doc), QStringList{"nggigununsnxngn"});
    const QString expected = "-BIIBU-U-S-X-B-";  // per character: B bold, I bold+italic, ...
    const QString text = doc.begin().text();
    for (int i = 0; i < text.size(); ++i) {
        const QTextCharFormat f = FormatAt(doc, 0, i);
        const bool bold = f.fontWeight() >= QFont::DemiBold;
        const bool all = bold && f.fontItalic() && f.fontUnderline() && f.fontStrikeOut();
        QChar kind = '-';
        if (all)
            kind = 'X';
        else if (bold && f.fontItalic())
            kind = 'I';
        else if (bold)
            kind = 'B';
        else if (f.fontUnderline())
            kind = 'U';
        else if (f.fontStrikeOut())
            kind = 'S';
        if (f.fontItalic() && !bold) kind = '?';
        EXPECT_EQ(kind, expected[i]) << "character " << i << " " << text[i].toLatin1();
    }
}

TEST(RtfReader, FontsSizesAndColours) {
    QTextDocument doc;
    ReadRtf(
        "{\\rtf1\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman\\fcharset0 Times New "
        "Roman;}}{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue128;}"
        "a\\f1\\fs30 b\\cf1 c\\cf2 d\\cf0 e\\f0\\cf9 f\\f7 g}",
        doc);
    EXPECT_FALSE(FormatAt(doc, 0, 0).hasProperty(QTextFormat::FontFamilies));
    EXPECT_FALSE(FormatAt(doc, 0, 0).hasProperty(QTextFormat::FontPointSize));
    EXPECT_EQ(FormatAt(doc, 0, 1).fontFamilies().toStringList(), QStringList{"Times New Roman"});
    EXPECT_EQ(FormatAt(doc, 0, 1).fontPointSize(), 15.0);
    EXPECT_FALSE(FormatAt(doc, 0, 1).hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(FormatAt(doc, 0, 2).foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(FormatAt(doc, 0, 3).foreground().color(), QColor(0, 0, 128));
    EXPECT_FALSE(FormatAt(doc, 0, 4).hasProperty(QTextFormat::ForegroundBrush));
    // An explicit \f0 names the font; unknown fonts and colours are left out.
    EXPECT_EQ(FormatAt(doc, 0, 5).fontFamilies().toStringList(), QStringList{"Arial"});
    EXPECT_FALSE(FormatAt(doc, 0, 5).hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(FormatAt(doc, 0, 6).hasProperty(QTextFormat::FontFamilies));
}

TEST(RtfReader, ParagraphSettings) {
    const QTextBlockFormat f = BlockFormat(
        "{\\rtf1\\pard\\qc\\li720\\ri360\\fi-180\\sb120\\sa240"
        "\\tx567\\tqr\\tx7371\\tqc\\tx3969\\tqdec\\tx5000\\tb6000 x\\par}");
    EXPECT_EQ(f.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_DOUBLE_EQ(f.leftMargin(), 48);  // twips / 15
    EXPECT_DOUBLE_EQ(f.rightMargin(), 24);
    EXPECT_DOUBLE_EQ(f.textIndent(), -12);
    EXPECT_DOUBLE_EQ(f.topMargin(), 8);
    EXPECT_DOUBLE_EQ(f.bottomMargin(), 16);
    const QList<QTextOption::Tab> tabs = f.tabPositions();
    ASSERT_EQ(tabs.size(), 4);  // sorted; the bar is no stop
    EXPECT_DOUBLE_EQ(tabs[0].position, 567 / 15.0);
    EXPECT_EQ(tabs[0].type, QTextOption::LeftTab);
    EXPECT_EQ(tabs[1].type, QTextOption::CenterTab);
    EXPECT_EQ(tabs[2].type, QTextOption::DelimiterTab);
    EXPECT_EQ(tabs[2].delimiter, QChar(','));  // the French decimal point
    EXPECT_EQ(tabs[3].type, QTextOption::RightTab);
    EXPECT_DOUBLE_EQ(tabs[3].position, 7371 / 15.0);

    EXPECT_EQ(BlockFormat("{\\rtf1\\qr a\\par}").alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(BlockFormat("{\\rtf1\\qj a\\par}").alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignJustify);
    // \pard starts over; settings belong to the paragraph their \par ends.
    const QByteArray two = "{\\rtf1\\qc\\tx100 a\\par\\pard\\li100 b\\ql\\par}";
    EXPECT_EQ(BlockFormat(two, 0).alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(BlockFormat(two, 1).alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_TRUE(BlockFormat(two, 1).tabPositions().isEmpty());
    EXPECT_DOUBLE_EQ(BlockFormat(two, 1).leftMargin(), 100 / 15.0);
    // A last paragraph without \par keeps the settings of the group that wrote it.
    EXPECT_EQ(BlockFormat("{\\rtf1 {\\pard\\qc fin}}").alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    EXPECT_EQ(BlockFormat("{\\rtf1\\pard\\qr fin").alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(BlockFormat("{\\rtf1 a\\page b\\par}", 1).pageBreakPolicy(),
              QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RtfReader, DestinationsWithoutBodyTextAreSkipped) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1{\\*\\inconnu texte {\\b cache}}{\\info{\\title T}}"
                             "{\\stylesheet{\\s1 Titre;}}{\\header haut\\par}{\\footerl bas}"
                             "{\\pict\\wmetafile8 0a1b2c}{\\*\\bkmkstart b}visible}"),
              QStringList{"visible"});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 voir {\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt "
                             "{\\ul lien}}} et {\\field{\\fldinst PAGE}{\\fldrslt 3}}}"),
              QStringList{"voir lien et 3"});
    // \bin data is skipped whole, braces and backslashes included.
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a{\\*\\blipuid x}{\\pict\\bin6 }}{\\\\b}c}"),
              QStringList{"ac"});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a\\bin3 {}\\c}"), QStringList{"ac"});
}

TEST(RtfReader, WordPadStyleInvoice) {
    QTextDocument doc;
    ReadRtf(Sample("wordpad.rtf"), doc);
    EXPECT_EQ(
        Paragraphs(doc),
        (QStringList{"Facture Internet", Q("Le Tallimer Internet – période de février"),
                     Q("\tDate\tDurée\tMontant"), "\t05 mars 01, 21:07:44\t01:02:09\t12,35",
                     "\t06 mars 01, 09:15:02\t00:10:00\t1,20", "", "", Q("Coût total = 13,55"),
                     Q("Durée totale = 01:12:09"), Q("Payé le 7 mars")}));
    EXPECT_EQ(BoldRuns(doc), (QStringList{"Facture Internet", Q("\tDate\tDurée\tMontant"),
                                          Q("Coût total = 13,55"), Q("Durée totale = 01:12:09")}));
    EXPECT_EQ(doc.begin().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QList<QTextOption::Tab> tabs = doc.findBlockByNumber(3).blockFormat().tabPositions();
    ASSERT_EQ(tabs.size(), 3);
    EXPECT_EQ(tabs[2].type, QTextOption::RightTab);
    EXPECT_EQ(FormatAt(doc, 9, 0).foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(FormatAt(doc, 9, 0).fontItalic());
    EXPECT_EQ(FormatAt(doc, 0, 0).fontPointSize(), 14.0);
}

TEST(RtfReader, OldWordProcessorFileWithHeadersListsFieldsAndPictures) {
    QTextDocument doc;
    ReadRtf(Sample("word97.rtf"), doc);
    EXPECT_EQ(Paragraphs(doc),
              (QStringList{Q("Facture “Internet”"), "\t05 mars 01, 21:07:44\t01:02:09\t12,35",
                           Q("·\tLigne à puce"), "www.exemple.fr", Q("Café « ansi »"), "",
                           "Fin du document"}));
    EXPECT_EQ(BoldRuns(doc), QStringList{Q("Facture “Internet”")});
    EXPECT_TRUE(FormatAt(doc, 3, 0).fontUnderline());
    EXPECT_EQ(FormatAt(doc, 3, 0).foreground().color(), QColor(0, 0, 255));
    const QTextBlockFormat list = doc.findBlockByNumber(2).blockFormat();
    EXPECT_DOUBLE_EQ(list.leftMargin(), 24);
    EXPECT_DOUBLE_EQ(list.textIndent(), -24);
    EXPECT_EQ(doc.findBlockByNumber(1).blockFormat().tabPositions().size(), 3);
}

TEST(RtfReader, TextThatIsNotRtfIsReadAsPlainText) {
    EXPECT_FALSE(IsRtf("rtf1"));
    EXPECT_FALSE(IsRtf("{\\rt"));
    EXPECT_TRUE(IsRtf(" \r\n{\\rtf1}"));
    EXPECT_EQ(ReadParagraphs("Ligne une\r\nLigne deux\r\n"),
              (QStringList{"Ligne une", "Ligne deux"}));
    EXPECT_EQ(ReadParagraphs("a\rb\n\nc"), (QStringList{"a", "b", "", "c"}));
    EXPECT_EQ(ReadParagraphs("\xEF\xBB\xBF"
                             "caf\xC3\xA9\t1"),
              QStringList{Q("café\t1")});
    // Not UTF-8: the bytes are the Windows code page.
    EXPECT_EQ(ReadParagraphs("caf\xe9 \x80"), QStringList{Q("café €")});
    EXPECT_EQ(ReadParagraphs(QByteArray("a\0b\x01"
                                        "c",
                                        5)),
              QStringList{"abc"});
    EXPECT_EQ(ReadParagraphs("{\\rt pas du rtf}"), QStringList{"{\\rt pas du rtf}"});
    EXPECT_EQ(ReadParagraphs(""), QStringList{""});
}

TEST(RtfReader, ReplacesTheWholeDocumentAndKeepsItsUndoSetting) {
    QTextDocument doc;
    doc.setPlainText("ancien\ncontenu");
    ReadRtf("{\\rtf1 nouveau}", doc);
    EXPECT_EQ(Paragraphs(doc), QStringList{"nouveau"});
    EXPECT_TRUE(doc.isUndoRedoEnabled());
    EXPECT_FALSE(doc.isUndoAvailable());
}

// Damaged and hostile input: no crash, no hang, and what can be read is read.
TEST(RtfReaderRobustness, DeepNestingIsReadWithoutRecursion) {
    const int levels = 100000;
    QByteArray rtf = "{\\rtf1 a";
    rtf += QByteArray(levels, '{') + "\\b b" + QByteArray(levels, '}') + "c\\par}";
    QTextDocument doc;
    ReadRtf(rtf, doc);
    EXPECT_EQ(Paragraphs(doc), QStringList{"abc"});
    EXPECT_EQ(BoldRuns(doc), QStringList{"b"});
    // Unclosed, too.
    ReadRtf("{\\rtf1 " + QByteArray(levels, '{') + "x", doc);
    EXPECT_EQ(Paragraphs(doc), QStringList{"x"});
}

TEST(RtfReaderRobustness, UnbalancedAndTruncatedFiles) {
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a\\par b}} c}"), (QStringList{"a", "b c"}));
    EXPECT_EQ(ReadParagraphs("{\\rtf1 {\\b a\\par b"), (QStringList{"a", "b"}));
    for (const char* cut : {"{\\rtf1 a\\", "{\\rtf1 a\\'", "{\\rtf1 a\\'e", "{\\rtf1 a\\u",
                            "{\\rtf1 a\\u-", "{\\rtf1 a\\u233", "{\\rtf1 a\\bin99", "{\\rtf1 a{\\*",
                            "{\\rtf1 a{\\fonttbl{\\f0 Ari", "{\\rtf1 a{\\colortbl\\red9"}) {
        const QStringList p = ReadParagraphs(cut);
        ASSERT_EQ(p.size(), 1) << cut;
        EXPECT_TRUE(p[0].startsWith('a')) << cut;
    }
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a\\'e"), QStringList{"a"});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a\\u233"), QStringList{Q("aé")});
    EXPECT_EQ(ReadParagraphs("{\\rtf1 a{\\fonttbl{\\f0 Ari"), QStringList{"a"});
}

TEST(RtfReaderRobustness, HugeParametersAreClamped) {
    QTextDocument doc;
    ReadRtf(
        "{\\rtf1\\fs99999999999999999999\\li-99999999999999\\tx99999999999\\cf4294967297"
        "\\f-5 a\\u99999999999?b\\bin-5 c\\ansicpg99999999999 \\'e9\\par}",
        doc);
    EXPECT_EQ(Paragraphs(doc), QStringList{Q("a\uFFFDbcé")});
    EXPECT_EQ(doc.begin().blockFormat().tabPositions().front().position, 31680 / 15.0);
    EXPECT_EQ(ReadParagraphs("{\\rtf1\\uc99999999999 \\u233 abc}"), QStringList{Q("é")});
    EXPECT_LE(FormatAt(doc, 0, 0).fontPointSize(), 1638.0);
    EXPECT_GE(doc.begin().blockFormat().leftMargin(), -31680 / 15.0);
}

TEST(RtfReaderRobustness, NulBytesBinaryAndGarbage) {
    const char nul[] = "{\\rtf1 a\0b\\\0c\\b\0d}";
    EXPECT_EQ(ReadParagraphs(QByteArray(nul, sizeof nul - 1)), QStringList{"abcd"});
    QByteArray bin = "{\\rtf1 x{\\pict\\bin1000 ";
    for (int i = 0; i < 1000; ++i) bin += static_cast<char>(i * 7);
    bin += "}y}";
    EXPECT_EQ(ReadParagraphs(bin), QStringList{"xy"});

    // Random bytes after a valid header, and random RTF-ish tokens: anything but a crash.
    std::mt19937 rng(20010305);
    const char* pieces[] = {"{",          "}",      "\\",   "\\par ",  "\\b",  "\\u-3",
                            "\\'",        "\\bin",  "9",    "-",       "\\*",  "\\fonttbl",
                            "\\colortbl", ";",      "\\f",  "\\uc",    "\xe9", " ",
                            "\0",         "\\pard", "\\tx", "\\plain", "a"};
    QTextDocument doc;
    for (int round = 0; round < 300; ++round) {
        QByteArray junk = "{\\rtf1 ";
        const int n = static_cast<int>(rng() % 400);
        for (int i = 0; i < n; ++i) {
            if (round % 2) {
                junk += static_cast<char>(rng());
            } else {
                junk += pieces[rng() % std::size(pieces)];
            }
        }
        ReadRtf(junk, doc);
        EXPECT_GE(doc.blockCount(), 1);
        EXPECT_EQ(StreamedParagraphs(junk), Paragraphs(doc));
    }
}

TEST(RtfReaderRobustness, FiftyMegabyteFile) {
    // A large picture, the part of a big file that is skipped, then many invoice lines.
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}{\\pict\\pngblip ";
    rtf += QByteArray(45 * 1024 * 1024, 'a');
    rtf += "}\\pard\\tx567\\tx3969\\tqr\\tx7371 ";
    const QByteArray line = "\\tab 05 mars 01, 21:07:44\\tab 01:02:09\\tab 12,35\\par\r\n";
    const int lines = 5 * 1024 * 1024 / line.size();
    for (int i = 0; i < lines; ++i) rtf += line;
    rtf += "{\\b Co\\'fbt total}}";
    QTextDocument doc;
    ReadRtf(rtf, doc);
    EXPECT_EQ(doc.blockCount(), lines + 1);
    EXPECT_EQ(doc.findBlockByNumber(0).text(), "\t05 mars 01, 21:07:44\t01:02:09\t12,35");
    EXPECT_EQ(doc.lastBlock().text(), Q("Coût total"));
}
