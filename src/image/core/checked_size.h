#pragma once
// The image layer's one memory limit, its message, and the size check every block sized
// from numbers in a file goes through before it is allocated.
#include <cstdint>
#include <initializer_list>
#include <optional>

// Largest block (bytes) the image layer allocates from sizes a file states; also the most
// that the stored frames of one animation may take together.
constexpr uint64_t CXIMAGE_MAX_MEMORY = 268435456;

// The reason an image keeps when a file asks for more than CXIMAGE_MAX_MEMORY.
inline constexpr char kMaxMemoryMessage[] = "CXIMAGE_MAX_MEMORY exceeded";

// The product of `factors` (bytes), or nothing when it would pass `limit`. Every partial
// product stays within the limit, so no factor from a file can make it wrap around.
constexpr std::optional<uint64_t> CheckedSize(std::initializer_list<uint64_t> factors,
                                              uint64_t limit = CXIMAGE_MAX_MEMORY) {
  uint64_t total = 1;
  for (const uint64_t f : factors) {
    if (f != 0 && total > limit / f) return std::nullopt;
    total *= f;
  }
  if (total > limit) return std::nullopt;
  return total;
}
