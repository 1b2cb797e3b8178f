#include "driver/input_expansion.h"

#include "platform/folder_search.h"

int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs) {
  for (std::string& path : FindMatchingFiles(pattern)) jobs.push_back(FilePair{std::move(path), ""});
  return static_cast<int>(jobs.size());
}
