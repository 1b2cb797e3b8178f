#pragma once
// Per-pixel arrays of large pictures. On first touch every 4 KiB page of a fresh array costs
// a page fault, which on a virtual machine is dearer than the work done on the page; asking
// for huge pages before the first touch cuts the faults 512-fold where the system allows it.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace at {

template <class T>
void ResizeLarge(std::vector<T>& v, size_t n) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (v.capacity() < n) {
    std::vector<T>().swap(v);
    v.reserve(n);
#ifdef MADV_HUGEPAGE
    const uintptr_t from = (reinterpret_cast<uintptr_t>(v.data()) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(v.data()) + n * sizeof(T)) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
  }
  v.resize(n);
}

// Shortens v to n elements and gives the whole pages beyond them back to the system at once
// (shrink_to_fit would first copy them into a second array).
template <class T>
void ShrinkLarge(std::vector<T>& v, size_t n) {
  v.resize(n);
#ifdef MADV_DONTNEED
  constexpr uintptr_t kPage = 4096;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(v.data() + n) + kPage - 1) & ~(kPage - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(v.data() + v.capacity())) & ~(kPage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
#endif
}

}  // namespace at
