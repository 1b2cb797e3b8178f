// The page renderer engine, run as a child process on PDFs made here.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <csignal>
#include <png.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// Runs pagerip with args and, added to the environment, "NAME=value" entries of env;
// standard output and error go to a file in dir.
RunResult RunPagerip(const std::vector<std::string>& args, const ScratchDir& dir,
                     const std::vector<std::string>& env = {}) {
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
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
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

RunResult Render(int dpi, const std::string& pdf, const std::string& base, const ScratchDir& dir,
                 const std::vector<std::string>& env = {}) {
  return RunPagerip({"-r", std::to_string(dpi), pdf, base}, dir, env);
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

  // Process colours as poppler (pdftoppm) and Ghostscript show them, within 10 per channel of
  // both: fills, a fill in an indexed space over CMYK, and a CMYK image (cyan, magenta).
  struct Patch {
    const char* cmyk;
    uint8_t poppler[3], ghostscript[3];
  };
  const std::vector<Patch> patches = {
      {"1 0 0 0", {0, 173, 239}, {0, 174, 239}},     {"0 1 0 0", {236, 0, 140}, {236, 0, 140}},
      {"0 0 1 0", {255, 242, 0}, {255, 242, 0}},     {"0.9 0.7 0.1 0.3", {39, 61, 117}, {32, 67, 120}},
      {"0 0 0 1", {35, 31, 32}, {35, 31, 32}},       {"0 0 0 0.5", {145, 143, 143}, {147, 149, 152}},
      {"1 1 0 0", {46, 49, 146}, {46, 48, 146}},
  };
  std::string content;
  for (size_t i = 0; i < patches.size(); i++) {
    content += std::string(patches[i].cmyk) + " k " + std::to_string(10 * i) + " 10 10 10 re f ";
  }
  content += "/Ix cs 1 sc 0 0 10 10 re f q 20 0 0 10 10 0 cm BI /W 4 /H 1 /CS /CMYK /BPC 8 /F /AHx ID FF000000 FF000000 00FF0000 00FF0000> EI Q";
  const std::string cmykPdf = WritePdf(in, "cmyk.pdf", AssemblePdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 70 20] /Resources << /ColorSpace << /Ix [/Indexed "
      "/DeviceCMYK 1 <00000000 00FF0000>] >> >> /Contents 4 0 R >>",
      Stream(content),
  }));
  r = Render(72, cmykPdf, out.file("k.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  Image cmyk;
  ASSERT_TRUE(DecodePng(out.file("k-0001.png"), &cmyk));
  const auto within = [](const uint8_t* got, const uint8_t* want) {
    return std::abs(got[0] - want[0]) <= 10 && std::abs(got[1] - want[1]) <= 10 && std::abs(got[2] - want[2]) <= 10;
  };
  for (size_t i = 0; i < patches.size(); i++) {
    const uint8_t* got = cmyk.At(static_cast<int>(10 * i + 5), 5);
    EXPECT_TRUE(within(got, patches[i].poppler) && within(got, patches[i].ghostscript))
        << patches[i].cmyk << ": " << int(got[0]) << "," << int(got[1]) << "," << int(got[2]);
  }
  const uint8_t* indexedMagenta = cmyk.At(5, 15);
  EXPECT_TRUE(within(indexedMagenta, patches[1].poppler)) << "indexed over CMYK";
  EXPECT_TRUE(within(cmyk.At(12, 15), patches[0].poppler)) << "CMYK image, cyan";
  EXPECT_TRUE(within(cmyk.At(27, 15), patches[1].poppler)) << "CMYK image, magenta";
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

// -merge: every page of the inputs in order, each with its own size, drawing and resources;
// the result appears whole or not at all.
TEST_F(PageripTest, MergesDocumentsPageByPageWholeOrNotAtAll) {
  ScratchDir in, out;
  std::vector<Page> two = NumberedPages(2);
  two[1].content = "1 0 0 rg 0 0 5 5 re f BT /F1 8 Tf 8 2 Td (x) Tj ET";
  const std::string a = WritePdf(in, "a.pdf", MakePdf(two));
  const std::string b = WritePdf(in, "b.pdf", MakePdf({{23, 10, ""}}));
  const std::string merged = in.file("m.pdf");
  RunResult r = RunPagerip({"-merge", merged, a, b}, in);
  ASSERT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(r.messages, "");
  ASSERT_EQ(Render(72, merged, out.file("p.png"), in).status, 0);
  ExpectPagesInOrder(out, "p", 3, 4);
  Image second;
  ASSERT_TRUE(DecodePng(out.file("p-0002.png"), &second));
  EXPECT_TRUE(IsColour(second.At(1, 8), 255, 0, 0));

  // A damaged input: one line that names it once, and no output.
  testsupport::WriteText(in.file("not.pdf"), "%PDF-1.4\nstand-in output\n%%EOF\n");
  const std::string failed = in.file("f.pdf");
  r = RunPagerip({"-merge", failed, a, in.file("not.pdf"), b}, in);
  EXPECT_EQ(r.status, 1);
  const std::string said = "pagerip: cannot merge into " + failed + ": " + in.file("not.pdf") + ": ";
  EXPECT_EQ(r.messages.compare(0, said.size(), said), 0) << r.messages;
  EXPECT_EQ(r.messages.find(in.file("not.pdf"), said.size()), std::string::npos) << r.messages;
  EXPECT_EQ(std::count(r.messages.begin(), r.messages.end(), '\n'), 1) << r.messages;
  EXPECT_EQ(ListFolder(in.path()), (std::vector<std::string>{"a.pdf", "b.pdf", "m.pdf", "not.pdf"}));
  EXPECT_EQ(RunPagerip({"-merge", failed}, in).status, 2);
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

  // A table that points at a stale copy of the page's content (garbage) while the file holds
  // the real one further on: the page is drawn from the repaired file, and reported.
  const std::string content = "0 0 1 rg 10 10 80 30 re f";
  std::string stale = "%PDF-1.4\n";
  const size_t staleOffset = stale.size();
  stale += "5 0 obj\n" + Stream("xqzzy garbage") + "\nendobj\n";
  std::string sound = MakePdf({{100, 50, content}});
  const std::string body = sound.substr(sound.find("1 0 obj"), sound.find("xref\n") - sound.find("1 0 obj"));
  const size_t shift = stale.size() - sound.find("1 0 obj");
  stale += body;
  std::string table = sound.substr(sound.find("xref\n"));
  for (int object = 1; object <= 5; object++) {  // 5: the page's content
    const size_t at = table.find('\n', table.find('\n', 5) + 1 + 20 * static_cast<size_t>(object - 1)) + 1;
    const size_t was = std::stoul(table.substr(at, 10));
    char entry[11];
    std::snprintf(entry, sizeof entry, "%010zu", object == 5 ? staleOffset : was + shift);
    table.replace(at, 10, entry);
  }
  const size_t startxref = table.find("startxref\n") + 10;
  table.replace(startxref, table.find('\n', startxref) - startxref, std::to_string(stale.size()));
  stale += table;
  ScratchDir mended;
  r = Render(72, WritePdf(in, "stale.pdf", stale), mended.file("s.png"), in);
  EXPECT_EQ(r.status, 1) << r.messages;
  EXPECT_NE(r.messages.find("pagerip: warning: page 1 of 1 drew nothing from its cross-reference table; drawn from "
                            "the repaired file"), std::string::npos) << r.messages;
  Image page;
  ASSERT_TRUE(DecodePng(mended.file("s-0001.png"), &page));
  EXPECT_TRUE(IsColour(page.At(50, 25), 0, 0, 255)) << "the page's content was not found";

  // Content that draws nothing at all is reported; white paint and invisible text are not.
  ScratchDir blank;
  r = Render(72, WritePdf(in, "junk.pdf", MakePdf({{50, 50, "xqzzy garbage"}})), blank.file("j.png"), in);
  EXPECT_EQ(r.status, 1) << r.messages;
  EXPECT_NE(r.messages.find("pagerip: warning: page 1 of 1 draws nothing although its content stream is not empty"),
            std::string::npos) << r.messages;
  EXPECT_EQ(ListPages(blank.path()).size(), 1u);
  r = Render(72, WritePdf(in, "white.pdf", MakePdf({{50, 50, "1 g 0 0 50 50 re f"},
                                                    {50, 50, "BT 3 Tr /F1 12 Tf 5 5 Td (OCR) Tj ET"},
                                                    {50, 50, " \n "}})),
             blank.file("w.png"), in);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(r.messages.find("draws nothing"), std::string::npos) << r.messages;
}

TEST_F(PageripTest, OpensEncryptedFilesWithThePasswordFromTheEnvironment) {
  const std::string data = std::string(TW_SOURCE_DIR) + "/tests/pipeline/data/";
  ScratchDir out;
  RunResult r = Render(72, data + "pagerip_owner_password_only.pdf", out.file("p.png"), out);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_EQ(ListPages(out.path()), std::vector<std::string>{"p-0001.png"});

  // User password "open sesame" (AES-256).
  const std::string locked = data + "pagerip_user_password.pdf";
  const std::vector<std::pair<std::string, std::string>> refusals = {
      {"", "the document is encrypted and needs a password (set TRACEWRIGHT_PDF_PASSWORD)"},
      {"TRACEWRIGHT_PDF_PASSWORD=", "needs a password"},
      {"TRACEWRIGHT_PDF_PASSWORD=open", "the password in TRACEWRIGHT_PDF_PASSWORD is wrong for this document"},
  };
  for (const auto& [setting, message] : refusals) {
    ScratchDir refused;
    r = Render(72, locked, refused.file("p.png"), refused,
               setting.empty() ? std::vector<std::string>{} : std::vector<std::string>{setting});
    EXPECT_EQ(r.status, 1) << setting;
    EXPECT_NE(r.messages.find("pagerip: cannot render " + locked + ": "), std::string::npos) << r.messages;
    EXPECT_NE(r.messages.find(message), std::string::npos) << setting << ": " << r.messages;
    EXPECT_TRUE(ListFolder(refused.path()).empty()) << setting;
  }
  for (const char* password : {"open sesame", "owner-pw"}) {
    ScratchDir opened;
    r = Render(72, locked, opened.file("p.png"), opened, {std::string("TRACEWRIGHT_PDF_PASSWORD=") + password});
    EXPECT_EQ(r.status, 0) << password << ": " << r.messages;
    Image image;
    ASSERT_TRUE(DecodePng(opened.file("p-0001.png"), &image)) << password;
    EXPECT_EQ(image.width, 144);
    EXPECT_GT(CountDark(image, 0, 0, 144, 100), 100) << "the text was not drawn";
  }
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
  // strokes, a thin diagonal, a neutral RGB image and an image whose palette has a colour it
  // does not use: nothing with colour.
  const std::string grey =
      "0 g BT /F1 28 Tf 12 150 Td (Grey page) Tj ET "
      "0.5 g 12 100 60 30 re f 0.93 g 80 100 40 30 re f 0.95 g 130 100 40 30 re f "
      "0.3 0.3 0.3 RG 3 w 12 90 m 180 60 l S 0.4 w 0 0 0 1 K 12 20 m 190 80 l S "
      "0 0 0 0.6 k 140 20 40 20 re f "
      "q 60 0 0 40 70 20 cm BI /W 2 /H 2 /CS /RGB /BPC 8 /F /AHx ID 000000808080C8C8C8FFFFFF> EI Q "
      "q 20 0 0 10 150 150 cm BI /W 2 /H 1 /CS [/Indexed /RGB 1 <404040FF0000>] /BPC 8 /F /AHx ID 0000> EI Q";
  // The same page with a small red mark in its bottom-left corner, and with the image's red
  // used: both rendered in colour. The library's own colour test of an image in an indexed
  // space read memory it never set, so the decision came out either way from run to run.
  std::string pdf = WritePdf(in, "grey.pdf",
                             MakePdf({{200, 200, grey}, {200, 200, grey + " 1 0 0 rg 0 0 4 4 re f"},
                                      {200, 200, grey.substr(0, grey.size() - 10) + "0001> EI Q"}}));
  for (int round = 0; round < 3; round++) {
    RunResult r = Render(150, pdf, out.file("g.png"), in);
    ASSERT_EQ(r.status, 0) << r.messages;
    EXPECT_TRUE(IsGreyPng(out.file("g-0001.png"))) << round;
    EXPECT_FALSE(IsGreyPng(out.file("g-0002.png"))) << round;
    EXPECT_FALSE(IsGreyPng(out.file("g-0003.png"))) << round;
  }
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

  // On a full disk (a small file system, where one may be made) each page says the system's
  // reason, not the PNG library's "Write Error", and no part of a page stays.
  const std::string disk = out.file("disk");
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0) {
    testsupport::WriteText(disk + "/fill", std::string(48 * 1024, 'x'));
    // Scattered dots: each page's image is larger than the room left and the write buffer.
    std::string dots;
    for (int i = 0; i < 3000; ++i) dots += std::to_string(i * 37 % 200) + " " + std::to_string(i * 91 % 199) + " 1 1 re ";
    const std::string dotted = WritePdf(in, "dots.pdf", MakePdf({{200, 200, dots + "f"}, {200, 200, dots + "f"}}));
    r = Render(300, dotted, disk + "/p.png", in);
    EXPECT_EQ(r.status, 1);
    for (const char* page : {"1", "2"}) {
      const std::string start = std::string("pagerip: page ") + page + " of 2 skipped: ";
      const std::size_t at = r.messages.find(start);
      ASSERT_NE(at, std::string::npos) << r.messages;
      const std::string line = r.messages.substr(at, r.messages.find('\n', at) - at);
      EXPECT_TRUE(EndsWith(line, ": No space left on device")) << line;
    }
    EXPECT_EQ(ListFolder(disk), std::vector<std::string>{"fill"});
    umount(disk.c_str());
  }
}

// Whether the 36-point character cell whose origin is at (x, 60) points on a 100-point page
// at 72 dpi holds a placeholder box: its four sides dark, its middle white.
bool IsBox(const Image& image, int x) {
  auto dark = [&](int px, int py) { return image.At(px, py)[0] < 128; };
  return dark(x + 5, 27) && dark(x + 31, 27) && dark(x + 18, 14) && dark(x + 18, 40) && !dark(x + 18, 27);
}

bool SameImage(const Image& a, const Image& b) {
  return a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}

// Fonts a PDF names without embedding them come from the installed fonts (fontconfig): by
// name, and for CJK text by script. Without such a font CJK characters are boxes, never
// glyphs of another font or collection.
TEST_F(PageripTest, DrawsFontsThatAreNotEmbeddedWithInstalledFontsOrBoxes) {
  ScratchDir in, out;
  const std::string noFonts = in.file("no-fonts.conf");
  testsupport::WriteText(noFonts, "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
  const std::vector<std::string> withoutFonts = {"FONTCONFIG_FILE=" + noFonts};
  const bool japaneseFont = testsupport::Exists("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc");
  const bool dejaVu = testsupport::Exists("/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf");
  struct Case {
    std::string encoding, ordering;
    bool script;  // the codes tell the characters, so an installed Japanese font can draw them
  };
  const std::vector<Case> cases = {{"UniJIS-UCS2-H", "Japan1", true}, {"Identity-H", "Japan1", true},
                                   {"90ms-RKSJ-H", "Japan1", true},   {"90ms-RKSJ-H", "Identity", true},
                                   {"Identity-H", "Identity", false}};
  for (const Case& c : cases) {
    const std::string label = c.encoding + "/" + c.ordering;
    std::string content =
        "BT /F2 36 Tf 10 60 Td <3042304482A0> Tj ET BT /F1 24 Tf 10 10 Td (Hello) Tj ET "
        "BT /F3 24 Tf 100 10 Td (Serif) Tj ET";
    std::string pdf = AssemblePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] /Resources << /Font << /F1 5 0 R /F2 6 0 R "
        "/F3 9 0 R >> >> /Contents 4 0 R >>",
        Stream(content),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Font /Subtype /Type0 /BaseFont /MS-Mincho /Encoding /" + c.encoding + " /DescendantFonts [7 0 R] >>",
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /MS-Mincho /CIDSystemInfo << /Registry (Adobe) "
        "/Ordering (" + c.ordering + ") /Supplement 2 >> /FontDescriptor 8 0 R /DW 1000 >>",
        "<< /Type /FontDescriptor /FontName /MS-Mincho /Flags 6 /FontBBox [0 -141 1000 859] /ItalicAngle 0 "
        "/Ascent 859 /Descent -141 /CapHeight 700 /StemV 80 >>",
        "<< /Type /Font /Subtype /TrueType /BaseFont /DejaVuSerif-Bold /FirstChar 32 /LastChar 126 "
        "/Encoding /WinAnsiEncoding >>",
    });
    const std::string file = WritePdf(in, "cjk.pdf", pdf);
    RunResult r = Render(72, file, out.file("boxes.png"), in, withoutFonts);
    EXPECT_EQ(r.status, 0) << label << ": " << r.messages;
    Image boxes, installed;
    ASSERT_TRUE(DecodePng(out.file("boxes-0001.png"), &boxes)) << label;
    EXPECT_GT(CountDark(boxes, 10, 70, 70, 90), 0) << label << ": the Latin text was not drawn";
    // Three to five characters (the shift-JIS codes take one or two bytes), one box each,
    // advancing one em at a time.
    EXPECT_TRUE(IsBox(boxes, 10)) << label << ": no box for the first character";
    EXPECT_EQ(CountDark(boxes, 200, 0, 300, 100), 0) << label << ": the text ran too far";

    r = Render(72, file, out.file("installed.png"), in);
    EXPECT_EQ(r.status, 0) << label << ": " << r.messages;
    ASSERT_TRUE(DecodePng(out.file("installed-0001.png"), &installed)) << label;
    if (japaneseFont) {
      EXPECT_EQ(IsBox(installed, 10), !c.script) << label << ": the installed Japanese font was not used";
    }
    if (dejaVu) {
      EXPECT_FALSE(SameImage(boxes, installed)) << label;
      Image serif = installed;
      for (int y = 0; y < 100; y++)
        for (int x = 0; x < 100; x++) std::memcpy(&serif.rgb[(static_cast<size_t>(y) * 300 + x) * 3], boxes.At(x, y), 3);
      EXPECT_FALSE(SameImage(serif, boxes)) << label << ": the installed DejaVu Serif was not used";
    }
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

TEST_F(PageripTest, AKilledRendererLeavesNoPartOfAPage) {
  ScratchDir in, out;
  std::vector<Page> pages;
  for (int k = 0; k < 400; k++) {
    std::string content = "0 g ";
    for (int i = 0; i < 60; i++) content += std::to_string((i * 37 + k) % 600) + " " + std::to_string((i * 53) % 780) + " 9 9 re ";
    pages.push_back({612, 792, content + "f"});
  }
  const std::string pdf = WritePdf(in, "many.pdf", MakePdf(pages));
  for (int delay : {150, 230, 310, 390, 470}) {
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string base = out.file("k.png");
      execl(kPagerip.c_str(), kPagerip.c_str(), "-r", "150", pdf.c_str(), base.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(static_cast<useconds_t>(delay) * 1000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (const std::string& name : ListFolder(out.path())) {
      EXPECT_EQ(name.find(".pagerip-"), std::string::npos) << name << " after " << delay << " ms";
    }
  }
}
