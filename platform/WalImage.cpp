#include "platform/WalImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tallimer {

namespace {

constexpr std::size_t kWalHeader = 32;
constexpr std::size_t kFrameHeader = 24;

// The whole file, or nothing when it cannot be read; a missing file is empty when `missingOk`.
std::optional<std::string> ReadWhole(const std::string& path, bool missingOk,
                                     std::size_t limit = std::string::npos) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (missingOk && errno == ENOENT) return std::string();
        return std::nullopt;
    }
    std::string out;
    char chunk[65536];
    for (;;) {
        const std::size_t want = std::min(sizeof chunk, limit - out.size());
        if (want == 0) break;
        const ssize_t n = ::read(fd, chunk, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

std::uint32_t Big32(const std::string& s, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The log's checksum over `size` bytes (a multiple of 8), going on from `sum`.
void Checksum(const std::string& s, std::size_t at, std::size_t size, bool bigEndian,
              std::uint32_t sum[2]) {
    for (std::size_t i = at; i + 8 <= at + size; i += 8) {
        std::uint32_t x0 = Big32(s, i), x1 = Big32(s, i + 4);
        if (!bigEndian) {
            x0 = __builtin_bswap32(x0);
            x1 = __builtin_bswap32(x1);
        }
        sum[0] += x0 + sum[1];
        sum[1] += x1 + sum[0];
    }
}

struct Frame {
    std::uint32_t page;
    std::size_t at;  // of its page's bytes in the log
};

// The frames of the log's committed transactions, in order, and the database's size in pages
// after the last of them; nothing to lay over when the log is empty or another generation's.
std::vector<Frame> CommittedFrames(const std::string& wal, std::uint32_t& pageSize,
                                   std::uint32_t& pages) {
    std::vector<Frame> committed;
    if (wal.size() < kWalHeader) return committed;
    const std::uint32_t magic = Big32(wal, 0);
    if ((magic & 0xFFFFFFFEu) != 0x377F0682u) return committed;
    const bool bigEndian = magic & 1;
    const std::uint32_t size = Big32(wal, 8);
    if (size < 512 || size > 65536 || (size & (size - 1))) return committed;
    std::uint32_t sum[2] = {0, 0};
    Checksum(wal, 0, 24, bigEndian, sum);
    if (sum[0] != Big32(wal, 24) || sum[1] != Big32(wal, 28)) return committed;
    std::vector<Frame> open;
    for (std::size_t at = kWalHeader; at + kFrameHeader + size <= wal.size();
         at += kFrameHeader + size) {
        // A frame of an older generation, or written only in part, ends the log.
        if (Big32(wal, at + 8) != Big32(wal, 16) || Big32(wal, at + 12) != Big32(wal, 20)) break;
        Checksum(wal, at, 8, bigEndian, sum);
        Checksum(wal, at + kFrameHeader, size, bigEndian, sum);
        if (sum[0] != Big32(wal, at + 16) || sum[1] != Big32(wal, at + 20)) break;
        open.push_back({Big32(wal, at), at + kFrameHeader});
        if (const std::uint32_t commit = Big32(wal, at + 4); commit != 0) {
            committed.insert(committed.end(), open.begin(), open.end());
            open.clear();
            pages = commit;
            pageSize = size;
        }
    }
    return committed;
}

}  // namespace

std::optional<std::string> DatabaseImage(const std::string& path) {
    // A checkpoint that starts the log anew while it is read gives another generation: read
    // again, a few times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::optional<std::string> wal = ReadWhole(path + "-wal", true);
        std::optional<std::string> image = ReadWhole(path, false);
        if (!wal || !image) return std::nullopt;
        const std::optional<std::string> again = ReadWhole(path + "-wal", true, kWalHeader);
        if (!again || again->compare(0, std::string::npos, *wal, 0, again->size()) != 0) continue;

        std::uint32_t pageSize = 0, pages = 0;
        const std::vector<Frame> frames = CommittedFrames(*wal, pageSize, pages);
        if (!frames.empty()) {
            image->resize(std::size_t{pages} * pageSize);
            for (const Frame& f : frames)
                if (f.page >= 1 && f.page <= pages)
                    image->replace(std::size_t{f.page - 1} * pageSize, pageSize, *wal, f.at,
                                   pageSize);
        }
        if (image->size() < 100 || image->compare(0, 16, std::string("SQLite format 3\0", 16)) != 0)
            return std::nullopt;
        // A rollback journal's header: the copy needs no log beside it.
        (*image)[18] = (*image)[19] = 1;
        return image;
    }
    return std::nullopt;
}

}  // namespace tallimer
