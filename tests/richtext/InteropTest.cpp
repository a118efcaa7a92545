// RTF exchanged with real word processors, both ways. They are heavy, so these run only when
// asked for (TALLIMER_INTEROP=1, as `make interop` does) and where the program is installed.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>

#include "richtext/RichInvoice.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "tests/common/Fakes.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

#define NEED_PROGRAM(name)                                                                     \
    if (qEnvironmentVariable("TALLIMER_INTEROP") != "1") {                                     \
        GTEST_SKIP() << "word processor exchanges run with TALLIMER_INTEROP=1 (make interop)"; \
    }                                                                                          \
    if (QStandardPaths::findExecutable(name).isEmpty()) {                                      \
        GTEST_SKIP() << name << " is not installed (TALLIMER_INTEROP=1 scripts/install-deps)"; \
    }

// Runs a converter in dir with a private home, so that no user profile is touched.
void Convert(const QString& dir, const QString& program, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir + "/home");
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool finished = p.waitForFinished(180000);
    if (!finished) {
        p.kill();
        p.waitForFinished();
    }
    ASSERT_TRUE(finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        << program.toStdString() << " failed: " << p.readAll().toStdString();
}

// LibreOffice with a profile of its own; the result goes to dir/outdir.
void Soffice(const QString& dir, const QString& filter, const QString& outdir,
             const QString& input) {
    Convert(dir, "soffice",
            {"-env:UserInstallation=file://" + dir + "/profile", "--headless", "--norestore",
             "--convert-to", filter, "--outdir", dir + "/" + outdir, input});
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void Write(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

QStringList TextLines(const QByteArray& utf8) {
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.remove(u'\r');
    if (text.endsWith(u'\n')) text.chop(1);
    return text.split(u'\n');
}

QStringList WithoutTrailingEmpty(QStringList l) {
    while (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
    return l;
}

// The document every producer writes: accents, bold runs and the invoice's tab stops.
const QStringList kParagraphs = {Q("Facture d’été"), Q("\tDate\tDurée\tMontant"),
                                 "\t05 mars 01, 21:07:44\t01:02:09\t12,35",
                                 Q("Coût total = 12,35 € — réglé")};
const QStringList kBold = {"Date", Q("Durée"), "Montant", Q("Coût total")};

void ExpectInvoice(const QByteArray& rtf) {
    QTextDocument doc;
    ReadRtf(rtf, doc);
    EXPECT_EQ(WithoutTrailingEmpty(Paragraphs(doc)), kParagraphs);
    EXPECT_EQ(BoldRuns(doc), kBold);
    for (int block : {1, 2}) {
        const QList<QTextOption::Tab> tabs =
            doc.findBlockByNumber(block).blockFormat().tabPositions();
        ASSERT_EQ(tabs.size(), 3) << "paragraph " << block;
        const qreal cm = 567 / 15.0;
        EXPECT_NEAR(tabs[0].position, 1 * cm, 0.2);
        EXPECT_NEAR(tabs[1].position, 7 * cm, 0.2);
        EXPECT_NEAR(tabs[2].position, 13 * cm, 0.2);
        EXPECT_EQ(tabs[2].type, QTextOption::RightTab);
    }
}

// What this layer writes for the exchange the other way.
void BuildOurs(QTextDocument& doc, bool withTabs) {
    QTextCursor c(&doc);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    c.insertText(Q("Facture d’été"), bold);
    QTextBlockFormat tabs;
    if (withTabs) {
        tabs.setTabPositions({QTextOption::Tab(37.8, QTextOption::LeftTab),
                              QTextOption::Tab(264.6, QTextOption::LeftTab),
                              QTextOption::Tab(491.4, QTextOption::RightTab)});
        c.insertBlock(tabs);
        c.insertText("\t05 mars 01, 21:07:44\t01:02:09\t12,35", QTextCharFormat());
    }
    c.insertBlock(QTextBlockFormat());
    c.insertText(Q("Grec αβγ, russe Жж, tchèque ž, € — {accolades} \\ fin"), QTextCharFormat());
    c.insertBlock(QTextBlockFormat());
    c.insertText(Q("Coût total"), bold);
    c.insertText(" = 12,35", QTextCharFormat());
}

}  // namespace

TEST(RtfInterop, LibreOfficeRtfLoadsWithItsTextBoldAndTabStops) {
    NEED_PROGRAM("soffice");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    Write(dir + "/facture.fodt", Q(R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:style style:name="P1" style:family="paragraph"><style:paragraph-properties>
   <style:tab-stops><style:tab-stop style:position="1cm"/><style:tab-stop style:position="7cm"/>
    <style:tab-stop style:position="13cm" style:type="right"/></style:tab-stops>
  </style:paragraph-properties></style:style>
  <style:style style:name="T1" style:family="text">
   <style:text-properties fo:font-weight="bold"/></style:style>
 </office:automatic-styles>
 <office:body><office:text>
  <text:p>Facture d’été</text:p>
  <text:p text:style-name="P1"><text:tab/><text:span text:style-name="T1">Date</text:span><text:tab/><text:span text:style-name="T1">Durée</text:span><text:tab/><text:span text:style-name="T1">Montant</text:span></text:p>
  <text:p text:style-name="P1"><text:tab/>05 mars 01, 21:07:44<text:tab/>01:02:09<text:tab/>12,35</text:p>
  <text:p><text:span text:style-name="T1">Coût total</text:span> = 12,35 € — réglé</text:p>
 </office:text></office:body>
</office:document>
)"));
    Soffice(dir, "rtf", "out", "facture.fodt");
    ExpectInvoice(ReadAll(dir + "/out/facture.rtf"));
}

TEST(RtfInterop, AbiWordRtfLoadsWithItsTextBoldAndTabStops) {
    NEED_PROGRAM("abiword");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    Write(dir + "/facture.abw", Q(R"(<?xml version="1.0" encoding="UTF-8"?>
<abiword template="false" fileformat="1.1">
<section>
<p>Facture d’été</p>
<p props="tabstops:1cm/L,7cm/L,13cm/R">	<c props="font-weight:bold">Date</c>	<c props="font-weight:bold">Durée</c>	<c props="font-weight:bold">Montant</c></p>
<p props="tabstops:1cm/L,7cm/L,13cm/R">	05 mars 01, 21:07:44	01:02:09	12,35</p>
<p><c props="font-weight:bold">Coût total</c> = 12,35 € — réglé</p>
</section>
</abiword>
)"));
    Convert(dir, "abiword", {"--to=rtf", "-o", "facture.rtf", "facture.abw"});
    ExpectInvoice(ReadAll(dir + "/facture.rtf"));
}

TEST(RtfInterop, PandocRtfLoadsWithItsTextAndBold) {
    NEED_PROGRAM("pandoc");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    // Markdown has no tab stops; accents, typography and bold it has.
    Write(dir + "/facture.md", Q("Facture d'été\n\nLigne **en gras** puis *italique* — crème "
                                 "brûlée, 12,35 €\n\n**Coût total = 12,35**\n"));
    Convert(dir, "pandoc",
            {"-s", "-f", "markdown", "-t", "rtf", "-o", "facture.rtf", "facture.md"});
    QTextDocument doc;
    ReadRtf(ReadAll(dir + "/facture.rtf"), doc);
    EXPECT_EQ(
        WithoutTrailingEmpty(Paragraphs(doc)),
        (QStringList{Q("Facture d’été"), Q("Ligne en gras puis italique — crème brûlée, 12,35 €"),
                     Q("Coût total = 12,35")}));
    EXPECT_EQ(BoldRuns(doc), (QStringList{"en gras", Q("Coût total = 12,35")}));
    EXPECT_TRUE(FormatAt(doc, 1, 19).fontItalic());
}

TEST(RtfInterop, OurRtfReadByLibreOfficeGivesTheSameText) {
    NEED_PROGRAM("soffice");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    QTextDocument doc;
    BuildOurs(doc, true);
    ASSERT_NO_THROW(SaveRtfFile(doc, dir + "/facture.rtf"));
    Soffice(dir, "txt:Text (encoded):UTF8", "out", "facture.rtf");
    EXPECT_EQ(TextLines(ReadAll(dir + "/out/facture.txt")), Paragraphs(doc));

    // And back through LibreOffice's own RTF: text, bold and tab stops survive.
    Soffice(dir, "rtf:Rich Text Format", "again", "facture.rtf");
    QTextDocument back;
    ReadRtf(ReadAll(dir + "/again/facture.rtf"), back);
    EXPECT_EQ(WithoutTrailingEmpty(Paragraphs(back)), Paragraphs(doc));
    EXPECT_EQ(BoldRuns(back), BoldRuns(doc));
    const QList<QTextOption::Tab> ours = doc.findBlockByNumber(1).blockFormat().tabPositions();
    const QList<QTextOption::Tab> theirs = back.findBlockByNumber(1).blockFormat().tabPositions();
    ASSERT_EQ(theirs.size(), ours.size());
    for (qsizetype i = 0; i < ours.size(); ++i) {
        EXPECT_NEAR(theirs[i].position, ours[i].position, 0.2);  // a twip or two of rounding
        EXPECT_EQ(theirs[i].type, ours[i].type);
    }
}

TEST(RtfInterop, OurRtfReadByAbiWordGivesTheSameText) {
    NEED_PROGRAM("abiword");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    QTextDocument doc;
    BuildOurs(doc, true);
    ASSERT_NO_THROW(SaveRtfFile(doc, dir + "/facture.rtf"));
    Convert(dir, "abiword", {"--to=txt", "-o", "facture.txt", "facture.rtf"});
    EXPECT_EQ(TextLines(ReadAll(dir + "/facture.txt")), Paragraphs(doc));
}

TEST(RtfInterop, OurRtfReadByPandocGivesTheSameTextAndBold) {
    NEED_PROGRAM("pandoc");
    TempDir tmp;
    const QString dir = QString::fromStdString(tmp.path().string());
    QTextDocument doc;
    BuildOurs(doc, false);  // pandoc has no tab stops
    ASSERT_NO_THROW(SaveRtfFile(doc, dir + "/facture.rtf"));
    Convert(dir, "pandoc", {"-f", "rtf", "-t", "html", "-o", "facture.html", "facture.rtf"});
    const QString html = QString::fromUtf8(ReadAll(dir + "/facture.html"));
    EXPECT_TRUE(html.contains(Q("<strong>Facture d’été</strong>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(Q("Grec αβγ, russe Жж, tchèque ž, € — {accolades} \\ fin")));
    EXPECT_TRUE(html.contains(Q("<strong>Coût total</strong> = 12,35")));
}
