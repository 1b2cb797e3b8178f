// WebP reading: still pictures (lossless, lossy, alpha), animations composed on their canvas,
// the signature under any name, limits and damaged files; and the corpus's PNG references
// written as lossless WebP, which must come back pixel for pixel.
#include <gtest/gtest.h>

#include <webp/encode.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/codecs/webp/webp_codec.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/prepare.h"
#include "image/ref_png.h"
#include "platform/temp_files.h"
#include "support/temp_bitmap.h"
#include "support/test_support.h"

namespace {

// Lossless WebP of B, G, R, A pixels, rows from the top.
std::vector<uint8_t> Lossless(const std::vector<uint8_t>& bgra, int width, int height) {
  uint8_t* out = nullptr;
  const size_t size = WebPEncodeLosslessBGRA(bgra.data(), width, height, width * 4, &out);
  std::vector<uint8_t> file(out, out + size);
  WebPFree(out);
  return file;
}

void Put24(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 3; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Chunk(std::vector<uint8_t>& v, const char* tag, const std::vector<uint8_t>& body) {
  v.insert(v.end(), tag, tag + 4);
  Put32(v, static_cast<uint32_t>(body.size()));
  v.insert(v.end(), body.begin(), body.end());
  if (body.size() % 2) v.push_back(0);
}

struct Frame {
  uint32_t x, y, width, height;
  std::vector<uint8_t> bgra;
};

// An animation of lossless frames on a canvas, each blended over what is there.
std::vector<uint8_t> Animation(uint32_t width, uint32_t height, const std::vector<Frame>& frames) {
  std::vector<uint8_t> chunks, vp8x = {0x12, 0, 0, 0};  // animation and alpha
  Put24(vp8x, width - 1);
  Put24(vp8x, height - 1);
  Chunk(chunks, "VP8X", vp8x);
  std::vector<uint8_t> anim;
  Put32(anim, 0);  // background: clear
  anim.push_back(0);
  anim.push_back(0);
  Chunk(chunks, "ANIM", anim);
  for (const Frame& f : frames) {
    std::vector<uint8_t> anmf;
    Put24(anmf, f.x / 2);
    Put24(anmf, f.y / 2);
    Put24(anmf, f.width - 1);
    Put24(anmf, f.height - 1);
    Put24(anmf, 100);  // ms
    anmf.push_back(0);
    const auto still = Lossless(f.bgra, static_cast<int>(f.width), static_cast<int>(f.height));
    anmf.insert(anmf.end(), still.begin() + 12, still.end());  // its VP8L chunk
    Chunk(chunks, "ANMF", anmf);
  }
  std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
  Put32(file, static_cast<uint32_t>(chunks.size() + 4));
  file.insert(file.end(), {'W', 'E', 'B', 'P'});
  file.insert(file.end(), chunks.begin(), chunks.end());
  return file;
}

bool DecodeWebp(const std::vector<uint8_t>& bytes, CxImageWEBP& image, int32_t escape = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetEscape(escape);
  return image.Decode(&stream);
}

struct TempCleanup {
  ~TempCleanup() { DeleteTempFiles(); }
};

const std::vector<uint8_t> kBlack = {0, 0, 0, 255}, kClear = {0, 0, 0, 0};

std::vector<uint8_t> Pixels(std::initializer_list<std::vector<uint8_t>> pixels) {
  std::vector<uint8_t> out;
  for (const auto& p : pixels) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(WebpDecode, StillPicturesWithAndWithoutAlpha) {
  // 3 x 2, rows from the top: red, green, half-clear blue / white, clear, grey.
  const std::vector<uint8_t> bgra = Pixels({{0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 128},
                                            {255, 255, 255, 255}, kClear, {90, 90, 90, 255}});
  const auto file = Lossless(bgra, 3, 2);
  CxImageWEBP image;
  ASSERT_TRUE(DecodeWebp(file, image)) << image.LastErrorText();
  EXPECT_EQ(image.FormatType(), FORMAT_WEBP);
  ASSERT_EQ(image.Width(), 3u);
  ASSERT_EQ(image.Height(), 2u);
  EXPECT_EQ(image.Bpp(), 24u);
  EXPECT_EQ(image.FrameCount(), 1);
  ASSERT_TRUE(image.HasAlpha());
  for (uint32_t i = 0; i < 6; ++i) {
    const uint32_t x = i % 3, y = 1 - i / 3;  // rows counted from the bottom
    const RgbQuad c = image.ColourAt(x, y);
    const uint8_t a = image.AlphaGet(x, y);
    EXPECT_EQ(a, bgra[4 * i + 3]) << i;
    if (a != 0) {
      EXPECT_TRUE(c.blue == bgra[4 * i] && c.green == bgra[4 * i + 1] && c.red == bgra[4 * i + 2]) << i;
    }
  }
  CxImageWEBP probe;
  ASSERT_TRUE(DecodeWebp(file, probe, -1));
  EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
  EXPECT_FALSE(probe.HasPixels());
  EXPECT_EQ(probe.Width(), 3u);

  // Lossy and opaque: no alpha plane, colours close to the original.
  std::vector<uint8_t> bgr(32 * 32 * 3, 200);
  uint8_t* lossy = nullptr;
  const size_t size = WebPEncodeBGR(bgr.data(), 32, 32, 32 * 3, 95, &lossy);
  ASSERT_GT(size, 0u);
  const std::vector<uint8_t> lossyFile(lossy, lossy + size);
  WebPFree(lossy);
  CxImageWEBP opaque;
  ASSERT_TRUE(DecodeWebp(lossyFile, opaque)) << opaque.LastErrorText();
  EXPECT_FALSE(opaque.HasAlpha());
  EXPECT_NEAR(opaque.ColourAt(16, 16).green, 200, 3);
  CxImageWEBP second;
  second.SetFrameToLoad(1);
  EXPECT_FALSE(DecodeWebp(lossyFile, second));

  // The signature decides whatever the name says; the extension is known too.
  testsupport::ScratchDir dir;
  const std::string misnamed = dir.file("logo.png"), bare = dir.file("logo");
  testsupport::WriteBytes(misnamed, file);
  testsupport::WriteBytes(bare, file);
  EXPECT_EQ(DetectFormat(bare), FORMAT_WEBP);
  EXPECT_EQ(DetectFormat(dir.file("x.WebP")), FORMAT_WEBP);
  CxImage loaded;
  ASSERT_TRUE(loaded.Load(misnamed.c_str(), FORMAT_PNG)) << loaded.LastErrorText();
  EXPECT_EQ(loaded.FormatType(), FORMAT_WEBP);
  ASSERT_TRUE(loaded.Load(bare.c_str(), FORMAT_UNKNOWN));
  EXPECT_EQ(loaded.Width(), 3u);
}

TEST(WebpDecode, AnimationFramesAreComposedAndTraceOverWhite) {
  TempCleanup cleanup;
  // Frame 1 covers the canvas (black, clear, clear, black); frame 2 puts black on pixel 2
  // and a clear pixel over pixel 3, which keeps frame 1's black there.
  const auto file = Animation(4, 1, {{0, 0, 4, 1, Pixels({kBlack, kClear, kClear, kBlack})},
                                     {2, 0, 2, 1, Pixels({kBlack, kClear})}});
  CxImageWEBP first, last;
  ASSERT_TRUE(DecodeWebp(file, first)) << first.LastErrorText();
  EXPECT_EQ(first.FrameCount(), 2);
  last.SetFrameToLoad(1);
  ASSERT_TRUE(DecodeWebp(file, last)) << last.LastErrorText();
  const uint8_t firstAlpha[4] = {255, 0, 0, 255}, lastAlpha[4] = {255, 0, 255, 255};
  for (uint32_t x = 0; x < 4; ++x) {
    EXPECT_EQ(first.AlphaGet(x, 0), firstAlpha[x]) << x;
    EXPECT_EQ(last.AlphaGet(x, 0), lastAlpha[x]) << x;
  }
  CxImageWEBP beyond;
  beyond.SetFrameToLoad(2);
  EXPECT_FALSE(DecodeWebp(file, beyond));

  // Every frame at once, and the outline route's bitmaps: clear pixels are white.
  CxImageWEBP all;
  all.SetRetrieveAllFrames(true);
  all.SetFrameToLoad(1);
  ASSERT_TRUE(DecodeWebp(file, all));
  ASSERT_EQ(all.FrameArraySize(), 2);
  EXPECT_EQ(all.FrameAt(1)->AlphaGet(2, 0), 255);
  testsupport::ScratchDir dir;
  const std::string path = dir.file("anim.gif");  // the signature wins over the name
  testsupport::WriteBytes(path, file);
  std::vector<std::string> bitmaps;
  ASSERT_EQ(SplitIntoBitonalFrames(path, ".bmp", bitmaps, 240), 2u);
  EXPECT_EQ(testsupport::TempBitmapBytes(bitmaps[0]).at(62), 0x60);  // ink, white, white, ink
  EXPECT_EQ(testsupport::TempBitmapBytes(bitmaps[1]).at(62), 0x40);  // ink, white, ink, ink
}

TEST(WebpDecode, DistrustsEveryByte) {
  const auto still = Lossless(Pixels({kBlack, kClear, kBlack, kBlack}), 2, 2);
  for (size_t cut : {size_t{0}, size_t{11}, size_t{20}, still.size() / 2, still.size() - 1}) {
    CxImageWEBP image;
    std::vector<uint8_t> part(still.begin(), still.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(DecodeWebp(part, image)) << cut;
    EXPECT_STRNE(image.LastErrorText(), "") << cut;
  }
  // A canvas beyond the memory limit is refused before anything is allocated for it.
  auto huge = Animation(16384, 16384, {{0, 0, 2, 1, Pixels({kBlack, kBlack})}});
  CxImageWEBP image;
  EXPECT_FALSE(DecodeWebp(huge, image));
  EXPECT_STREQ(image.LastErrorText(), kMaxMemoryMessage);
  // A RIFF size past the end of the data, and random bytes after a valid header.
  auto lying = still;
  lying[4] = lying[5] = lying[6] = 0xFF;
  CxImageWEBP cut;
  EXPECT_FALSE(DecodeWebp(lying, cut));
  std::vector<uint8_t> noise = {'R', 'I', 'F', 'F', 40, 0, 0, 0, 'W', 'E', 'B', 'P'};
  for (int i = 0; i < 40; ++i) noise.push_back(static_cast<uint8_t>(i * 37 + 11));
  CxImageWEBP random;
  EXPECT_FALSE(DecodeWebp(noise, random));
  EXPECT_STRNE(random.LastErrorText(), "");
}

// Every good PNG reference of the corpus, as lossless WebP with its alpha dropped, decodes
// to exactly its pixels.
TEST(WebpCorpus, CorpusPicturesAsLosslessWebpComeBackExactly) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const char* format : {"png/good/", "gif/good/", "bmp/good/"}) {
    for (const auto& row : imagetest::ReferenceRows(format)) {
      if (row.bestRef.empty()) continue;
      imagetest::RefImage ref;
      if (!imagetest::LoadRefPng(corpus + "/" + row.bestRef, &ref) || ref.width * ref.height > 1000000) continue;
      SCOPED_TRACE(row.bestRef);
      std::vector<uint8_t> bgra;
      for (size_t i = 0; i < ref.rgb.size(); i += 3) {
        bgra.insert(bgra.end(), {ref.rgb[i + 2], ref.rgb[i + 1], ref.rgb[i], 255});
      }
      const auto file = Lossless(bgra, static_cast<int>(ref.width), static_cast<int>(ref.height));
      if (file.empty()) continue;  // beyond WebP's 16383 pixels a side
      CxImageWEBP image;
      ASSERT_TRUE(DecodeWebp(file, image)) << image.LastErrorText();
      EXPECT_EQ(imagetest::CountPixelDifferences(image, ref, 0), 0);
      ++compared;
    }
  }
  EXPECT_GE(compared, 200);
}

}  // namespace
