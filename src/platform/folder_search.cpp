#include "platform/folder_search.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/path.h"

namespace {

// Iterative glob match: on a mismatch, let the most recent '*' swallow one more character.
bool GlobMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (GlobMatch(pattern, name)) return true;
  // A trailing ".*" stands for "any extension, or none".
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return GlobMatch(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

std::vector<std::string> FindMatchingNames(const std::string& pattern) {
  std::vector<std::string> names;
  const std::size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  const std::string_view namePattern =
      slash == std::string::npos ? std::string_view(pattern)
                                 : std::string_view(pattern).substr(slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (WildcardMatch(namePattern, name)) names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int c = CompareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return names;
}

int PatternFolderError(const std::string& pattern) {
  const std::size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return errno;
  ::closedir(dir);
  return 0;
}

int CollectMatchingFiles(const std::string& pattern, std::vector<std::string>& list,
                         std::vector<std::string>* tooLong) {
  const PathParts parts = SplitPath(pattern);
  for (const std::string& name : FindMatchingNames(pattern)) {
    const PathParts found = SplitPath(name);
    std::string path = MakePath(parts.drive, parts.dir, found.fname, found.ext);
    if (path.size() >= kPathLimit) {
      if (tooLong != nullptr) tooLong->push_back(std::move(path));
      continue;
    }
    const FileAttributes attributes = QueryFileAttributes(path);
    if (attributes.exists && !attributes.isFolder) list.push_back(std::move(path));
  }
  return static_cast<int>(list.size());
}
