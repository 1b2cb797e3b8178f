#pragma once
#include <string>
#include <vector>

// One job of the batch.
struct FilePair {
  std::string input;
  std::string output;  // empty until named
};

// Appends one job per file (not folder) directly in the pattern's folder whose name matches
// the pattern's last component, in name order. Returns the number of jobs in the list.
int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs);

// Gives every job without an output the output argument's folder (or the argument itself
// when it is an existing folder), the input's own stem and the output argument's extension
// (".pdf" when it has none).
void AssignOutputNames(const std::string& outputArgument, std::vector<FilePair>& jobs);
