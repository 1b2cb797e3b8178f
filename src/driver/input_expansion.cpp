#include "driver/input_expansion.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"

int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs) {
  const PathParts parts = SplitPath(pattern);
  for (const std::string& name : FindMatchingNames(pattern)) {
    const PathParts found = SplitPath(name);
    const std::string path = MakePath(parts.drive, parts.dir, found.fname, found.ext);
    if (path.size() >= kPathLimit) {
      std::fprintf(stderr, "tracewright: %s: the path is too long, skipped\n", path.c_str());
      continue;
    }
    const FileAttributes attributes = QueryFileAttributes(path);
    if (!attributes.exists || attributes.isFolder) continue;
    jobs.push_back(FilePair{path, ""});
  }
  return static_cast<int>(jobs.size());
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
    if (candidate.size() >= kPathLimit) {
      // Left unnamed: the driver reports the job as failed instead of writing elsewhere.
      continue;
    }
    job.output = std::move(candidate);
  }
}
