#pragma once
// The image layer's one memory limit, its message, and the size check every block sized
// from numbers in a file goes through before it is allocated.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

// Largest block (bytes) the image layer allocates from sizes a file states; also the most
// that the stored frames of one animation may take together.
constexpr uint64_t CXIMAGE_MAX_MEMORY = 268435456;

// The reason an image keeps when a file asks for more than CXIMAGE_MAX_MEMORY.
inline constexpr char kMaxMemoryMessage[] = "CXIMAGE_MAX_MEMORY exceeded";

// The same for a picture whose pixels pass the limit, with its size and the limit:
// "the picture is too large: 20000 x 20000 pixels, more than the 256 MiB limit
// (CXIMAGE_MAX_MEMORY exceeded)".
inline std::string TooLargeReason(uint64_t width, uint64_t height) {
  return "the picture is too large: " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels, more than the " + std::to_string(CXIMAGE_MAX_MEMORY >> 20) + " MiB limit (" + kMaxMemoryMessage + ")";
}

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
