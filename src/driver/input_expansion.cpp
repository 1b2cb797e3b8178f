#include "driver/input_expansion.h"

#include "pipeline/diagnostics.h"
#include "platform/folder_search.h"
#include "platform/path.h"

int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs) {
  std::vector<std::string> files;
  std::vector<std::string> tooLong;
  CollectMatchingFiles(pattern, files, &tooLong);
  if (const int error = files.empty() ? PatternFolderError(pattern) : 0; error != 0) {
    const std::string folder = SplitPath(pattern).dir;
    ReportFailure(folder.empty() ? "." : folder, SystemError(error));
  }
  for (const std::string& path : tooLong) ReportFailure(path, "the path is too long, skipped");
  for (std::string& path : files) jobs.push_back(FilePair{std::move(path), ""});
  return static_cast<int>(jobs.size());
}
