#pragma once
// The byte stream every codec reads and writes through.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class CxStream {
 public:
  virtual ~CxStream() = default;
  virtual bool Close() = 0;
  // Number of whole items of `size` bytes read or written.
  virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
  virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
  // origin: SEEK_SET (0), SEEK_CUR (1), SEEK_END (2).
  virtual bool Seek(int64_t offset, int origin) = 0;
  virtual int64_t Tell() = 0;
  virtual int64_t Size() = 0;
  virtual bool Flush() = 0;
  virtual bool Eof() = 0;
  virtual long Error() = 0;
  virtual bool PutC(uint8_t c);
  virtual long GetC() = 0;  // 0..255, -1 at end of data
  virtual char* GetS(char* buffer, int maxCount) = 0;
  // One scanf conversion (format holds exactly one, e.g. "%d") into out.
  virtual long Scanf(const char* format, void* out) = 0;
};

// Over a FILE the caller opened and closes; Close never closes it.
class CxFileStream : public CxStream {
 public:
  explicit CxFileStream(FILE* file) : file_(file) {}
  bool Close() override;
  size_t Read(void* buffer, size_t size, size_t count) override;
  size_t Write(const void* buffer, size_t size, size_t count) override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  int64_t Size() override;
  bool Flush() override;
  bool Eof() override;
  long Error() override;
  bool PutC(uint8_t c) override;
  long GetC() override;
  char* GetS(char* buffer, int maxCount) override;
  long Scanf(const char* format, void* out) override;

 private:
  FILE* file_;
};

// Reads from a copy of a byte span; writes grow the buffer (seeking past the end and
// writing fills the gap with zeros).
class CxMemStream : public CxStream {
 public:
  CxMemStream() = default;
  CxMemStream(const void* data, size_t size);
  bool Close() override { return true; }
  size_t Read(void* buffer, size_t size, size_t count) override;
  size_t Write(const void* buffer, size_t size, size_t count) override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override { return static_cast<int64_t>(pos_); }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  bool Flush() override { return true; }
  bool Eof() override { return eof_; }
  long Error() override { return 0; }
  long GetC() override;
  char* GetS(char* buffer, int maxCount) override;
  long Scanf(const char* format, void* out) override;

  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  bool eof_ = false;
};

// Little-endian field reads; false (value untouched) when the bytes are not all there.
bool ReadU8(CxStream* s, uint8_t& value);
bool ReadU16LE(CxStream* s, uint16_t& value);
bool ReadU32LE(CxStream* s, uint32_t& value);
bool ReadI32LE(CxStream* s, int32_t& value);
// Little-endian field writes; false when the stream took fewer bytes.
bool WriteU16LE(CxStream* s, uint16_t value);
bool WriteU32LE(CxStream* s, uint32_t value);
// Decoding from bytes already in memory, in either byte order.
inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t LoadU16BigEndian(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t LoadU32BigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
// Encoding into memory, little-endian.
inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
