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

}  // namespace at
