#pragma once
// The run's temporary files. Every name lives in one private folder (mode 0700) made under
// $TMPDIR (else /tmp) on the first request: "trw" + four hex digits + ".tmp" + suffix.
// Everything listed is deleted by DeleteTempFiles, then the folder when it is empty.
#include <cstddef>
#include <string>
#include <vector>

// A fresh name with the suffix (when not null) appended, listed for deletion. False, with the
// reason, when no private folder can be made or no name is left.
bool MakeTempPath(const char* suffix, std::string& path, std::string& why);

// Most bytes the run holds in temporary files in memory at once (many large frames of one
// picture go to disk beyond it).
inline constexpr std::size_t kMemoryTempBudget = std::size_t{128} << 20;

// A temporary file held in memory rather than in the private folder (a bitmap that an engine
// reads on its standard input), for about `size` bytes: a fresh name, which file queries take
// as an existing file, and `fd`, an in-memory file open for reading and writing at offset 0,
// owned by this list, which the caller writes over and cuts to length (this thread's released
// one is taken again when it has one, with its last contents). False,
// with the reason, when the system makes no in-memory file or the budget above has no room:
// the caller then writes a file in the private folder.
bool MakeMemoryTempFile(const char* suffix, std::size_t size, std::string& path, int& fd, std::string& why);

// The in-memory file under `path`, -1 when MakeMemoryTempFile made none there.
int MemoryTempFile(const std::string& path);

// Done with a temporary file before the end of the run: one on disk is deleted, one in memory
// is kept for this thread's next MakeMemoryTempFile (a long batch neither makes and deletes a
// file per job nor holds every job's bitmap until its end).
void ReleaseTempFile(const std::string& path);

// MakeTempPath into buffer (capacity bytes, terminating zero included); returns the name's
// length. Returns 0 and leaves buffer untouched when capacity is 0; returns 0 with an empty
// buffer when MakeTempPath fails or the name does not fit.
int MakeTempFileName(std::size_t capacity, char* buffer, const char* suffix);

// Lists a path unless an entry equal to it ignoring case is already there. Null: nothing.
void RegisterTempFile(const char* path);

// A private output file outside the private folder, deleted should the run be interrupted
// before UnlistPendingOutput. Returns its slot, -1 when none is free.
int ListPendingOutput(const std::string& path);
void UnlistPendingOutput(int slot);

// Deletes every listed file in list order (failures ignored), then the private folder when
// it is empty, and lets go of the files held in memory. The list keeps its entries.
void DeleteTempFiles();

// A copy of the list, for tests.
std::vector<std::string> TempFileListSnapshot();

// Path of the private folder, "" when none has been made yet.
std::string TempFolderPath();

// Installs handlers for SIGINT, SIGTERM and SIGHUP that end the running children, delete the
// temporary files and the pending outputs, and then end the process with the signal's usual
// status. Safe to use from several threads at once, as is the rest of this file.
void InstallInterruptCleanup();
