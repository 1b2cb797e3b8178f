#pragma once
// Outputs are delivered whole or not at all. An engine writes a private file in the output's
// own folder; only a whole result is renamed, without replacing anything, under the name that
// was chosen for it, or under the next free numbered name when another run took that name in
// the meantime. A device or pipe named as the output is written in place.
#include <string>

struct PendingOutput {
  std::string base;    // the job's output path, from which numbered candidates are made
  std::string chosen;  // the free name picked before the engine ran
  std::string target;  // where the engine writes
  bool inPlace = false;
};

// Makes the private file beside `chosen` and lists it for deletion should the run be
// interrupted. False, with the reason, when the folder cannot take it.
bool BeginOutput(const std::string& base, const std::string& chosen, PendingOutput& pending,
                 std::string& why);

// Puts the finished file under its name. False, with the reason, when it is empty or cannot be
// renamed; the private file is gone either way.
bool PublishOutput(PendingOutput& pending, std::string& why);

// Deletes the private file of a failed run.
void AbandonOutput(PendingOutput& pending);

// True when the file ends the way a complete file of potrace's backend for this extension
// ends (or nothing is known of that backend's ending). Sets `why` otherwise.
bool OutputLooksWhole(const std::string& path, const std::string& extension, std::string& why);
