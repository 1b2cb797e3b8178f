#pragma once
// The private ".trw-<pid>-XXXXXX.part" files a killed run leaves in its output folders.
#include <time.h>
#include <string>

// True for a name of the program's own private output files.
bool IsOwnPartName(const std::string& name);

// Deletes, in `folder`, every private file last changed before `runStart` whose run is no
// longer alive and that no live process holds open. Returns how many were deleted.
int RemoveLeftoverParts(const std::string& folder, const timespec& runStart);
