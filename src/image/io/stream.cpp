#include "image/io/stream.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

bool CxStream::PutC(uint8_t c) { return Write(&c, 1, 1) == 1; }

// --- CxFileStream --------------------------------------------------------------------------

bool CxFileStream::Close() { return true; }

size_t CxFileStream::Read(void* buffer, size_t size, size_t count) {
  if (file_ == nullptr || buffer == nullptr) return 0;
  return std::fread(buffer, size, count, file_);
}

size_t CxFileStream::Write(const void* buffer, size_t size, size_t count) {
  if (file_ == nullptr || buffer == nullptr) return 0;
  return std::fwrite(buffer, size, count, file_);
}

bool CxFileStream::Seek(int64_t offset, int origin) {
  if (file_ == nullptr) return false;
  return fseeko(file_, static_cast<off_t>(offset), origin) == 0;
}

int64_t CxFileStream::Tell() {
  if (file_ == nullptr) return 0;
  return static_cast<int64_t>(ftello(file_));
}

int64_t CxFileStream::Size() {
  if (file_ == nullptr) return -1;
  const off_t pos = ftello(file_);
  if (fseeko(file_, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(file_);
  fseeko(file_, pos, SEEK_SET);
  return static_cast<int64_t>(size);
}

bool CxFileStream::Flush() {
  if (file_ == nullptr) return false;
  return std::fflush(file_) == 0;
}

bool CxFileStream::Eof() {
  if (file_ == nullptr) return true;
  return std::feof(file_) != 0;
}

long CxFileStream::Error() {
  if (file_ == nullptr) return -1;
  return std::ferror(file_);
}

bool CxFileStream::PutC(uint8_t c) {
  if (file_ == nullptr) return false;
  return std::fputc(c, file_) != EOF;
}

long CxFileStream::GetC() {
  if (file_ == nullptr) return -1;
  const int c = std::getc(file_);
  return c == EOF ? -1 : c;
}

char* CxFileStream::GetS(char* buffer, int maxCount) {
  if (file_ == nullptr || buffer == nullptr || maxCount <= 0) return nullptr;
  return std::fgets(buffer, maxCount, file_);
}

long CxFileStream::Scanf(const char* format, void* out) {
  if (file_ == nullptr || format == nullptr) return -1;
  return std::fscanf(file_, format, out);
}

// --- CxMemStream ---------------------------------------------------------------------------

namespace {
// A write may not grow a memory stream beyond this.
constexpr uint64_t kMemStreamLimit = uint64_t{1} << 31;
}  // namespace

CxMemStream::CxMemStream(const void* data, size_t size) {
  if (data != nullptr && size != 0) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    data_.assign(bytes, bytes + size);
  }
}

size_t CxMemStream::Read(void* buffer, size_t size, size_t count) {
  if (buffer == nullptr || size == 0 || count == 0) return 0;
  if (count > std::numeric_limits<size_t>::max() / size) count = std::numeric_limits<size_t>::max() / size;
  const size_t wanted = size * count;
  const size_t avail = pos_ < data_.size() ? data_.size() - pos_ : 0;
  const size_t n = std::min(wanted, avail);
  if (n != 0) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  if (n < wanted) eof_ = true;
  return n / size;
}

size_t CxMemStream::Write(const void* buffer, size_t size, size_t count) {
  if (buffer == nullptr || size == 0 || count == 0) return 0;
  if (count > kMemStreamLimit / size) return 0;
  const size_t n = size * count;
  if (pos_ + n > kMemStreamLimit) return 0;
  if (pos_ + n > data_.size()) data_.resize(pos_ + n);
  std::memcpy(data_.data() + pos_, buffer, n);
  pos_ += n;
  return count;
}

bool CxMemStream::Seek(int64_t offset, int origin) {
  int64_t base = 0;
  if (origin == SEEK_CUR) base = static_cast<int64_t>(pos_);
  else if (origin == SEEK_END) base = static_cast<int64_t>(data_.size());
  else if (origin != SEEK_SET) return false;
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) return false;
  const int64_t target = base + offset;
  if (target < 0 || static_cast<uint64_t>(target) > kMemStreamLimit) return false;
  pos_ = static_cast<size_t>(target);
  eof_ = false;
  return true;
}

long CxMemStream::GetC() {
  if (pos_ >= data_.size()) {
    eof_ = true;
    return -1;
  }
  return data_[pos_++];
}

char* CxMemStream::GetS(char* buffer, int maxCount) {
  if (buffer == nullptr || maxCount <= 0) return nullptr;
  int n = 0;
  while (n < maxCount - 1) {
    const long c = GetC();
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 && maxCount > 1) return nullptr;
  buffer[n] = '\0';
  return buffer;
}

long CxMemStream::Scanf(const char* format, void* out) {
  if (format == nullptr) return -1;
  if (pos_ >= data_.size()) {
    eof_ = true;
    return -1;
  }
  // One conversion over a bounded, terminated window of what remains.
  const size_t window = std::min<size_t>(data_.size() - pos_, 4096);
  std::string text(reinterpret_cast<const char*>(data_.data() + pos_), window);
  const std::string withCount = std::string(format) + "%n";
  int consumed = 0;
  const int result = std::sscanf(text.c_str(), withCount.c_str(), out, &consumed);
  if (result > 0) pos_ += static_cast<size_t>(consumed);
  return result;
}

// --- Little-endian helpers -----------------------------------------------------------------

bool ReadU8(CxStream* s, uint8_t& value) {
  uint8_t b;
  if (s == nullptr || s->Read(&b, 1, 1) != 1) return false;
  value = b;
  return true;
}

bool ReadU16LE(CxStream* s, uint16_t& value) {
  uint8_t b[2];
  if (s == nullptr || s->Read(b, 2, 1) != 1) return false;
  value = LoadU16LE(b);
  return true;
}

bool ReadU32LE(CxStream* s, uint32_t& value) {
  uint8_t b[4];
  if (s == nullptr || s->Read(b, 4, 1) != 1) return false;
  value = LoadU32LE(b);
  return true;
}

bool ReadI32LE(CxStream* s, int32_t& value) {
  uint32_t u;
  if (!ReadU32LE(s, u)) return false;
  value = static_cast<int32_t>(u);
  return true;
}

bool WriteU16LE(CxStream* s, uint16_t value) {
  uint8_t b[2];
  StoreU16LE(b, value);
  return s != nullptr && s->Write(b, 2, 1) == 1;
}

bool WriteU32LE(CxStream* s, uint32_t value) {
  uint8_t b[4];
  StoreU32LE(b, value);
  return s != nullptr && s->Write(b, 4, 1) == 1;
}
