// Where a volume account's bytes go: each application's, « Autres » and the local network's,
// through the session as the program meters, with the link and the sockets standing in.
#include "metering/AppVolume.h"

#include <gtest/gtest.h>

#include <memory>

#include "metering/Session.h"
#include "tests/common/Fakes.h"

using namespace tallimer;
using namespace tallimer::test;

namespace {

IpAddress Ip(std::initializer_list<int> parts) {
    IpAddress a;
    a.family = parts.size() == 4 ? 4 : 6;
    std::size_t i = 0;
    for (int p : parts) a.bytes[i++] = static_cast<std::uint8_t>(p);
    return a;
}

const IpAddress kOwn = Ip({192, 0, 2, 10});
const IpAddress kInternet = Ip({203, 0, 113, 5});
const IpAddress kNas = Ip({192, 0, 2, 30});  // on the link's own subnet

// The kernel's table as the test sets it; what was asked of it is counted.
class FakeSockets : public SocketCounterSource {
  public:
    std::vector<LinkNet> link{{kOwn, 24}};
    std::vector<SocketCounters> sockets;
    int walks = 0, readsAgain = 0;

    SocketCounters& add(std::uint64_t cookie, const std::string& app, IpAddress peer,
                        IpAddress local = kOwn) {
        SocketCounters s;
        s.id.cookie = cookie;
        s.id.local = local;
        s.id.peer = peer;
        s.app = app;
        sockets.push_back(s);
        return sockets.back();
    }
    SocketCounters& at(std::uint64_t cookie) {
        for (SocketCounters& s : sockets)
            if (s.id.cookie == cookie) return s;
        throw std::out_of_range("no such socket");
    }
    void remove(std::uint64_t cookie) {
        std::erase_if(sockets, [&](const SocketCounters& s) { return s.id.cookie == cookie; });
    }
    std::optional<SocketTable> readAll() override {
        ++walks;
        return SocketTable{link, sockets};
    }
    std::optional<std::vector<SocketCounters>> readAgain(
        const std::vector<SocketId>& ids) override {
        ++readsAgain;
        std::vector<SocketCounters> found;
        for (const SocketId& id : ids)
            for (SocketCounters s : sockets)
                if (s.id.cookie == id.cookie) {
                    s.app.clear();
                    found.push_back(s);
                }
        return found;
    }
};

class AppVolumeTest : public ::testing::Test, protected MeteringGround {
  protected:
    FakeSockets fake;
    std::unique_ptr<Session> session;
    std::uint32_t received = 0, sent = 0;

    AppVolumeTest() {
        counters.value = LinkCounters{received, sent};
        SessionParts parts{dir.str(), &clock, &names, &counters, Locale::french(), {}, &fake};
        session = std::make_unique<Session>(std::move(parts));
        session->load(nullptr);
        session->accounts().findOrCreate("Modem").nextInvoice = EncodeDate(2030, 1, 1);
        session->volumes()["Modem"].tariff.pricePerMo = 1;  // 1 € per Mo
    }
    void connect() {
        session->connect("");
        session->tick();  // the first tick measures nothing
    }
    // One second in which the link moves these bytes.
    void second(std::uint32_t in, std::uint32_t out) {
        received += in;
        sent += out;
        counters.value = LinkCounters{received, sent};
        clock.advance(1000);
        session->tick();
    }
    AppVolumes rows() const { return session->appVolumes().volumes(); }
    // Every row, « Autres » and « Réseau local » included, against the link's bytes.
    void expectRowsAddUp() {
        const AppVolumes v = rows();
        AppBytes sum = {v.others.received + v.local.received, v.others.sent + v.local.sent};
        for (const auto& [name, bytes] : v.apps) {
            sum.received += bytes.received;
            sum.sent += bytes.sent;
        }
        EXPECT_EQ(sum.received, session->meter().bytesReceived);
        EXPECT_EQ(sum.sent, session->meter().bytesSent);
    }
};

TEST_F(AppVolumeTest, EachApplicationHasItsSocketsBytesAndTheRowsAddUpToTheLink) {
    fake.add(1, "firefox", kInternet).received = 1000000;  // before the connection: not its own
    fake.add(2, "postgres", Ip({127, 0, 0, 1}), Ip({127, 0, 0, 1}));  // not over the link
    fake.add(3, "", kInternet);                                       // another user's
    connect();

    fake.at(1).received += 500000;
    fake.at(1).sent += 10000;
    fake.at(2).received += 5000000;
    fake.at(3).received += 40000;
    // Born since the last look, through IPv4 in IPv6: all it moved is the connection's.
    SocketCounters& mail = fake.add(
        4, "org.example.Mail", Ip({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 198, 51, 100, 7}));
    mail.id.local = Ip({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, 10});
    mail.received = 50000;
    second(630000, 20000);
    EXPECT_EQ(rows().apps, (std::map<std::string, AppBytes>{{"firefox", {500000, 10000}},
                                                            {"org.example.Mail", {50000, 0}}}));
    expectRowsAddUp();

    // A socket gone keeps what it was last seen with; what it moved since is « Autres ».
    fake.at(4).received += 30000;
    fake.remove(4);
    second(100000, 0);
    EXPECT_EQ(rows().apps.at("org.example.Mail").received, 50000u);
    EXPECT_EQ(rows().others.received, 730000u - 550000u);
    expectRowsAddUp();

    // Counters ahead of the link (a reading between its bytes and theirs): the applications
    // hold at most what the link moved, never « Autres » below zero, and get the rest later.
    fake.at(1).received += 2000000;
    second(1000000, 0);
    EXPECT_EQ(rows().others.received, 0u);
    EXPECT_EQ(rows().apps.at("firefox").received + rows().apps.at("org.example.Mail").received,
              session->meter().bytesReceived);
    expectRowsAddUp();
    second(1200000, 0);
    EXPECT_EQ(rows().apps.at("firefox").received, 2500000u);
    expectRowsAddUp();

    // A record's figures come back whole for the connection going on.
    const AppVolumes kept = rows();
    session->appVolumes().restore(kept);
    EXPECT_EQ(rows(), kept);
    EXPECT_EQ(RowsOf(kept).front().app, "firefox");
    EXPECT_EQ(RowsOf(kept).back().kind, AppRowKind::Others);
}

TEST_F(AppVolumeTest, TheLocalNetworkIsLeftOutOfThePriceOnlyWhenTheAccountSaysSo) {
    // Off: a copy to the NAS is billed as before, under its application.
    fake.add(1, "rsync", kNas);
    connect();
    fake.at(1).sent += 3000000;
    second(2000, 3100000);
    EXPECT_EQ(session->volumeMeter().connectionBytes(), 3102000u);
    EXPECT_EQ(rows().apps.at("rsync").sent, 3000000u);
    EXPECT_EQ(rows().local, AppBytes{});
    session->disconnect();

    // On: the local network's bytes, a backup of another user's to a private address
    // included, are left out and shown apart; the Internet's are billed.
    session->volumes()["Modem"].tariff.leaveOutLocal = true;
    fake.add(2, "firefox", kInternet);
    fake.add(3, "", Ip({10, 1, 2, 3}));
    connect();
    fake.at(1).sent += 3000000;
    fake.at(2).received += 1000000;
    fake.at(3).received += 200000;
    second(1250000, 3050000);
    EXPECT_EQ(rows().local, (AppBytes{200000, 3000000}));
    EXPECT_EQ(session->volumeMeter().connectionBytes(), 1050000u + 50000u);
    EXPECT_FLOAT_EQ(session->volumeMeter().connectionCost(), 1.1f);
    EXPECT_EQ(rows().apps.count("rsync"), 0u);
    expectRowsAddUp();

    // Local bytes counted ahead of the link are never taken back from the volume: they wait
    // for the link's next bytes.
    fake.at(1).sent += 500000;
    second(0, 200000);
    EXPECT_EQ(session->volumeMeter().connectionBytes(), 1100000u);
    second(0, 400000);
    EXPECT_EQ(session->volumeMeter().connectionBytes(), 1200000u);
    EXPECT_EQ(rows().local.sent, 3500000u);
    expectRowsAddUp();
}

TEST_F(AppVolumeTest, AQuietLinkIsNotReadAndUdpWalksTheTableLessAndLess) {
    fake.add(1, "firefox", kInternet);
    connect();
    EXPECT_EQ(fake.walks, 1);  // what the sockets held before is set aside

    // A stream the sockets do not explain: looked for at once, then less and less often; a
    // socket that stays quiet is read only then.
    for (int i = 0; i < 12; ++i) second(100000, 0);
    EXPECT_EQ(fake.walks, 1 + 3);
    EXPECT_EQ(fake.readsAgain, 3);
    // A download starting meanwhile is found at the next walk, all its bytes with it.
    fake.add(2, "wget", kInternet).received = 300000;
    for (int i = 0; i < 16 && rows().apps.count("wget") == 0; ++i) second(100000, 0);
    EXPECT_EQ(rows().apps.at("wget").received, 300000u);
    expectRowsAddUp();
    // A quiet link's chatter is not worth a look, even at a socket that moved lately.
    const int reads = fake.readsAgain;
    for (int i = 0; i < 5; ++i) second(800, 800);
    EXPECT_EQ(fake.readsAgain, reads);

    // Time billing: no socket is looked at.
    const int walks = fake.walks;
    session->volumes().clear();
    session->disconnect();
    connect();
    second(1000000, 0);
    EXPECT_EQ(fake.walks, walks);
}

TEST(AppVolumeNames, TheLocalNetworkIsTheLinksSubnetsPrivateRangesAndLinkLocal) {
    const std::vector<LinkNet> link{{Ip({100, 64, 7, 9}), 30},
                                    {Ip({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1}), 64}};
    for (auto [address, local] : std::vector<std::pair<IpAddress, bool>>{
             {Ip({10, 200, 1, 1}), true},
             {Ip({172, 16, 0, 1}), true},
             {Ip({172, 31, 255, 255}), true},
             {Ip({172, 32, 0, 1}), false},
             {Ip({192, 168, 1, 1}), true},
             {Ip({169, 254, 3, 4}), true},
             {Ip({100, 64, 7, 10}), true},  // the link's own /30
             {Ip({100, 64, 7, 12}), false},
             {Ip({8, 8, 8, 8}), false},
             {Ip({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 0, 1}), true},
             {Ip({0xFD, 0, 1}), true},
             {Ip({0xFE, 0x80, 0, 0, 0, 0, 0, 0, 1}), true},
             {Ip({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7}), true},
             {Ip({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 7}), false},
             {Ip({0x2a, 0x00, 0x14, 0x50}), false}})
        EXPECT_EQ(IsLocalNetwork(address, link), local)
            << int(address.bytes[0]) << "." << int(address.bytes[1]) << "...";
    // A link whose subnet is half the Internet leaves the Internet billed.
    EXPECT_FALSE(IsLocalNetwork(Ip({8, 8, 8, 8}), {{Ip({1, 2, 3, 4}), 1}}));
}

TEST(AppVolumeNames, AnApplicationIsNamedAsItsDesktopUnitNamesIt) {
    for (auto [cgroup, app] : std::vector<std::pair<std::string, std::string>>{
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "app-gnome-firefox-2417.scope\n",
              "firefox"},
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "app-flatpak-org.mozilla.firefox-3319.scope\n",
              "org.mozilla.firefox"},
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "app-org.kde.konsole-a1b2c3.scope/tab-7\n",
              "org.kde.konsole"},
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-1990.scope\n",
              "org.gnome.Evolution-alarm-notify"},
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "app-org.gnome.Terminal@3.service\n",
              "org.gnome.Terminal"},
             // A hybrid hierarchy: systemd's own line names the unit.
             {"12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/"
              "user@1000.service/app.slice/app-gnome-thunderbird-88.scope\n0::/\n",
              "thunderbird"},
             {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
              "vte-spawn-1b9e.scope\n",
              ""},
             {"0::/system.slice/cups.service\n", ""},
             {"0::/\n", ""},
             {"garbage", ""}})
        EXPECT_EQ(AppIdOfCgroup(cgroup), app) << cgroup;
}

// The option is one more field of volume.inf, written only when set: a file without it reads
// and writes as before, and a field that is not a flag leaves the line out.
TEST(AppVolumeNames, TheLocalOptionIsAFieldOfItsOwnInTheVolumeFile) {
    const std::string before = "4G\t20000000000\t0.05\t0\t1\t0\t37000\t5\t0\t9\t0\t0\t0\r\n";
    VolumeBook book = ParseVolumeBook(before);
    ASSERT_EQ(book.size(), 1u);
    EXPECT_FALSE(book["4G"].tariff.leaveOutLocal);
    EXPECT_EQ(VolumeBookBytes(book), before);
    book["4G"].tariff.leaveOutLocal = true;
    const std::string with = VolumeBookBytes(book);
    EXPECT_EQ(with, before.substr(0, before.size() - 2) + "\t1\r\n");
    EXPECT_EQ(ParseVolumeBook(with), book);
    EXPECT_TRUE(ParseVolumeBook(before.substr(0, before.size() - 2) + "\t2\r\n").empty());
}

}  // namespace
