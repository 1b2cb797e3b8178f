#include "platform/files.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "platform/memfile_registry.h"
#include "platform/temp_files.h"
#include "platform/path.h"

FileAttributes QueryFileAttributes(const std::string& path) {
  FileAttributes attributes;
  if (IsMemFile(path) || MemoryTempFile(path) >= 0) {
    attributes.exists = true;
    return attributes;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return attributes;
  attributes.exists = true;
  attributes.isFolder = S_ISDIR(st.st_mode);
  return attributes;
}

bool FileExists(const std::string& path) { return QueryFileAttributes(path).exists; }

bool FolderExists(const std::string& path) { return QueryFileAttributes(path).isFolder; }

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CopyContents(int from, int to) {
  std::vector<char> buffer(256 * 1024);
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(from, buffer.data(), buffer.size(), at);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(n))) return false;
    at += n;
  }
}

bool CopyFileOverwrite(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat inStat;
  if (::fstat(in, &inStat) != 0 || !S_ISREG(inStat.st_mode)) {
    ::close(in);
    return false;
  }
  // Opened without O_TRUNC first: copying a file onto itself must not empty it.
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  struct stat outStat;
  bool ok = ::fstat(out, &outStat) == 0 && S_ISREG(outStat.st_mode) &&
            !(outStat.st_dev == inStat.st_dev && outStat.st_ino == inStat.st_ino);
  const bool sameOrOdd = !ok;
  ok = ok && ::ftruncate(out, 0) == 0 && CopyContents(in, out);
  ::close(in);
  if (::close(out) != 0) ok = false;
  // A half-written copy must not pass for a good one.
  if (!ok && !sameOrOdd) ::unlink(to.c_str());
  return ok;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (EqualNoCase(a, b)) return true;
  struct stat sa;
  struct stat sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool DeleteFilePath(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string OwnExecutablePath() {
  // The executable does not change while the program runs: it is looked up once.
  static const std::string path = [] {
    std::vector<char> buffer(kPathLimit);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    // A result that fills the buffer may have been cut short.
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::string();
    return std::string(buffer.data(), static_cast<std::size_t>(n));
  }();
  return path;
}

bool CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                      std::string& path, std::string& why) {
  std::string name = folder + prefix + "XXXXXX" + suffix;
  const int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; the engine keeps the mode when it rewrites the file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const int chmodError = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  ::close(fd);
  if (chmodError != 0) {
    ::unlink(name.c_str());
    why = std::strerror(chmodError);
    return false;
  }
  path = std::move(name);
  return true;
}

namespace {

// 0, or the errno of the failure (EEXIST when `to` is taken).
int RenameNoReplaceError(const std::string& from, const std::string& to) {
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
#endif
  // A hard link fails on an existing name just as atomically.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  // A file system without links either: the best left is to look before renaming.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to, bool& taken, std::string& why) {
  const int error = RenameNoReplaceError(from, to);
  taken = error == EEXIST;
  if (error != 0) why = std::strerror(error);
  return error == 0;
}

bool IsSpecialFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

namespace {

bool IsSpecialMode(mode_t mode) { return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode); }

// The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or /proc/self/fd/N names, else -1.
int NamedDescriptor(const std::string& path) {
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
    int fd = 0;
    for (std::size_t i = n; i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9') return -1;
      fd = fd * 10 + (path[i] - '0');
    }
    return fd;
  }
  return -1;
}

// False when an entry owned by `owner` in the folder of `path` is one a sticky,
// world-writable folder does not let us use: owned neither by us nor by the folder's owner.
bool OwnerTrustedIn(const std::string& path, uid_t owner) {
  const uid_t self = ::geteuid();
  if (owner == self) return true;
  const PathParts parts = SplitPath(path);
  const std::string folder = parts.dir.empty() ? "." : parts.dir;
  struct stat dir;
  if (::stat(folder.c_str(), &dir) != 0) return false;
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || owner == dir.st_uid;
}

}  // namespace

OutputNameUse ClassifyOutputName(const std::string& path) {
  struct stat link;
  // A name that cannot be looked at holds nothing; making the file there says why it fails.
  if (::lstat(path.c_str(), &link) != 0) return OutputNameUse::kFree;
  const int fd = NamedDescriptor(path);
  if (fd >= 0) return ::fcntl(fd, F_GETFL) >= 0 ? OutputNameUse::kInPlace : OutputNameUse::kTaken;
  if (!S_ISLNK(link.st_mode)) {
    return IsSpecialMode(link.st_mode) && OwnerTrustedIn(path, link.st_uid) ? OutputNameUse::kInPlace
                                                                            : OutputNameUse::kTaken;
  }
  // A link is followed only when it may be trusted, and only to a device or pipe that may
  // be used where it is.
  if (!OwnerTrustedIn(path, link.st_uid)) return OutputNameUse::kTaken;
  struct stat target;
  if (::stat(path.c_str(), &target) != 0 || !IsSpecialMode(target.st_mode)) return OutputNameUse::kTaken;
  char* resolved = ::realpath(path.c_str(), nullptr);
  const bool trusted = resolved != nullptr && OwnerTrustedIn(resolved, target.st_uid);
  std::free(resolved);
  return trusted ? OutputNameUse::kInPlace : OutputNameUse::kTaken;
}

bool WriteInPlace(const std::string& from, const std::string& path, std::string& why) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    why = std::strerror(errno);
    return false;
  }
  int fd = NamedDescriptor(path);
  const bool own = fd < 0;
  if (own) {
    struct stat link;
    const bool isLink = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    // A name that was no link when it was looked at is not followed now.
    fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (isLink ? 0 : O_NOFOLLOW));
  }
  struct stat st;
  bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
  int error = ok ? 0 : errno;
  if (ok && own && !IsSpecialMode(st.st_mode)) {
    ok = false;
    error = EEXIST;
  }
  if (ok) {
    // A reader that went away is a failure of this output, not the end of the run.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ok = CopyContents(source, fd);
    if (!ok) error = errno;
    if (error == EPIPE) {
      const timespec now = {0, 0};
      while (sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // A regular file behind a descriptor is flushed like one, so that a full disk shows.
    if (ok && S_ISREG(st.st_mode) && ::fsync(fd) != 0 && errno != EINVAL) {
      ok = false;
      error = errno;
    }
  }
  if (own && fd >= 0) ::close(fd);
  ::close(source);
  if (!ok) why = std::strerror(error == 0 ? EIO : error);
  return ok;
}

bool FileSystemFull(const std::string& path, std::chrono::steady_clock::time_point since) {
  // When each file system (by device) was last found full.
  static std::mutex mutex;
  static std::map<dev_t, std::chrono::steady_clock::time_point> lastFull;
  struct stat st;
  const bool known = ::stat(path.c_str(), &st) == 0;
  struct statvfs fs;
  const bool full = ::statvfs(path.c_str(), &fs) == 0 && fs.f_bavail == 0;
  if (!known) return full;
  std::lock_guard<std::mutex> lock(mutex);
  if (full) {
    lastFull[st.st_dev] = std::chrono::steady_clock::now();
    return true;
  }
  const auto seen = lastFull.find(st.st_dev);
  return seen != lastFull.end() && seen->second >= since;
}

long long FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}
