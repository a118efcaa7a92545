#pragma once
// The one way the program writes its files (account and state files, the running invoice,
// archives and records): a crash or a full disk never leaves a file short or empty.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tallimer {

// The system calls of the write path. Each is announced to the hook first; a hook that
// returns an errno makes that call fail with it, as a full disk or a dead process would.
enum class FileCall {
    Create,
    Write,
    Truncate,
    Sync,
    Close,
    Rename,
    SyncFolder,
    Remove,
    MakeFolder
};
using FileCallHook = std::function<int(FileCall call, const std::string& path)>;
// Empty: every call goes through. Tests only.
void SetFileCallHook(FileCallHook hook);
// How many seconds old a file's time stamps must be before SaveIfChanged trusts them to show
// a change (3 by default: longer than the coarsest step of any time stamp). Tests only.
void SetTrustedStampAge(int seconds);

// Folders whose sync waits until a batch of writes is done: one sync per folder rather than
// one per file. Each file is synced before its rename, so until then a crash leaves each
// one whole, old or new; nothing that hangs on the order of the renames belongs in a batch.
class FolderSyncs {
  public:
    void add(const std::string& folder);
    // Syncs each folder once and empties the batch; true when every sync went through.
    bool syncAll();

  private:
    std::vector<std::string> folders_;
};

// Replaces the file at path with bytes. The bytes go to a uniquely named sibling, every
// write and the flush are checked, the sibling is synced and renamed over path, and the
// folder is synced (or added to later, whose syncAll must then say whether it landed). A folder
// that refuses the sibling, or a disk too full to hold it, gets the existing file rewritten in
// place, with the space reserved first so a full disk leaves it as it was. A symbolic link is
// written through to its target only when that lies inside root (the data folder) or the file's own
// folder. A read-only file, or anything but a file in the way, is left alone. False when path does
// not hold bytes afterwards.
bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& root = {}, FolderSyncs* later = nullptr);
// WriteFileAtomically, unless the file holds bytes already. What was last written or found
// at path is remembered with the file's identity (device, inode, size, times), so a file
// that has not changed costs one stat, not a read back. A file changed, replaced or removed
// since, or one whose time stamps are too recent to tell a change, is read back as before.
bool SaveIfChanged(const std::string& path, std::string_view bytes, const std::string& root = {},
                   FolderSyncs* later = nullptr);
// Whether the regular file at path holds exactly bytes.
bool FileHolds(const std::string& path, std::string_view bytes);
// What tells one state of a file from another without reading it.
struct FileStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the regular file at path; false when there is none.
bool StampOfFile(const std::string& path, FileStamp& stamp);
// The last (at most) count bytes of the regular file at path, with its stamp; false when it
// cannot be read.
bool ReadFileTail(const std::string& path, std::size_t count, std::string& tail, FileStamp& stamp);
// Writes bytes over the last cut bytes of the regular file at path (no link followed), when
// it still has the stamp expected; the space is reserved first, so a full disk leaves the
// file as it was, and the file is synced. Gives the new stamp; false when nothing was
// written (errno set) or the file could not be put back after a failed write.
bool ReplaceFileTail(const std::string& path, const FileStamp& expected, std::size_t cut,
                     std::string_view bytes, FileStamp& stamp);
// The whole of the regular file at path; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
// Removes a file, synced; true when it is gone.
bool RemoveFile(const std::string& path);
// Creates the folder (and its parents) when missing; true when it exists.
bool MakeFolder(const std::string& path);
// Removes, in folder, what writes cut short by a crash left behind: the siblings of this
// write path and those of earlier versions (a program file's name with ".tmp" or a dot and
// six letters).
void RemoveLeftovers(const std::string& folder);

}  // namespace tallimer
