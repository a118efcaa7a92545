#pragma once
// Fakes of core's seams, shared by the tests.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accounts/Comptes.h"
#include "invoices/InvoiceDocument.h"
#include "metering/Sources.h"
#include "support/Clock.h"

namespace tallimer::test {

// A clock that says what the test sets. utc is the UTC time of day in ms, mono the monotonic
// reading.
class FakeClock : public Clock {
  public:
    std::int32_t utc = 0;
    LocalDateTime local;  // a Wednesday 10:00 by default
    std::int64_t mono = 1000000;
    FakeClock() { local = {2001, 3, 7, 10, 0, 0, 0, 4}; }
    std::int32_t utcMsOfDay() const override { return utc; }
    LocalDateTime localNow() const override { return local; }
    std::int64_t monotonicMs() const override { return mono; }
    // Real time passing: every clock moves on, local minutes and hours included.
    void advance(std::int32_t ms);
    // The wall clock set forward or back (a time synchronisation): the monotonic clock stays.
    void stepWall(std::int32_t ms);
};

class FakeConnectionName : public ConnectionNameSource {
  public:
    std::string name;
    std::function<void()> onSwitch;
    std::string defaultConnectionName() override { return name; }
    // When `late`, the asking waits until the test answers it.
    bool late = false;
    std::vector<std::function<void(std::string)>> asked;
    void askName(std::function<void(std::string)> answer) override {
        if (late)
            asked.push_back(std::move(answer));
        else
            answer(name);
    }
    void setOnSwitch(std::function<void()> callback) override { onSwitch = std::move(callback); }
};

class FakeCounters : public LinkCounterSource {
  public:
    std::optional<LinkCounters> value;
    int reads = 0;
    int readsAtStart = -1;  // the reads made before the last connection started
    std::optional<LinkCounters> read() override {
        ++reads;
        return value;
    }
    void connectionStarted() override { readsAtStart = reads; }
};

class FakeMeteredLink : public MeteredLinkSource {
  public:
    bool metered = false;
    bool linkMetered() override { return metered; }
};

// An in-memory running invoice: one string per paragraph, bold remembered per paragraph.
class FakeInvoice : public InvoiceDocument {
  public:
    struct Paragraph {
        std::string text;
        CharAttributes attributes;
    };
    std::vector<Paragraph> paragraphs;
    CharAttributes current;
    std::vector<std::string> saves;  // paths saved to, in order
    std::vector<std::string> loads;  // paths loaded from, in order
    bool failSave = false;
    bool failLoad = false;
    std::vector<Paragraph> template_;  // what loadRtf puts in

    CharAttributes appendAttributes() const override { return current; }
    void setAppendAttributes(const CharAttributes& a) override { current = a; }
    void appendParagraph(const std::string& utf8) override;
    std::size_t paragraphCount() const override { return paragraphs.size(); }
    void truncateParagraphs(std::size_t count) override;
    std::string paragraphText(std::size_t index) const override { return paragraphs[index].text; }
    void saveRtf(const std::string& path) override;
    void saveRtfWithout(const std::string& path, const std::vector<std::size_t>& leftOut) override;
    void loadRtf(const std::string& path) override;
    std::string text() const;  // paragraphs joined with "\n"
};

// A fresh folder under the system's temporary folder, removed at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string() + "/"; }  // with the trailing separator

  private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& p);
// An environment variable, empty when unset.
std::string Env(const char* name);
// The build folder: TALLIMER_BUILD_DIR, else the parent of the test program's folder.
std::filesystem::path BuildDir();
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

// What a session or the main window is made on: a data folder with its accounts' and
// invoices' folders, a clock at 10:00 UTC, the connection "Modem" and the link's counters.
struct MeteringGround {
    MeteringGround();
    // An account on disk, with a billing date far ahead.
    void writeAccount(const std::string& name, Account account);

    TempDir dir;
    FakeClock clock;
    FakeConnectionName names;
    FakeCounters counters;
};

}  // namespace tallimer::test
