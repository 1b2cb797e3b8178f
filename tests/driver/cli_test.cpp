// The program as users meet it: help screen, exit statuses, job lines.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/standin_fixture.h"
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
  // Beyond the 4,095 bytes Linux takes in a path: the reason, then the unchanged help screen.
  for (const std::vector<std::string>& words : {std::vector<std::string>{std::string(4096, 'x')},
                                                std::vector<std::string>{"in.png", "/" + std::string(5000, 'y')}}) {
    std::vector<std::string> argv = {TracewrightPath()};
    argv.insert(argv.end(), words.begin(), words.end());
    r = RunCommand(argv);
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, ExpectedHelp("tracewright"));
    const std::string& word = words.back();
    EXPECT_EQ(r.err, "tracewright: " + word.substr(0, 60) + "...: the path is " + std::to_string(word.size()) +
                         " bytes long; the system takes at most 4095\n");
  }
}

TEST(Cli, EveryRefusalSaysWhyBeforeTheUnchangedHelpScreen) {
  testsupport::ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("s").c_str(), 0755), 0);
  const std::string help = ExpectedHelp("tracewright");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-treshold", "200", "a.png", "a.svg"}, "-treshold: unknown option; did you mean -bwthreshold?"},
      {{"a.png", "-tigth"}, "-tigth: unknown option; did you mean -tight?"},
      {{"-speckle", "x", "a.png", "b.svg"}, "-speckle needs a whole number, not 'x'"},
      {{"in.png", "-width"}, "-width needs a value\n"},
      {{"s/a.tif", "s/b.tif", "s/c.tif", "out/"},
       "4 file names where one or two are expected; the shell may have expanded an unquoted pattern: quote "
       "it, as in tracewright 's/*.tif' 'out/'"},
      {{}, "no input file named"},
      {{"a.png", "out.txt"}, "out.txt: .txt is not an output format (eps, postscript, ps, pdf, pdfpage, svg"},
      {{"a.png", "out"}, "out: the name has no extension"},
      {{"a.png", "missing/"}, "missing/: no such folder"},
      {{"a.png", "svgz:-"}, "svgz:-: svgz is not an output format"},
  };
  for (const auto& [extra, reason] : cases) {
    std::vector<std::string> argv = {TracewrightPath()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto r = RunCommand(argv, dir.path());
    EXPECT_EQ(r.status, 254) << reason;
    EXPECT_EQ(r.out, help) << reason;
    EXPECT_EQ(r.err.rfind("tracewright: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
  // Asked-for help is no refusal; a pattern that matches nothing says so, without the help.
  for (const char* word : {"--version", "--help"}) {
    const auto r = RunCommand({TracewrightPath(), word});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, help);
    EXPECT_EQ(r.err, "");
  }
  const auto none = RunCommand({TracewrightPath(), dir.file("*.nothing")});
  EXPECT_EQ(none.status, 254);
  EXPECT_EQ(none.err, "tracewright: " + dir.file("*.nothing") + ": no file matches this pattern\n");
  // Options the chosen tracer ignores are named, and the run goes on.
  const auto ignored =
      RunCommand({TracewrightPath(), "-method2", "-speckle", "3", "-bwthreshold", "300", "nothing.png", "o.svg"},
                 dir.path());
  EXPECT_NE(ignored.err.find("tracewright: -speckle has no effect with -method2\n"), std::string::npos);
  EXPECT_NE(ignored.out.find(" ==> "), std::string::npos);
  const auto outline = RunCommand({TracewrightPath(), "-centerline", "-bwthreshold", "300", "nothing.png", "o.svg"},
                                  dir.path());
  EXPECT_NE(outline.err.find("-centerline has no effect without -method2"), std::string::npos);
  EXPECT_NE(outline.err.find("-bwthreshold 300 is outside 11-254: 240 is used"), std::string::npos);
}

namespace {

std::size_t FolderEntriesCount(const std::string& folder) {
  std::size_t count = 0;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) count += e->d_name[0] != '.';
    closedir(d);
  }
  return count;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TEST(Cli, EndToEndPathsAsLongAsTheSystemTakesAreConverted) {
  testsupport::ScratchDir dir;
  std::string folder = dir.path();
  while (folder.size() < 3850) {
    folder += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  }
  // Input and outputs of 4,095 bytes each, the most Linux takes.
  const std::string stem = folder + "/" + std::string(4095 - folder.size() - 5, 'n');
  ASSERT_TRUE(testsupport::WriteBytes(stem + ".png", testsupport::ReadBytes(std::string(TW_SOURCE_DIR) + "/samples/logo.png")));
  for (const std::vector<std::string>& words : {std::vector<std::string>{stem + ".png", stem + ".svg"},
                                                std::vector<std::string>{"-method2", stem + ".png", stem + ".eps"},
                                                std::vector<std::string>{folder + "/*.png", folder + "/*.pdf"}}) {
    std::vector<std::string> argv = {TracewrightPath()};
    argv.insert(argv.end(), words.begin(), words.end());
    const auto r = RunCommand(argv);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string written = stem + words.back().substr(words.back().size() - 4);
    EXPECT_EQ(r.out, stem + ".png ==> " + written + "\nProcessing 1 of 1...\n");
    EXPECT_TRUE(IsFile(written)) << words.back();
  }
}

TEST(Cli, EndToEndPipesBothWaysWithBothMethodsAreReadByRealReaders) {
  testsupport::ScratchDir dir;
  const std::string logo = std::string(TW_SOURCE_DIR) + "/samples/logo.png";
  const std::string tw = Quoted(TracewrightPath());
  struct Pipe {
    std::string options, word, file, reader;
  };
  const std::vector<Pipe> pipes = {
      {"", "-", "a.svg", "rsvg-convert a.svg -o a.png"},
      {"-method2", "svg:-", "b.svg", "rsvg-convert b.svg -o b.png"},
      {"", "pdf:-", "c.pdf", "gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=nullpage c.pdf"},
      {"-method2", "eps:-", "d.eps", "gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=nullpage d.eps"},
      {"-method2", "emf:-", "e.emf", "emf2svg-conv -i e.emf -o e.svg"},
  };
  for (const Pipe& pipe : pipes) {
    const std::string command =
        "cat " + Quoted(logo) + " | " + tw + " " + pipe.options + " - " + pipe.word + " > " + pipe.file;
    const auto r = RunCommand({"/bin/sh", "-c", command}, dir.path());
    EXPECT_EQ(r.status, 1) << command << r.err;
    // The job and progress lines went to standard error, naming the output as typed; the
    // file holds the picture alone.
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "- ==> " + pipe.word) << r.err;
    EXPECT_NE(r.err.find("Processing 1 of 1..."), std::string::npos) << r.err;
    const auto read = RunCommand({"/bin/sh", "-c", pipe.reader}, dir.path());
    EXPECT_EQ(read.status, 0) << pipe.reader << read.err;
  }
  EXPECT_EQ(FolderEntriesCount(dir.path()), 8u);  // five outputs, three pictures drawn from them
  // A file named as input, standard output as output.
  const auto named = RunCommand({"/bin/sh", "-c", tw + " " + Quoted(logo) + " svg:- | rsvg-convert -o f.png"}, dir.path());
  EXPECT_EQ(named.status, 0) << named.err;
  // Pages, from a document of the corpus where there is one: PostScript and PDF hold them
  // all; SVG takes the first, and the rest are reported.
  if (!testsupport::CorpusDir().empty()) {
    const std::string doc = Quoted(testsupport::CorpusDir() + "/pdf/good/debian-groff-base/typesetting.pdf");
    const auto pages = RunCommand({"/bin/sh", "-c", "cat " + doc + " | " + tw + " -pdfres 40 - ps:- > p.ps"}, dir.path());
    EXPECT_EQ(pages.status, 1) << pages.err;
    const auto shown = RunCommand({"/bin/sh", "-c", "gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=bbox p.ps"}, dir.path());
    EXPECT_NE(shown.err.find("%%BoundingBox"), shown.err.rfind("%%BoundingBox")) << "two pages: " << shown.err;
    const auto first = RunCommand({"/bin/sh", "-c", tw + " -pdfres 40 " + doc + " svg:- > p.svg"}, dir.path());
    EXPECT_EQ(first.status, 0);
    EXPECT_NE(first.err.find(": page 2 of 2: not written: standard output takes one page of svg"), std::string::npos)
        << first.err;
    EXPECT_EQ(RunCommand({"/bin/sh", "-c", "rsvg-convert p.svg -o p.png"}, dir.path()).status, 0);
    // PDF: one document of every page in page order, each page drawn as when traced to a file
    // of its own.
    for (const std::string method : {"", "-method2"}) {
      const std::string m = method.empty() ? "m1" : "m2";
      const std::string run = tw + " " + method + " -pdfres 40 ";
      const auto merged = RunCommand({"/bin/sh", "-c", "cat " + doc + " | " + run + "- pdf:- > " + m + ".pdf"}, dir.path());
      EXPECT_EQ(merged.status, 1) << method << merged.err;
      EXPECT_EQ(merged.err, "- ==> pdf:-\nProcessing 1 of 2...\nProcessing 2 of 2...\n") << method;
      const auto info = RunCommand({"/bin/sh", "-c", "pdfinfo " + m + ".pdf"}, dir.path());
      EXPECT_NE(info.out.find("Pages:           2\n"), std::string::npos) << method << info.out << info.err;
      const std::string drawn = run + doc + " " + m + "-s.pdf; pdftoppm -r 20 -gray " + m + ".pdf " + m +
                                " && pdftoppm -r 20 -gray " + m + "-s.pdf " + m + "-a && pdftoppm -r 20 -gray " + m +
                                "-s000.pdf " + m + "-b";
      ASSERT_EQ(RunCommand({"/bin/sh", "-c", drawn}, dir.path()).status, 0) << drawn;
      const auto page = [&](const std::string& name) { return testsupport::ReadBytes(dir.file(m + name + ".pgm")); };
      EXPECT_FALSE(page("-1").empty());
      EXPECT_EQ(page("-1"), page("-a-1")) << method;
      EXPECT_EQ(page("-2"), page("-b-1")) << method;
      EXPECT_NE(page("-1"), page("-2")) << method;
    }
  }
  // A frame that fails: the others are still merged, and the failure is reported. Named as in
  // an empty folder (skip), the failed frame leaves its number free and the next one follows.
  const std::string pagerip = std::string(TW_BINARY_DIR) + "/pagerip";
  if (HasPotrace() && testsupport::Exists(pagerip) && !testsupport::CorpusDir().empty()) {
    ScratchInstall install;
    install.AddLink("pagerip", pagerip);
    const std::string potrace = install.root() + "/bin/potrace";
    testsupport::WriteText(potrace, "#!/bin/sh\nn=$(ls \"$TW_STANDIN_DIR\" | wc -l); touch \"$TW_STANDIN_DIR/$n\"\n"
                                    "[ \"$n\" -ne 1 ] || { echo 'potrace: failed on purpose' >&2; exit 1; }\n"
                                    "exec /usr/bin/potrace \"$@\"\n");
    ASSERT_EQ(chmod(potrace.c_str(), 0755), 0);
    const std::string gif = testsupport::CorpusDir() + "/gif/good/pillow/transparent_dispose.gif";
    const auto r = install.Run({gif, "pdf:-"}, {"TRACEWRIGHT_JOBS=1", "TRACEWRIGHT_EXISTING=skip"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(": frame 2 of 3: potrace failed with status 1: failed on purpose\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not written"), std::string::npos) << r.err;
    testsupport::WriteText(install.work("part.pdf"), r.out);
    const auto info = RunCommand({"/bin/sh", "-c", "pdfinfo part.pdf"}, install.work());
    EXPECT_NE(info.out.find("Pages:           2\n"), std::string::npos) << info.out << info.err;
    EXPECT_TRUE(install.TmpEntries().empty());
  }
  // Not a picture on standard input: a reason, and no file.
  const auto junk = RunCommand({"/bin/sh", "-c", "echo hello | " + tw + " - out.svg"}, dir.path());
  EXPECT_EQ(junk.err, "tracewright: -: standard input is not a picture this program reads\n");
  EXPECT_EQ(junk.status, 0);
}

TEST(Cli, EndToEndOutputsIntoFolders) {
  testsupport::ScratchDir dir;
  const std::string logo = std::string(TW_SOURCE_DIR) + "/samples/logo.png";
  ASSERT_EQ(mkdir(dir.file("od").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("svgs.svg").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("out.v2").c_str(), 0755), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"od/", "od/logo.pdf"}, {"od", "od/logo000.pdf"}, {"svgs.svg", "svgs.svg/logo.svg"}, {"out.v2", "out.v2/logo.pdf"}};
  for (const auto& [word, written] : cases) {
    const auto r = RunCommand({TracewrightPath(), logo, word}, dir.path());
    EXPECT_EQ(r.status, 1) << word << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), logo + " ==> " + dir.file(word == "od" ? "od/logo.pdf" : written))
        << word;
    EXPECT_TRUE(IsFile(dir.file(written))) << written;
  }
  const auto piped = RunCommand({"/bin/sh", "-c", "cat " + Quoted(logo) + " | " + Quoted(TracewrightPath()) + " - od/x.svg/"},
                                dir.path());
  EXPECT_EQ(piped.status, 254);  // od/x.svg/ is no folder
  EXPECT_EQ(RunCommand({"/bin/sh", "-c", "cat " + Quoted(logo) + " | " + Quoted(TracewrightPath()) + " - svgs.svg"},
                       dir.path()).status, 1);
  EXPECT_TRUE(IsFile(dir.file("svgs.svg/stdin.svg")));
}
