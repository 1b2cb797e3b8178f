#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/memfile_registry.h"
#include "platform/path.h"

FileAttributes QueryFileAttributes(const std::string& path) {
  FileAttributes attributes;
  if (IsMemFile(path)) {
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

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CopyContents(int from, int to) {
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace

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
  std::vector<char> buffer(kPathLimit);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  // A result that fills the buffer may have been cut short.
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return "";
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}
