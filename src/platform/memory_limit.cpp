#include "platform/memory_limit.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>

namespace {

// What the program needs before any work, and what one work item may take at its peak (a
// page of 300 dpi in colour, its grey and bitmap copies, a thread's stack and arena).
constexpr unsigned long long kBaseBytes = 96ULL << 20;
constexpr unsigned long long kBytesPerWorker = 112ULL << 20;

}  // namespace

int WorkersWithinMemoryLimit(int wanted) {
  struct rlimit limit;
  if (wanted <= 1 || ::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
  ::mallopt(M_ARENA_MAX, 2);
  const unsigned long long bytes = limit.rlim_cur;
  const unsigned long long room = bytes > kBaseBytes ? (bytes - kBaseBytes) / kBytesPerWorker : 0;
  if (room < 1) return 1;
  return room < static_cast<unsigned long long>(wanted) ? static_cast<int>(room) : wanted;
}

void PrepareForWriting(void* block, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Small blocks gain little.
  constexpr std::size_t kWorthIt = std::size_t{256} << 10;
  if (block == nullptr || size < kWorthIt) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)size;
#endif
}
