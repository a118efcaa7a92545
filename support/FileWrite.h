#pragma once
// The one way the program writes its files (account and state files, the running invoice,
// archives and records): a crash or a full disk never leaves a file short or empty.
#include <functional>
#include <string>
#include <string_view>

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

// Replaces the file at path with bytes. The bytes go to a uniquely named sibling, every
// write and the flush are checked, the sibling is synced and renamed over path, and the
// folder is synced. A folder that refuses the sibling gets the existing file rewritten in
// place, with the space reserved first so a full disk leaves it as it was. A symbolic link
// is written through to its target only when that lies inside root (the data folder) or
// the file's own folder. A read-only file, or anything but a file in the way, is left
// alone. False when path does not hold bytes afterwards.
bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& root = {});
// Whether the regular file at path holds exactly bytes.
bool FileHolds(const std::string& path, std::string_view bytes);
// Removes a file, synced; true when it is gone.
bool RemoveFile(const std::string& path);
// Creates the folder (and its parents) when missing; true when it exists.
bool MakeFolder(const std::string& path);
// Removes, in folder, what writes cut short by a crash left behind: the siblings of this
// write path and those of earlier versions (a program file's name with ".tmp" or a dot and
// six letters).
void RemoveLeftovers(const std::string& folder);

}  // namespace tallimer
