#include <zlib.h>

#include <climits>

#include "provision/provision.h"

namespace {

constexpr std::size_t kInflateWindow = 1024;

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Appends one piece; false when its length field claims more than the piece holds.
bool AppendPiece(const StoredPiece& piece, std::vector<std::uint8_t>& joined) {
  if (piece.bytes == nullptr || piece.size < kPieceHeaderBytes) return false;
  const std::uint32_t length = ReadLe32(piece.bytes);
  if (length > piece.size - kPieceHeaderBytes) return false;
  const std::uint8_t* data = piece.bytes + kPieceHeaderBytes;
  joined.insert(joined.end(), data, data + length);
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

std::size_t AssembleStoredTool(const StoredToolPieces& tool, std::vector<std::uint8_t>& image) {
  image.clear();
  std::vector<std::uint8_t> joined;
  std::size_t total = 0;
  for (std::size_t i = 0; tool.pieces != nullptr && i < tool.count; ++i) {
    total += tool.pieces[i].size;
  }
  joined.reserve(total);
  for (std::size_t i = 0; i < tool.count; ++i) {
    // A piece that does not hold what it claims means the store is damaged: nothing of
    // the tool is trusted.
    if (tool.pieces == nullptr || !AppendPiece(tool.pieces[i], joined)) return 0;
  }
  for (std::uint8_t& byte : joined) byte ^= kStoredToolKey;
  return InflateToolImage(joined, image);
}
