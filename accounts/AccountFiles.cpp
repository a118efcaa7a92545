#include "accounts/AccountFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "support/Date.h"
#include "support/FileWrite.h"

namespace tallimer {

namespace {

constexpr char kCtrlZ = 0x1A;
// Significant digits kept of a real number; what lies beyond only says whether it is zero,
// which is all the rounding to a float needs.
constexpr std::size_t kKeptDigits = 800;

bool IsSpace(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

// Values read as the stream extraction reads them, from memory or from an open file: white
// space skipped, then the longest prefix that is a number of the kind; the rest of the token is
// where the next value starts. A Ctrl-Z ends the text. Files are read in small chunks, so a
// huge file costs only what is read of it.
class ValueReader {
  public:
    explicit ValueReader(std::string_view bytes) : window_(bytes) {}
    explicit ValueReader(int fd) : fd_(fd) {}

    // Each gives false, storing nothing, when no value of its kind starts there.
    bool time(msTIME& t) {
        std::int32_t v;
        if (!integer(v)) return false;
        t = v;
        return true;
    }
    bool time(TotalTime& t) { return integer(t.totalMs); }

    template <class T>
    bool integer(T& out) {
        skipSpace();
        int c = get();
        const bool negative = c == '-';
        if (c == '+' || c == '-') c = get();
        if (!IsDigit(c) || (negative && std::is_unsigned_v<T>)) return false;
        const unsigned long long limit =
            static_cast<unsigned long long>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
        unsigned long long v = 0;
        bool over = false;
        for (; IsDigit(c); c = get()) {
            if (over) continue;
            v = v * 10 + static_cast<unsigned>(c - '0');
            over = v > limit;
        }
        unget(c);
        if (over) return false;
        // Negated unsigned: the most negative 64-bit value has no positive counterpart.
        out = static_cast<T>(static_cast<long long>(negative ? 0 - v : v));
        return true;
    }

    bool flag(bool& out) {
        std::int32_t v = -1;
        if (!integer(v) || (v != 0 && v != 1)) return false;
        out = v == 1;
        return true;
    }

    // A type number: read through an int and kept as its low 8 bits.
    bool byte(std::int8_t& out) {
        std::int32_t v;
        if (!integer(v)) return false;
        out = static_cast<std::int8_t>(static_cast<std::uint8_t>(v & 0xFF));
        return true;
    }

    // Sign, digits with one point, exponent. "inf" and "nan" are no numbers here, and a
    // value beyond a float (1e400, or 1e-50 that would become 0) is malformed.
    bool real(float& out) {
        skipSpace();
        int c = get();
        const bool negative = c == '-';
        if (c == '+' || c == '-') c = get();
        std::string digits;  // significant digits: value = 0.digits x 10^exponent
        long long exponent = 0;
        bool anyDigit = false, dropped = false;
        auto keep = [&](int d) {
            if (digits.size() < kKeptDigits)
                digits += static_cast<char>(d);
            else if (d != '0')
                dropped = true;
        };
        for (; IsDigit(c); c = get()) {
            anyDigit = true;
            if (digits.empty() && c == '0') continue;
            keep(c);
            ++exponent;
        }
        if (c == '.') {
            for (c = get(); IsDigit(c); c = get()) {
                anyDigit = true;
                if (digits.empty() && c == '0')
                    --exponent;
                else
                    keep(c);
            }
        }
        if (!anyDigit) return false;
        if (c == 'e' || c == 'E') {
            const int e = c;
            c = get();
            const int sign = c == '+' || c == '-' ? c : 0;
            if (sign) c = get();
            if (IsDigit(c)) {
                long long power = 0;
                for (; IsDigit(c); c = get()) power = std::min(power * 10 + (c - '0'), 1LL << 40);
                exponent += sign == '-' ? -power : power;
            } else {
                // No digits after it: the number ends before the "e".
                unget(c);
                if (sign) unget(sign);
                c = e;
            }
        }
        unget(c);
        float v = 0;
        if (!digits.empty()) {
            if (dropped) digits += '1';
            const std::string text = "0." + digits + "e" + std::to_string(exponent);
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v,
                                             std::chars_format::general);
            if (ec != std::errc() || end != text.data() + text.size()) return false;
        }
        out = negative ? -v : v;
        return true;
    }

  private:
    void skipSpace() {
        int c;
        while (IsSpace(c = get())) {
        }
        unget(c);
    }

    int get() {
        if (pushed_ > 0) return pushback_[--pushed_];
        if (ended_) return -1;
        if (pos_ == window_.size() && !refill()) return -1;
        char c = window_[pos_++];
        if (c == kCtrlZ) {
            ended_ = true;
            return -1;
        }
        return static_cast<unsigned char>(c);
    }

    // Gives back a character read, to be read again; the end of the text stays the end.
    void unget(int c) {
        if (c >= 0 && pushed_ < 3) pushback_[pushed_++] = c;
    }

    bool refill() {
        if (fd_ < 0) {
            ended_ = true;
            return false;
        }
        ssize_t n;
        do {
            n = ::read(fd_, buffer_, sizeof buffer_);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            ended_ = true;
            return false;
        }
        window_ = std::string_view(buffer_, static_cast<std::size_t>(n));
        pos_ = 0;
        return true;
    }

    int fd_ = -1;
    std::string_view window_;
    std::size_t pos_ = 0;
    bool ended_ = false;
    int pushback_[3] = {};  // at most "e", a sign and the character after them
    int pushed_ = 0;
    char buffer_[4096];
};

void ReadAccountFrom(ValueReader& in, Account& a) {
    if (!(in.time(a.periodDuration) && in.real(a.periodCost) && in.time(a.packageDuration) &&
          in.time(a.packageRemaining) && in.real(a.pricePerSecond) && in.time(a.creditDuration) &&
          in.real(a.offPeakPrice) && in.real(a.creditPrice) && in.real(a.packagePrice) &&
          in.flag(a.packageEnabled) && in.flag(a.primaliste) && in.flag(a.primalisteInternet) &&
          in.flag(a.packageCharged) && in.byte(a.packageType) && in.byte(a.reductionType)))
        return;
    unsigned year = 0, month = 0, day = 0;
    if (!(in.integer(year) && in.integer(month) && in.integer(day))) return;
    // A day past its month's end (a hand-typed 31) is that month's last day: a hand edit must
    // not close a period. Any other date not in the calendar keeps the default; the values
    // after it still count.
    if (year <= 9999 && day > 28 && day <= 31 && IsValidDate(static_cast<int>(year), month, 1))
        while (!IsValidDate(static_cast<int>(year), month, day)) --day;
    if (year <= 9999 && IsValidDate(static_cast<int>(year), month, day))
        a.nextInvoice = EncodeDate(static_cast<int>(year), month, day);
    in.integer(a.periodMonths);
}

void ReadStateFrom(ValueReader& in, OverallState& s) {
    if (in.time(s.overallDuration) && in.real(s.overallCost)) in.flag(s.askOnExit);
}

// Opens a file to read without blocking on a pipe and reads only regular files.
template <class Read>
void ReadFileWith(const std::string& path, Read read) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ValueReader in(fd);
        read(in);
    }
    ::close(fd);
}

template <class T>
void AppendInteger(std::string& out, T v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

void AppendLine(std::string& out, std::string_view text) {
    out += text;
    out += "\r\n";
}

// Whether a "\" at i starts one of the three escapes.
bool IsEscapeAt(std::string_view s, std::size_t i) {
    if (s[i] != '\\' || s.size() - i < 3) return false;
    std::string_view code = s.substr(i + 1, 2);
    return code == "2F" || code == "00" || code == "5C";
}

}  // namespace

std::string FileFloatText(float value) {
    if (std::isnan(value)) value = 0;
    if (std::isinf(value)) value = std::copysign(FLT_MAX, value);
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value),
                                   std::chars_format::general, 6);
    return std::string(buf, end);
}

std::string WriteAccount(const Account& a) {
    std::string out;
    auto integer = [&](auto v) {
        AppendInteger(out, v);
        out += "\r\n";
    };
    auto real = [&](float v) { AppendLine(out, FileFloatText(v)); };
    integer(a.periodDuration.totalMs);
    real(a.periodCost);
    integer(a.packageDuration.totalMs);
    integer(a.packageRemaining.totalMs);
    real(a.pricePerSecond);
    integer(a.creditDuration.totalMs);
    real(a.offPeakPrice);
    real(a.creditPrice);
    real(a.packagePrice);
    integer(a.packageEnabled ? 1 : 0);
    integer(a.primaliste ? 1 : 0);
    integer(a.primalisteInternet ? 1 : 0);
    integer(a.packageCharged ? 1 : 0);
    AppendInteger(out, static_cast<int>(a.packageType));
    out += ' ';
    integer(static_cast<int>(a.reductionType));
    YearMonthDay d = DecodeDate(a.nextInvoice);
    // Only years 1 to 9999 read back; a date beyond them keeps its side of the calendar.
    if (d.year < 1) d = {1, 1, 1};
    if (d.year > 9999) d = {9999, 12, 31};
    AppendInteger(out, d.year);
    out += ' ';
    AppendInteger(out, d.month);
    out += ' ';
    integer(d.day);
    integer(static_cast<unsigned>(a.periodMonths));
    return out;
}

std::string WriteState(const OverallState& s) {
    std::string out;
    AppendInteger(out, s.overallDuration.totalMs);
    out += "\r\n";
    AppendLine(out, FileFloatText(s.overallCost));
    out += s.askOnExit ? '1' : '0';  // no line end after the last value
    return out;
}

void ReadAccount(std::string_view bytes, Account& account) {
    ValueReader in(bytes);
    ReadAccountFrom(in, account);
}

void ReadState(std::string_view bytes, OverallState& state) {
    ValueReader in(bytes);
    ReadStateFrom(in, state);
}

namespace {

std::string Escaped(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '/')
            out += "\\2F";
        else if (c == '\0')
            out += "\\00";
        else if (IsEscapeAt(name, i))
            out += "\\5C";
        else
            out += c;
    }
    return out;
}

constexpr std::size_t kHashDigits = 16;

std::string NameHash(std::string_view name) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(kHashDigits, '0');
    for (std::size_t i = kHashDigits; i-- > 0; h >>= 4) out[i] = kHex[h & 15];
    return out;
}

// The side file that keeps the whole name of an account whose file name was shortened.
std::string SideFileName(const std::string& accountFile) {
    return accountFile.substr(0, accountFile.size() - 4) + ".nom";
}

bool Shortened(const std::string& name) {
    return Escaped(name).size() + 4 > NAME_MAX;
}

bool SaveAccountIn(const std::string& appFolder, const std::string& name, const Account& account,
                   FolderSyncs* later) {
    const std::string folder = appFolder + "Comptes/";
    const std::string file = AccountFileName(name);
    // The whole name first and on disk, so an account file is never found without it.
    if (Shortened(name) && !SaveIfChanged(folder + SideFileName(file), name, appFolder))
        return false;
    return SaveIfChanged(folder + file, WriteAccount(account), appFolder, later);
}

}  // namespace

std::string FileStem(const std::string& name, std::size_t maxBytes) {
    std::string stem = Escaped(name);
    if (stem.size() <= maxBytes) return stem;
    const std::size_t tail = kHashDigits + 1;
    std::size_t cut = maxBytes > tail ? maxBytes - tail : 0;
    // Never inside a character of several bytes or inside an escape.
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    for (std::size_t back = 1; back <= 2 && back <= cut; ++back)
        if (IsEscapeAt(stem, cut - back)) {
            cut -= back;
            break;
        }
    return stem.substr(0, cut) + "~" + NameHash(name);
}

std::string AccountFileName(const std::string& name) {
    return FileStem(name, NAME_MAX - 4) + ".fai";
}

bool AccountFullName(const std::string& folder, const std::string& fileName, std::string& name) {
    const std::size_t stem = fileName.size() - 4;
    if (fileName.size() < 4 + kHashDigits + 1 || fileName[stem - kHashDigits - 1] != '~')
        return false;
    int fd = ::open((folder + SideFileName(fileName)).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::string whole;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 65536) {
        whole.resize(static_cast<std::size_t>(st.st_size));
        ssize_t n = ::read(fd, whole.data(), whole.size());
        whole.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
    if (whole.empty() || NameHash(whole) != fileName.substr(stem - kHashDigits, kHashDigits) ||
        AccountFileName(whole) != fileName)
        return false;
    name = std::move(whole);
    return true;
}

bool AccountNameFromFileName(const std::string& fileName, std::string& name) {
    if (fileName.size() < 4) return false;
    std::string_view stem(fileName.data(), fileName.size() - 4);
    std::string_view ext(fileName.data() + stem.size(), 4);
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (ext[0] != '.' || lower(ext[1]) != 'f' || lower(ext[2]) != 'a' || lower(ext[3]) != 'i')
        return false;
    name.clear();
    for (std::size_t i = 0; i < stem.size(); ++i) {
        if (IsEscapeAt(stem, i)) {
            std::string_view code = stem.substr(i + 1, 2);
            name += code == "2F" ? '/' : code == "00" ? '\0' : '\\';
            i += 2;
        } else {
            name += stem[i];
        }
    }
    return true;
}

void LoadAll(const std::string& appFolder, AccountCollection& accounts, OverallState& state) {
    ReadFileWith(appFolder + "tallimer.inf", [&](ValueReader& in) { ReadStateFrom(in, state); });

    // Files that this program would not have written under that name ("X.FAI", a name
    // escaped by hand) are read first, so the file it writes has the last word.
    std::vector<std::tuple<bool, std::string, std::string>> found;  // written here, file, name
    const std::string folder = appFolder + "Comptes/";
    DIR* dir = ::opendir(folder.c_str());
    while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
        std::string file = entry->d_name;
        std::string name;
        if (!AccountNameFromFileName(file, name)) continue;
        AccountFullName(folder, file, name);  // a shortened name comes back whole
        found.emplace_back(AccountFileName(name) == file, file, std::move(name));
    }
    if (dir) ::closedir(dir);
    std::sort(found.begin(), found.end());
    for (const auto& [plain, file, name] : found) {
        // A folder, or a file that cannot be opened, still yields the account.
        Account& account = accounts.findOrCreate(name);
        ReadFileWith(folder + file, [&](ValueReader& in) { ReadAccountFrom(in, account); });
    }
}

bool SaveAll(const std::string& appFolder, const AccountCollection& accounts,
             const OverallState& state, std::string* failed) {
    // Each file stands alone (a crash leaves each one old or new, and the connection's record
    // covers the rest), so the folders are synced once, after the last rename.
    FolderSyncs later;
    std::string first;
    auto note = [&](bool written, const std::string& path) {
        if (!written && first.empty()) first = path;
    };
    note(SaveIfChanged(appFolder + "tallimer.inf", WriteState(state), appFolder, &later),
         appFolder + "tallimer.inf");
    const bool folder = MakeFolder(appFolder + "Comptes");
    for (const auto& [name, account] : accounts)
        note(folder && SaveAccountIn(appFolder, name, account, &later),
             appFolder + "Comptes/" + AccountFileName(name));
    note(later.syncAll(), appFolder);
    if (failed) *failed = first;
    return first.empty();
}

bool SaveAccountFile(const std::string& appFolder, const std::string& name,
                     const Account& account) {
    return MakeFolder(appFolder + "Comptes") && SaveAccountIn(appFolder, name, account, nullptr);
}

}  // namespace tallimer
