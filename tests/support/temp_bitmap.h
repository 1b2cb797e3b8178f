#pragma once
// The bytes of a temporary bitmap the program made, held in memory or written to disk.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/temp_files.h"
#include "support/test_support.h"

namespace testsupport {

inline std::vector<uint8_t> TempBitmapBytes(const std::string& path) {
  const int fd = MemoryTempFile(path);
  if (fd < 0) return ReadBytes(path);
  struct stat st;
  if (::fstat(fd, &st) != 0) return {};
  std::vector<uint8_t> bytes(static_cast<std::size_t>(st.st_size));
  if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) return {};
  return bytes;
}

}  // namespace testsupport
