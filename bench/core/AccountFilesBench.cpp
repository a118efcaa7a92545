// Loading and saving a folder of 1,000 accounts, and the text of one account.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "accounts/AccountFiles.h"

using namespace tallimer;

namespace {

constexpr int kAccounts = 1000;

class Folder {
  public:
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tallimer-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        path_ = pattern + "/";
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

AccountCollection Accounts() {
    AccountCollection c;
    for (int i = 0; i < kAccounts; ++i) {
        Account& a = c.findOrCreate("Fournisseur " + std::to_string(i));
        a.periodDuration = i * 1000;
        a.periodCost = static_cast<float>(i) * 1.37f;
        a.nextInvoice = 37000 + i;
    }
    return c;
}

// Every file changes: the save at exit after a run on every account.
void BM_SaveAllChanged(benchmark::State& state) {
    Folder folder;
    AccountCollection accounts = Accounts();
    for (auto _ : state) {
        for (auto& [name, account] : accounts) account.periodDuration = account.periodDuration + 1;
        SaveAll(folder.path(), accounts, {});
    }
    state.SetItemsProcessed(state.iterations() * kAccounts);
}
BENCHMARK(BM_SaveAllChanged)->Unit(benchmark::kMillisecond);

// One account changes: the save of every minute of a connection.
void BM_SaveAllOneChanged(benchmark::State& state) {
    Folder folder;
    AccountCollection accounts = Accounts();
    SaveAll(folder.path(), accounts, {});
    Account& current = accounts.findOrCreate("Fournisseur 500");
    for (auto _ : state) {
        current.periodDuration = current.periodDuration + 60000;
        SaveAll(folder.path(), accounts, {current.periodDuration, 0, true});
    }
    state.SetItemsProcessed(state.iterations() * kAccounts);
}
BENCHMARK(BM_SaveAllOneChanged)->Unit(benchmark::kMillisecond);

// Nothing changes: the minute save while off line, or a minute with the state kept.
void BM_SaveAllUnchanged(benchmark::State& state) {
    Folder folder;
    AccountCollection accounts = Accounts();
    SaveAll(folder.path(), accounts, {});
    // Files a minute old, as at the minute save: a file just written is read back once, since
    // a change within its time stamp's step would not show.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    for (auto _ : state) SaveAll(folder.path(), accounts, {});
    state.SetItemsProcessed(state.iterations() * kAccounts);
}
BENCHMARK(BM_SaveAllUnchanged)->Unit(benchmark::kMillisecond);

void BM_LoadAll(benchmark::State& state) {
    Folder folder;
    SaveAll(folder.path(), Accounts(), {});
    for (auto _ : state) {
        AccountCollection accounts;
        OverallState overall;
        LoadAll(folder.path(), accounts, overall);
        if (accounts.size() != kAccounts) state.SkipWithError("accounts missing");
        benchmark::DoNotOptimize(accounts);
    }
    state.SetItemsProcessed(state.iterations() * kAccounts);
}
BENCHMARK(BM_LoadAll)->Unit(benchmark::kMillisecond);

void BM_AccountText(benchmark::State& state) {
    Account a = Accounts().findOrCreate("Fournisseur 7");
    for (auto _ : state) {
        std::string text = WriteAccount(a);
        Account back;
        ReadAccount(text, back);
        benchmark::DoNotOptimize(back);
    }
}
BENCHMARK(BM_AccountText);

}  // namespace
