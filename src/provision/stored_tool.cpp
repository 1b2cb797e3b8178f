#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "provision/provision.h"

namespace {

constexpr std::size_t kInflateWindow = 1024;
// Stretches for rebuilding straight into a file. Every fresh page of memory a run touches
// costs about as much as copying it many times over, so these stay small: the engine a run
// starts (potrace, about 100 KB) passes through in two writes.
constexpr std::size_t kStreamIn = 16 * 1024;
constexpr std::size_t kStreamOut = 64 * 1024;

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The piece's bytes after its length field; false when the length claims more than it holds.
bool PieceData(const StoredPiece& piece, const std::uint8_t*& data, std::size_t& length) {
  if (piece.bytes == nullptr || piece.size < kPieceHeaderBytes) return false;
  length = ReadLe32(piece.bytes);
  if (length > piece.size - kPieceHeaderBytes) return false;
  data = piece.bytes + kPieceHeaderBytes;
  return true;
}

// Removes the scrambling eight bytes at a time: byte by byte it would cost as much as all
// the rest of rebuilding an engine.
void Unscramble(const std::uint8_t* from, std::size_t size, std::uint8_t* to) {
  constexpr std::uint64_t kWideKey = 0x0101010101010101ULL * kStoredToolKey;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, from + i, 8);
    word ^= kWideKey;
    std::memcpy(to + i, &word, 8);
  }
  for (; i < size; ++i) to[i] = from[i] ^ kStoredToolKey;
}

bool IsZlibHeader(unsigned cmf, unsigned flg) {
  constexpr unsigned kPresetDictionary = 0x20;
  return (cmf & 0x0F) == Z_DEFLATED && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 &&
         (flg & kPresetDictionary) == 0;
}

bool AllPiecesSound(const StoredToolPieces& tool) {
  if (tool.pieces == nullptr && tool.count > 0) return false;
  for (std::size_t i = 0; i < tool.count; ++i) {
    const std::uint8_t* data;
    std::size_t length;
    if (!PieceData(tool.pieces[i], data, length)) return false;
  }
  return true;
}

}  // namespace

std::size_t InflateToolImage(const std::vector<std::uint8_t>& stream,
                             std::vector<std::uint8_t>& image) {
  image.clear();
  if (stream.size() > UINT_MAX) return 0;
  // Executables deflate to about half; starting near the final size saves most of the
  // regrowing and copying of a multi-megabyte image.
  image.reserve(stream.size() * 2);
  z_stream z{};
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  if (inflateInit(&z) != Z_OK) return 0;
  std::uint8_t window[kInflateWindow];
  int status;
  do {
    z.next_out = window;
    z.avail_out = sizeof(window);
    status = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = sizeof(window) - z.avail_out;
    image.insert(image.end(), window, window + produced);
  } while (status == Z_OK);
  inflateEnd(&z);
  return image.size();
}

bool StoredToolLooksSound(const StoredToolPieces& tool) {
  if (tool.count == 0 || tool.pieces == nullptr) return false;
  const std::uint8_t* data;
  std::size_t length;
  if (!PieceData(tool.pieces[0], data, length) || length < 2) return false;
  // The zlib header: deflate method, and the check bits that make it a multiple of 31.
  return IsZlibHeader(data[0] ^ kStoredToolKey, data[1] ^ kStoredToolKey);
}

std::size_t StreamStoredTool(const StoredToolPieces& tool, const ToolSink& sink) {
  if (tool.count == 0 || !AllPiecesSound(tool)) return 0;
  // The zlib header is read here and the deflate data inflated raw: the closing Adler-32
  // check would cost more than everything else on stored stretches, and could change
  // nothing, since what was inflated before a bad check is kept anyway (and the build
  // checked the stream once).
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 0;
  // Left uninitialised: inflate writes what is read back.
  const std::unique_ptr<std::uint8_t[]> inBuffer(new std::uint8_t[kStreamIn]);
  const std::unique_ptr<std::uint8_t[]> outBuffer(new std::uint8_t[kStreamOut]);
  std::uint8_t* const in = inBuffer.get();
  std::uint8_t* const out = outBuffer.get();
  std::uint8_t header[2];
  std::size_t headerBytes = 0;
  std::size_t total = 0;
  int status = Z_OK;
  bool kept = true;
  for (std::size_t i = 0; kept && status == Z_OK && i < tool.count; ++i) {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    PieceData(tool.pieces[i], data, length);
    for (std::size_t at = 0; kept && status == Z_OK && at < length; at += kStreamIn) {
      const std::size_t chunk = std::min(kStreamIn, length - at);
      Unscramble(data + at, chunk, in);
      std::size_t skip = 0;
      while (headerBytes < 2 && skip < chunk) header[headerBytes++] = in[skip++];
      if (headerBytes == 2 && skip > 0 && !IsZlibHeader(header[0], header[1])) status = Z_DATA_ERROR;
      z.next_in = in + skip;
      z.avail_in = static_cast<uInt>(chunk - skip);
      // A stream that breaks off or goes bad keeps what came out before that point.
      bool more = z.avail_in > 0;
      while (kept && status == Z_OK && more) {
        z.next_out = out;
        z.avail_out = static_cast<uInt>(kStreamOut);
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = kStreamOut - z.avail_out;
        if (produced > 0) {
          kept = sink(out, produced);
          total += produced;
        }
        more = z.avail_in > 0 || z.avail_out == 0;
      }
    }
  }
  inflateEnd(&z);
  return kept ? total : 0;
}

std::size_t AssembleStoredTool(const StoredToolPieces& tool, std::vector<std::uint8_t>& image) {
  image.clear();
  // A piece that does not hold what it claims means the store is damaged: nothing of the
  // tool is trusted.
  if (!AllPiecesSound(tool)) return 0;
  std::size_t stored = 0;
  for (std::size_t i = 0; i < tool.count; ++i) stored += tool.pieces[i].size;
  image.reserve(stored + stored / 4);
  return StreamStoredTool(tool, [&image](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    image.insert(image.end(), bytes, bytes + size);
    return true;
  });
}
