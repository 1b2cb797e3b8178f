#include <algorithm>
#include <cstring>

#include "image/codecs/jas/jas_raster.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

bool IsPnmSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '#';
}

}  // namespace


uint32_t JasDetectFormat(const uint8_t* head, size_t n) {
  static const uint8_t kJp2[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  static const uint8_t kJpc[4] = {0xFF, 0x4F, 0xFF, 0x51};
  static const uint8_t kRas[4] = {0x59, 0xA6, 0x6A, 0x95};
  if (n >= 12 && memcmp(head, kJp2, 12) == 0) return FORMAT_JP2;
  if (n >= 4 && memcmp(head, kJpc, 4) == 0) return FORMAT_JPC;
  if (n >= 4 && memcmp(head, kRas, 4) == 0) return FORMAT_RAS;
  if (n >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' && IsPnmSpace(head[2]))
    return FORMAT_PNM;
  if (n >= 5 && head[0] == 'P' && head[1] == 'G' && (head[2] == ' ' || head[2] == '\t')) {
    size_t i = 2;
    while (i < n && (head[i] == ' ' || head[i] == '\t')) ++i;
    if (i + 1 < n && ((head[i] == 'M' && head[i + 1] == 'L') ||
                      (head[i] == 'L' && head[i + 1] == 'M')))
      return FORMAT_PGX;
  }
  return 0;
}

JasByteReader::JasByteReader(CxStream* stream) : stream_(stream), buffer_(65536) {}

bool JasByteReader::Fill() {
  if (pos_ < end_) return true;
  pos_ = 0;
  end_ = stream_->Read(buffer_.data(), 1, buffer_.size());
  return end_ > 0;
}

int JasByteReader::Peek() { return Fill() ? buffer_[pos_] : -1; }

int JasByteReader::Get() { return Fill() ? buffer_[pos_++] : -1; }

size_t JasByteReader::Read(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n && Fill()) {
    const size_t take = std::min(n - done, end_ - pos_);
    memcpy(out + done, buffer_.data() + pos_, take);
    pos_ += take;
    done += take;
  }
  return done;
}

uint64_t JasByteReader::Remaining() {
  const int64_t size = stream_->Size();
  const int64_t at = stream_->Tell();
  const uint64_t inStream = size > at && at >= 0 ? static_cast<uint64_t>(size - at) : 0;
  return inStream + (end_ - pos_);
}

bool ReadDecimal(JasByteReader& in, uint32_t limit, uint32_t& out) {
  int c = in.Peek();
  if (c < '0' || c > '9') return false;
  uint64_t value = 0;
  while ((c = in.Peek()) >= '0' && c <= '9') {
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > limit) return false;
    in.Get();
  }
  out = static_cast<uint32_t>(value);
  return true;
}
