#pragma once
// Outputs are delivered whole or not at all. An engine writes a private file in the output's
// own folder; only a whole result is renamed, without replacing anything, under the name that
// was chosen for it, or under the next free numbered name when another run took that name in
// the meantime. A device or pipe named as the output gets a copy of the whole result.
#include <chrono>
#include <string>

struct PendingOutput {
  std::string base;    // the job's output path, from which numbered candidates are made
  std::string chosen;  // the free name picked for it
  std::string target;  // where the engine writes
  bool inPlace = false;  // chosen is a device or pipe that receives a copy of target
  int slot = -1;       // its place among the files an interrupt deletes
  std::chrono::steady_clock::time_point began{};  // when target was made, before the engine ran
};

// Makes the private file in the folder of `outputPath` and lists it for deletion should the
// run be interrupted; for a device or pipe that may be written in place, the private file is
// made in the temporary folder and copied to it on publishing. False, with the reason, when the
// folder cannot take it.
bool BeginOutput(const std::string& outputPath, PendingOutput& pending, std::string& why);

// Puts the finished file under pending.chosen, or under the next free name numbered from
// pending.base when another run took that name meanwhile. False, with the reason, when it is
// empty or cannot be renamed; the private file is gone either way.
bool PublishOutput(PendingOutput& pending, std::string& why);

// Puts the finished file under `name` exactly: over an existing file, atomically, when
// `replace`, else only when nothing has that name (`taken` tells that it had one). False,
// with the reason, otherwise; the private file is gone either way.
bool PublishOutputAs(PendingOutput& pending, const std::string& name, bool replace, bool& taken, std::string& why);

// Deletes the private file of a failed run.
void AbandonOutput(PendingOutput& pending);

// True when the engine's file ends the way a complete file of potrace's backend for this
// extension ends (or nothing is known of that backend's ending). Sets `why` otherwise: "No
// space left on device" when its disk was found full since the file was made.
bool OutputLooksWhole(const PendingOutput& pending, const std::string& extension, std::string& why);
