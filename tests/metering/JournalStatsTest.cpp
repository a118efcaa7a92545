#include "metering/JournalStats.h"

#include <gtest/gtest.h>

#include "metering/Alerts.h"

#include <cmath>

using namespace tallimer;

namespace {

JournalRow Row(const std::string& start, std::int64_t ms, float cost) {
    JournalRow r;
    r.account = "Perso";
    r.startLocal = start;
    r.durationMs = ms;
    r.cost = cost;
    r.end = JournalEnd::Normal;
    return r;
}

// A package account on "Primaliste Internet" whose period ends on 15 March 2001, seen on
// 2 March at noon: half-way through a 28-day period.
struct PeriodRows : ::testing::Test {
    Account account;
    DateTime now = EncodeDate(2001, 3, 2) + 0.5;
    std::vector<JournalRow> rows;
    PeriodRows() {
        account.nextInvoice = EncodeDate(2001, 3, 15);
        account.periodMonths = 1;
        account.pricePerSecond = 0.01f;
        account.offPeakPrice = 0.005f;
        account.creditPrice = 0.5f;
        account.primalisteInternet = true;
        account.packageEnabled = true;
        account.packageRemaining = 30 * 60 * 1000;
        JournalRow before =
            Row("2001-02-15T23:59:59", 600000, 3);  // the last second of the last period
        before.normalMs = 600000;
        JournalRow fee = Row("2001-02-16T00:00:00", 3600000, 10);  // a Friday
        fee.packageFee = 10;
        fee.packageMs = 3600000;
        JournalRow evening = Row("2001-03-01T20:30:00", 1000000, 3.78f);  // a Thursday
        evening.creditMs = 180000;
        evening.reducedMs = 820000;
        evening.bytesReceived = 1000;
        evening.bytesSent = 5000000000;
        JournalRow imported = Row("2001-03-02T09:00:00", 60000, 1.5f);
        imported.origin = JournalOrigin::Imported;
        imported.normalMs = 60000;  // unknown rates never count, whatever they hold
        JournalRow next = Row("2001-03-16T00:00:00", 1000, 2);
        JournalRow garbage = Row("02/03/2001 10:00", 5000, 100);
        rows = {before, fee, evening, imported, next, garbage};
    }
};

}  // namespace

TEST_F(PeriodRows, CurrentPeriodTotalsSavingsEstimateAndPackage) {
    std::vector<StatsPeriod> periods = StatsPeriods(account, rows, std::floor(now));
    ASSERT_EQ(periods.size(), 4u);
    EXPECT_EQ(periods[0].label, "Période en cours (du 16/02/2001 au 15/03/2001)");
    EXPECT_EQ(periods[1].label, "Période du 16/01/2001 au 15/02/2001");
    EXPECT_EQ(periods[2].label, "12 derniers mois");
    EXPECT_EQ(periods[3].label, "Tout");

    JournalStats s = ComputeStats(rows, account, periods[0], now);
    EXPECT_EQ(s.connections, 3);
    EXPECT_EQ(s.durationMs, 4660000);
    EXPECT_NEAR(static_cast<double>(s.cost), 15.28, 1e-5);
    EXPECT_EQ(s.bytesSent, 5000000000u);
    EXPECT_EQ(s.averageMs, 4660000 / 3);
    EXPECT_EQ(s.normalMs, 0);
    EXPECT_EQ(s.reducedMs, 820000);
    EXPECT_EQ(s.packageMs, 3600000);
    EXPECT_EQ(s.creditMs, 180000);
    EXPECT_NEAR(static_cast<double>(s.reducedCost), 4.1, 1e-5);
    EXPECT_NEAR(static_cast<double>(s.creditCost), 0.5, 1e-6);
    EXPECT_NEAR(static_cast<double>(s.packageFees), 10, 1e-6);
    // Reduced rate against the normal price; the 20 % discount on what was priced.
    EXPECT_NEAR(static_cast<double>(s.reducedSaving), 4.1, 1e-5);
    EXPECT_NEAR(static_cast<double>(s.primalisteSaving), 0.82, 1e-5);

    // 15 days of 28 counted, today's whole: the fee is not extrapolated, the rest is.
    ASSERT_TRUE(s.hasEstimate);
    EXPECT_DOUBLE_EQ(s.daysElapsed, 14.5);
    EXPECT_DOUBLE_EQ(s.daysLeft, 13.5);
    EXPECT_NEAR(static_cast<double>(s.estimatedCost), 10 + 5.28 * 28 / 15, 1e-4);
    EXPECT_EQ(s.estimatedMs, 8698667);
    // An hour of package in 14.5 days, half an hour left: gone 7.25 days on.
    ASSERT_TRUE(s.packageRunOut);
    EXPECT_EQ(*s.packageRunOut, EncodeDate(2001, 3, 9));

    ASSERT_EQ(s.days.size(), 28u);
    EXPECT_EQ(s.days.front().day, EncodeDate(2001, 2, 16));
    EXPECT_EQ(s.days[13].day, EncodeDate(2001, 3, 1));
    EXPECT_NEAR(static_cast<double>(s.days[13].cost), 3.78, 1e-6);
    EXPECT_NEAR(static_cast<double>(s.days[13].cumulativeCost), 13.78, 1e-5);
    EXPECT_NEAR(static_cast<double>(s.days.back().cumulativeCost), 15.28, 1e-5);

    EXPECT_EQ(s.hours[0].connections, 1);
    EXPECT_EQ(s.hours[9].connections, 1);
    EXPECT_EQ(s.hours[20].connections, 1);
    EXPECT_EQ(s.hours[20].durationMs, 1000000);
    EXPECT_EQ(s.weekdays[4].connections, 2);  // Fridays
    EXPECT_EQ(s.weekdays[3].connections, 1);  // Thursday

    // The months over the year end with today's, whatever the period chosen.
    EXPECT_EQ(s.months[11].year, 2001);
    EXPECT_EQ(s.months[11].month, 3u);
    EXPECT_EQ(s.months[0].year, 2000);
    EXPECT_EQ(s.months[0].month, 4u);
    EXPECT_NEAR(static_cast<double>(s.months[10].cost), 13, 1e-6);
    EXPECT_NEAR(static_cast<double>(s.months[11].cost), 3.78 + 1.5 + 2, 1e-5);
}

TEST_F(PeriodRows, PastPeriodsAndPackageStates) {
    JournalStats last = ComputeStats(rows, account, BillingPeriod(account, 1, now), now);
    EXPECT_EQ(last.connections, 1);
    EXPECT_NEAR(static_cast<double>(last.cost), 3, 1e-6);
    EXPECT_FALSE(last.hasEstimate);
    EXPECT_FALSE(last.packageRunOut);
    ASSERT_EQ(last.days.size(), 31u);  // 16 January to 15 February

    // A package used up, then one that lasts the period at this pace.
    account.packageRemaining = 0;
    StatsPeriod current = BillingPeriod(account, 0, now);
    EXPECT_TRUE(ComputeStats(rows, account, current, now).packageExhausted);
    account.packageRemaining = 2 * 3600 * 1000;
    JournalStats lasting = ComputeStats(rows, account, current, now);
    EXPECT_FALSE(lasting.packageExhausted);
    EXPECT_FALSE(lasting.packageRunOut);

    // A billing date on the 31st: the months between stay contiguous.
    account.nextInvoice = EncodeDate(2001, 3, 31);
    StatsPeriod march = BillingPeriod(account, 0, now), february = BillingPeriod(account, 1, now);
    EXPECT_EQ(march.from, EncodeDate(2001, 3, 1));
    EXPECT_EQ(march.to, EncodeDate(2001, 4, 1));
    EXPECT_EQ(february.from, EncodeDate(2001, 2, 1));
    EXPECT_EQ(february.to, march.from);

    // "All": every readable row, days from the first to the last.
    JournalStats all = ComputeStats(rows, account, {StatsPeriodKind::All, 0, 0, 0, "Tout"}, now);
    EXPECT_EQ(all.connections, 5);
    EXPECT_EQ(all.days.size(), 30u);
    EXPECT_EQ(RowsInPeriod(rows, {StatsPeriodKind::All, 0, 0, 0, "Tout"}, EncodeDate(2001, 3, 1),
                           EncodeDate(2001, 3, 2))
                  .size(),
              2u);
}

// A past period keeps the money its rows stored after a price change; an imported fee line
// is the period's package fee, once, not a connection; the alert and the window estimate
// alike, the fee never multiplied.
TEST_F(PeriodRows, PastMoneyImportedFeesAndOneEstimate) {
    account.primalisteInternet = false;
    JournalRow past = Row("2001-02-01T10:00:00", 446000, 4.46f);
    past.normalMs = 446000;  // metered at 0,01 a second
    account.pricePerSecond = 0.02f;
    JournalStats last = ComputeStats({past}, account, BillingPeriod(account, 1, now), now);
    EXPECT_NEAR(static_cast<double>(last.normalCost), 4.46, 1e-5);

    JournalRow connection = Row("2001-02-20T10:00:00", 60000, 3);  // its amount holds the fee
    connection.origin = JournalOrigin::Imported;
    JournalRow fee = Row("2001-02-20T10:00:00", 0, 0);
    fee.origin = JournalOrigin::Imported;
    fee.packageFee = 1;
    const StatsPeriod current = BillingPeriod(account, 0, now);
    JournalStats s = ComputeStats({connection, fee}, account, current, now);
    EXPECT_EQ(s.connections, 1);
    EXPECT_EQ(s.imported, 1);
    EXPECT_NEAR(static_cast<double>(s.packageFees), 1, 1e-6);
    EXPECT_NEAR(static_cast<double>(s.estimatedCost), 1 + 2 * 28 / 15.0, 1e-4);

    account.periodCost = 3;
    account.packagePrice = 1;
    account.packageCharged = true;
    EXPECT_FLOAT_EQ(EstimatedPeriodCost(account, now), static_cast<float>(s.estimatedCost));
    account.periodCost = 1;  // the first morning: the fee alone
    EXPECT_FLOAT_EQ(EstimatedPeriodCost(account, current.from + 0.3), 1);
}

TEST(JournalExport, CsvAndJsonBytes) {
    JournalRow a;
    a.id = 7;
    a.account = "Club \"Net\"; soir";
    a.startLocal = "2001-03-07T20:05:09";
    a.startUtc = "2001-03-07T19:05:09Z";
    a.endLocal = "2001-03-07T21:10:00";
    a.endUtc = "2001-03-07T20:10:00Z";
    a.durationMs = 3891000;
    a.cost = 0.7447f;
    a.reducedMs = 3711000;
    a.creditMs = 180000;
    a.address = "10.0.0.1";
    a.bytesReceived = 5000000000;
    a.bytesSent = 12345;
    a.end = JournalEnd::Normal;
    JournalRow b;
    b.id = 8;
    b.account = "Perso\n\\\xE9";  // a Latin-1 name from an old file
    b.startLocal = "2000-12-31T23:59:59";
    b.durationMs = 90061000;
    b.cost = 12.5f;
    b.end = JournalEnd::CutShort;
    b.origin = JournalOrigin::Imported;

    EXPECT_EQ(
        ExportCsv({a, b}),
        "\xEF\xBB\xBF"
        "Compte;Début;Fin;Durée;Coût;Tarif normal;Tarif réduit;Forfait;Crédit;Prix du "
        "forfait;Adresse;Octets reçus;Octets envoyés;Fin de connexion;Origine\r\n"
        "\"Club \"\"Net\"\"; soir\";07/03/2001 20:05:09;07/03/2001 21:10:00;01:04:51;0,7447;"
        "00:00:00;01:01:51;00:00:00;00:03:00;0;10.0.0.1;5000000000;12345;normale;mesurée\r\n"
        "\"Perso\n\\é\";31/12/2000 23:59:59;;25:01:01;12,5;00:00:00;00:00:00;00:00:00;00:00:00;"
        "0;;0;0;interrompue;importée\r\n");
    EXPECT_EQ(
        ExportJson({a, b}),
        "[\n"
        "{\"id\":7,\"account\":\"Club \\\"Net\\\"; soir\",\"startLocal\":\"2001-03-07T20:05:09\","
        "\"startUtc\":\"2001-03-07T19:05:09Z\",\"endLocal\":\"2001-03-07T21:10:00\","
        "\"endUtc\":\"2001-03-07T20:10:00Z\",\"durationMs\":3891000,\"cost\":0.7447,"
        "\"normalMs\":0,\"reducedMs\":3711000,\"packageMs\":0,\"creditMs\":180000,"
        "\"packageFee\":0,\"address\":\"10.0.0.1\",\"bytesReceived\":5000000000,"
        "\"bytesSent\":12345,\"end\":\"normal\",\"origin\":\"metered\"},\n"
        "{\"id\":8,\"account\":\"Perso\\u000a\\\\é\",\"startLocal\":\"2000-12-31T23:59:59\","
        "\"startUtc\":\"\",\"endLocal\":\"\",\"endUtc\":\"\",\"durationMs\":90061000,"
        "\"cost\":12.5,\"normalMs\":0,\"reducedMs\":0,\"packageMs\":0,\"creditMs\":0,"
        "\"packageFee\":0,\"address\":\"\",\"bytesReceived\":0,\"bytesSent\":0,"
        "\"end\":\"cutShort\",\"origin\":\"imported\"}\n"
        "]\n");
    EXPECT_EQ(ExportJson({}), "[]\n");

    // Rows with a volume: each line and object gains it at its end, the rest as above.
    JournalRow v = a;
    v.volumeBytes = 2500000;
    v.volumeCost = 2.2f;
    auto appended = [](std::string text, const std::string& at,
                       const std::vector<std::string>& added) {
        std::size_t from = 0;
        for (const std::string& more : added) {
            from = text.find(at, from);
            text.insert(from, more);
            from += more.size() + at.size();
        }
        return text;
    };
    EXPECT_EQ(ExportCsv({v, b}), appended(ExportCsv({a, b}), "\r\n",
                                          {";Volume (o);Coût du volume", ";2500000;2,2", ";0;0"}));
    EXPECT_EQ(ExportJson({v, b}), appended(ExportJson({a, b}), "}",
                                           {",\"volumeBytes\":2500000,\"volumeCost\":2.2",
                                            ",\"volumeBytes\":0,\"volumeCost\":0"}));
    EXPECT_EQ(BytesText(5000000000, Locale::french()), "5,0 Go");
    EXPECT_EQ(BytesText(999, Locale::french()), "999 o");
}
