// Runs the built autotrace program and renders its files back with the usual viewers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <set>
#include <sstream>

#include "at_test_util.h"
#include "run.h"
#include "support/test_support.h"

namespace {

std::string Tool() { return std::string(TW_BINARY_DIR) + "/autotrace"; }

std::string Which(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    const std::string p = dir + name;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return "";
}

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.is_regular_file();
  return n;
}

// Renders a vector file to a PNG of the given size; "" when the viewer is missing.
std::string Render(const std::string& file, const std::string& format, int w, int h, std::string& skip) {
  const std::string png = file + ".png";
  testsupport::CommandResult r;
  if (format == "svg" || format == "emf") {
    std::string svg = file;
    if (format == "emf") {
      const std::string conv = Which("emf2svg-conv");
      if (conv.empty()) return skip = "emf2svg-conv missing", "";
      svg = file + ".svg";
      r = testsupport::RunCommand({conv, "-i", file, "-o", svg});
      EXPECT_EQ(r.status, 0) << r.err;
    }
    const std::string rsvg = Which("rsvg-convert");
    if (rsvg.empty()) return skip = "rsvg-convert missing", "";
    r = testsupport::RunCommand({rsvg, "-b", "white", "-w", std::to_string(w), "-h", std::to_string(h), svg, "-o", png});
  } else if (format == "pdf") {
    const std::string tool = Which("pdftoppm");
    if (tool.empty()) return skip = "pdftoppm missing", "";
    r = testsupport::RunCommand({tool, "-r", "72", "-png", "-singlefile", file, file});
  } else {
    const std::string gs = Which("gs");
    if (gs.empty()) return skip = "gs missing", "";
    r = testsupport::RunCommand({gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r72",
                                 "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", format == "eps" ? "-dEPSCrop" : "-dNOSAFER",
                                 "-sOutputFile=" + png, file});
  }
  EXPECT_EQ(r.status, 0) << r.err;
  return png;
}

class AutotraceProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(Tool().c_str(), X_OK) != 0) GTEST_SKIP() << "autotrace not built";
  }
  testsupport::ScratchDir dir;
};

TEST_F(AutotraceProgram, EveryFormatRendersBackToTheInput) {
  const at::Image logo = attest::Logo();
  const std::string in = dir.file("logo.png");
  ASSERT_TRUE(attest::WritePng(in, logo));
  for (const std::string format : {"svg", "pdf", "eps", "ps", "emf"}) {
    const std::string out = dir.file("logo." + format);
    auto r = testsupport::RunCommand({Tool(), "-output-file", out, in});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string skip;
    const std::string png = Render(out, format, logo.width, logo.height, skip);
    if (png.empty()) {
      std::cout << "not rendered: " << skip << "\n";
      continue;
    }
    at::Image back;
    ASSERT_TRUE(attest::ReadPng(png, back)) << format;
    ASSERT_EQ(back.width, logo.width) << format;
    ASSERT_EQ(back.height, logo.height) << format;
    // Ghostscript's four-bit anti-aliasing (EPS, PS) settles edge pixels more coarsely than
    // rsvg and poppler, and smooth curves run closer to pixel centres than stair steps.
    const double want = format == "emf" ? 0.985 : format == "eps" || format == "ps" ? 0.994 : 0.995;
    EXPECT_GT(attest::Agreement(logo, back), want) << format;
  }
}

TEST_F(AutotraceProgram, BackgroundColourIsNotTraced) {
  at::Image img = attest::Blank(60, 40, {255, 128, 0});
  attest::Rect(img, {0, 0, 0}, 10, 10, 30, 30);
  const std::string in = dir.file("bg.png");
  ASSERT_TRUE(attest::WritePng(in, img));
  auto all = testsupport::RunCommand({Tool(), "-output-format", "svg", in});
  auto some = testsupport::RunCommand({Tool(), "--background-color=#FF8000", "-output-format", "svg", in});
  ASSERT_EQ(all.status, 0);
  ASSERT_EQ(some.status, 0);
  EXPECT_NE(all.out.find("#ff8000"), std::string::npos);
  EXPECT_EQ(some.out.find("#ff8000"), std::string::npos);
  EXPECT_NE(some.out.find("#000000"), std::string::npos);
  // In centre-line mode white is the background unless told otherwise.
  at::Image lines = attest::Blank(60, 40);
  attest::Rect(lines, {0, 0, 0}, 5, 18, 55, 23);
  ASSERT_TRUE(attest::WritePng(in, lines));
  auto cl = testsupport::RunCommand({Tool(), "-centerline", "-output-format", "svg", in});
  EXPECT_EQ(cl.out.find("#ffffff"), std::string::npos);
  EXPECT_NE(cl.out.find("stroke=\"#000000\""), std::string::npos);
}

TEST_F(AutotraceProgram, FailuresLeaveNoOutput) {
  const std::string in = dir.file("in.png");
  ASSERT_TRUE(attest::WritePng(in, attest::Logo()));
  const std::string out = dir.file("out.svg");
  for (std::vector<std::string> args : {std::vector<std::string>{"-bogus", in}, {"-output-format", "gif", in},
                                        {"-corner-threshold", "x", in}, {dir.file("missing.png")}}) {
    args.insert(args.begin(), {Tool(), "-output-file", out});
    auto r = testsupport::RunCommand(args);
    EXPECT_EQ(r.status, 1) << args[3];
    EXPECT_FALSE(r.err.empty());
  }
  auto r = testsupport::RunCommand({Tool(), "-output-file", dir.file("x.gif"), in});
  EXPECT_EQ(r.status, 1);
  // Truncated input.
  auto bytes = testsupport::ReadBytes(in);
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(testsupport::WriteBytes(dir.file("cut.png"), bytes));
  r = testsupport::RunCommand({Tool(), "-output-file", out, dir.file("cut.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("PNG"), std::string::npos);
  EXPECT_FALSE(testsupport::Exists(out));
  // Nothing but the input and the truncated copy: no stray temporary files either.
  EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST_F(AutotraceProgram, TinyAndBlankPicturesGiveValidDrawings) {
  const at::Rgb white{255, 255, 255};
  for (const at::Image& img : {attest::Blank(1, 1), attest::Blank(1, 1, {0, 0, 0}), attest::Blank(50, 30)}) {
    const std::string in = dir.file("t.png");
    ASSERT_TRUE(attest::WritePng(in, img));
    for (const std::string format : {"svg", "pdf", "eps", "dxf", "emf"}) {
      for (bool centre : {false, true}) {
        std::vector<std::string> args = {Tool(), "-background-color", "FFFFFF", "-output-file", dir.file("t." + format), in};
        if (centre) args.insert(args.begin() + 1, "-centerline");
        auto r = testsupport::RunCommand(args);
        EXPECT_EQ(r.status, 0) << format << r.err;
        EXPECT_TRUE(testsupport::Exists(dir.file("t." + format)));
      }
    }
  }
  (void)white;
}

TEST_F(AutotraceProgram, InformationalOptions) {
  auto r = testsupport::RunCommand({Tool(), "-list-output-formats"});
  EXPECT_EQ(r.status, 0);
  for (const char* f : {"svg", "pdf", "eps", "ps", "dxf", "emf"}) EXPECT_NE(r.out.find(f), std::string::npos);
  r = testsupport::RunCommand({Tool(), "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("-despeckle-tightness"), std::string::npos);
  r = testsupport::RunCommand({Tool(), "-version"});
  EXPECT_EQ(r.status, 0);
  r = testsupport::RunCommand({Tool()});
  EXPECT_EQ(r.status, 1);
  // Progress goes to standard error, the drawing to standard output.
  const std::string in = dir.file("in.png");
  ASSERT_TRUE(attest::WritePng(in, attest::Logo()));
  r = testsupport::RunCommand({Tool(), "-report-progress", in});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("%!PS-Adobe-3.0 EPSF-3.0", 0), 0u);  // eps when nothing says otherwise
  EXPECT_NE(r.err.find("100%"), std::string::npos);
}

TEST(AutotraceRun, ColourCountLimitsTheColoursDrawn) {
  testsupport::ScratchDir dir;
  at::Image img = attest::Logo();
  // Shade half of the picture slightly so that there are many more colours.
  for (size_t i = 0; i < img.rgb.size() / 2; i += 3) img.rgb[i] = static_cast<uint8_t>(img.rgb[i] ^ (i / 3 % 3));
  const std::string in = dir.file("c.png");
  ASSERT_TRUE(attest::WritePng(in, img));
  std::ostringstream out, err;
  ASSERT_EQ(at::RunTracer({"-color-count", "6", "-output-format", "svg", in}, out, err), 0) << err.str();
  std::set<std::string> fills;
  const std::string svg = out.str();
  for (size_t p = svg.find("fill=\"#"); p != std::string::npos; p = svg.find("fill=\"#", p + 1)) fills.insert(svg.substr(p + 6, 7));
  EXPECT_LE(fills.size(), 6u);
  EXPECT_GE(fills.size(), 5u);
}

}  // namespace

namespace {

class FifoReader {
 public:
  explicit FifoReader(const std::string& path) : thread_([this, path] {
      std::ifstream in(path, std::ios::binary);
      text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }) {}
  std::string Finish() {
    thread_.join();
    return text_;
  }

 private:
  std::string text_;
  std::thread thread_;
};

}  // namespace

TEST_F(AutotraceProgram, AnOutputThatIsNotAFileIsWrittenInPlace) {
  // Renaming a finished file over a pipe or a device (think /dev/null as root) would
  // replace the node itself.
  const std::string in = dir.file("logo.png");
  ASSERT_TRUE(attest::WritePng(in, attest::Logo()));
  const std::string fifo = dir.file("out.svg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FifoReader reader(fifo);
  const auto r = testsupport::RunCommand({Tool(), "-output-file", fifo, in});
  const std::string text = reader.Finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(text.find("<svg"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
