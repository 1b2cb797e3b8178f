#include "driver/input_expansion.h"

#include <sys/stat.h>

#include <set>
#include <utility>

#include "driver/leftover_parts.h"
#include "pipeline/diagnostics.h"
#include "platform/folder_search.h"
#include "platform/path.h"

namespace {

using FolderId = std::pair<dev_t, ino_t>;

void ExpandFolder(const std::string& folder, const std::string& below, std::set<FolderId>& entered,
                  std::vector<FilePair>& jobs, std::vector<std::string>& subfolders) {
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0 || !entered.insert({info.st_dev, info.st_ino}).second) return;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  std::vector<std::string> inner;
  for (const std::string& name : FindMatchingNames(prefix + "*.*")) {
    const std::string path = prefix + name;
    if (::stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (name[0] != '.') inner.push_back(name);
      continue;
    }
    if (IsOwnPartName(name)) continue;
    if (path.size() >= kPathLimit) {
      ReportFailure(path, "the path is too long, skipped");
      continue;
    }
    jobs.push_back(FilePair{path, ""});
    subfolders.push_back(below);
  }
  for (const std::string& name : inner) ExpandFolder(prefix + name, below + name + "/", entered, jobs, subfolders);
}

void MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    ::mkdir(folder.substr(0, slash).c_str(), 0777);
  }
  ::mkdir(folder.c_str(), 0777);
}

}  // namespace

int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs) {
  std::vector<std::string> files;
  std::vector<std::string> tooLong;
  CollectMatchingFiles(pattern, files, &tooLong);
  if (const int error = files.empty() ? PatternFolderError(pattern) : 0; error != 0) {
    const std::string folder = SplitPath(pattern).dir;
    ReportFailure(folder.empty() ? "." : folder, SystemError(error));
  }
  for (const std::string& path : tooLong) ReportFailure(path, "the path is too long, skipped");
  for (std::string& path : files) {
    if (IsOwnPartName(SplitPath(path).fname + SplitPath(path).ext)) continue;
    jobs.push_back(FilePair{std::move(path), ""});
  }
  return static_cast<int>(jobs.size());
}

int ExpandFolderTree(const std::string& folder, const std::string& outputFolder, std::vector<FilePair>& jobs,
                     std::vector<std::string>& subfolders) {
  std::set<FolderId> entered;
  struct stat output;
  // Counted as entered: its files are the outputs of earlier runs. Only below the top folder.
  struct stat top;
  if (::stat(outputFolder.c_str(), &output) == 0 && ::stat(folder.c_str(), &top) == 0 &&
      (output.st_dev != top.st_dev || output.st_ino != top.st_ino)) {
    entered.insert({output.st_dev, output.st_ino});
  }
  ExpandFolder(folder, "", entered, jobs, subfolders);
  return static_cast<int>(jobs.size());
}

void MirrorSubfolders(const std::vector<std::string>& subfolders, std::vector<FilePair>& jobs) {
  std::set<std::string> made;
  for (std::size_t i = 0; i < jobs.size() && i < subfolders.size(); ++i) {
    if (jobs[i].output.empty() || subfolders[i].empty()) continue;
    const PathParts out = SplitPath(jobs[i].output);
    std::string moved = MakePath(out.drive, out.dir + subfolders[i], out.fname, out.ext);
    if (moved.size() >= kPathLimit) {
      jobs[i].output.clear();  // reported as the job's failure
      continue;
    }
    const std::string folder = SplitPath(moved).dir;
    if (made.insert(folder).second) MakeFolders(folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder);
    jobs[i].output = std::move(moved);
  }
}
