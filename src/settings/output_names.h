#pragma once
// Every rule that names an output: the default beside the input, the name each job of a
// folder or pattern gets, and the next free numbered name when one is taken.
#include <string>
#include <vector>

// One job of the batch.
struct FilePair {
  std::string input;
  std::string output;  // empty until named
};

// The output of a run given no output argument: the input's name with ".png", beside it.
std::string DefaultOutputName(const std::string& input);

// Gives every job without an output the output argument's folder (or the argument itself
// when it is an existing folder), the input's own stem and the output argument's extension
// (".pdf" when it has none). A job whose name would not fit the path limit stays unnamed.
void AssignOutputNames(const std::string& outputArgument, std::vector<FilePair>& jobs);

// Rewrites path to the first of path, stem000, stem001, ... at which nothing exists, or that
// names a device or pipe (written in place).
std::string& MakeUniqueOutputName(std::string& path);
