// The meter of a connection billed by volume on the machine's real link and sockets, ticked
// by its caller: each line read is a command, each answer one line.
//   tick       one metering second (the clock moves on by 1000 ms)
//   rows       the connection's figures: "link R S", "billed B", then one line per row,
//              "app NAME R S", "others R S", "local R S", then "end"
//   quit
// Started with "leave-out-local" as argument, the account leaves the local network out.
#include <cstdio>
#include <iostream>
#include <string>

#include "metering/AppVolume.h"
#include "platform/LinkCountersLinux.h"
#include "platform/SocketCountersLinux.h"
#include "tests/common/Fakes.h"

using namespace tallimer;

int main(int argc, char** argv) {
    test::FakeClock clock;
    AccountCollection accounts;
    accounts.findOrCreate("").nextInvoice = EncodeDate(2099, 1, 1);
    test::FakeConnectionName names;
    LinkCountersLinux counters;
    SocketCountersLinux sockets;
    const Locale locale = Locale::french();
    VolumeBook book;
    book[""].tariff.pricePerMo = 1;
    book[""].tariff.leaveOutLocal = argc > 1 && std::string(argv[1]) == "leave-out-local";
    VolumeMeter priced(book);
    AppVolumeMeter apps(priced, book, &sockets);
    Meter meter(clock, accounts, names, counters, locale);
    meter.setVolumeCharge(&apps);
    meter.Connect();
    meter.TimerTick();
    std::printf("ready\n");
    std::fflush(stdout);
    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "tick") {
            clock.advance(1000);
            meter.TimerTick();
            std::printf("ticked\n");
        } else if (command == "rows") {
            std::printf("link %llu %llu\nbilled %llu\n",
                        static_cast<unsigned long long>(meter.bytesReceived),
                        static_cast<unsigned long long>(meter.bytesSent),
                        static_cast<unsigned long long>(priced.connectionBytes()));
            for (const AppVolumeRow& r : RowsOf(apps.volumes())) {
                const char* kind = r.kind == AppRowKind::Application ? "app"
                                   : r.kind == AppRowKind::Others    ? "others"
                                                                     : "local";
                std::printf("%s%s%s %llu %llu\n", kind, r.app.empty() ? "" : " ", r.app.c_str(),
                            static_cast<unsigned long long>(r.received),
                            static_cast<unsigned long long>(r.sent));
            }
            std::printf("end\n");
        } else if (command == "quit") {
            break;
        }
        std::fflush(stdout);
    }
    return 0;
}
