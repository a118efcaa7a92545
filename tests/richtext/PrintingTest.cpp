#include <gtest/gtest.h>

#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdlib>

#include "richtext/Printing.h"
#include "richtext/RichInvoice.h"
#include "tests/common/Fakes.h"
#include "tests/richtext/RtfTestSupport.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

QString Output(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool PrintToPdf(const QTextDocument& doc, const QString& pdf) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return PrintDocument(doc, printer);
}

}  // namespace

TEST(Printing, OneJobTitledFactureInternetPageAfterPage) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty() ||
        QStandardPaths::findExecutable("pdfinfo").isEmpty()) {
        GTEST_SKIP() << "pdftotext and pdfinfo (poppler-utils) are needed";
    }
    TempDir dir;
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText("Page un");
    QTextBlockFormat breakBefore;
    breakBefore.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    c.insertBlock(breakBefore);
    c.insertText(Q("Page deux, Durée"));
    c.insertBlock(breakBefore);
    c.insertText("Page trois");
    const QString pdf = QString::fromStdString(dir.str() + "facture.pdf");
    ASSERT_TRUE(PrintToPdf(doc, pdf));

    const QString info = Output("pdfinfo", {pdf});
    EXPECT_TRUE(info.contains(QRegularExpression("Pages:\\s+3\\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Title:\\s+Facture Internet\\n")));
    const QStringList pages = {"Page un", Q("Page deux, Durée"), "Page trois"};
    for (int page = 1; page <= 3; ++page) {
        const QString text = Output(
            "pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
        EXPECT_EQ(text.trimmed(), pages[page - 1]);
    }
}

TEST(Printing, ALongInvoiceRunsOverSeveralPagesWithEveryLine) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) {
        GTEST_SKIP() << "pdftotext (poppler-utils) is needed";
    }
    TempDir dir;
    QTextDocument doc;
    RichInvoice invoice(&doc);
    invoice.loadRtf(std::string(std::getenv("TALLIMER_SOURCE_DIR")) + "/data/base.rtf");
    for (int i = 0; i < 150; ++i) {
        invoice.appendParagraph("\t05 mars 01, 21:07:" + std::to_string(10 + i % 50) +
                                "\t01:02:09\t" + std::to_string(i) + ",35");
    }
    const QString pdf = QString::fromStdString(dir.str() + "longue.pdf");
    ASSERT_TRUE(PrintToPdf(doc, pdf));
    const QString info = Output("pdfinfo", {pdf});
    const auto pages = QRegularExpression("Pages:\\s+(\\d+)").match(info);
    ASSERT_TRUE(pages.hasMatch()) << info.toStdString();
    EXPECT_GE(pages.captured(1).toInt(), 3);
    const QString text = Output("pdftotext", {"-layout", pdf, "-"});
    EXPECT_TRUE(text.contains("Facture Internet"));
    for (int i = 0; i < 150; ++i) {
        const QRegularExpression line("01:02:09\\s+" + QString::number(i) + ",35\\n");
        EXPECT_TRUE(text.contains(line)) << i;
    }
}

TEST(Printing, TheDocumentsOwnMarginsPlaceTheText) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) {
        GTEST_SKIP() << "pdftotext (poppler-utils) is needed";
    }
    TempDir dir;
    // Where the word starts and its top on the page, in points.
    auto place = [&](const QByteArray& margins) {
        QTextDocument doc;
        ReadRtf("{\\rtf1\\ansi" + margins + " Facture\\par}", doc);
        const QString pdf = QString::fromStdString(dir.str() + "marges.pdf");
        EXPECT_TRUE(PrintToPdf(doc, pdf));
        const QString box = Output("pdftotext", {"-bbox", pdf, "-"});
        const auto m = QRegularExpression("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"").match(box);
        EXPECT_TRUE(m.hasMatch()) << box.toStdString();
        return QPointF(m.captured(1).toDouble(), m.captured(2).toDouble());
    };
    const QPointF twoCm = place("");                                           // none given: 2 cm
    const QPointF wide = place("\\margl2835\\margt4252\\margr567\\margb567");  // 5 cm, 7,5 cm
    const double cm = 72 / 2.54;
    EXPECT_NEAR(wide.x() - twoCm.x(), 3 * cm, 1.0);
    EXPECT_NEAR(wide.y() - twoCm.y(), 5.5 * cm, 1.0);
}
