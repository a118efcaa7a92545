// A metered connection written to a real journal, for the test that kills it: connects,
// ticks a simulated second at a time with the minute save every 60 ticks, says "ready" after
// the asked number of ticks and waits to be killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "metering/JournalKeeper.h"
#include "platform/JournalSqlite.h"
#include "tests/common/Fakes.h"

using namespace tallimer;

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    test::FakeClock clock;
    AccountCollection accounts;
    test::FakeConnectionName names;
    names.name = "Maison";
    accounts.findOrCreate("Maison").nextInvoice = EncodeDate(2001, 12, 31);
    test::FakeCounters counters;
    Locale locale = Locale::french();
    Meter meter(clock, accounts, names, counters, locale);
    SqliteJournal journal(argv[1]);
    JournalKeeper keeper(&journal, clock, meter, [](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
    });
    keeper.atStart();
    meter.Connect();
    keeper.connected("10.0.0.1");
    const int ticks = std::atoi(argv[2]);
    for (int i = 1; i <= ticks; ++i) {
        clock.advance(1000);
        meter.TimerTick();
        if (i % 60 == 0) keeper.minute("10.0.0.1");
    }
    std::printf("ready %d\n", meter.connectionDuration.totalMs);
    std::fflush(stdout);
    while (true) pause();
}
