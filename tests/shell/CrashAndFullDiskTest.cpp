// A full disk and a crash at every file call of a line's save, a period closing and the exit
// save, on the windows as the program builds them. After each, what is on disk must hold
// together: every file parses and none is empty, the running invoice's lines add up to the
// account's totals (within the minute a crash may lose), and no archive ever loses a line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextDocument>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "accounts/AccountFiles.h"
#include "controls/ErrorReport.h"
#include "invoices/Invoices.h"
#include "richtext/RichInvoice.h"
#include "shell/HeadlessTray.h"
#include "support/Date.h"
#include "support/FileWrite.h"
#include "tests/common/Fakes.h"
#include "windows/FNFacture.h"
#include "windows/FNPrinc.h"

using namespace tallimer;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

namespace {

const char* kTemplate =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\pard\\tx600\\tx3000\\tx4500 "
    "Facture Internet\\par}";
const char* kArchive = "Factures/Modem 05 mars 01.rtf";

QString TextOf(const fs::path& path) {
    QTextDocument doc;
    LoadRtfFile(doc, QString::fromStdString(path.string()));
    return doc.toPlainText();
}

// The lines of an invoice text: their durations and amounts added up.
struct Lines {
    int count = 0;
    std::int64_t ms = 0;
    double amount = 0;
};
Lines AddUp(const QString& text) {
    static const QRegularExpression line(
        "^\\t\\d\\d \\S+ \\d\\d, "
        "\\d\\d:\\d\\d:\\d\\d\\t(\\d\\d):(\\d\\d):(\\d\\d)\\t(-?\\d+,\\d\\d)$");
    Lines sum;
    for (const QString& l : text.split('\n')) {
        auto m = line.match(l);
        if (!m.hasMatch()) continue;
        ++sum.count;
        sum.ms +=
            ((m.captured(1).toInt() * 60 + m.captured(2).toInt()) * 60 + m.captured(3).toInt()) *
            1000;
        sum.amount += QString(m.captured(4)).replace(',', '.').toDouble();
    }
    return sum;
}

// The hook of the write path: counts calls, and fails from one of them on. A disk that
// fills refuses new files (their siblings) and leaves the blocks existing files hold. Two
// faults: from there, the first write of the connection's record and the first of the
// account's file each fail once, in the same run.
struct Fault {
    enum Mode { None, FullOnce, FullFromThere, Crash, DiskFills, TwoFaults };
    Mode mode = None;
    int at = -1;
    int calls = 0;
    bool archiveHit = false;
    std::set<std::string> renamed;
    std::set<std::string> failed;
    int operator()(FileCall call, const std::string& path) {
        const int n = calls++;
        if (call == FileCall::Rename) renamed.insert(path);
        if (mode == None || n < at) return 0;
        if (mode == TwoFaults) {
            for (const char* file : {"/connexion.inf", "/Comptes/Modem.fai"})
                if (call == FileCall::Rename && path.ends_with(file) && failed.insert(file).second)
                    return EIO;
            return 0;
        }
        if (mode == Crash) return EIO;  // a dead process does nothing more
        if (mode == DiskFills)
            return path.find("/.~tallimer-") != std::string::npos || call == FileCall::MakeFolder
                       ? ENOSPC
                       : 0;
        // A full disk still closes and removes files.
        if (call == FileCall::Close || call == FileCall::Remove || call == FileCall::Truncate)
            return 0;
        if (n == at) archiveHit = path.find("/Factures/") != std::string::npos;
        return mode == FullFromThere || n == at ? ENOSPC : 0;
    }
};

class CrashAndFullDisk : public ::testing::Test {
  protected:
    // One run of the program on the folder, its windows built as at start.
    struct Run {
        std::unique_ptr<TfFacture> facture;
        std::unique_ptr<TfPrinc> princ;
    };

    CrashAndFullDisk() {
        // Hundreds of synced writes: in memory where the machine has it.
        if (const char* tmp = std::getenv("TMPDIR")) oldTmp = tmp;
        if (fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0)
            ::setenv("TMPDIR", "/dev/shm", 1);
        previous = SetErrorReportHandler(
            [this](QObject*, const std::exception& e) { reports.push_back(e.what()); });
        names.name = "Modem";
    }
    ~CrashAndFullDisk() override {
        if (oldTmp)
            ::setenv("TMPDIR", oldTmp->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        SetFileCallHook({});
        SetErrorReportHandler(previous);
    }

    // Two lines of a period that closed on 5 March 2001, and their totals; today is 7 March.
    void lay(const TempDir& dir) {
        WriteFile(dir.path() / "base.rtf", kTemplate);
        fs::create_directories(dir.path() / "Comptes");
        QTextDocument doc;
        RichInvoice invoice(&doc);
        invoice.loadRtf(dir.str() + "base.rtf");
        const DateTime when = EncodeDateTime({2001, 3, 4, 21, 7, 44, 0, 1});
        AddInvoiceLine(invoice, when, 60000, 0.6f, Locale::french());
        AddInvoiceLine(invoice, when, 120000, 1.2f, Locale::french());
        invoice.saveRtf(dir.str() + "temp.rtf");
        Account modem;
        modem.periodDuration = 180000;
        modem.periodCost = 1.8f;
        modem.pricePerSecond = modem.offPeakPrice = 0.01f;
        modem.creditDuration = 0;
        modem.nextInvoice = EncodeDate(2001, 3, 5);
        modem.periodMonths = static_cast<std::uint16_t>(months);
        WriteFile(dir.path() / "Comptes" / "Modem.fai", WriteAccount(modem));
        WriteFile(dir.path() / "tallimer.inf", WriteState({180000, 1.8f, false}));
        clock = test::FakeClock();
        clock.utc = 36000000;
    }

    std::unique_ptr<Run> start(const TempDir& dir) {
        auto run = std::make_unique<Run>();
        const PrincDependencies d{dir.str(), &clock, &names,
                                  &counters, &tray,  [] { return std::vector<std::string>{}; }};
        run->princ = std::make_unique<TfPrinc>(d);
        run->princ->OnlineIP1->SetEnabled(false);
        run->facture = std::make_unique<TfFacture>(dir.str());
        run->princ->SetInvoiceDesk(run->facture.get());
        run->princ->Recover();
        return run;
    }

    void ticks(Run& run, int count) {
        for (int i = 0; i < count; ++i) {
            clock.advance(30000);
            run.princ->meter().TimerTick();
        }
    }
    // Reports are queued: they are in once the event loop has run.
    void connect(Run& run) {
        run.princ->Connect();
        QCoreApplication::sendPostedEvents();
    }

    // A closing, a connection with its minute save and its line, one too short for a minute
    // save, then one more connection that the program's exit ends.
    void session(Run& run, const std::function<void()>& afterClosing = {}) {
        connect(run);
        if (afterClosing) afterClosing();
        ticks(run, 4);
        run.princ->SaveTimerTimer();
        ticks(run, 2);
        run.princ->Disconnect();
        connect(run);
        ticks(run, 1);
        run.princ->Disconnect();
        connect(run);
        ticks(run, 3);
        run.princ->SaveTimerTimer();
        ticks(run, 1);
        run.princ->EndWithoutAsking();
        QCoreApplication::sendPostedEvents();
    }

    // What must hold on disk whatever happened; returns the archive's text.
    // A crash leaves the siblings it was writing (started says whether the next start,
    // which removes them, has come). slackMs: how far the lines may be from the totals;
    // negative, not checked.
    QString check(const TempDir& dir, std::int64_t slackMs, const std::string& where,
                  bool started = true) {
        SCOPED_TRACE(where);
        for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
            if (!e.is_regular_file()) continue;
            const bool sibling = e.path().filename().string().starts_with(".~tallimer-");
            EXPECT_FALSE(sibling && started) << e.path();
            // The journal's write-ahead log is empty after each checkpoint.
            const bool log = e.path().filename() == "journal.sqlite-wal";
            if (!sibling && !log) {
                EXPECT_GT(e.file_size(), 0u) << e.path();
            }
        }
        const std::string accountBytes = ReadFile(dir.path() / "Comptes" / "Modem.fai");
        Account account;
        ReadAccount(accountBytes, account);
        EXPECT_EQ(WriteAccount(account), accountBytes);
        const std::string stateBytes = ReadFile(dir.path() / "tallimer.inf");
        OverallState state;
        ReadState(stateBytes, state);
        EXPECT_EQ(WriteState(state), stateBytes);

        const QString running = TextOf(dir.path() / "temp.rtf");
        EXPECT_TRUE(running.startsWith("Facture Internet")) << running.toStdString();
        const Lines lines = AddUp(running);
        if (slackMs >= 0) {
            EXPECT_LE(std::abs(lines.ms - account.periodDuration.totalMs), slackMs)
                << lines.ms << " ms in lines, " << account.periodDuration.totalMs << " counted";
            EXPECT_LE(std::abs(lines.amount - account.periodCost),
                      static_cast<double>(slackMs) * 1e-5 + 0.005 * (lines.count + 1));
        }

        if (!fs::exists(dir.path() / kArchive)) return {};
        const QString archived = TextOf(dir.path() / kArchive);
        // Filed whole: the period's two lines and totals that are theirs.
        const Lines filed = AddUp(archived);
        // A period of 0 months closes at every connection, each closing filing over the last.
        if (months != 0) {
            EXPECT_GE(filed.count, 2) << archived.toStdString();
        }
        EXPECT_TRUE(archived.contains("Durée totale = " +
                                      QString::fromStdString(msTIME(filed.ms).ToText())))
            << archived.toStdString();
        return archived;
    }

    void faultEveryCall(std::initializer_list<Fault::Mode> modes);

    int months = 1;  // the account's period
    std::optional<std::string> oldTmp;
    std::vector<std::string> reports;
    ErrorReportHandler previous;
    test::FakeClock clock;
    test::FakeConnectionName names;
    test::FakeCounters counters;
    HeadlessTray tray;
};

// The session run once without a fault, then once with each mode at each of its calls.
void CrashAndFullDisk::faultEveryCall(std::initializer_list<Fault::Mode> modes) {
    int total = 0;
    QString fullArchive;
    {
        TempDir dir;
        lay(dir);
        auto run = start(dir);
        Fault count;
        SetFileCallHook(std::ref(count));
        session(*run);
        SetFileCallHook({});
        total = count.calls;
        // Every file of the session went through the one write path.
        std::set<std::string> files;
        for (const char* f : {"temp.rtf", kArchive, "Comptes/Modem.fai", "tallimer.inf",
                              "cloture.inf", "connexion.inf", "lignes.inf"})
            files.insert(dir.str() + f);
        EXPECT_EQ(count.renamed, files);
        fullArchive = check(dir, 0, "no fault");
        EXPECT_FALSE(fs::exists(dir.path() / "cloture.inf"));
        EXPECT_FALSE(fs::exists(dir.path() / "connexion.inf"));
        ASSERT_TRUE(reports.empty()) << reports.front();
    }
    ASSERT_GT(total, 40);
    ASSERT_FALSE(fullArchive.isEmpty());

    for (Fault::Mode mode : modes) {
        for (int at = 0; at < total; ++at) {
            const std::string where =
                "mode " + std::to_string(mode) + ", call " + std::to_string(at);
            TempDir dir;
            lay(dir);
            reports.clear();
            const std::string accountBefore = ReadFile(dir.path() / "Comptes" / "Modem.fai");
            const std::string tempBefore = ReadFile(dir.path() / "temp.rtf");
            Fault fault;
            fault.mode = mode;
            fault.at = at;
            {
                auto run = start(dir);
                SetFileCallHook(std::ref(fault));
                // An archive that cannot be written whole changes nothing, and says so; the
                // next connection tries the closing again.
                session(*run, [&] {
                    if (mode != Fault::FullOnce || !fault.archiveHit) return;
                    ASSERT_FALSE(reports.empty()) << where;
                    EXPECT_EQ(reports.front(),
                              "Impossible de créer le fichier " + dir.str() + kArchive)
                        << where;
                    EXPECT_EQ(ReadFile(dir.path() / "Comptes" / "Modem.fai"), accountBefore)
                        << where;
                    EXPECT_EQ(ReadFile(dir.path() / "temp.rtf"), tempBefore) << where;
                    EXPECT_EQ(run->princ->accounts().find("Modem")->nextInvoice,
                              EncodeDate(2001, 3, 5))
                        << where;
                });
                SetFileCallHook({});
            }
            // Until the next start reads the records, the lines may be those of a period
            // filed whole already; only the files themselves are checked.
            const QString before = check(dir, -1, where, false);
            // The next start finishes what was cut short, to the last record; the next
            // connections go on.
            auto again = start(dir);
            const QString recovered = check(dir, 0, where + ", restarted");
            if (!before.isEmpty() && months != 0) {
                EXPECT_EQ(recovered, before) << where;
            }
            if (months != 0) {
                EXPECT_GE(recovered.size(), before.size()) << where;
            }
            session(*again);
            again.reset();
            const QString after = check(dir, 0, where + ", restarted and used");
            if (months != 0) {
                EXPECT_GE(after.size(), recovered.size()) << where;
            }
            EXPECT_FALSE(after.isEmpty()) << where;
            EXPECT_FALSE(fs::exists(dir.path() / "cloture.inf")) << where;
            EXPECT_FALSE(fs::exists(dir.path() / "connexion.inf")) << where;
            if (HasFailure()) return;
        }
    }
}

TEST_F(CrashAndFullDisk, EveryFileCallOfASessionFailingOrKilledLeavesFilesThatHoldTogether) {
    faultEveryCall(
        {Fault::FullOnce, Fault::FullFromThere, Fault::Crash, Fault::DiskFills, Fault::TwoFaults});
}

// A period of 0 months: every connection closes one, so a fault between a connection's end
// and the next closing leaves the connection's record pending when the period closes.
TEST_F(CrashAndFullDisk, WithAPeriodOfZeroMonthsEveryConnectionClosesAndFilesHoldTogether) {
    months = 0;
    faultEveryCall({Fault::FullOnce, Fault::Crash, Fault::TwoFaults});
}

// Killed in the middle of a connection: at the next start, the connection gets its line as
// of the last minute save, and the lines add up to the account's totals exactly.
TEST_F(CrashAndFullDisk, AConnectionCutByACrashGetsItsLineAtTheNextStart) {
    TempDir dir;
    lay(dir);
    {
        auto run = start(dir);
        connect(*run);  // closes the period
        ticks(*run, 5);
        run->princ->SaveTimerTimer();  // 2 minutes so far
        ticks(*run, 1);
        run->princ->SaveTimerTimer();  // 2 min 30 s
        ticks(*run, 1);
        EXPECT_TRUE(fs::exists(dir.path() / "connexion.inf"));
    }  // killed: nothing more is written
    EXPECT_TRUE(reports.empty());
    auto again = start(dir);
    const QString running = TextOf(dir.path() / "temp.rtf");
    EXPECT_TRUE(running.endsWith("\t07 mars 01, 10:03:00\t00:02:30\t1,50"))
        << running.toStdString();
    EXPECT_EQ(AddUp(running).ms, 150000);
    EXPECT_EQ(again->princ->accounts().find("Modem")->periodDuration, 150000);
    EXPECT_FALSE(fs::exists(dir.path() / "connexion.inf"));
    // A second start after that adds nothing more.
    again.reset();
    start(dir).reset();
    EXPECT_EQ(AddUp(TextOf(dir.path() / "temp.rtf")).count, 1);
}

}  // namespace
