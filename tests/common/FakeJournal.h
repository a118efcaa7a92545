#pragma once
// An in-memory connection journal that behaves as the SQLite one does, with failures to
// order.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "metering/Journal.h"

namespace tallimer::test {

class FakeJournal : public ConnectionJournal {
  public:
    std::vector<JournalRow> rows;  // in id order
    bool fail = false;             // every call fails while set
    int writes = 0;                // calls that wrote

    std::int64_t open(const JournalRow& row) override {
        if (failed()) return 0;
        ++writes;
        rows.push_back(row);
        rows.back().id = nextId_++;
        return rows.back().id;
    }
    void refresh(const JournalRow& row) override { replace(row); }
    void close(const JournalRow& row) override { replace(row); }
    void markOpenRowsCutShort() override {
        if (failed()) return;
        for (JournalRow& row : rows)
            if (row.end == JournalEnd::Open) row.end = JournalEnd::CutShort;
    }
    std::vector<JournalRow> query(const JournalQuery& q) override {
        std::vector<JournalRow> found;
        if (failed()) return found;
        for (const JournalRow& row : rows)
            if ((!q.account || row.account == *q.account) &&
                (q.fromLocal.empty() || row.startLocal >= q.fromLocal) &&
                (q.toLocal.empty() || row.startLocal < q.toLocal))
                found.push_back(row);
        std::stable_sort(found.begin(), found.end(), [](const JournalRow& a, const JournalRow& b) {
            return a.startLocal < b.startLocal;
        });
        return found;
    }
    std::size_t importRows(const std::vector<JournalRow>& imported) override {
        if (failed()) return 0;
        std::size_t added = 0;
        for (const JournalRow& row : imported) {
            auto same = [&](const JournalRow& r) {
                return r.account == row.account && r.startLocal == row.startLocal &&
                       r.durationMs == row.durationMs;
            };
            // The n-th of a kind is added while fewer than n are there.
            auto there = std::count_if(rows.begin(), rows.end(), same);
            if (there >= std::count_if(&imported.front(), &row + 1, same)) continue;
            rows.push_back(row);
            rows.back().id = nextId_++;
            ++added;
        }
        if (added) ++writes;
        return added;
    }
    std::string takeError() override { return std::exchange(error_, std::string()); }

  private:
    bool failed() {
        if (fail) error_ = "Le journal des connexions ne peut pas être écrit : disque plein.";
        return fail;
    }
    void replace(const JournalRow& row) {
        if (failed()) return;
        for (JournalRow& r : rows)
            if (r.id == row.id) {
                r = row;
                ++writes;
            }
    }
    std::int64_t nextId_ = 1;
    std::string error_;
};

}  // namespace tallimer::test
