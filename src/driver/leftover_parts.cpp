#include "driver/leftover_parts.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <set>
#include <utility>
#include <vector>

namespace {

using FileId = std::pair<dev_t, ino_t>;

bool EndsWith(const std::string& text, const char* end) {
  const std::string tail(end);
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The owner's process number from ".trw-<pid>-XXXXXX.part", 0 when the name has none.
pid_t OwnerOf(const std::string& name) {
  long pid = 0;
  std::size_t at = 5;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < 100000000; ++at) pid = pid * 10 + (name[at] - '0');
  return at < name.size() && name[at] == '-' ? static_cast<pid_t>(pid) : 0;
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Every file some process of this machine holds open that is among `wanted`.
std::set<FileId> HeldOpen(const std::set<FileId>& wanted) {
  std::set<FileId> held;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return wanted;  // nothing can be told: all count as held
  while (const dirent* process = ::readdir(proc)) {
    if (process->d_name[0] < '1' || process->d_name[0] > '9') continue;
    const std::string fds = std::string("/proc/") + process->d_name + "/fd";
    DIR* folder = ::opendir(fds.c_str());
    if (folder == nullptr) continue;
    while (const dirent* fd = ::readdir(folder)) {
      struct stat info;
      if (fd->d_name[0] == '.' || ::stat((fds + "/" + fd->d_name).c_str(), &info) != 0) continue;
      const FileId id{info.st_dev, info.st_ino};
      if (wanted.count(id) != 0) held.insert(id);
    }
    ::closedir(folder);
  }
  ::closedir(proc);
  return held;
}

}  // namespace

bool IsOwnPartName(const std::string& name) { return name.rfind(".trw-", 0) == 0 && EndsWith(name, ".part"); }

int RemoveLeftoverParts(const std::string& folder, const timespec& runStart) {
  const std::string base = folder.empty() ? "./" : (folder.back() == '/' ? folder : folder + "/");
  DIR* dir = ::opendir(base.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::pair<std::string, FileId>> candidates;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsOwnPartName(name) || ProcessAlive(OwnerOf(name))) continue;
    struct stat info;
    const std::string path = base + name;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !Before(info.st_mtim, runStart)) continue;
    candidates.emplace_back(path, FileId{info.st_dev, info.st_ino});
  }
  ::closedir(dir);
  if (candidates.empty()) return 0;
  std::set<FileId> ids;
  for (const auto& candidate : candidates) ids.insert(candidate.second);
  const std::set<FileId> held = HeldOpen(ids);
  int removed = 0;
  for (const auto& [path, id] : candidates) {
    if (held.count(id) == 0 && ::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}
