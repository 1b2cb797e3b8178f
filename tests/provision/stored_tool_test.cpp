// Rebuilding a stored engine: pieces, scrambling and inflation.
#include <gtest/gtest.h>

#include "provision/provision.h"
#include "provision/stored_builder.h"

using provtest::Bytes;
using provtest::Deflate;
using provtest::SampleBytes;
using provtest::PackedTool;

TEST(StoredTool, PiecesAreJoinedInOrderAndUnscrambled) {
  const Bytes payload = SampleBytes(600000, 7);
  const Bytes stream = Deflate(payload);
  ASSERT_GT(stream.size(), 3 * kMaxPieceBytes);

  PackedTool full(stream);
  EXPECT_EQ(full.View().count, (stream.size() + kMaxPieceBytes - 1) / kMaxPieceBytes);
  Bytes image = {1, 2, 3};  // emptied before use
  EXPECT_EQ(AssembleStoredTool(full.View(), image), payload.size());
  EXPECT_EQ(image, payload);

  PackedTool small(stream, 1000);
  EXPECT_EQ(AssembleStoredTool(small.View(), image), payload.size());
  EXPECT_EQ(image, payload);

  // Out of order, the stream is broken from the first swapped piece on.
  PackedTool swapped(stream);
  swapped.Swap(1, 2);
  EXPECT_LT(AssembleStoredTool(swapped.View(), image), payload.size());

  // Bytes after what a length field announces are not part of the tool.
  PackedTool repadded(stream);
  for (std::size_t i = 0; i < repadded.Blocks().size(); ++i) {
    repadded.Blocks()[i].insert(repadded.Blocks()[i].end(), 3, 0x11);
  }
  std::vector<StoredPiece> pieces;
  for (const Bytes& block : repadded.Blocks()) pieces.push_back({block.data(), block.size()});
  EXPECT_EQ(AssembleStoredTool({pieces.data(), pieces.size()}, image), payload.size());
  EXPECT_EQ(image, payload);
}

TEST(StoredTool, DamagedPieceListsRebuildNothing) {
  const Bytes stream = Deflate(SampleBytes(5000, 3));
  Bytes image = {9};
  EXPECT_EQ(AssembleStoredTool(StoredToolPieces{}, image), 0u);
  EXPECT_TRUE(image.empty());

  // A length field that claims more than the piece holds.
  PackedTool tool(stream);
  std::vector<StoredPiece> pieces = {{tool.Blocks()[0].data(), tool.Blocks()[0].size() - 1}};
  EXPECT_EQ(AssembleStoredTool({pieces.data(), 1}, image), 0u);
  // Too short to hold a length field, or no bytes at all.
  pieces = {{tool.Blocks()[0].data(), 3}};
  EXPECT_EQ(AssembleStoredTool({pieces.data(), 1}, image), 0u);
  pieces = {{nullptr, 100}};
  EXPECT_EQ(AssembleStoredTool({pieces.data(), 1}, image), 0u);
  EXPECT_EQ(AssembleStoredTool({nullptr, 2}, image), 0u);

  // Not scrambled: the key is part of the format.
  Bytes plain = {0, 0, 0, 0};
  plain[0] = static_cast<std::uint8_t>(stream.size());
  plain[1] = static_cast<std::uint8_t>(stream.size() >> 8);
  plain.insert(plain.end(), stream.begin(), stream.end());
  pieces = {{plain.data(), plain.size()}};
  EXPECT_EQ(AssembleStoredTool({pieces.data(), 1}, image), 0u);
}

TEST(StoredTool, StreamThatEndsEarlyGivesShorterImage) {
  const Bytes payload = SampleBytes(300000, 11);
  const Bytes stream = Deflate(payload);
  Bytes image;

  const Bytes half(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));
  const std::size_t got = InflateToolImage(half, image);
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, payload.size());
  ASSERT_EQ(image.size(), got);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), payload.begin()));

  // The same through stored pieces.
  PackedTool cut(half);
  EXPECT_EQ(AssembleStoredTool(cut.View(), image), got);

  // Only the check value missing: every byte is there, the stream just never ends.
  const Bytes noCheck(stream.begin(), stream.end() - 4);
  EXPECT_EQ(InflateToolImage(noCheck, image), payload.size());

  // Damage in the middle stops inflation there without running past the data.
  Bytes damaged = stream;
  for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) damaged[i] ^= 0xA5;
  EXPECT_LT(InflateToolImage(damaged, image), payload.size());
}

TEST(StoredTool, OnlyZlibStreamsInflate) {
  const Bytes payload = SampleBytes(10000, 5);
  Bytes image = {1};
  EXPECT_EQ(InflateToolImage({}, image), 0u);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(InflateToolImage(payload, image), 0u);

  // Raw deflate: the zlib header and check value are required.
  const Bytes stream = Deflate(payload);
  const Bytes raw(stream.begin() + 2, stream.end() - 4);
  EXPECT_EQ(InflateToolImage(raw, image), 0u);

  // An empty payload inflates to nothing, which counts as no tool.
  EXPECT_EQ(InflateToolImage(Deflate({}), image), 0u);
}
