#include "platform/memfile_registry.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// Newer kernels want executable in-memory files asked for explicitly; older ones refuse the
// flag, so it is tried first and dropped on EINVAL.
constexpr unsigned kMemFdExec = 0x0010U;
constexpr std::size_t kMemFdNameMax = 200;

struct MemFile {
  std::string path;
  int fd = -1;
  bool writing = true;
};

struct Layer {
  bool started = false;
  int startCount = 0;
  bool answerQueries = false;
  bool startable = false;
  std::vector<MemFile> files;
};

Layer& TheLayer() {
  static Layer layer;
  return layer;
}

MemFile* FindByPath(const std::string& path) {
  for (MemFile& file : TheLayer().files) {
    if (file.path == path) return &file;
  }
  return nullptr;
}

MemFile* FindWriting(int handle) {
  if (handle < 0) return nullptr;
  for (MemFile& file : TheLayer().files) {
    if (file.writing && file.fd == handle) return &file;
  }
  return nullptr;
}

// Only a path that certainly names nothing may be taken; a dangling link or an unreadable
// folder counts as taken, so the layer never hides what is on disk.
bool NothingOnDisk(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return false;
  return errno == ENOENT;
}

int NewMemFd(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.size() > kMemFdNameMax) name.resize(kMemFdNameMax);
  const unsigned flags = MFD_CLOEXEC | MFD_ALLOW_SEALING;
  int fd = ::memfd_create(name.c_str(), flags | kMemFdExec);
  if (fd < 0 && errno == EINVAL) fd = ::memfd_create(name.c_str(), flags);
  return fd;
}

// A read-only descriptor of its own, so that no writable one stays open: the kernel refuses
// to start a program that is open for writing.
int ReopenReadOnly(int fd) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

void Forget(const MemFile* file) {
  std::vector<MemFile>& files = TheLayer().files;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (&*it == file) {
      files.erase(it);
      return;
    }
  }
}

}  // namespace

void StartMemFileLayer() {
  Layer& layer = TheLayer();
  layer.started = true;
  ++layer.startCount;
}

int MemFileLayerStartCount() { return TheLayer().startCount; }

void SetMemFileLayerOption(int option, int value) {
  Layer& layer = TheLayer();
  if (option == kMemFileAnswerQueries) layer.answerQueries = value != 0;
  if (option == kMemFileStartable) layer.startable = value != 0;
}

int CreateMemFile(const std::string& path) {
  Layer& layer = TheLayer();
  if (!layer.started || path.empty() || path.back() == '/') return -1;
  if (FindByPath(path) != nullptr || !NothingOnDisk(path)) return -1;
  const int fd = NewMemFd(path);
  if (fd < 0) return -1;
  layer.files.push_back(MemFile{path, fd, true});
  return fd;
}

bool WriteMemFile(int handle, const void* data, std::size_t size) {
  if (FindWriting(handle) == nullptr) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(handle, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CloseMemFile(int handle) {
  MemFile* file = FindWriting(handle);
  if (file == nullptr) return false;
  const int seals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
  const int readOnly = ::fcntl(handle, F_ADD_SEALS, seals) == 0 ? ReopenReadOnly(handle) : -1;
  ::close(handle);
  if (readOnly < 0) {
    // Without a sealed read-only copy the file could not be started; the path stays free.
    Forget(file);
    return false;
  }
  file->fd = readOnly;
  file->writing = false;
  return true;
}

bool IsMemFile(const std::string& path) {
  if (!TheLayer().answerQueries) return false;
  const MemFile* file = FindByPath(path);
  return file != nullptr && !file->writing;
}

bool LookupMemFile(const std::string& path, int& fd) {
  if (!TheLayer().startable) return false;
  const MemFile* file = FindByPath(path);
  if (file == nullptr || file->writing) return false;
  fd = file->fd;
  return true;
}
