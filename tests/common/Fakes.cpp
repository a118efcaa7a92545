#include "tests/common/Fakes.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "accounts/AccountFiles.h"
#include "support/Date.h"
#include "support/Errors.h"
#include "support/FileWrite.h"

namespace tallimer::test {

void FakeClock::advance(std::int32_t ms) {
    stepWall(ms);
    mono += ms;
}

void FakeClock::stepWall(std::int32_t ms) {
    constexpr long long kDay = 86400000;
    auto floorDiv = [](long long a, long long b) { return a / b - (a % b < 0 ? 1 : 0); };
    utc = static_cast<std::int32_t>(((utc + ms) % kDay + kDay) % kDay);
    long long total = ((local.hour * 60LL + local.minute) * 60LL + local.second) * 1000LL +
                      local.millisecond + ms;
    long long days = floorDiv(total, kDay);
    total -= days * kDay;
    local.hour = static_cast<int>(total / 3600000);
    local.minute = static_cast<int>(total / 60000 % 60);
    local.second = static_cast<int>(total / 1000 % 60);
    local.millisecond = static_cast<int>(total % 1000);
    if (days) {
        local.day += static_cast<int>(days);  // tests stay within a month
        local.dayOfWeek = static_cast<int>(((local.dayOfWeek - 1 + days) % 7 + 7) % 7 + 1);
    }
}

void FakeInvoice::appendParagraph(const std::string& utf8) {
    std::size_t start = 0;
    while (true) {
        auto nl = utf8.find('\n', start);
        paragraphs.push_back({utf8.substr(start, nl - start), current});
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
}

void FakeInvoice::truncateParagraphs(std::size_t count) {
    if (count < paragraphs.size()) paragraphs.resize(count);
}

void FakeInvoice::saveRtf(const std::string& path) {
    if (failSave) throw FileError::create(path);
    // The program's own write path, so faults injected there reach the fake's files too.
    if (!WriteFileAtomically(path, text())) throw FileError::create(path);
    saves.push_back(path);
}

void FakeInvoice::saveRtfWithout(const std::string& path, const std::vector<std::size_t>& leftOut) {
    FakeInvoice copy = *this;
    for (auto i = leftOut.rbegin(); i != leftOut.rend(); ++i)
        copy.paragraphs.erase(copy.paragraphs.begin() + static_cast<std::ptrdiff_t>(*i));
    copy.saveRtf(path);
    saves.push_back(path);
}

void FakeInvoice::loadRtf(const std::string& path) {
    if (failLoad) throw FileError::open(path);
    loads.push_back(path);
    paragraphs = template_;
}

std::string FakeInvoice::text() const {
    std::string out;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) out += (i ? "\n" : "") + paragraphs[i].text;
    return out;
}

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    do {
        path_ = base / ("tallimer-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
    } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make read-only leftovers removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::filesystem::path BuildDir() {
    if (std::string dir = Env("TALLIMER_BUILD_DIR"); !dir.empty()) return dir;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

MeteringGround::MeteringGround() {
    std::filesystem::create_directory(dir.path() / "Comptes");
    std::filesystem::create_directory(dir.path() / "Factures");
    clock.utc = 36000000;  // 10:00 UTC
    names.name = "Modem";
}

void MeteringGround::writeAccount(const std::string& name, Account account) {
    account.nextInvoice = EncodeDate(2030, 1, 1);
    WriteFile(dir.path() / "Comptes" / (name + ".fai"), WriteAccount(account));
}

}  // namespace tallimer::test
