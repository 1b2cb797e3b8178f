#include "settings/output_names.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/path.h"

namespace {

constexpr int kMaxCounter = 999999;

// What potrace's backends and the second method write, plus PNG, the default output.
constexpr const char* kOutputFormats[] = {"eps", "postscript", "ps",       "pdf",  "pdfpage", "svg", "dxf",
                                          "pgm", "png",        "gimppath", "xfig", "emf"};

}  // namespace

std::string DefaultOutputName(const std::string& input) {
  const PathParts in = SplitPath(input);
  return MakePath(in.drive, in.dir, in.fname, ".png");
}

void AssignOutputNames(const std::string& outputArgument, std::vector<FilePair>& jobs) {
  if (jobs.empty()) return;
  const PathParts out = SplitPath(outputArgument);
  std::string folder = FolderExists(outputArgument) ? outputArgument : MakePath(out.drive, out.dir, "", "");
  if (folder.empty() || folder.back() != '/') folder += '/';
  // Into a folder, a name that is no format (a folder called out.v2) does not become one.
  const bool intoFolder = NamesOutputFolder(outputArgument);
  const bool formatted = !out.ext.empty() && (!intoFolder || IsOutputFormat(out.ext.substr(1)));
  const std::string extension = formatted ? out.ext : ".pdf";
  for (FilePair& job : jobs) {
    if (!job.output.empty()) continue;
    const PathParts in = SplitPath(job.input);
    // A picture read from a pipe has no name of its own.
    std::string candidate = folder + (IsStandardStreamWord(job.input) ? std::string("stdin") : in.fname) + extension;
    // Left unnamed: the driver reports the job as failed instead of writing elsewhere.
    if (candidate.size() >= kPathLimit) continue;
    job.output = std::move(candidate);
  }
}

bool IsStandardStreamWord(const std::string& word) { return word == "-"; }

bool IsStandardOutputWord(const std::string& word, std::string* format) {
  if (word == "-") {
    if (format != nullptr) *format = "svg";
    return true;
  }
  if (word.size() < 3 || word.compare(word.size() - 2, 2, ":-") != 0) return false;
  if (format != nullptr) *format = word.substr(0, word.size() - 2);
  return true;
}

bool IsOutputFormat(const std::string& extension) {
  for (const char* format : kOutputFormats) {
    if (EqualNoCase(extension, format)) return true;
  }
  return false;
}

const char* OutputFormatList() {
  return "eps, postscript, ps, pdf, pdfpage, svg, dxf, pgm, png, gimppath, xfig, emf (with -method2)";
}

bool NamesOutputFolder(const std::string& outputArgument) {
  return (!outputArgument.empty() && outputArgument.back() == '/') || FolderExists(outputArgument);
}

std::string& MakeUniqueOutputName(std::string& path) {
  if (ClassifyOutputName(path) != OutputNameUse::kTaken) return path;
  // The search for a base goes on from the last number it took, so that the frames of a
  // long input do not test every earlier name again; each name is still tested before use.
  static std::mutex mutex;
  static std::map<std::string, int> lastTaken;
  const std::string base = path;
  int start = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = lastTaken.find(base);
    if (known != lastTaken.end()) start = known->second;
  }
  const PathParts parts = SplitPath(path);
  char number[16];
  int counter = start;
  for (; counter <= kMaxCounter; ++counter) {
    std::snprintf(number, sizeof(number), "%03d", counter);
    path = MakePath(parts.drive, parts.dir, parts.fname + number, parts.ext);
    if (ClassifyOutputName(path) == OutputNameUse::kFree) break;
  }
  std::lock_guard<std::mutex> lock(mutex);
  lastTaken[base] = counter > kMaxCounter ? kMaxCounter : counter;
  return path;
}
