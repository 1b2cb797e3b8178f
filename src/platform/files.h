#pragma once
// File queries and simple file operations.
#include <chrono>
#include <cstddef>
#include <string>

struct FileAttributes {
  bool exists = false;
  bool isFolder = false;
};

// stat() following links; in-memory engine files registered at their tool paths count as
// existing files.
FileAttributes QueryFileAttributes(const std::string& path);
bool FileExists(const std::string& path);    // exists, file or folder
bool FolderExists(const std::string& path);  // exists and is a folder

// Byte copy; an existing destination is overwritten. False on any failure.
bool CopyFileOverwrite(const std::string& from, const std::string& to);

// Equal ignoring letter case, or both name the same existing file (device and inode).
bool IsSameFile(const std::string& a, const std::string& b);

// Deletes a file; failure is reported by the result only.
bool DeleteFilePath(const std::string& path);

// Absolute path of the running executable (/proc/self/exe), or "" when unknown.
std::string OwnExecutablePath();

// Creates a new empty file named folder + prefix + six random characters + suffix, with the
// permissions a new file usually gets (0666 less the umask), and stores its path. False, with
// the system's reason, on failure.
bool CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                      std::string& path, std::string& why);

// Renames `from` to `to` only when nothing has that name, atomically where the file system
// allows it (renameat2 with RENAME_NOREPLACE, else a hard link and unlink). False, with the
// system's reason, on failure; `taken` tells whether it failed because `to` exists.
bool RenameNoReplace(const std::string& from, const std::string& to, bool& taken, std::string& why);

// True when the path names a device, pipe or socket: written in place, never replaced.
bool IsSpecialFile(const std::string& path);

// What an output name allows. kFree: nothing has the name. kTaken: something holds it that
// is not to be written: a file, a folder, a dangling link, a link another user planted in a
// sticky world-writable folder, or a device or pipe there that is neither ours nor the
// folder owner's (the rules Linux applies with protected_symlinks and protected_fifos).
// kInPlace: a device, pipe or socket that may be written in place, such as /dev/null, or one
// of our own descriptors named as /dev/stdout, /dev/stderr or /dev/fd/N.
enum class OutputNameUse { kFree, kTaken, kInPlace };
OutputNameUse ClassifyOutputName(const std::string& path);

// Copies the regular file `from` into the device, pipe or descriptor `path` that
// ClassifyOutputName found writable in place. False, with the system's reason, on failure
// (a full device, a reader that went away, a name that is no longer a device).
bool WriteInPlace(const std::string& from, const std::string& path, std::string& why);

// True when the file system holding the path has no free block left for us, or was found
// so by this run at or after `since` (by default: now only). A write an engine lost for want
// of room leaves no mark of its own, and the room may be back by the time its file is looked
// at, given up by another job of the run that failed the same way.
bool FileSystemFull(const std::string& path,
                    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::time_point::max());

// Writes every byte, resuming after interrupted or partial writes; false on an error.
bool WriteAll(int fd, const void* data, std::size_t size);

// Copies a regular file's whole contents from its start (the descriptor's offset is left
// alone) to the end of `to`; false on an error.
bool CopyContents(int from, int to);

// Size of a regular file, -1 when it cannot be read.
long long FileSize(const std::string& path);
