// The statistics export as a French spreadsheet reads it. Runs under `make interop`.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "metering/JournalStats.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using test::TempDir;
using test::WriteFile;

TEST(CsvInterop, LibreOfficeReadsNumbersDatesAndDurations) {
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    if (qgetenv("TALLIMER_INTEROP") != "1")
        GTEST_SKIP() << "spreadsheet checks run with TALLIMER_INTEROP=1 (make interop)";

    JournalRow a;
    a.account = "Club \"Net\"; soir";
    a.startLocal = "2001-03-07T20:05:09";
    a.endLocal = "2001-03-07T21:10:00";
    a.durationMs = 3891000;
    a.cost = 0.7447f;
    a.bytesReceived = 5000000000;
    a.end = JournalEnd::Normal;
    JournalRow b;
    b.account = "Perso";
    b.startLocal = "2000-12-31T23:59:59";
    b.durationMs = 90061000;
    b.cost = 1234.5f;
    TempDir dir;
    WriteFile(dir.path() / "connexions.csv", ExportCsv({a, b}));

    // The import a French user gets: ";" and the French conventions, UTF-8.
    const QString profile =
        QUrl::fromLocalFile(QString::fromStdString(dir.str() + "profile")).toString();
    const QString out = QString::fromStdString(dir.str() + "out");
    QProcess p;
    p.start(soffice, {"-env:UserInstallation=" + profile, "--headless", "--norestore",
                      "--infilter=CSV:59,34,76,1,,1036", "--convert-to", "fods", "--outdir", out,
                      QString::fromStdString(dir.str() + "connexions.csv")});
    ASSERT_TRUE(p.waitForFinished(120000));
    QFile f(out + "/connexions.fods");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << p.readAllStandardError().toStdString();
    const QString sheet = QString::fromUtf8(f.readAll());

    for (const char* cell :
         {"office:value-type=\"float\" office:value=\"0.7447\"",
          "office:value-type=\"float\" office:value=\"1234.5\"",
          "office:value-type=\"float\" office:value=\"5000000000\"",
          "office:date-value=\"2001-03-07T20:05:09\"", "office:date-value=\"2000-12-31T23:59:59\"",
          "office:time-value=\"PT01H04M51S\"", "office:time-value=\"PT25H01M01S\"",
          "<text:p>Club &quot;Net&quot;; soir</text:p>", "<text:p>Coût</text:p>"})
        EXPECT_TRUE(sheet.contains(QString::fromUtf8(cell))) << cell;
}
