// Whole runs of a copy of tracewright with recording stand-in engines: the exact engine
// command lines, the bitmap handed to potrace, naming, cleanup.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "image/io/format.h"
#include "support/standin_fixture.h"
#include "support/test_support.h"

namespace {

unsigned char White(int, int) { return 255; }

// One row: grey 10, 11, 12, 254, 255, then white.
unsigned char Ramp(int x, int) {
  const unsigned char values[] = {10, 11, 12, 254, 255, 255, 255, 255};
  return values[x];
}

std::vector<std::string> Tail(const std::vector<std::string>& args) {
  return std::vector<std::string>(args.begin() + 1, args.end());
}

// Engines write a private file beside the output, renamed to the output once whole: the
// argument after `flag` is such a name (it begins with `prefix`), replaced by "<private>".
std::vector<std::string> WithPrivateOutput(std::vector<std::string> args, const char* flag,
                                           const std::string& prefix) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != flag) continue;
    const std::string& name = args[i + 1];
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 5), ".part") << name;
    args[i + 1] = "<private>";
  }
  return args;
}

// First pixel byte of the captured bitonal BMP (8 pixels of the one row).
int FirstRowBits(const std::vector<uint8_t>& bmp) { return bmp.size() > 62 ? bmp[62] : -1; }

}  // namespace

TEST(StandInConversion, PotraceCommandLineCarriesEveryOptionInOrder) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("in.png"), FORMAT_PNG, 8, 1, Ramp));
  auto r = install.Run({"-addcmd", "-k 0.4 \"two words\"", "-invert", "-svgflat", "-svggroup", "-opaque",
                        "-fillcolor", "#00FF00", "-linecolor", "#FF0000", "-tight", "-bmargin", "4pt",
                        "-tmargin", "3pt", "-rmargin", "2pt", "-lmargin", "1pt", "-margin", "1in",
                        "-rotate", "45", "-res", "300", "-height", "11", "-width", "8.5", "-pagesize",
                        "a4", "-speckle", "5", "-centerline", "-pdfres", "300", "in.png", "OUT.SVG"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, install.work("in.png") + " ==> " + install.work("OUT.SVG") + "\nProcessing 1 of 1...\n");
  const auto args = install.CallArgs(0);
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args[0], install.program().substr(0, install.program().size() - 11) + "potrace");
  const std::vector<std::string> expected = {
      "-s", "-t", "5", "-P", "a4", "-W", "8.5", "-H", "11", "-r", "300", "-A", "45", "-M", "1in",
      "-L", "1pt", "-R", "2pt", "-T", "3pt", "-B", "4pt", "--tight", "--color", "#FF0000",
      "--fillcolor", "#00FF00", "--opaque", "--group", "--flat", "--invert", "-k", "0.4",
      "two words", "-o", "-", "-"};
  // The bitmap comes on standard input and the output goes through standard output into the
  // private file, which alone is renamed to the output.
  EXPECT_EQ(Tail(args), expected);
  EXPECT_EQ(testsupport::ReadBytes(install.records() + "/call-0.input").size(), 66u);
  const std::vector<uint8_t> written = testsupport::ReadBytes(install.work("OUT.SVG"));
  EXPECT_EQ(std::string(written.begin(), written.end()), "stand-in output\n</svg>\n");

  // postscript has no backend switch; nothing else given means only -o and the bitmap.
  r = install.Run({"in.png", "x.postscript"});
  EXPECT_EQ(Tail(install.CallArgs(1)), (std::vector<std::string>{"-o", "-", "-"}));
}

TEST(StandInConversion, ThresholdEdgesReachTheBitmap) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("ramp.png"), FORMAT_PNG, 8, 1, Ramp));
  // Grey values 10 11 12 254 255 255 255 255; a pixel is white above the level.
  const struct {
    const char* level;
    int bits;
  } cases[] = {{"10", 0x1F}, {"11", 0x3F}, {"254", 0x0F}, {"255", 0x1F}, {"240", 0x1F}};
  int call = 0;
  for (const auto& c : cases) {
    install.Run({"-bwthreshold", c.level, "ramp.png", "o.eps"});
    const auto bmp = testsupport::ReadBytes(install.records() + "/call-" + std::to_string(call++) + ".input");
    EXPECT_EQ(FirstRowBits(bmp), c.bits) << c.level;
  }
  // The bitonal bitmap's header: 1 bit, two colours, black then white.
  const auto bmp = testsupport::ReadBytes(install.records() + "/call-0.input");
  ASSERT_EQ(bmp.size(), 66u);
  const std::vector<uint8_t> head(bmp.begin(), bmp.begin() + 62);
  const std::vector<uint8_t> expected = {
      'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,  // file header
      40, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 4, 0, 0, 0,
      0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0,  // 96 dpi = 3780 pixels per metre
      2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 0};
  EXPECT_EQ(head, expected);
}

TEST(StandInConversion, SecondMethodAndRendererCommandLines) {
  ScratchInstall install;
  install.AddStandIn("autotrace");
  install.AddStandIn("pagerip");
  ASSERT_TRUE(WriteGreyImage(install.work("page.png"), FORMAT_PNG, 8, 8, White));
  auto r = install.Run({"-method2", "-centerline", "-fillcolor", "#FF8000", "-addcmd", "-color-count 3",
                        "page.png", "out.EMF"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(WithPrivateOutput(Tail(install.CallArgs(0)), "-output-file", install.work(".trw-")),
            (std::vector<std::string>{"-background-color", "FF8000", "-centerline", "-color-count", "3",
                                      "-output-file", "<private>", "-output-format", "EMF",
                                      install.work("page.png")}));
  EXPECT_TRUE(testsupport::Exists(install.work("out.EMF")));

  // Three rendered pages become three outputs in page order, with three progress lines;
  // one engine at a time, so that the calls are recorded in page order too.
  r = install.Run({"-method2", "-pdfres", "-5", "doc.pdf", "doc.svg"},
                  {"TW_STANDIN_PAGES=3", "TW_STANDIN_PAGE=" + install.work("page.png")});
  EXPECT_EQ(r.status, 0) << "doc.pdf does not exist yet";
  testsupport::WriteText(install.work("doc.pdf"), "%PDF-1.4 stand-in");
  r = install.Run({"-method2", "-pdfres", "-5", "doc.pdf", "doc.svg"},
                  {"TW_STANDIN_PAGES=3", "TW_STANDIN_PAGE=" + install.work("page.png"), "TRACEWRIGHT_JOBS=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, install.work("doc.pdf") + " ==> " + install.work("doc.svg") +
                       "\nProcessing 1 of 3...\nProcessing 2 of 3...\nProcessing 3 of 3...\n");
  const auto render = Tail(install.CallArgs(1));
  ASSERT_EQ(render.size(), 4u);
  EXPECT_EQ(render[0], "-r");
  EXPECT_EQ(render[1], "150");
  EXPECT_EQ(render[2], install.work("doc.pdf"));
  for (int page = 1; page <= 3; ++page) {
    const auto args = Tail(install.CallArgs(1 + page));
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), "-%04d.png", page);
    EXPECT_NE(args.back().find(suffix), std::string::npos) << args.back();
  }
  for (const char* name : {"doc.svg", "doc000.svg", "doc001.svg"}) EXPECT_TRUE(testsupport::Exists(install.work(name)));
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(StandInConversion, FailingEngineGivesZeroAndLastJobDecides) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("a.png"), FORMAT_PNG, 8, 8, White));
  ASSERT_TRUE(WriteGreyImage(install.work("b.png"), FORMAT_PNG, 8, 8, White));
  testsupport::WriteText(install.work("c.png"), "not an image");
  // Jobs in name order a, b, c: the last fails, so the run reports 0.
  auto r = install.Run({"*.png", "out/*.eps"});
  EXPECT_EQ(r.status, 0);
  mkdir(install.work("out").c_str(), 0755);
  r = install.Run({"*.png", "out/*.eps"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(testsupport::Exists(install.work("out/a.eps")));
  EXPECT_TRUE(testsupport::Exists(install.work("out/b.eps")));
  // Only the first fails: 1.
  r = install.Run({"a.png", "x.eps"}, {"TW_STANDIN_FAIL=1"});
  EXPECT_EQ(r.status, 0);
  r = install.Run({"a.png", "x.eps"});
  EXPECT_EQ(r.status, 1);
}

TEST(StandInConversion, InterruptEndsEngineAndRemovesTemporaryFiles) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("a.bmp"), FORMAT_BMP, 8, 8, White));
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", install.tmp().c_str(), 1);
    setenv("TW_STANDIN_SLEEP", "20", 1);
    if (chdir(install.work().c_str()) != 0) _exit(126);
    execl(install.program().c_str(), "tracewright", "a.bmp", "a.eps", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the stand-in has been called, then interrupt.
  for (int i = 0; i < 200 && !testsupport::Exists(install.records() + "/call-0.args"); ++i) usleep(20000);
  usleep(100000);
  kill(pid, SIGINT);
  int status = 0;
  const auto started = time(nullptr);
  waitpid(pid, &status, 0);
  EXPECT_LT(time(nullptr) - started, 10);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_TRUE(install.TmpEntries().empty());
  // Nor is the output's private file left beside the input.
  int entries = 0;
  if (DIR* d = opendir(install.work().c_str())) {
    while (dirent* e = readdir(d)) entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(d);
  }
  EXPECT_EQ(entries, 1);
}
