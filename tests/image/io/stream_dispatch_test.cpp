#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image/codecs/bmp/bmp_builder.h"
#include "image/codecs/bmp/bmp_codec.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "support/test_support.h"

namespace {

using imagetest::BmpLayout;
using imagetest::BuildBmp;

std::vector<uint8_t> SmallBmp() {
  BmpLayout layout;
  layout.width = 2;
  layout.height = 2;
  layout.bitCount = 8;
  layout.palette = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
  layout.clrUsed = 2;
  layout.pixels = {1, 0, 0, 0, 0, 1, 0, 0};
  return BuildBmp(layout);
}

TEST(ImageStream, MemoryStreamBehavesLikeAFile) {
  const char text[] = "12 abc\nline two";
  CxMemStream s(text, sizeof(text) - 1);
  EXPECT_EQ(s.Size(), 15);
  int value = 0;
  EXPECT_EQ(s.Scanf("%d", &value), 1);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(s.Tell(), 2);
  char line[32];
  ASSERT_NE(s.GetS(line, sizeof(line)), nullptr);
  EXPECT_STREQ(line, " abc\n");
  EXPECT_EQ(s.GetC(), 'l');
  uint8_t buf[8];
  // A short read delivers the bytes that are there and counts whole items only.
  EXPECT_EQ(s.Read(buf, 4, 4), 1u);
  EXPECT_EQ(std::memcmp(buf, "ine two", 7), 0);
  EXPECT_TRUE(s.Eof());
  EXPECT_EQ(s.GetC(), -1);
  EXPECT_TRUE(s.Seek(-3, SEEK_END));
  EXPECT_FALSE(s.Eof());
  EXPECT_EQ(s.GetC(), 't');
  EXPECT_FALSE(s.Seek(-100, SEEK_CUR));
  EXPECT_TRUE(s.Seek(1000, SEEK_SET));  // past the end: reads deliver nothing
  EXPECT_EQ(s.Read(buf, 1, 1), 0u);

  CxMemStream out;
  EXPECT_TRUE(out.PutC('A'));
  EXPECT_TRUE(out.Seek(4, SEEK_SET));
  EXPECT_EQ(out.Write("Z", 1, 1), 1u);
  ASSERT_EQ(out.Data().size(), 5u);
  EXPECT_EQ(out.Data()[2], 0);
  EXPECT_EQ(out.Data()[4], 'Z');

  uint16_t u16 = 0;
  uint32_t u32 = 0;
  const uint8_t le[] = {0x34, 0x12, 0x78, 0x56, 0x34};
  CxMemStream les(le, sizeof(le));
  ASSERT_TRUE(ReadU16LE(&les, u16));
  EXPECT_EQ(u16, 0x1234);
  EXPECT_FALSE(ReadU32LE(&les, u32));  // only three bytes left
}

TEST(ImageStream, FileStreamWithoutFile) {
  CxFileStream s(nullptr);
  uint8_t b;
  EXPECT_EQ(s.Read(&b, 1, 1), 0u);
  EXPECT_EQ(s.Write(&b, 1, 1), 0u);
  EXPECT_EQ(s.Tell(), 0);
  EXPECT_FALSE(s.Seek(0, SEEK_SET));
  EXPECT_FALSE(s.Flush());
  EXPECT_FALSE(s.PutC(1));
  EXPECT_TRUE(s.Eof());
  EXPECT_EQ(s.Error(), -1);
  EXPECT_EQ(s.GetC(), -1);
  EXPECT_EQ(s.Size(), -1);
  EXPECT_TRUE(s.Close());
}

TEST(ImageFormats, IndexExtensionAndSignature) {
  EXPECT_EQ(FormatIndex(15), 15u);
  EXPECT_EQ(FormatIndex(16), 0u);
  EXPECT_EQ(FormatIndex(17), 16u);
  EXPECT_EQ(FormatIndex(19), 18u);
  EXPECT_EQ(FormatIndex(20), 19u);  // WebP
  EXPECT_EQ(FormatIndex(21), 0u);
  EXPECT_EQ(FormatFromExtension("BMP"), FORMAT_BMP);
  EXPECT_EQ(FormatFromExtension("Jpeg"), FORMAT_JPG);
  EXPECT_EQ(FormatFromExtension("tif"), FORMAT_TIF);
  EXPECT_EQ(FormatFromExtension("emf"), FORMAT_WMF);
  EXPECT_EQ(FormatFromExtension("j2c"), FORMAT_JPC);
  EXPECT_EQ(FormatFromExtension("ppm"), FORMAT_PNM);
  EXPECT_EQ(FormatFromExtension("pbm"), FORMAT_UNKNOWN);
  EXPECT_EQ(FormatFromExtension(""), FORMAT_UNKNOWN);
  EXPECT_EQ(ExtensionOf("/a.b/c.d/name.TGA"), "TGA");
  EXPECT_EQ(ExtensionOf("/a.b/name"), "");
  EXPECT_EQ(ExtensionOf("x.tar.gz"), "gz");

  testsupport::ScratchDir dir;
  const std::string path = dir.file("sig");
  auto sig = [&](std::vector<uint8_t> bytes) {
    testsupport::WriteBytes(path, bytes);
    return FormatFromSignature(path.c_str());
  };
  EXPECT_EQ(sig({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}), FORMAT_TIF);
  EXPECT_EQ(sig({'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0}), FORMAT_TIF);
  EXPECT_EQ(sig({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0}), FORMAT_PNG);
  EXPECT_EQ(sig({0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0, 0, 0}), FORMAT_JPG);
  EXPECT_EQ(sig({0xFF, 0xD8, 0xFF}), FORMAT_UNKNOWN);  // fewer than 10 bytes
  EXPECT_EQ(sig({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}), FORMAT_UNKNOWN);
  EXPECT_EQ(FormatFromSignature(dir.file("missing").c_str()), FORMAT_UNKNOWN);
}

TEST(ImageDispatch, DecodeMessagesAndChain) {
  CxImage img;
  EXPECT_FALSE(img.Decode(static_cast<CxStream*>(nullptr), FORMAT_BMP));
  EXPECT_STREQ(img.LastErrorText(), "null file handler");
  EXPECT_FALSE(img.Decode(static_cast<FILE*>(nullptr), FORMAT_BMP));
  EXPECT_STREQ(img.LastErrorText(), "null file handler");

  const char junk[] = "this is not an image at all";
  CxMemStream s(junk, sizeof(junk));
  EXPECT_FALSE(img.Decode(&s, 16));
  EXPECT_STREQ(img.LastErrorText(), "Decode: Unknown or wrong format");
  EXPECT_FALSE(img.Decode(&s, FORMAT_ICO));  // no codec in this program
  EXPECT_STREQ(img.LastErrorText(), "Decode: Unknown or wrong format");
  CxMemStream tiny("BM", 2);
  EXPECT_FALSE(img.Decode(&tiny, FORMAT_BMP));
  EXPECT_STREQ(img.LastErrorText(), "Not a BMP");
  s.Seek(0, SEEK_SET);
  EXPECT_FALSE(img.Decode(&s, FORMAT_UNKNOWN));
  EXPECT_STREQ(img.LastErrorText(), "Decode: Unknown or wrong format");

  // The chain finds the BMP decoder and moves its result in.
  const auto bmp = SmallBmp();
  CxMemStream good(bmp.data(), bmp.size());
  ASSERT_TRUE(img.Decode(&good, FORMAT_UNKNOWN));
  EXPECT_EQ(img.FormatType(), FORMAT_BMP);
  EXPECT_EQ(img.Width(), 2u);
  EXPECT_EQ(img.IndexAt(0, 0), 1);
}

TEST(ImageDispatch, ProbeAndCancel) {
  const auto bmp = SmallBmp();
  CxImage probe;
  probe.SetEscape(-1);
  CxMemStream s(bmp.data(), bmp.size());
  ASSERT_TRUE(probe.Decode(&s, FORMAT_BMP));
  EXPECT_EQ(probe.Width(), 2u);
  EXPECT_EQ(probe.Height(), 2u);
  EXPECT_FALSE(probe.HasPixels());
  EXPECT_EQ(probe.FormatType(), FORMAT_BMP);
  EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
  // Bytes no decoder reads fail a probe too, also in an image that last held a BMP.
  const std::string text = "just text, nothing else here";
  CxMemStream junk(text.data(), text.size());
  EXPECT_FALSE(probe.Decode(&junk, FORMAT_UNKNOWN));

  CxImage cancelled;
  cancelled.SetEscape(1);
  s.Seek(0, SEEK_SET);
  EXPECT_FALSE(cancelled.Decode(&s, FORMAT_BMP));
  EXPECT_STREQ(cancelled.LastErrorText(), "Cancelled");
  EXPECT_FALSE(cancelled.HasPixels());
}

TEST(ImageDispatch, LoadSaveAndEncodeMessages) {
  testsupport::ScratchDir dir;
  const auto bmp = SmallBmp();
  // A BMP under a PNG name: the typed PNG attempt fails, the chain finds the BMP decoder.
  const std::string misnamed = dir.file("really_bmp.png");
  testsupport::WriteBytes(misnamed, bmp);
  CxImage img;
  ASSERT_TRUE(img.Load(misnamed.c_str(), FORMAT_PNG));
  EXPECT_EQ(img.FormatType(), FORMAT_BMP);

  // No decoder accepts it: a typed request reports the typed decoder's message.
  const std::string junk = dir.file("junk.bmp");
  testsupport::WriteText(junk, "just text, nothing else here");
  CxImage bad;
  EXPECT_FALSE(bad.Load(junk.c_str(), FORMAT_BMP));
  EXPECT_STREQ(bad.LastErrorText(), "Error reading BMP info");
  EXPECT_FALSE(bad.Load(junk.c_str(), FORMAT_UNKNOWN));
  EXPECT_STREQ(bad.LastErrorText(), "Decode: Unknown or wrong format");
  EXPECT_FALSE(bad.Load(dir.file("missing.bmp").c_str(), FORMAT_BMP));

  CxMemStream out;
  EXPECT_FALSE(img.Encode(&out, FORMAT_UNKNOWN));
  EXPECT_STREQ(img.LastErrorText(), "Encode: Unknown format");
  EXPECT_FALSE(img.Encode(&out, 16));
  EXPECT_FALSE(img.Encode(&out, FORMAT_WMF));
  EXPECT_STREQ(img.LastErrorText(), "Encode: Unknown format");
  CxImage empty;
  EXPECT_FALSE(empty.Encode(&out, FORMAT_BMP));
  EXPECT_STREQ(empty.LastErrorText(), "null image!!!");
  EXPECT_FALSE(img.Encode(static_cast<CxStream*>(nullptr), FORMAT_BMP));
  EXPECT_STREQ(img.LastErrorText(), "null file handler");

  const std::string saved = dir.file("saved.bmp");
  ASSERT_TRUE(img.Save(saved.c_str(), FORMAT_BMP));
  EXPECT_EQ(testsupport::ReadBytes(saved).size(), 14u + 40u + 1024u + 8u);
  EXPECT_FALSE(img.Save(dir.file("no/such/folder.bmp").c_str(), FORMAT_BMP));
  EXPECT_STREQ(img.LastErrorText(), "No such file or directory");
  // A full device is a failed save, not a silently truncated file, and says why the system
  // refused it: at the end, or in the middle of a picture larger than the write buffer.
  if (testsupport::Exists("/dev/full")) {
    EXPECT_FALSE(img.Save("/dev/full", FORMAT_BMP));
    EXPECT_STREQ(img.LastErrorText(), "No space left on device");
    CxImage large(640, 480, 24, FORMAT_BMP);
    for (uint32_t y = 0; y < 480; ++y) {
      for (uint32_t x = 0; x < 640; ++x) large.PutColour(x, y, RgbQuad{static_cast<uint8_t>(x * y), 0, 0, 0});
    }
    for (ImageFormat format : {FORMAT_BMP, FORMAT_PNG}) {
      EXPECT_FALSE(large.Save("/dev/full", format));
      EXPECT_STREQ(large.LastErrorText(), "No space left on device") << format;
    }
  }
}

}  // namespace
