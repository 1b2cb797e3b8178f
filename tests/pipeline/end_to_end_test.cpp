// Whole conversions with the real potrace, from every input route to every potrace format.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <string>
#include <vector>

#include "image/io/format.h"
#include "support/standin_fixture.h"
#include "support/test_support.h"

namespace {

// A black disc and bar on white.
unsigned char Shapes(int x, int y) {
  const int dx = x - 40, dy = y - 30;
  if (dx * dx + dy * dy < 400) return 0;
  if (x > 70 && x < 110 && y > 20 && y < 40) return 30;
  return 250;
}

bool LooksLike(const std::string& format, const std::string& text) {
  auto starts = [&](const char* prefix) { return text.rfind(prefix, 0) == 0; };
  if (format == "eps") return starts("%!PS-Adobe-3.0 EPSF-3.0") && text.find("%%EOF") != std::string::npos;
  if (format == "ps") return starts("%!PS-Adobe-3.0\n") && text.find("%%EOF") != std::string::npos;
  if (format == "pdf") return starts("%PDF-") && text.find("%%EOF") != std::string::npos;
  if (format == "svg") return text.find("<svg") != std::string::npos && text.find("<path") != std::string::npos;
  if (format == "dxf") return text.find("SECTION") != std::string::npos && text.find("EOF") != std::string::npos;
  if (format == "pgm") return starts("P5");
  return false;
}

// Writes a TIFF of several pages, page i being (10 + 10 i) pixels wide, black on white.
bool WriteMultiPageTiff(const std::string& path, int pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  for (int p = 0; p < pages; ++p) {
    const uint32_t width = 10 + 10 * static_cast<uint32_t>(p), height = 12;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    std::vector<uint8_t> row(width, 255);
    for (uint32_t x = 2; x + 2 < width; ++x) row[x] = 0;
    for (uint32_t y = 0; y < height; ++y) {
      std::vector<uint8_t> line = (y > 2 && y < 9) ? row : std::vector<uint8_t>(width, 255);
      TIFFWriteScanline(tif, line.data(), y, 0);
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return true;
}

}  // namespace

TEST(EndToEnd, EveryInputRouteToEveryPotraceFormat) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  const struct {
    const char* name;
    unsigned format;
  } inputs[] = {{"in.png", FORMAT_PNG}, {"in.bmp", FORMAT_BMP}, {"in.jpg", FORMAT_JPG},
                {"in.tif", FORMAT_TIF}, {"in.pgm", FORMAT_PNM}};
  for (const auto& input : inputs) {
    ASSERT_TRUE(WriteGreyImage(install.work(input.name), input.format, 120, 60, Shapes)) << input.name;
    for (const std::string format : {"eps", "ps", "pdf", "svg", "dxf", "pgm"}) {
      const std::string out = std::string("out-") + input.name + "." + format;
      const auto r = install.Run({input.name, out});
      EXPECT_EQ(r.status, 1) << input.name << " -> " << format << "\n" << r.err;
      EXPECT_TRUE(LooksLike(format, FileText(install.work(out)))) << input.name << " -> " << format;
    }
  }
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(EndToEnd, FoldersPatternsAndOutputNames) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  mkdir(install.work("in").c_str(), 0755);
  mkdir(install.work("in/sub").c_str(), 0755);
  mkdir(install.work("vec").c_str(), 0755);
  ASSERT_TRUE(WriteGreyImage(install.work("in/a.tif"), FORMAT_TIF, 120, 60, Shapes));
  ASSERT_TRUE(WriteGreyImage(install.work("in/b.png"), FORMAT_PNG, 120, 60, Shapes));
  ASSERT_TRUE(WriteGreyImage(install.work("in/sub/c.png"), FORMAT_PNG, 120, 60, Shapes));

  // A pattern and an output pattern: the output's folder and extension, the input's name.
  // A relative pattern keeps its inputs relative.
  auto r = install.Run({"in/*.tif", "vec/*.svg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, std::string("in/a.tif") + " ==> " + install.work("vec/a.svg") + "\nProcessing 1 of 1...\n");

  // A folder to an existing folder: every file directly in it, .pdf by default.
  r = install.Run({"in/", install.work("vec")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(testsupport::Exists(install.work("vec/a.pdf")));
  EXPECT_TRUE(testsupport::Exists(install.work("vec/b.pdf")));
  EXPECT_FALSE(testsupport::Exists(install.work("vec/c.pdf")));

  // A folder with an output file name in a folder: its extension, the inputs' names.
  r = install.Run({"in", "vec/x.eps"});
  EXPECT_TRUE(testsupport::Exists(install.work("vec/a.eps")));
  EXPECT_TRUE(testsupport::Exists(install.work("vec/b.eps")));
  EXPECT_FALSE(testsupport::Exists(install.work("vec/x.eps")));

  // Again: existing outputs are kept and the new ones take numbered names.
  const auto before = FileText(install.work("vec/a.eps"));
  r = install.Run({"in", "vec/x.eps"});
  EXPECT_EQ(FileText(install.work("vec/a.eps")), before);
  EXPECT_TRUE(testsupport::Exists(install.work("vec/a000.eps")));
  EXPECT_TRUE(testsupport::Exists(install.work("vec/b000.eps")));

  // No output argument: the default .png name beside the input, taken by the input itself.
  r = install.Run({"in/b.png"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), install.work("in/b.png") + " ==> " + install.work("in/b.png"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(testsupport::Exists(install.work("in/b000.png")));
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(EndToEnd, InputEqualToOutputConvertsFromACopy) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("pic.png"), FORMAT_PNG, 120, 60, Shapes));
  const auto original = testsupport::ReadBytes(install.work("pic.png"));
  auto r = install.Run({"pic.png", "pic.png"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(testsupport::ReadBytes(install.work("pic.png")), original);
  EXPECT_TRUE(testsupport::Exists(install.work("pic000.png")));
  // Names equal but for case count as the same file too; here they are two names, so the
  // output takes its own name and the input stays as it was.
  r = install.Run({"pic.png", "PIC.PNG"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(testsupport::ReadBytes(install.work("pic.png")), original);
  EXPECT_TRUE(testsupport::Exists(install.work("PIC.PNG")));
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(EndToEnd, MultiPageTiffGivesOneOutputPerPageInOrder) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  ASSERT_TRUE(WriteMultiPageTiff(install.work("three.tif"), 3));
  const auto r = install.Run({"three.tif", "out.eps"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("Processing 3 of 3...\n"), std::string::npos);
  // Page widths 10, 20, 30 pixels show in the bounding boxes, in page order.
  const char* names[] = {"out.eps", "out000.eps", "out001.eps"};
  for (int page = 0; page < 3; ++page) {
    const std::string text = FileText(install.work(names[page]));
    const auto box = text.find("%%BoundingBox: 0 0 ");
    ASSERT_NE(box, std::string::npos) << names[page];
    EXPECT_EQ(std::stoi(text.substr(box + 19)), 10 + 10 * page) << names[page];
  }
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(EndToEnd, SampleImageConvertsToSvg) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  const auto r = install.Run({std::string(TW_SOURCE_DIR) + "/samples/logo.png", install.work("logo.svg")});
  EXPECT_EQ(r.status, 1);
  const std::string svg = FileText(install.work("logo.svg"));
  EXPECT_NE(svg.find("<path"), std::string::npos);
}
