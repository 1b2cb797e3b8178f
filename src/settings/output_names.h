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

// True for "-": standard input as the input, standard output as the output.
bool IsStandardStreamWord(const std::string& word);

// "-" or "FORMAT:-" as the output: standard output, with the format ("svg" for a lone "-").
bool IsStandardOutputWord(const std::string& word, std::string* format = nullptr);

// True when one of the engines writes files of this extension (without its dot, any case):
// every name the tracers map on purpose, "postscript" and "pdfpage" included.
bool IsOutputFormat(const std::string& extension);

// The output formats, for messages: "eps, postscript, ps, pdf, ...".
const char* OutputFormatList();

// An output argument that stands for a folder: an existing folder, or a name ending in '/'.
bool NamesOutputFolder(const std::string& outputArgument);

// Rewrites path to the first of path, stem000, stem001, ... at which nothing exists, or that
// names a device or pipe (written in place).
std::string& MakeUniqueOutputName(std::string& path);
