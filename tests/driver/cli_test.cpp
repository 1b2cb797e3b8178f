// The program as users meet it: help screen, exit statuses, job lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_support.h"

using testsupport::RunCommand;
using testsupport::TracewrightPath;

namespace {

const char kHelpHead[] =
    "Convert image files and PDF files to smooth and scalable vector formats.\n"
    "Input formats: pdf, jpg, gif, png, tif, tga, pcx, pnm (pbm, pgm, ppm), bmp\n"
    "Output formats: eps, postscript, ps, pdf, svg, dxf, pgm, emf\n"
    "-pagesize parameter is support A4, A3, A5, B5, Letter, Legal, Tabloid, Statement, Executive, "
    "Folio, Quarto, 10x14. Format names are case insensitive.\n"
    "-width and -height dimensions can have optional units, e.g. 6.5in, 15cm, 100pt. Default is "
    "inches (or pixels for pgm, dxf).\n"
    "Usage: Tracewright [options] <in-file> [<out-file>]\n"
    "  -pagesize <string>   : set page size (default is letter)\n"
    "  -width <string>      : width of output file, unit: in/cm/pt\n"
    "  -height <string>     : height of output file, unit: in/cm/pt\n"
    "  -res <string>        : resolution (in dpi)\n"
    "  -rotate <string>     : rotate counterclockwise by angle\n"
    "  -margin <string>     : set margin to output file, unit: in/cm/pt\n"
    "  -lmargin <string>    : set left margin to output file, unit: in/cm/pt\n"
    "  -rmargin <string>    : set right margin to output file, unit: in/cm/pt\n"
    "  -tmargin <string>    : set top margin to output file, unit: in/cm/pt\n"
    "  -bmargin <string>    : set bottom margin to output file, unit: in/cm/pt\n"
    "  -tight               : remove whitespace around the input image\n"
    "  -linecolor <string>  : set line color #rrggbb (default black)\n"
    "  -fillcolor <string>  : set fill color #rrggbb (default transparent)\n"
    "  -opaque              : make white shapes opaque\n"
    "  -speckle <int>       : suppress speckles of up to this size (default 2)\n"
    "  -invert              : invert color for input image\n"
    "  -svggroup            : group related paths together\n"
    "  -svgflat             : whole image as a single path\n"
    "  -bwthreshold <int>   : set threshold value for color image to BW conversion, default is 240\n"
    "  -method2             : use second method to convert raster to vector format\n"
    "  -centerline          : trace a character's centerline, rather than its outline\n"
    "  -pdfres <int>        : resolution to render PDF pages, default is 150 DPI\n"
    "  -addcmd <string>     : Reserved parameter\n"
    "  -v                   : Print copyright and version info\n"
    "  -h                   : Print usage information\n"
    "  -help                : Print usage information\n"
    "  --help               : Print usage information\n"
    "  -?                   : Print usage information\n"
    "Example:\n";

const char* const kExampleTails[] = {
    "C:\\*.tif C:\\*.pdf",
    "C:\\in.tif C:\\out.eps",
    "C:\\in.png C:\\out.pdf",
    "C:\\in.tif C:\\out.ps",
    "C:\\in.tif C:\\out.svg",
    "C:\\in.tif C:\\out.pgm",
    "C:\\in.tif C:\\out.dxf",
    "-method2 C:\\in.tif C:\\out.emf",
    "-width 595pt -height 842pt C:\\in.pdf C:\\out.pdf",
    "-pagesize a4 C:\\in.pdf C:\\out.pdf",
    "-width 8.5 -height 11 C:\\in.png C:\\out.pdf",
    "-res 300 C:\\in.png C:\\out.pdf",
    "-margin 30pt C:\\in.png C:\\out.pdf",
    "-lmargin 10pt -tmargin 10pt -rmargin 10pt -bmargin 10pt C:\\in.png C:\\out.pdf",
    "-tight C:\\in.png C:\\out.pdf",
    "-linecolor #FF0000 C:\\in.png C:\\out.pdf",
    "-fillcolor #FF0000 C:\\in.png C:\\out.pdf",
    "-opaque C:\\in.png C:\\out.pdf",
    "-speckle 10 C:\\in.png C:\\out.pdf",
    "-invert C:\\in.png C:\\out.pdf",
    "-svggroup C:\\in.png C:\\out.svg",
    "-svgflat C:\\in.png C:\\out.svg",
    "-bwthreshold 240 C:\\color.png C:\\out.eps",
    "-method2 -centerline C:\\color.png C:\\out.eps",
    "-pdfres 300 C:\\color.pdf C:\\out.eps",
};

std::string ExpectedHelp(const std::string& programName) {
  std::string text = kHelpHead;
  for (const char* tail : kExampleTails) text += "   " + programName + " " + tail + "\n";
  return text;
}

}  // namespace

TEST(Cli, HelpScreenIsExactAndExitsWith254) {
  const std::string expected = ExpectedHelp("tracewright");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-h"},
      {"-v"},
      {"-help"},
      {"--help"},
      {"-?"},
      {"-speckle", "x", "a", "b"},
      {"in.png", "-width"},
      {"a", "b", "c"},
      {"-v", "in.png", "out.pdf"},
  };
  for (const auto& extra : cases) {
    std::vector<std::string> argv = {TracewrightPath()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto r = RunCommand(argv);
    EXPECT_EQ(r.status, 254) << extra.size();
    EXPECT_EQ(r.out, expected) << extra.size();
  }
  const auto empty = RunCommand({TracewrightPath(), ""});
  EXPECT_EQ(empty.status, 254);
  EXPECT_EQ(empty.out, "");
}

TEST(Cli, HelpShowsTheProgramsOwnFileName) {
  testsupport::ScratchDir dir;
  const std::string renamed = dir.file("vectorize.bin");
  ASSERT_EQ(symlink(TracewrightPath().c_str(), renamed.c_str()), 0);
  const auto r = RunCommand({renamed, "-h"});
  EXPECT_EQ(r.out, ExpectedHelp("vectorize.bin"));
}

TEST(Cli, JobLineShowsFullPathsAndDerivedOutput) {
  testsupport::ScratchDir dir;
  testsupport::WriteText(dir.file("pic.tif"), "not really a tiff");
  const auto r = RunCommand({TracewrightPath(), "pic.tif"}, dir.path());
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
            dir.file("pic.tif") + " ==> " + dir.file("pic.png") + "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(Cli, EmptyPatternAndOverlongArgumentsExitWith254) {
  testsupport::ScratchDir dir;
  auto r = RunCommand({TracewrightPath(), dir.file("*.nothing")});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "");
  r = RunCommand({TracewrightPath(), std::string(3000, 'x')});
  EXPECT_EQ(r.status, 254);
  EXPECT_NE(r.out.find("Usage: Tracewright"), std::string::npos);
}
