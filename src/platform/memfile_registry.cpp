#include "platform/memfile_registry.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

// Newer kernels want executable in-memory files asked for explicitly; older ones refuse the
// flag, so it is tried first and dropped on EINVAL.
constexpr unsigned kMemFdExec = 0x0010U;
constexpr std::size_t kMemFdNameMax = 200;

struct MemFile {
  std::string path;
  int fd = -1;
  bool writing = true;
  MemFileProducer producer;   // set for files whose contents are made on demand
  bool memoryTried = false;   // making the in-memory form was tried (it is tried once)
  std::string diskPath;       // the copy in the temporary folder, once made
  std::string diskError;      // why no copy on disk can be started
};

// Conversions may run on several threads, each starting engines: every entry point locks.
struct Layer {
  std::mutex lock;
  bool started = false;
  int startCount = 0;
  bool answerQueries = false;
  bool startable = false;
  bool fromDisk = false;
  std::list<MemFile> files;  // entries never move, so pointers to them stay good
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

bool PathCanBeTaken(const std::string& path) {
  return TheLayer().started && !path.empty() && path.back() != '/' &&
         FindByPath(path) == nullptr && NothingOnDisk(path);
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

int NewMemFd(const std::string& path) {
  std::string name = FileName(path);
  if (name.size() > kMemFdNameMax) name.resize(kMemFdNameMax);
  const unsigned flags = MFD_CLOEXEC | MFD_ALLOW_SEALING;
  int fd = ::memfd_create(name.c_str(), flags | kMemFdExec);
  if (fd < 0 && errno == EINVAL) fd = ::memfd_create(name.c_str(), flags);
  return fd;
}

// Where in-memory files are made non-executable (vm.memfd_noexec), they come without the
// execute bits, and no later step can add them.
bool MayRun(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

// A read-only descriptor of its own, so that no writable one stays open: the kernel refuses
// to start a program that is open for writing. Needs /proc.
int ReopenReadOnly(int fd) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

// Seals the contents and returns a read-only descriptor of them, or -1. `fd` stays open.
int SealReadOnly(int fd) {
  const int seals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
  return ::fcntl(fd, F_ADD_SEALS, seals) == 0 ? ReopenReadOnly(fd) : -1;
}

void Forget(const MemFile* file) {
  std::list<MemFile>& files = TheLayer().files;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (&*it == file) {
      files.erase(it);
      return;
    }
  }
}

// Makes the in-memory form of a file registered on demand; false when the system does not
// let it run from memory (or its contents cannot be made), so that it has to go to disk.
bool MakeInMemory(MemFile& file) {
  if (file.fd >= 0) return true;
  if (file.memoryTried || !file.producer) return false;
  file.memoryTried = true;
  const int fd = NewMemFd(file.path);
  if (fd < 0) return false;
  int readOnly = -1;
  if (MayRun(fd) &&
      file.producer([fd](const void* data, std::size_t size) { return WriteAll(fd, data, size); })) {
    readOnly = SealReadOnly(fd);
  }
  ::close(fd);
  if (readOnly < 0) return false;
  file.fd = readOnly;
  return true;
}

std::string CannotRun(const MemFile& file, const std::string& why) {
  return "cannot run " + FileName(file.path) + ": " + why;
}

bool FolderForbidsPrograms(const std::string& path) {
  struct statvfs vfs;
  return ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_NOEXEC) != 0;
}

// Writes the file into the run's private temporary folder (listed for deletion at the end
// of the run and on interrupt), or records why that cannot give a program that runs.
void MakeDiskCopy(MemFile& file) {
  const std::string suffix = "." + FileName(file.path);
  std::string copy;
  std::string why;
  if (!MakeTempPath(suffix.c_str(), copy, why)) {
    file.diskError = CannotRun(file, why);
    return;
  }
  const std::string folder = copy.substr(0, copy.find_last_of('/'));
  if (FolderForbidsPrograms(folder)) {
    file.diskError = CannotRun(file, "the temporary folder " + folder +
                                         " does not allow programs to run (noexec)");
    return;
  }
  const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
  if (out < 0) {
    file.diskError = CannotRun(file, "cannot write " + copy + ": " + std::strerror(errno));
    return;
  }
  bool ok = file.fd >= 0 ? CopyContents(file.fd, out)
            : file.producer
                ? file.producer([out](const void* data, std::size_t size) {
                    return WriteAll(out, data, size);
                  })
                : false;
  const int saved = errno;
  if (::close(out) != 0) ok = false;
  if (!ok) {
    ::unlink(copy.c_str());
    file.diskError = CannotRun(file, "cannot write " + copy + ": " + std::strerror(saved));
    return;
  }
  file.diskPath = copy;
}

MemFileStart StartFromDisk(MemFile& file) {
  if (file.diskPath.empty() && file.diskError.empty()) MakeDiskCopy(file);
  MemFileStart start;
  start.registered = true;
  start.diskPath = file.diskPath;
  start.error = file.diskError;
  return start;
}

MemFile* StartableFile(const std::string& path) {
  if (!TheLayer().startable) return nullptr;
  MemFile* file = FindByPath(path);
  return file != nullptr && !file->writing ? file : nullptr;
}

}  // namespace

void StartMemFileLayer() {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  layer.started = true;
  ++layer.startCount;
}

int MemFileLayerStartCount() {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  return TheLayer().startCount;
}

void SetMemFileLayerOption(int option, int value) {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  if (option == kMemFileAnswerQueries) layer.answerQueries = value != 0;
  if (option == kMemFileStartable) layer.startable = value != 0;
  if (option == kMemFileStartFromDisk) layer.fromDisk = value != 0;
}

int CreateMemFile(const std::string& path) {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  if (!PathCanBeTaken(path)) return -1;
  const int fd = NewMemFd(path);
  if (fd < 0) return -1;
  layer.files.push_back(MemFile{path, fd, true, {}, true, {}, {}});
  return fd;
}

bool RegisterMemFileOnDemand(const std::string& path, MemFileProducer producer) {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  if (!producer || !PathCanBeTaken(path)) return false;
  layer.files.push_back(MemFile{path, -1, false, std::move(producer), false, {}, {}});
  return true;
}

bool WriteMemFile(int handle, const void* data, std::size_t size) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  if (FindWriting(handle) == nullptr) return false;
  return WriteAll(handle, data, size);
}

bool CloseMemFile(int handle) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  MemFile* file = FindWriting(handle);
  if (file == nullptr) return false;
  const int readOnly = SealReadOnly(handle);
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
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  if (!TheLayer().answerQueries) return false;
  const MemFile* file = FindByPath(path);
  return file != nullptr && !file->writing;
}

bool LookupMemFile(const std::string& path, int& fd) {
  std::lock_guard<std::mutex> hold(TheLayer().lock);
  MemFile* file = StartableFile(path);
  if (file == nullptr || !MakeInMemory(*file)) return false;
  fd = file->fd;
  return true;
}

MemFileStart PrepareMemFileStart(const std::string& path) {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  MemFile* file = StartableFile(path);
  if (file == nullptr) return {};
  if (!layer.fromDisk && MakeInMemory(*file)) {
    MemFileStart start;
    start.registered = true;
    start.fd = file->fd;
    return start;
  }
  return StartFromDisk(*file);
}

MemFileStart MemFileStartRefused(const std::string& path) {
  Layer& layer = TheLayer();
  std::lock_guard<std::mutex> hold(layer.lock);
  layer.fromDisk = true;
  MemFile* file = StartableFile(path);
  if (file == nullptr) return {};
  return StartFromDisk(*file);
}
