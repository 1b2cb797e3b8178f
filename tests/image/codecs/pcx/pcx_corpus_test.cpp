// The corpus's PCX files against their reference decodes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/codecs/pcx/pcx_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Files whose pixels differ from the reference on purpose, with the reason.
const std::map<std::string, std::string> kPcxDifferences = {
    {"pcx/good/pillow/p_4_planes.pcx",
     "four 1-bit planes: plane 0 gives bit 0 of the index (the reference decoder reads the "
     "planes the other way round and picks a black entry)"},
};

bool DecodeFile(const std::string& path, CxImagePCX& image, int32_t escape = 0) {
  const auto bytes = testsupport::ReadBytes(path);
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetEscape(escape);
  return image.Decode(&stream);
}

TEST(PcxCorpus, GoodFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("pcx/good/")) {
    SCOPED_TRACE(row.localPath);
    CxImagePCX image;
    ASSERT_TRUE(DecodeFile(corpus + "/" + row.localPath, image)) << image.LastErrorText();

    CxImagePCX probe;
    ASSERT_TRUE(DecodeFile(corpus + "/" + row.localPath, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());
    EXPECT_FALSE(probe.HasPixels());

    if (row.bestRef.empty()) continue;
    imagetest::RefImage ref;
    ASSERT_TRUE(imagetest::LoadRefPng(corpus + "/" + row.bestRef, &ref));
    const int64_t differences = imagetest::CountPixelDifferences(image, ref, 0);
    if (kPcxDifferences.count(row.localPath) != 0) {
      EXPECT_NE(differences, 0) << "listed as different but matches now";
      continue;
    }
    EXPECT_EQ(differences, 0);
    ++compared;
  }
  EXPECT_GE(compared, 15);
}

TEST(PcxCorpus, BadFilesFailCleanlyOrDecodeWhatTheyCan) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  const std::map<std::string, std::string> expected = {
      {"pcx/bad/pillow/01r_00.pcx", "repeat count spans end of image"},
      {"pcx/bad/pillow/ossfuzz-4836216264589312.pcx", "PCX file has unknown encoding scheme"},
      {"pcx/bad/pillow/pcx_overrun.bin", "corrupted PCX"},
      {"pcx/bad/pillow/pcx_overrun2.bin", ""},  // bytes per line below the width: decodes
  };
  for (const auto& row : imagetest::ReferenceRows("pcx/bad/")) {
    SCOPED_TRACE(row.localPath);
    CxImagePCX image;
    const bool ok = DecodeFile(corpus + "/" + row.localPath, image);
    const auto it = expected.find(row.localPath);
    if (it == expected.end()) continue;  // a new file only has to be survived
    EXPECT_EQ(ok, it->second.empty());
    EXPECT_STREQ(image.LastErrorText(), it->second.c_str());
  }
}

}  // namespace
