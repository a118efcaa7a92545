#pragma once
// A meter wired to fakes, with a host that records what the meter asks of the window.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "metering/Meter.h"
#include "support/Errors.h"
#include "tests/common/Fakes.h"

namespace tallimer::test {

struct RecordingHost : MeterHost {
    struct Line {
        DateTime when;
        std::int32_t durationMs;
        float amount;
    };
    std::vector<Line> lines;
    std::vector<std::string> names;
    std::vector<std::string> closings;
    std::optional<std::string> received, sent;
    int refreshes = 0;
    bool tickEnabled = false;
    bool failClosing = false;
    bool failRefresh = false;
    std::function<void()> duringRefresh;  // runs inside the tick, before it ends

    void showProviderName(const std::string& n) override { names.push_back(n); }
    void closePeriod(Account&, const std::string& n, DateTime) override {
        closings.push_back(n);
        if (failClosing) throw Error("Impossible de créer le fichier Factures/x.rtf");
    }
    void refreshDisplay() override {
        ++refreshes;
        if (duringRefresh) duringRefresh();
        if (failRefresh) throw Error("refresh");
    }
    void showRates(const std::optional<std::string>& r,
                   const std::optional<std::string>& s) override {
        if (r) received = r;
        if (s) sent = s;
    }
    void addInvoiceLine(DateTime when, msTIME d, float amount) override {
        lines.push_back({when, d.totalMs, amount});
    }
    void setTickEnabled(bool e) override { tickEnabled = e; }
};

class MeterTest : public ::testing::Test {
  protected:
    FakeClock clock;
    AccountCollection accounts;
    FakeConnectionName names;
    FakeCounters counters;
    Locale locale = Locale::french();
    RecordingHost host;
    Meter meter{clock, accounts, names, counters, locale};

    MeterTest() {
        meter.setHost(&host);
        clock.utc = 9 * 3600000;  // 09:00 UTC, 10:00 local on a Wednesday
    }
    // An account that closes no period today.
    Account& account(const std::string& name = "") {
        Account& a = accounts.findOrCreate(name);
        a.nextInvoice = EncodeDate(2001, 12, 31);
        return a;
    }
    void tick(std::int32_t afterMs = 1000) {
        clock.advance(afterMs);
        meter.TimerTick();
    }
};

}  // namespace tallimer::test
