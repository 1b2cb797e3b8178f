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

// Keeps a listed temporary file that has served, for its storage, instead of deleting it, for
// this thread's next TakeSpareTempFile. Names stay unique; a long batch just does not make
// and delete a file per job (on a file system that has just freed many files, making one can
// cost more than the rest of a small job). A spare never taken is deleted with the rest.
void RecycleTempFile(const std::string& path);

// Gives this thread's spare file, when it has one whose name ends as `fresh` does after its
// number, the name `fresh`: a name just made by MakeTempPath that the caller is about to
// write over, or to delete should the writing fail.
void TakeSpareTempFile(const std::string& fresh);

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
// it is empty. The list keeps its entries.
void DeleteTempFiles();

// A copy of the list, for tests.
std::vector<std::string> TempFileListSnapshot();

// Path of the private folder, "" when none has been made yet.
std::string TempFolderPath();

// Installs handlers for SIGINT, SIGTERM and SIGHUP that end the running children, delete the
// temporary files and the pending outputs, and then end the process with the signal's usual
// status. Safe to use from several threads at once, as is the rest of this file.
void InstallInterruptCleanup();
