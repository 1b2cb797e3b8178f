#pragma once
// The engine executables as the program stores them: per tool an ordered set of pieces, each
// a 32-bit little-endian length followed by that many bytes; joined and combined with the key
// by exclusive-or they give the tool's zlib stream.
#include <cstddef>
#include <cstdint>

inline constexpr std::uint8_t kStoredToolKey = 0x5A;
inline constexpr std::size_t kMaxPieceBytes = 102400;
inline constexpr std::size_t kPieceHeaderBytes = 4;

// One stored piece as laid out in memory: `size` counts the length field and what follows,
// so the length field can be checked against the bytes that are really there.
struct StoredPiece {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

struct StoredToolPieces {
  const StoredPiece* pieces = nullptr;
  std::size_t count = 0;
};

enum StoredTool : int { kToolAutotrace = 0, kToolPotrace = 1, kToolPagerip = 2, kToolCount = 3 };

// File names of the tools beside the program, in the order they are provisioned.
inline constexpr const char* kStoredToolNames[kToolCount] = {"autotrace", "potrace", "pagerip"};

struct StoredToolSet {
  StoredToolPieces tools[kToolCount];
};

// The engines built into the program. Defined by the generated data that only the
// tracewright executable links; elsewhere (tests, benchmarks) the symbol stays null.
extern "C" const StoredToolSet* TwBuiltInStoredTools() __attribute__((weak));
