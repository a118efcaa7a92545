// An archived invoice as another word processor reads it. Runs under `make interop`.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <filesystem>

#include "controls/ErrorReport.h"
#include "tests/common/Fakes.h"
#include "windows/FNFacture.h"

using namespace tallimer;
using test::TempDir;
using test::WriteFile;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

class InteropLibreOffice : public ::testing::Test {
  protected:
    TempDir dir;
    QString soffice;

    void SetUp() override {
        soffice = QStandardPaths::findExecutable("soffice");
        if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
        if (qgetenv("TALLIMER_INTEROP") != "1")
            GTEST_SKIP() << "word-processor checks run with TALLIMER_INTEROP=1 (make interop)";
    }

    // Converts with a private profile, so a user's LibreOffice is neither used nor blocked.
    QString convert(const QString& file, const QString& filter) {
        const QString profile = QUrl::fromLocalFile(Q(dir.str() + "profile")).toString();
        const QString out = Q(dir.str() + "out");
        QProcess p;
        p.start(soffice, {"-env:UserInstallation=" + profile, "--headless", "--norestore",
                          "--convert-to", filter, "--outdir", out, file});
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "soffice did not finish";
            return {};
        }
        QDir outDir(out);
        const QStringList made = outDir.entryList(QDir::Files);
        if (made.size() != 1) {
            ADD_FAILURE() << "soffice made " << made.size()
                          << " files: " << p.readAllStandardError().toStdString();
            return {};
        }
        QFile f(outDir.filePath(made[0]));
        f.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(f.readAll());
        f.remove();
        return text;
    }

    // The archive of a period closed on the installed template, with two lines.
    QString makeArchive();
};

// A length of the first page layout with a size that LibreOffice made, in millimetres; -1 when
// missing.
double PageLength(const QString& fodt, const QString& attribute) {
    const QRegularExpression layout("<style:page-layout-properties[^>]*fo:page-width[^>]*>");
    const QString element = layout.match(fodt).captured(0);
    const QRegularExpression value(attribute + "=\"([0-9.]+)(cm|mm|in|pt)\"");
    const QRegularExpressionMatch m = value.match(element);
    if (!m.hasMatch()) return -1;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    return unit == "cm" ? v * 10 : unit == "in" ? v * 25.4 : unit == "pt" ? v * 25.4 / 72 : v;
}

QString InteropLibreOffice::makeArchive() {
    ErrorReportHandler previous =
        SetErrorReportHandler([](QObject*, const std::exception& e) { ADD_FAILURE() << e.what(); });
    const std::string source =
        std::getenv("TALLIMER_SOURCE_DIR") ? std::getenv("TALLIMER_SOURCE_DIR") : ".";
    std::filesystem::copy_file(source + "/data/base.rtf", dir.path() / "base.rtf");
    Account account;
    account.periodCost = 15.3456f;
    account.periodDuration = msTIME::Hms(1, 3, 9, 0);
    account.packageEnabled = true;
    account.packageRemaining = msTIME::Hms(7, 0, 0, 0);
    account.nextInvoice = EncodeDate(2001, 3, 5);
    {
        TfFacture manager(dir.str());
        manager.RunningFile().AddLine(EncodeDateTime({2001, 3, 5, 21, 7, 44, 0, 2}),
                                      msTIME::Hms(1, 2, 9, 0), 12.3456f);
        manager.RunningFile().AddLine(EncodeDateTime({2001, 3, 5, 23, 0, 0, 0, 2}),
                                      msTIME::Hms(0, 1, 0, 0), 3.0f);
        manager.RunningFile().ClosePeriod(account, "Maison", EncodeDate(2001, 3, 6));
    }
    SetErrorReportHandler(previous);
    return Q(dir.str() + "Factures/Maison 05 mars 01.rtf");
}

TEST_F(InteropLibreOffice, AnArchiveOpensWithTheTemplatesPage) {
    // The template asks for A4 with 2 cm margins (1134 twips) all round.
    const QString fodt = convert(makeArchive(), "fodt");
    EXPECT_NEAR(PageLength(fodt, "fo:page-width"), 210.0, 0.1) << fodt.toStdString();
    EXPECT_NEAR(PageLength(fodt, "fo:page-height"), 297.0, 0.1);
    for (const char* side :
         {"fo:margin-left", "fo:margin-right", "fo:margin-top", "fo:margin-bottom"})
        EXPECT_NEAR(PageLength(fodt, side), 20.0, 0.1) << side;
}

TEST_F(InteropLibreOffice, AnArchiveOpensWithItsLinesAndBoldTotals) {
    const QString archive = makeArchive();

    const QString text = convert(archive, "txt:Text (encoded):UTF8");
    EXPECT_TRUE(text.contains("\t05 mars 01, 21:07:44\t01:02:09\t12,35")) << text.toStdString();
    EXPECT_TRUE(text.contains("\t05 mars 01, 23:00:00\t00:01:00\t3,00")) << text.toStdString();
    for (const char* total :
         {"Coût total = 15,35", "Durée totale = 01:03:09", "Forfait restant = 07:00:00"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(total))) << total << "\n" << text.toStdString();
    // Two empty lines between the last line and the totals.
    EXPECT_TRUE(text.contains(QRegularExpression("3,00\\r?\\n\\r?\\n\\r?\\nCo")))
        << text.toStdString();

    // Bold as the word processor understood it: the paragraphs of the totals in <b> or a bold
    // style, the lines not.
    const QString html = convert(archive, "html:HTML (StarWriter):UTF8");
    auto boldAround = [&](const QString& needle) {
        for (QString paragraph : html.split("<p")) {
            paragraph.replace(QRegularExpression("\\s+"), " ");
            if (!paragraph.contains(needle)) continue;
            return paragraph.contains("<b>") || paragraph.contains("font-weight: bold") ? 1 : 0;
        }
        return -1;
    };
    EXPECT_EQ(boldAround("total = 15,35"), 1) << html.toStdString();
    EXPECT_EQ(boldAround("totale = 01:03:09"), 1);
    EXPECT_EQ(boldAround("restant = 07:00:00"), 1);
    EXPECT_EQ(boldAround("21:07:44"), 0);
}

}  // namespace
