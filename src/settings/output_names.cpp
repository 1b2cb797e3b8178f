#include "settings/output_names.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/path.h"

namespace {

constexpr int kMaxCounter = 999999;

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
  const std::string extension = out.ext.empty() ? ".pdf" : out.ext;
  for (FilePair& job : jobs) {
    if (!job.output.empty()) continue;
    const PathParts in = SplitPath(job.input);
    std::string candidate = folder + in.fname + extension;
    // Left unnamed: the driver reports the job as failed instead of writing elsewhere.
    if (candidate.size() >= kPathLimit) continue;
    job.output = std::move(candidate);
  }
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
