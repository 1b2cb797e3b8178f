#include "platform/temp_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <atomic>
#include <map>
#include <mutex>
#include <new>

#include "platform/path.h"
#include "platform/running_child.h"

namespace {

// The list is shared by the threads of a batch; the interrupt handler does not walk it, it
// sweeps the private folder, where every listed file lives, and the pending outputs below.
std::mutex g_listMutex;
std::vector<std::string>* const g_tempFiles = new std::vector<std::string>();
char g_folder[kPathLimit] = {};
volatile sig_atomic_t g_folderReady = 0;

// Numbers for the hex digits; each is handed out once per run. The first 65,536 names have
// four digits from a random start, later ones count on from 0x10000 with more digits.
std::uint32_t g_nextNumber = 0;
std::uint32_t g_numbersUsed = 0;
bool g_numbersSeeded = false;
constexpr std::uint32_t kShortNumbers = 0x10000;
constexpr std::uint32_t kNumberCount = 0xFFFFFFF0u;

// Private output files in the outputs' own folders, outside the private folder: each in a
// slot the interrupt handler can read without locks (0 free, 1 being filled, 2 listed).
constexpr int kPendingSlots = 512;
struct PendingSlot {
  std::atomic<int> state{0};
  char path[kPathLimit] = {};
};
PendingSlot g_pending[kPendingSlots];

void AppendToList(const char* path) {
  std::string copy(path);
  g_tempFiles->push_back(std::move(copy));
}

std::string TempBase() {
  const char* env = std::getenv("TMPDIR");
  std::string base = (env != nullptr && *env != '\0') ? env : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (!IsAbsolutePath(base)) {
    std::string full;
    if (FullPath(base, full)) base = full;
  }
  return base;
}

bool EnsureFolder(std::string& why) {
  if (g_folderReady) return true;
  const std::string base = TempBase();
  std::string templ = base + (base == "/" ? "" : "/") + "trw-XXXXXX";
  if (templ.size() + 1 > kPathLimit) {
    why = "the temporary folder path is too long: " + base;
    return false;
  }
  if (::mkdtemp(templ.data()) == nullptr) {
    why = "cannot create a temporary folder in " + base + ": " + std::strerror(errno);
    return false;
  }
  // mkdtemp's mode passes through the umask; the folder must be usable and ours alone.
  ::chmod(templ.c_str(), 0700);
  InterruptBlock block;
  std::memcpy(g_folder, templ.c_str(), templ.size() + 1);
  g_folderReady = 1;
  return true;
}

std::string NumberedName(std::uint32_t number, const char* suffix) {
  char name[24];
  std::snprintf(name, sizeof name, "/trw%04X.tmp", static_cast<unsigned>(number));
  std::string path = std::string(g_folder) + name;
  if (suffix != nullptr) path += suffix;
  return path;
}

// A fresh name that fits `capacity` bytes with its terminating zero, listed.
bool MakeName(const char* suffix, std::size_t capacity, std::string& path, std::string& why) {
  std::lock_guard<std::mutex> lock(g_listMutex);
  if (!EnsureFolder(why)) return false;
  if (!g_numbersSeeded) {
    g_nextNumber = static_cast<std::uint32_t>(::getpid()) ^ static_cast<std::uint32_t>(std::time(nullptr));
    g_numbersSeeded = true;
  }
  while (g_numbersUsed < kNumberCount) {
    const std::uint32_t number = g_numbersUsed < kShortNumbers ? (g_nextNumber++ & 0xFFFFu) : g_numbersUsed;
    std::string candidate = NumberedName(number, suffix);
    ++g_numbersUsed;
    if (candidate.size() >= capacity) {
      why = "cannot make a temporary file name: the name does not fit";
      return false;
    }
    struct stat st;
    if (::lstat(candidate.c_str(), &st) == 0) continue;
    AppendToList(candidate.c_str());
    path = std::move(candidate);
    return true;
  }
  why = "cannot make a temporary file name: all names of this run are used";
  return false;
}

}  // namespace

bool MakeTempPath(const char* suffix, std::string& path, std::string& why) {
  return MakeName(suffix, kPathLimit, path, why);
}

int MakeTempFileName(std::size_t capacity, char* buffer, const char* suffix) {
  if (capacity == 0 || buffer == nullptr) return 0;
  std::string path;
  std::string why;
  if (!MakeName(suffix, capacity, path, why)) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<int>(path.size());
}

namespace {

#ifndef MFD_NOEXEC_SEAL
#define MFD_NOEXEC_SEAL 0x0008U
#endif

// Temporary files held in memory, by name; each descriptor is owned here until released.
std::mutex g_memoryMutex;
struct HeldFile {
  int fd = -1;
  std::size_t size = 0;  // as announced when made
};
std::map<std::string, HeldFile>* const g_memoryFiles = new std::map<std::string, HeldFile>();
std::size_t g_memoryHeld = 0;
std::atomic<std::uint32_t> g_memoryNumber{0};

// Names of files in memory begin so; no path of the private folder does.
constexpr char kMemoryPrefix[] = "memory:";

bool IsMemoryName(const std::string& path) { return path.compare(0, sizeof kMemoryPrefix - 1, kMemoryPrefix) == 0; }

// This thread's released in-memory file, waiting to be taken again (-1: none). It keeps its
// contents: a batch of pictures of one size then writes over the same pages.
struct SpareMemoryFile {
  int fd = -1;
  ~SpareMemoryFile() {
    if (fd >= 0) ::close(fd);
  }
};
thread_local SpareMemoryFile t_spare;

int NewMemoryFile() {
  // Never to be run: sealed against execution where the system knows how.
  int fd = ::memfd_create("trw-bitmap", MFD_CLOEXEC | MFD_NOEXEC_SEAL);
  if (fd < 0 && errno == EINVAL) fd = ::memfd_create("trw-bitmap", MFD_CLOEXEC);
  return fd;
}

}  // namespace

bool MakeMemoryTempFile(const char* suffix, std::size_t size, std::string& path, int& fd, std::string& why) {
  int made = t_spare.fd;
  t_spare.fd = -1;
  if (made < 0) made = NewMemoryFile();
  if (made < 0) {
    why = std::string("cannot make a file in memory: ") + std::strerror(errno);
    return false;
  }
  char number[32];
  std::snprintf(number, sizeof number, "trw%04X.tmp", static_cast<unsigned>(++g_memoryNumber));
  try {
    std::string name = std::string(kMemoryPrefix) + number + (suffix != nullptr ? suffix : "");
    std::lock_guard<std::mutex> lock(g_memoryMutex);
    if (size <= kMemoryTempBudget - g_memoryHeld) {
      (*g_memoryFiles)[name] = HeldFile{made, size};
      g_memoryHeld += size;
      path = std::move(name);
      fd = made;
      return true;
    }
    why = "no room left for temporary files in memory";
  } catch (const std::bad_alloc&) {
    why = std::strerror(ENOMEM);
  }
  // Kept for the next bitmap, which may fit.
  t_spare.fd = made;
  return false;
}

int MemoryTempFile(const std::string& path) {
  if (!IsMemoryName(path)) return -1;
  std::lock_guard<std::mutex> lock(g_memoryMutex);
  const auto found = g_memoryFiles->find(path);
  return found == g_memoryFiles->end() ? -1 : found->second.fd;
}

void ReleaseTempFile(const std::string& path) {
  if (!IsMemoryName(path)) {
    ::unlink(path.c_str());
    return;
  }
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(g_memoryMutex);
    const auto found = g_memoryFiles->find(path);
    if (found == g_memoryFiles->end()) return;
    fd = found->second.fd;
    g_memoryHeld -= found->second.size;
    g_memoryFiles->erase(found);
  }
  if (t_spare.fd < 0 && ::lseek(fd, 0, SEEK_SET) == 0) {
    t_spare.fd = fd;
  } else {
    ::close(fd);
  }
}

void RegisterTempFile(const char* path) {
  if (path == nullptr) return;
  std::lock_guard<std::mutex> lock(g_listMutex);
  for (const std::string& entry : *g_tempFiles) {
    if (EqualNoCase(entry, path)) return;
  }
  AppendToList(path);
}

int ListPendingOutput(const std::string& path) {
  if (path.size() >= kPathLimit) return -1;
  for (int i = 0; i < kPendingSlots; ++i) {
    int expected = 0;
    if (!g_pending[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
    g_pending[i].state.store(2);
    return i;
  }
  return -1;
}

void UnlistPendingOutput(int slot) {
  if (slot < 0 || slot >= kPendingSlots) return;
  g_pending[slot].state.store(0);
}

void DeleteTempFiles() {
  {
    std::lock_guard<std::mutex> lock(g_memoryMutex);
    for (const auto& held : *g_memoryFiles) ::close(held.second.fd);
    g_memoryFiles->clear();
    g_memoryHeld = 0;
  }
  std::lock_guard<std::mutex> lock(g_listMutex);
  for (const std::string& entry : *g_tempFiles) ::unlink(entry.c_str());
  if (g_folderReady && ::rmdir(g_folder) == 0) {
    InterruptBlock block;
    g_folderReady = 0;
    g_folder[0] = '\0';
  }
}

std::vector<std::string> TempFileListSnapshot() {
  std::lock_guard<std::mutex> lock(g_listMutex);
  return *g_tempFiles;
}

std::string TempFolderPath() { return g_folderReady ? std::string(g_folder) : std::string(); }

// ---- Interrupt cleanup. Everything below runs in a signal handler: system calls only.

namespace {

struct DirEntry64 {
  std::uint64_t ino;
  std::int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

// Deletes what the engine wrote into the private folder but was not listed yet (page
// images of an interrupted render, partial outputs). One pass per directory read; repeated
// because unlinking while reading may hide entries.
void SweepFolder(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buffer[4096];
  for (int pass = 0; pass < 8; ++pass) {
    bool deleted = false;
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long pos = 0; pos < n;) {
        const auto* entry = reinterpret_cast<const DirEntry64*>(buffer + pos);
        const char* name = buffer + pos + offsetof(DirEntry64, name);
        pos += entry->reclen;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (::unlinkat(fd, name, 0) == 0) deleted = true;
      }
    }
    if (!deleted) break;
  }
  ::close(fd);
}

void OnInterrupt(int sig) {
  CloseGuardedSteps();
  EndRunningChildren();
  for (PendingSlot& slot : g_pending) {
    if (slot.state.load() == 2) ::unlink(slot.path);
  }
  if (g_folderReady) {
    SweepFolder(g_folder);
    ::rmdir(g_folder);
  }
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, sig);
  ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  ::_exit(128 + sig);
}

}  // namespace

void InstallInterruptCleanup() {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int sig : signals) {
    struct sigaction old;
    // A signal ignored at start (nohup, background jobs) stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    action.sa_mask = InterruptSignals();
    ::sigaction(sig, &action, nullptr);
  }
}
