// The page renderer engine, run as a child process on PDFs made here.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/standin_fixture.h"
#include "support/test_support.h"

namespace {

using testsupport::ScratchDir;

const std::string kPagerip = std::string(TW_BINARY_DIR) + "/pagerip";

struct RunResult {
  int status = -1;  // exit status, or -1 when the child died from a signal
  std::string messages;
};

// Runs pagerip with args; standard output and error go to a file in dir.
RunResult RunPagerip(const std::vector<std::string>& args, const ScratchDir& dir) {
  const std::string log = dir.file("pagerip.log");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kPagerip.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) _exit(127);
    dup2(fd, 1);
    dup2(fd, 2);
    alarm(120);  // survives exec: a hanging renderer dies instead of stalling the tests
    execv(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return result;
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  std::vector<uint8_t> text = testsupport::ReadBytes(log);
  result.messages.assign(text.begin(), text.end());
  unlink(log.c_str());
  return result;
}

RunResult Render(int dpi, const std::string& pdf, const std::string& base, const ScratchDir& dir) {
  return RunPagerip({"-r", std::to_string(dpi), pdf, base}, dir);
}

// Names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names = FolderEntries(path);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListPages(const std::string& path) {
  std::vector<std::string> pages;
  for (const std::string& name : ListFolder(path))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) pages.push_back(name);
  return pages;
}

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

bool DecodePng(const std::string& path, Image* image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  image->width = static_cast<int>(png.width);
  image->height = static_cast<int>(png.height);
  image->rgb.resize(PNG_IMAGE_SIZE(png));
  bool ok = png_image_finish_read(&png, nullptr, image->rgb.data(), 0, nullptr) != 0;
  png_image_free(&png);
  return ok;
}

bool IsColour(const uint8_t* p, int r, int g, int b) { return p[0] == r && p[1] == g && p[2] == b; }

// A PDF from object bodies (object i + 1 is objects[i]; object 1 is the catalog), with a
// correct cross-reference table.
std::string AssemblePdf(const std::vector<std::string>& objects) {
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); i++) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string Stream(const std::string& content) {
  return "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
}

struct Page {
  double width;  // points
  double height;
  std::string content;
  std::string extra = "";  // more page dictionary entries, such as /Rotate 90
};

// Pages share one Helvetica font named /F1.
std::string MakePdf(const std::vector<Page>& pages) {
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string kids;
  for (const Page& page : pages) {
    size_t number = objects.size() + 1;
    kids += std::to_string(number) + " 0 R ";
    char box[96];
    std::snprintf(box, sizeof box, "[0 0 %g %g]", page.width, page.height);
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) +
                      " /Resources << /Font << /F1 3 0 R >> >> /Contents " + std::to_string(number + 1) +
                      " 0 R " + page.extra + " >>");
    objects.push_back(Stream(page.content));
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
  return AssemblePdf(objects);
}

std::string WritePdf(const ScratchDir& dir, const std::string& name, const std::string& pdf) {
  std::string path = dir.file(name);
  EXPECT_TRUE(testsupport::WriteText(path, pdf));
  return path;
}

std::string PageName(const std::string& stem, int page, int width) {
  char number[16];
  std::snprintf(number, sizeof number, "%0*d", width, page);
  return stem + "-" + number + ".png";
}

// Page k is 20 + k points wide, so that its image's width tells which page it is.
std::vector<Page> NumberedPages(int count) {
  std::vector<Page> pages;
  for (int k = 1; k <= count; k++) pages.push_back({20.0 + k, 10, ""});
  return pages;
}

void ExpectPagesInOrder(const ScratchDir& out, const std::string& stem, int count, int width) {
  std::vector<std::string> pages = ListPages(out.path());
  ASSERT_EQ(pages.size(), static_cast<size_t>(count));
  for (int k = 1; k <= count; k++) {
    const std::string& name = pages[static_cast<size_t>(k - 1)];
    ASSERT_EQ(name, PageName(stem, k, width));
    Image image;
    ASSERT_TRUE(DecodePng(out.file(name), &image)) << name;
    EXPECT_EQ(image.width, 20 + k) << name;
  }
}

// The engine is only built where MuPDF is installed.
class PageripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::Exists(kPagerip)) GTEST_SKIP() << "pagerip was not built";
  }
};

TEST_F(PageripTest, NamesPagesWithOneWidthThatSortsInPageOrder) {
  ScratchDir in, out12, out100;
  std::string pdf12 = WritePdf(in, "twelve.pdf", MakePdf(NumberedPages(12)));
  RunResult r = Render(72, pdf12, out12.file("trw1A2B.tmp.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  ExpectPagesInOrder(out12, "trw1A2B.tmp", 12, 4);

  std::string pdf100 = WritePdf(in, "hundred.pdf", MakePdf(NumberedPages(100)));
  r = Render(72, pdf100, out100.file("doc.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  ExpectPagesInOrder(out100, "doc", 100, 4);

  // Renderers sharing a document: part 2 of 5 takes pages 2, 7, 12, named as the whole.
  ScratchDir shared;
  r = RunPagerip({"-r", "72", "-part", "2/5", pdf12, shared.file("s.png")}, in);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(ListFolder(shared.path()), (std::vector<std::string>{"s-0002.png", "s-0007.png", "s-0012.png"}));
}

TEST_F(PageripTest, WidensPageNumbersForTenThousandPages) {
  ScratchDir in, out;
  std::vector<Page> pages(10000, Page{72, 72, ""});
  std::string pdf = WritePdf(in, "long.pdf", MakePdf(pages));
  RunResult r = Render(1, pdf, out.file("long.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  std::vector<std::string> names = ListPages(out.path());
  ASSERT_EQ(names.size(), 10000u);
  EXPECT_EQ(names.front(), "long-00001.png");
  EXPECT_EQ(names[9], "long-00010.png");
  EXPECT_EQ(names.back(), "long-10000.png");
}

TEST_F(PageripTest, TakesTheStemFromTheFileNameOnly) {
  ScratchDir in, out;
  std::string pdf = WritePdf(in, "a.pdf", MakePdf(NumberedPages(1)));
  std::string folder = out.file("v1.2");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  RunResult r = Render(72, pdf, folder + "/pages", in);  // no extension in the base name
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"pages-0001.png"});
  r = Render(72, pdf, folder + "/x.y.png", in);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_TRUE(testsupport::Exists(folder + "/x.y-0001.png"));
}

TEST_F(PageripTest, ScalesWithResolutionAndPageRotation) {
  ScratchDir in, out150, out300;
  std::string pdf = WritePdf(in, "letter.pdf",
                             MakePdf({{612, 792, "BT /F1 24 Tf 72 700 Td (Letter) Tj ET"},
                                      {612, 792, "", "/Rotate 90"}}));
  EXPECT_EQ(Render(150, pdf, out150.file("p.png"), in).status, 0);
  EXPECT_EQ(Render(300, pdf, out300.file("p.png"), in).status, 0);
  Image a, b, rotated;
  ASSERT_TRUE(DecodePng(out150.file("p-0001.png"), &a));
  ASSERT_TRUE(DecodePng(out300.file("p-0001.png"), &b));
  ASSERT_TRUE(DecodePng(out150.file("p-0002.png"), &rotated));
  EXPECT_EQ(a.width, 1275);
  EXPECT_EQ(a.height, 1650);
  EXPECT_EQ(b.width, 2 * a.width);
  EXPECT_EQ(b.height, 2 * a.height);
  EXPECT_EQ(rotated.width, 1650);
  EXPECT_EQ(rotated.height, 1275);
}

// Dark pixels in the rectangle [x0, x1) x [y0, y1).
int CountDark(const Image& image, int x0, int y0, int x1, int y1) {
  int dark = 0;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) dark += image.At(x, y)[0] < 64;
  return dark;
}

TEST_F(PageripTest, RendersColourOnWhite) {
  ScratchDir in, out;
  // Red square at (10,10)-(60,60) points from the bottom left, black text above it.
  std::string pdf = WritePdf(
      in, "colour.pdf",
      MakePdf({{100, 100, "1 0 0 rg 10 10 50 50 re f 0 g BT /F1 20 Tf 10 75 Td (Ab) Tj ET"}, {50, 50, ""}}));
  RunResult r = Render(72, pdf, out.file("c.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  Image page, blank;
  ASSERT_TRUE(DecodePng(out.file("c-0001.png"), &page));
  ASSERT_EQ(page.width, 100);
  EXPECT_TRUE(IsColour(page.At(35, 65), 255, 0, 0));  // y counts down from the top
  EXPECT_TRUE(IsColour(page.At(95, 95), 255, 255, 255));
  EXPECT_GT(CountDark(page, 8, 5, 45, 28), 0) << "the text was not drawn";
  ASSERT_TRUE(DecodePng(out.file("c-0002.png"), &blank));
  EXPECT_TRUE(std::all_of(blank.rgb.begin(), blank.rgb.end(), [](uint8_t v) { return v == 255; }));
}

TEST_F(PageripTest, RefusesBadCommandLines) {
  ScratchDir in, out;
  std::string pdf = WritePdf(in, "a.pdf", MakePdf(NumberedPages(1)));
  std::string base = out.file("p.png");
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"-r", "150", pdf},
      {"-r", "0", pdf, base},
      {"-r", "-5", pdf, base},
      {"-r", "100001", pdf, base},
      {"-r", "abc", pdf, base},
      {"-r", "150x", pdf, base},
      {"-r", "", pdf, base},
      {"-r", "99999999999999999999", pdf, base},
      {"-x", "150", pdf, base},
      {"-r", "150", pdf, base, "extra"},
      {"-r", "150", "-part", "3/2", pdf, base},
      {"-r", "150", "-part", "0/2", pdf, base},
      {"-r", "150", "-part", "1/2x", pdf, base},
  };
  for (const auto& args : bad) {
    RunResult r = RunPagerip(args, in);
    EXPECT_EQ(r.status, 2) << r.messages;
    EXPECT_NE(r.messages.find("usage"), std::string::npos);
  }
  EXPECT_TRUE(ListFolder(out.path()).empty());
  // Resolutions above 2400 are honoured as long as the page stays within the size limit.
  EXPECT_EQ(Render(3000, WritePdf(in, "tiny.pdf", MakePdf({{1, 1, ""}})), base, in).status, 0);
  Image tiny;
  ASSERT_TRUE(DecodePng(out.file("p-0001.png"), &tiny));
  EXPECT_EQ(tiny.width, 42);
}

// The input fails as a whole: a message, a failure status, and no file at all in the folder.
void ExpectRefused(const std::string& pdf, const std::string& what) {
  ScratchDir out;
  RunResult r = Render(72, pdf, out.file("p.png"), out);
  EXPECT_EQ(r.status, 1) << what << ": " << r.messages;
  EXPECT_NE(r.messages.find("pagerip: cannot render"), std::string::npos) << what << ": " << r.messages;
  EXPECT_TRUE(ListFolder(out.path()).empty()) << what;
}

TEST_F(PageripTest, RefusesInputsThatAreNotReadablePdfs) {
  ScratchDir in;
  const std::string data = std::string(TW_SOURCE_DIR) + "/tests/pipeline/data/";
  ExpectRefused(data + "pagerip_encrypted.pdf", "encrypted");
  ExpectRefused(in.file("missing.pdf"), "missing");
  ExpectRefused(in.path(), "folder");
  testsupport::WriteText(in.file("empty.pdf"), "");
  ExpectRefused(in.file("empty.pdf"), "empty");
  testsupport::WriteBytes(in.file("image.pdf"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13});
  ExpectRefused(in.file("image.pdf"), "PNG named .pdf");
  testsupport::WriteText(in.file("header.pdf"), "%PDF-1.7\n");
  ExpectRefused(in.file("header.pdf"), "header only");

  // Cut before the page tree: nothing can be recovered.
  std::string pdf = MakePdf(NumberedPages(3));
  std::string cut = pdf.substr(0, pdf.find("2 0 obj"));
  ExpectRefused(WritePdf(in, "truncated.pdf", cut), "truncated");
  ScratchDir out;
  RunResult r = Render(72, WritePdf(in, "truncated.pdf", cut), out.file("p.png"), out);
  EXPECT_NE(r.messages.find("damaged or truncated"), std::string::npos) << r.messages;
}

TEST_F(PageripTest, WritesRecoverablePagesOfDamagedFilesButReportsFailure) {
  ScratchDir in, out;
  std::string pdf = MakePdf(NumberedPages(3));
  std::string cut = pdf.substr(0, pdf.find("xref"));  // all objects, no cross-reference table
  RunResult r = Render(72, WritePdf(in, "noxref.pdf", cut), out.file("p.png"), in);
  EXPECT_EQ(r.status, 1) << r.messages;
  EXPECT_NE(r.messages.find("damaged or truncated"), std::string::npos) << r.messages;
  ExpectPagesInOrder(out, "p", 3, 4);
}

TEST_F(PageripTest, RendersWithAnOwnerPasswordOnly) {
  ScratchDir out;
  const std::string pdf = std::string(TW_SOURCE_DIR) + "/tests/pipeline/data/pagerip_owner_password_only.pdf";
  RunResult r = Render(72, pdf, out.file("p.png"), out);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(ListPages(out.path()), std::vector<std::string>{"p-0001.png"});
}

TEST_F(PageripTest, SkipsPagesBeyondTheMemoryLimitCountingGreyPagesAtOneBytePerPixel) {
  ScratchDir in, out;
  // At 72 dpi 8192 x 10923 pixels are just over 256 MiB in colour (3 bytes per pixel), a
  // third of that in grey; 16384 x 16400 are over the limit even in grey.
  const std::string dot = "1 0 0 rg 0 0 1 1 re f";
  std::string pdf = WritePdf(in, "huge.pdf",
                             MakePdf({{8192, 10923, dot}, {30, 20, ""}, {8192, 10923, "0 g 0 0 1 1 re f"},
                                      {16384, 16400, ""}}));
  RunResult r = Render(72, pdf, out.file("h.png"), in);
  EXPECT_EQ(r.status, 1) << r.messages;
  EXPECT_NE(r.messages.find("pagerip: page 1 of 4 skipped: the page needs 8192 x 10923 pixels (256 MiB in colour), "
                            "more than the 256 MiB limit\n"),
            std::string::npos)
      << r.messages;
  EXPECT_NE(r.messages.find("pagerip: page 4 of 4 skipped: "), std::string::npos) << r.messages;
  EXPECT_NE(r.messages.find("in grey), more than the 256 MiB limit"), std::string::npos) << r.messages;
  EXPECT_EQ(r.messages.find("page 2 of"), std::string::npos) << r.messages;
  EXPECT_EQ(r.messages.find("page 3 of"), std::string::npos) << r.messages;
  EXPECT_EQ(ListFolder(out.path()), (std::vector<std::string>{"h-0002.png", "h-0003.png"}));

  // However high the resolution, the limit is what refuses a page.
  ScratchDir high;
  r = Render(100000, WritePdf(in, "inch.pdf", MakePdf({{72, 72, ""}})), high.file("i.png"), in);
  EXPECT_EQ(r.status, 1) << r.messages;
  EXPECT_NE(r.messages.find("pagerip: page 1 of 1 skipped: the page needs "), std::string::npos) << r.messages;
  EXPECT_NE(r.messages.find("more than the 256 MiB limit"), std::string::npos) << r.messages;
  EXPECT_TRUE(ListFolder(high.path()).empty());
}

bool IsGreyPng(const std::string& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  const bool grey = (png.format & PNG_FORMAT_FLAG_COLOR) == 0;
  png_image_free(&png);
  return grey;
}

// Grey level as the image layer computes it from RGB before the bitonal split.
int GreyLevel(const uint8_t* p) { return (306 * p[0] + 601 * p[1] + 117 * p[2]) >> 10; }

TEST_F(PageripTest, WritesGreyPagesInGreyThatTraceLikeTheirColourRendering) {
  ScratchDir in, out;
  // Text, fills on both sides of the default threshold (240), neutral RGB and CMYK-black
  // strokes, a thin diagonal and a neutral RGB image: nothing with colour.
  const std::string grey =
      "0 g BT /F1 28 Tf 12 150 Td (Grey page) Tj ET "
      "0.5 g 12 100 60 30 re f 0.93 g 80 100 40 30 re f 0.95 g 130 100 40 30 re f "
      "0.3 0.3 0.3 RG 3 w 12 90 m 180 60 l S 0.4 w 0 0 0 1 K 12 20 m 190 80 l S "
      "0 0 0 0.6 k 140 20 40 20 re f "
      "q 60 0 0 40 70 20 cm BI /W 2 /H 2 /CS /RGB /BPC 8 /F /AHx ID 000000808080C8C8C8FFFFFF> EI Q";
  // The same page with a small red mark in its bottom-left corner, rendered in colour.
  std::string pdf = WritePdf(in, "grey.pdf",
                             MakePdf({{200, 200, grey}, {200, 200, grey + " 1 0 0 rg 0 0 4 4 re f"}}));
  RunResult r = Render(150, pdf, out.file("g.png"), in);
  ASSERT_EQ(r.status, 0) << r.messages;
  EXPECT_TRUE(IsGreyPng(out.file("g-0001.png")));
  EXPECT_FALSE(IsGreyPng(out.file("g-0002.png")));
  Image greyPage, colourPage;
  ASSERT_TRUE(DecodePng(out.file("g-0001.png"), &greyPage));
  ASSERT_TRUE(DecodePng(out.file("g-0002.png"), &colourPage));
  ASSERT_EQ(greyPage.width, colourPage.width);
  ASSERT_EQ(greyPage.height, colourPage.height);
  long compared = 0, agree = 0, dark = 0;
  for (int y = 0; y < greyPage.height; y++) {
    for (int x = 0; x < greyPage.width; x++) {
      if (x < 12 && y >= greyPage.height - 12) continue;  // the red mark
      const bool greyBlack = GreyLevel(greyPage.At(x, y)) <= 240;
      const bool colourBlack = GreyLevel(colourPage.At(x, y)) <= 240;
      compared++;
      agree += greyBlack == colourBlack;
      dark += colourBlack;
    }
  }
  EXPECT_GT(dark, compared / 20) << "too little on the page to compare";
  EXPECT_GE(agree * 1000, compared * 999) << agree << " of " << compared << " pixels agree";
  std::printf("grey page %lld bytes, colour page %lld bytes; %ld of %ld bitonal pixels agree\n",
              static_cast<long long>(testsupport::ReadBytes(out.file("g-0001.png")).size()),
              static_cast<long long>(testsupport::ReadBytes(out.file("g-0002.png")).size()), agree, compared);
}

TEST_F(PageripTest, ReplacesOldPagesAndLeavesNoTemporaryFiles) {
  ScratchDir in, out;
  std::string pdf = WritePdf(in, "a.pdf", MakePdf(NumberedPages(2)));
  testsupport::WriteText(out.file("p-0001.png"), "stale");
  RunResult r = Render(72, pdf, out.file("p.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(ListFolder(out.path()), (std::vector<std::string>{"p-0001.png", "p-0002.png"}));
  Image image;
  EXPECT_TRUE(DecodePng(out.file("p-0001.png"), &image));

  r = Render(72, pdf, in.file("no-such-folder/p.png"), in);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.messages.find("pagerip: page 1 of 2 skipped: "), std::string::npos) << r.messages;
  EXPECT_NE(r.messages.find("pagerip: page 2 of 2 skipped: "), std::string::npos) << r.messages;
}

TEST_F(PageripTest, RendersNonEmbeddedCjkFontsAsBoxes) {
  ScratchDir in, out;
  for (std::string encoding : {"UniJIS-UCS2-H", "Identity-H", "90ms-RKSJ-H"}) {
    std::string content = "BT /F2 36 Tf 10 60 Td <3042304482A0> Tj ET BT /F1 24 Tf 10 10 Td (Hello) Tj ET";
    std::string pdf = AssemblePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Resources << /Font << /F1 5 0 R /F2 6 0 R >> >> "
        "/Contents 4 0 R >>",
        Stream(content),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Font /Subtype /Type0 /BaseFont /MS-Mincho /Encoding /" + encoding + " /DescendantFonts [7 0 R] >>",
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /MS-Mincho /CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (Japan1) /Supplement 2 >> /FontDescriptor 8 0 R /DW 1000 >>",
        "<< /Type /FontDescriptor /FontName /MS-Mincho /Flags 6 /FontBBox [0 -141 1000 859] /ItalicAngle 0 "
        "/Ascent 859 /Descent -141 /CapHeight 700 /StemV 80 >>",
    });
    RunResult r = Render(72, WritePdf(in, "cjk.pdf", pdf), out.file(encoding + ".png"), in);
    EXPECT_EQ(r.status, 0) << encoding << ": " << r.messages;
    Image image;
    ASSERT_TRUE(DecodePng(out.file(encoding + "-0001.png"), &image)) << encoding;
    EXPECT_GT(CountDark(image, 10, 70, 70, 90), 0) << encoding << ": the Latin text was not drawn";
    // Three to five characters (the shift-JIS codes take one or two bytes), one box each
    // on the line above, advancing one em at a time.
    EXPECT_GT(CountDark(image, 10, 10, 46, 45), 40) << encoding << ": no box for the first character";
    EXPECT_EQ(CountDark(image, 200, 0, 300, 100), 0) << encoding << ": the text ran too far";
  }
}

TEST_F(PageripTest, RendersEveryPageOfThePublicPdfs) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  // Page counts and the largest page side in points, from the files' page trees.
  const std::map<std::string, std::pair<int, double>> files = {
      {"pillow/duplicate_xref_entry.pdf", {2, 1}},
      {"debian-groff-base/typesetting.pdf", {2, 792}},
      {"debian-groff-base/sample_docs.pdf", {12, 792}},
      {"debian-groff-base/letter.pdf", {1, 792}},
      {"debian-groff-base/pdfmark.pdf", {17, 842}},
      {"debian-groff-base/slide-demo.pdf", {27, 792}},
      {"debian-groff-base/mom-pdf.pdf", {8, 842}},
      {"debian-groff-base/penguin.pdf", {1, 96}},
      {"debian-libtasn1-doc/libtasn1.pdf", {36, 792}},
      {"debian-gnucobol3/gnucobol.pdf", {93, 842}},
      {"debian-gnuplot-doc/gnuplot.pdf", {311, 792}},
      {"debian-ghostscript-doc/GS9_Color_Management.pdf", {42, 792}},
  };
  const int dpi = 24;
  for (const auto& [name, expected] : files) {
    std::string pdf = corpus + "/pdf/good/" + name;
    if (!testsupport::Exists(pdf)) continue;
    ScratchDir out;
    RunResult r = Render(dpi, pdf, out.file("page.png"), out);
    EXPECT_EQ(r.status, 0) << name << ": " << r.messages;
    std::vector<std::string> pages = ListPages(out.path());
    ASSERT_EQ(pages.size(), static_cast<size_t>(expected.first)) << name;
    int width = expected.first > 9999 ? 5 : 4;
    for (int k = 1; k <= expected.first; k++) {
      ASSERT_EQ(pages[static_cast<size_t>(k - 1)], PageName("page", k, width)) << name;
      Image image;
      ASSERT_TRUE(DecodePng(out.file(pages[static_cast<size_t>(k - 1)]), &image)) << name << " page " << k;
      int longest = std::max(image.width, image.height);
      EXPECT_LE(longest, static_cast<int>(expected.second * dpi / 72) + 2) << name << " page " << k;
      EXPECT_GE(longest, static_cast<int>(expected.second * dpi / 72) - 2) << name << " page " << k;
    }
  }
}

TEST_F(PageripTest, EndsOnBrokenPublicPdfs) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::string pdf = corpus + "/pdf/bad/pillow/trailer_loop.pdf";
  if (!testsupport::Exists(pdf)) GTEST_SKIP() << "no broken PDF in the corpus";
  ScratchDir out;
  RunResult r = Render(72, pdf, out.file("p.png"), out);
  EXPECT_EQ(r.status, 1) << r.messages;  // a crash or the watchdog would give -1
  EXPECT_NE(r.messages.find("pagerip: "), std::string::npos);
}

TEST_F(PageripTest, StaysWithinItsSizeBudget) {
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "debugging builds keep their symbols";
#else
  struct stat st;
  ASSERT_EQ(stat(kPagerip.c_str(), &st), 0);
  EXPECT_LE(st.st_size, 5'000'000) << "the built-in CJK or Noto fonts came back into the link";
#endif
}

}  // namespace
