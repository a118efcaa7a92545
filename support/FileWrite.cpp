#include "support/FileWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <unordered_map>
#include <utility>

namespace tallimer {

namespace {

FileCallHook& Hook() {
    static FileCallHook hook;
    return hook;
}

// Asks the hook about a call; false (errno set) when it must fail.
bool Allowed(FileCall call, const std::string& path) {
    if (!Hook()) return true;
    if (int error = Hook()(call, path)) {
        errno = error;
        return false;
    }
    return true;
}

constexpr const char* kSiblingPrefix = ".~tallimer-";

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string RealPath(const std::string& path) {
    std::string out;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        out = real;
        std::free(real);
    }
    return out;
}

bool Inside(const std::string& real, const std::string& folder) {
    if (folder.empty()) return false;
    std::string base = RealPath(folder);
    if (base.empty()) return false;
    if (base.back() != '/') base += '/';
    return real.compare(0, base.size(), base) == 0;
}

bool WriteAt(int fd, std::string_view bytes, off_t offset, const std::string& path);

bool WriteAll(int fd, std::string_view bytes, const std::string& path) {
    return WriteAt(fd, bytes, 0, path);
}

bool Sync(int fd, const std::string& path) {
    return Allowed(FileCall::Sync, path) && ::fsync(fd) == 0;
}

bool Close(int fd, const std::string& path) {
    // A refused close still releases the descriptor.
    bool allowed = Allowed(FileCall::Close, path);
    return ::close(fd) == 0 && allowed;
}

bool SyncFolder(const std::string& folder) {
    if (!Allowed(FileCall::SyncFolder, folder)) return false;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // Some file systems cannot sync a folder; what they refuse is not a failed write.
    bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    ::close(fd);
    return ok;
}

// The file rewritten where it is, for a folder that lets its files be written but refuses
// new names in it. The space is taken first, so a full disk fails before anything changed.
bool RewriteInPlace(const std::string& target, std::string_view bytes) {
    if (!Allowed(FileCall::Create, target)) return false;
    int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && bytes.size() > static_cast<std::size_t>(st.st_size)) {
        int error = ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
        ok = error == 0 || error == EOPNOTSUPP || error == EINVAL;
    }
    ok = ok && WriteAll(fd, bytes, target);
    ok = ok && Allowed(FileCall::Truncate, target) &&
         ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    ok = ok && Sync(fd, target);
    return Close(fd, target) && ok;
}

long long Nanoseconds(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
            static_cast<unsigned long long>(st.st_size), Nanoseconds(st.st_mtim)};
}

bool ReadAt(int fd, char* out, std::size_t count, off_t offset) {
    while (count > 0) {
        ssize_t n = ::pread(fd, out, count, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        count -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool WriteAt(int fd, std::string_view bytes, off_t offset, const std::string& path) {
    while (!bytes.empty()) {
        if (!Allowed(FileCall::Write, path)) return false;
        ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

// The open file holds exactly bytes; st receives its identity as it was before the read, so
// a change made while reading shows at the next look.
bool Holds(int fd, std::string_view bytes, struct stat& st) {
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                static_cast<std::size_t>(st.st_size) == bytes.size();
    char buffer[4096];
    while (same && !bytes.empty()) {
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        same = n > 0 && bytes.substr(0, static_cast<std::size_t>(n)) ==
                            std::string_view(buffer, static_cast<std::size_t>(n));
        if (same) bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return same;
}

bool HoldsAt(const std::string& path, std::string_view bytes, struct stat& st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool same = Holds(fd, bytes, st);
    ::close(fd);
    return same;
}

// What a file held when this program last wrote or read it, and who the file was then.
struct Known {
    std::string bytes;
    FileStamp stamp;
    long long changedNs = 0;  // a rename or a change of owner moves it, not the stamp
    // Its change time was old enough that any later change shows in the time stamps.
    bool settled = false;
};

// Longer than the coarsest step of a time stamp (2 s on FAT).
time_t trustedStampAge = 3;

std::unordered_map<std::string, Known>& Memo() {
    static std::unordered_map<std::string, Known> memo;
    return memo;
}

bool SameFile(const Known& k, const struct stat& st) {
    return S_ISREG(st.st_mode) && k.stamp == StampOf(st) && k.changedNs == Nanoseconds(st.st_ctim);
}

void Remember(const std::string& path, std::string_view bytes, const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Known& k = Memo()[path];
    k.bytes.assign(bytes);
    k.stamp = StampOf(st);
    k.changedNs = Nanoseconds(st.st_ctim);
    // A file changed within the same step of the clock as this look could keep these stamps.
    k.settled = now.tv_sec - st.st_ctim.tv_sec > trustedStampAge &&
                now.tv_sec - st.st_mtim.tv_sec > trustedStampAge;
}

mode_t NewFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void SetFileCallHook(FileCallHook hook) {
    Hook() = std::move(hook);
}

void SetTrustedStampAge(int seconds) {
    trustedStampAge = seconds;
}

void FolderSyncs::add(const std::string& folder) {
    if (std::find(folders_.begin(), folders_.end(), folder) == folders_.end())
        folders_.push_back(folder);
}

bool FolderSyncs::syncAll() {
    // A folder whose sync failed holds renames that may not last: it is owed a sync, which
    // the next batch makes even when none of its files changed.
    static std::vector<std::string> owed;
    for (const std::string& folder : owed) add(folder);
    owed.clear();
    for (const std::string& folder : folders_)
        if (!SyncFolder(folder)) owed.push_back(folder);
    folders_.clear();
    return owed.empty();
}

bool FileHolds(const std::string& path, std::string_view bytes) {
    struct stat st;
    return HoldsAt(path, bytes, st);
}

bool SaveIfChanged(const std::string& path, std::string_view bytes, const std::string& root,
                   FolderSyncs* later) {
    struct stat st;
    auto known = Memo().find(path);
    if (known != Memo().end() && known->second.settled && ::stat(path.c_str(), &st) == 0 &&
        SameFile(known->second, st)) {
        if (known->second.bytes == bytes) return true;
    } else if (known != Memo().end() && known->second.bytes != bytes) {
        // New content (the usual minute of a connection): it is written whatever the file
        // holds, so reading it first would only cost an open.
    } else if (HoldsAt(path, bytes, st)) {
        Remember(path, bytes, st);
        return true;
    }
    if (!WriteFileAtomically(path, bytes, root, later)) return false;
    if (::stat(path.c_str(), &st) == 0) Remember(path, bytes, st);
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, const std::string& root,
                         FolderSyncs* later) {
    // Whatever happens now, what the file held before is no longer known.
    Memo().erase(path);
    std::string target = path;
    struct stat st;
    const bool linkSeen = ::lstat(path.c_str(), &st) == 0;
    if (linkSeen && S_ISLNK(st.st_mode)) {
        // Through a link, so the link stays a link; but never out of the data. A link to
        // nothing is replaced by the file.
        std::string real = RealPath(path);
        if (!real.empty()) {
            if (!Inside(real, root) && !Inside(real, FolderOf(path))) return false;
            target = real;
        }
    }
    // Not a link: what lstat saw is the file itself.
    const bool exists =
        target == path ? linkSeen && !S_ISLNK(st.st_mode) : ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0)) return false;

    const std::string folder = FolderOf(target);
    std::string temp = folder + kSiblingPrefix + "XXXXXX";
    // A folder that refuses new names, or a disk too full for a second copy: the file's own
    // blocks hold about the same bytes.
    auto inPlace = [&](int error) {
        return exists && (error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT);
    };
    int fd = -1;
    if (Allowed(FileCall::Create, temp)) fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return inPlace(errno) && RewriteInPlace(target, bytes);
    int error = 0;
    auto failed = [&error] {
        if (!error) error = errno;
        return false;
    };
    bool ok = WriteAll(fd, bytes, temp) || failed();
    if (ok) {
        ::fchmod(fd, exists ? st.st_mode & 07777 : NewFileMode());
        static const bool root = ::geteuid() == 0;
        if (exists && root && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // The owner stays root; the content is what matters.
        }
    }
    ok = ok && (Sync(fd, temp) || failed());
    ok = (Close(fd, temp) || failed()) && ok;
    ok =
        ok && ((Allowed(FileCall::Rename, target) && ::rename(temp.c_str(), target.c_str()) == 0) ||
               failed());
    if (!ok) {
        if (Allowed(FileCall::Remove, temp)) ::unlink(temp.c_str());
        return inPlace(error) && RewriteInPlace(target, bytes);
    }
    if (later) {
        later->add(folder);
        return true;
    }
    return SyncFolder(folder);
}

bool StampOfFile(const std::string& path, FileStamp& stamp) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp = StampOf(st);
    return true;
}

bool ReadFileTail(const std::string& path, std::size_t count, std::string& tail, FileStamp& stamp) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        stamp = StampOf(st);
        const auto size = static_cast<std::size_t>(st.st_size);
        tail.resize(std::min(count, size));
        ok = ReadAt(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
    }
    ::close(fd);
    return ok;
}

bool ReplaceFileTail(const std::string& path, const FileStamp& expected, std::size_t cut,
                     std::string_view bytes, FileStamp& stamp) {
    if (!Allowed(FileCall::Create, path)) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(StampOf(st) == expected) ||
        expected.size < cut) {
        ::close(fd);
        errno = ESTALE;
        return false;
    }
    const auto at = static_cast<off_t>(expected.size - cut);
    std::string old(cut, '\0');
    bool ok = ReadAt(fd, old.data(), cut, at);
    // Reserved first, the size kept: a full disk fails here, before a byte has changed,
    // and a crash leaves no reserved zeros at the end.
    if (ok && bytes.size() > cut) {
        ok = Allowed(FileCall::Write, path) &&
             (::fallocate(fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes.size())) == 0 ||
              errno == EOPNOTSUPP || errno == ENOSYS);
    }
    bool intact = true;
    if (ok && !WriteAt(fd, bytes, at, path)) {
        // Cut short: the old end goes back, so the file holds what it held.
        const int error = errno;
        intact = ::pwrite(fd, old.data(), cut, at) == static_cast<ssize_t>(cut) &&
                 ::ftruncate(fd, static_cast<off_t>(expected.size)) == 0;
        errno = error;
        ok = false;
    }
    if (ok && bytes.size() < cut) {
        ok = Allowed(FileCall::Truncate, path) &&
             ::ftruncate(fd, at + static_cast<off_t>(bytes.size())) == 0;
    }
    ok = ok && Sync(fd, path) && ::fstat(fd, &st) == 0;
    if (ok) stamp = StampOf(st);
    return Close(fd, path) && ok && intact;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bytes.clear();
    if (ok) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[16384];
    for (ssize_t n = 1; ok && n > 0;) {
        n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        ok = n >= 0;
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool RemoveFile(const std::string& path) {
    Memo().erase(path);
    if (!Allowed(FileCall::Remove, path)) return false;
    if (::unlink(path.c_str()) != 0) return errno == ENOENT;
    return SyncFolder(FolderOf(path));
}

bool MakeFolder(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    auto slash = trimmed.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolder(trimmed.substr(0, slash)))
        return false;
    if (!Allowed(FileCall::MakeFolder, trimmed)) return false;
    return ::mkdir(trimmed.c_str(), 0777) == 0 || errno == EEXIST;
}

void RemoveLeftovers(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    auto endsWith = [](std::string_view s, std::string_view end) {
        return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
    };
    // Random letters and digits; a plain lower-case word ("backup") is the user's.
    auto isSixLetters = [](std::string_view s) {
        if (s.size() != 6) return false;
        bool word = true;
        for (char c : s) {
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
                return false;
            if (c < 'a') word = false;
        }
        return !word;
    };
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        bool leftover = name.starts_with(kSiblingPrefix) ||
                        (name.starts_with(".tallimer-") && endsWith(name, ".tmp"));
        for (std::string_view kind : {".fai", ".inf", ".rtf"}) {
            if (endsWith(name, std::string(kind) + ".tmp")) leftover = true;
            auto at = name.rfind(kind);
            if (at != std::string_view::npos && name.size() == at + kind.size() + 7 &&
                name[at + kind.size()] == '.' && isSixLetters(name.substr(at + kind.size() + 1)))
                leftover = true;
        }
        struct stat st;
        std::string path = base + std::string(name);
        if (leftover && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}

}  // namespace tallimer
