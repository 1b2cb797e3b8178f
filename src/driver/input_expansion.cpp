#include "driver/input_expansion.h"

#include "pipeline/diagnostics.h"
#include "platform/folder_search.h"

int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs) {
  std::vector<std::string> files;
  std::vector<std::string> tooLong;
  CollectMatchingFiles(pattern, files, &tooLong);
  for (const std::string& path : tooLong) ReportFailure(path, "the path is too long, skipped");
  for (std::string& path : files) jobs.push_back(FilePair{std::move(path), ""});
  return static_cast<int>(jobs.size());
}
