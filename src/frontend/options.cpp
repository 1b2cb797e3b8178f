#include "frontend/options.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frontend/refusals.h"
#include "platform/files.h"
#include "platform/path.h"
#include "settings/output_names.h"

namespace {

constexpr int kOptionRows = 28;
OptionDescriptor g_table[kOptionRows + 1];
std::once_flag g_tableOnce;

template <size_t N>
OptionDescriptor TextRow(const char* name, char (&target)[N], const char* help) {
  return OptionDescriptor{name, kOptionString, target, static_cast<int32_t>(N), help};
}

OptionDescriptor FlagRow(const char* name, int32_t& target, const char* help) {
  return OptionDescriptor{name, kOptionFlag, &target, 0, help};
}

OptionDescriptor IntRow(const char* name, int32_t& target, const char* help) {
  return OptionDescriptor{name, kOptionInt, &target, 0, help};
}

void FillTable(ConversionSettings& s) {
  const OptionDescriptor rows[kOptionRows + 1] = {
      TextRow("-pagesize", s.pageSize, "set page size (default is letter)"),
      TextRow("-width", s.width, "width of output file, unit: in/cm/pt"),
      TextRow("-height", s.height, "height of output file, unit: in/cm/pt"),
      TextRow("-res", s.resolution, "resolution (in dpi)"),
      TextRow("-rotate", s.rotation, "rotate counterclockwise by angle"),
      TextRow("-margin", s.margin, "set margin to output file, unit: in/cm/pt"),
      TextRow("-lmargin", s.leftMargin, "set left margin to output file, unit: in/cm/pt"),
      TextRow("-rmargin", s.rightMargin, "set right margin to output file, unit: in/cm/pt"),
      TextRow("-tmargin", s.topMargin, "set top margin to output file, unit: in/cm/pt"),
      TextRow("-bmargin", s.bottomMargin, "set bottom margin to output file, unit: in/cm/pt"),
      FlagRow("-tight", s.tight, "remove whitespace around the input image"),
      TextRow("-linecolor", s.lineColor, "set line color #rrggbb (default black)"),
      TextRow("-fillcolor", s.fillColor, "set fill color #rrggbb (default transparent)"),
      FlagRow("-opaque", s.opaque, "make white shapes opaque"),
      IntRow("-speckle", s.speckleSize, "suppress speckles of up to this size (default 2)"),
      FlagRow("-invert", s.invert, "invert color for input image"),
      FlagRow("-svggroup", s.svgGroup, "group related paths together"),
      FlagRow("-svgflat", s.svgFlat, "whole image as a single path"),
      IntRow("-bwthreshold", s.bwThreshold,
             "set threshold value for color image to BW conversion, default is 240"),
      FlagRow("-method2", s.secondMethod, "use second method to convert raster to vector format"),
      FlagRow("-centerline", s.centerline, "trace a character's centerline, rather than its outline"),
      IntRow("-pdfres", s.pdfResolution, "resolution to render PDF pages, default is 150 DPI"),
      TextRow("-addcmd", s.extraEngineArgs, "Reserved parameter"),
      FlagRow("-v", s.showVersion, "Print copyright and version info"),
      FlagRow("-h", s.showHelp, "Print usage information"),
      FlagRow("-help", s.showHelp, "Print usage information"),
      FlagRow("--help", s.showHelp, "Print usage information"),
      FlagRow("-?", s.showHelp, "Print usage information"),
      OptionDescriptor{nullptr, 0, nullptr, 0, nullptr},
  };
  std::memcpy(g_table, rows, sizeof(rows));
}

const char* const kExamples[] = {
    "   %s C:\\*.tif C:\\*.pdf\n",
    "   %s C:\\in.tif C:\\out.eps\n",
    "   %s C:\\in.png C:\\out.pdf\n",
    "   %s C:\\in.tif C:\\out.ps\n",
    "   %s C:\\in.tif C:\\out.svg\n",
    "   %s C:\\in.tif C:\\out.pgm\n",
    "   %s C:\\in.tif C:\\out.dxf\n",
    "   %s -method2 C:\\in.tif C:\\out.emf\n",
    "   %s -width 595pt -height 842pt C:\\in.pdf C:\\out.pdf\n",
    "   %s -pagesize a4 C:\\in.pdf C:\\out.pdf\n",
    "   %s -width 8.5 -height 11 C:\\in.png C:\\out.pdf\n",
    "   %s -res 300 C:\\in.png C:\\out.pdf\n",
    "   %s -margin 30pt C:\\in.png C:\\out.pdf\n",
    "   %s -lmargin 10pt -tmargin 10pt -rmargin 10pt -bmargin 10pt C:\\in.png C:\\out.pdf\n",
    "   %s -tight C:\\in.png C:\\out.pdf\n",
    "   %s -linecolor #FF0000 C:\\in.png C:\\out.pdf\n",
    "   %s -fillcolor #FF0000 C:\\in.png C:\\out.pdf\n",
    "   %s -opaque C:\\in.png C:\\out.pdf\n",
    "   %s -speckle 10 C:\\in.png C:\\out.pdf\n",
    "   %s -invert C:\\in.png C:\\out.pdf\n",
    "   %s -svggroup C:\\in.png C:\\out.svg\n",
    "   %s -svgflat C:\\in.png C:\\out.svg\n",
    "   %s -bwthreshold 240 C:\\color.png C:\\out.eps\n",
    "   %s -method2 -centerline C:\\color.png C:\\out.eps\n",
    "   %s -pdfres 300 C:\\color.pdf C:\\out.eps\n",
};

// Copies text into a settings buffer; false when it does not fit (never truncated).
template <size_t N>
bool StoreText(char (&buffer)[N], const std::string& text) {
  if (text.size() >= N) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// Replaces a relative path by the full one; false, the path untouched, when that cannot be
// made or is too long.
bool MakeFullPath(std::string& path) {
  std::string full;
  if (!FullPath(path, full)) return false;
  path = std::move(full);
  return true;
}

// A pattern or a folder as the input: its outputs are named by the batch rule.
bool NamesSeveralInputs(const std::string& input) {
  return FolderExists(input) || SplitPath(input).fname.find('*') != std::string::npos;
}

// Why the output word cannot be written, "" when it can.
std::string OutputWordProblem(const std::string& input, const std::string& output) {
  std::string format;
  if (IsStandardOutputWord(output, &format)) {
    if (IsOutputFormat(format)) return "";
    return output + ": " + format + " is not an output format (" + OutputFormatList() + ")";
  }
  // A device, a pipe or one of our own descriptors (/dev/stdout) takes what it is given.
  if (IsSpecialFile(output) || ClassifyOutputName(output) == OutputNameUse::kInPlace) return "";
  if (NamesOutputFolder(output)) {
    if (FolderExists(output)) return "";
    return output + ": no such folder";
  }
  const std::string extension = SplitPath(output).ext;
  // Without an extension the batch rule writes PDF files into the argument's folder.
  if (extension.empty() && NamesSeveralInputs(input)) return "";
  if (extension.size() > 1 && IsOutputFormat(extension.substr(1))) return "";
  const std::string what = extension.empty() ? "the name has no extension" : extension + " is not an output format";
  return output + ": " + what + " (" + OutputFormatList() + ")";
}

}  // namespace

const OptionDescriptor* BuildOptionTable(ConversionSettings& settings) {
  std::call_once(g_tableOnce, [&settings] { FillTable(settings); });
  return g_table;
}

void PrintHelp(const OptionDescriptor* table, const char* programDisplayName) {
  std::printf("Convert image files and PDF files to smooth and scalable vector formats.\n");
  std::printf("Input formats: pdf, jpg, gif, png, tif, tga, pcx, pnm (pbm, pgm, ppm), bmp\n");
  std::printf("Output formats: eps, postscript, ps, pdf, svg, dxf, pgm, emf\n");
  std::printf(
      "-pagesize parameter is support A4, A3, A5, B5, Letter, Legal, Tabloid, Statement, "
      "Executive, Folio, Quarto, 10x14. Format names are case insensitive.\n");
  std::printf(
      "-width and -height dimensions can have optional units, e.g. 6.5in, 15cm, 100pt. "
      "Default is inches (or pixels for pgm, dxf).\n");
  PrintUsage("Tracewright", "<in-file> [<out-file>]", table);
  std::printf("Example:\n");
  for (const char* line : kExamples) std::printf(line, programDisplayName);
  std::fflush(stdout);
}

int ParseCommandLine(ConversionSettings& settings, int& argc, char** argv) {
  char programDisplayName[200] = "";
  if (argc > 0 && argv[0] != nullptr) {
    const PathParts self = SplitPath(argv[0]);
    std::snprintf(programDisplayName, sizeof(programDisplayName), "%s%s", self.fname.c_str(),
                  self.ext.c_str());
  }

  const OptionDescriptor* table = BuildOptionTable(settings);
  // "--version", the word other programs answer, shows the help screen as -v does.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) settings.showVersion = 1;
  }
  std::string reason;
  const bool wordsAllowed = CheckOptionWords(table, argc, argv, reason);
  const int parsed = ParseOptions(table, argc, argv);
  if (settings.showVersion || settings.showHelp) {
    PrintHelp(table, programDisplayName);
    return 0;
  }
  // A refused command line: the reason on standard error, then the help screen.
  auto refuse = [&](const std::string& why) {
    PrintRefusal(why);
    PrintHelp(table, programDisplayName);
    return 0;
  };
  if (!wordsAllowed || parsed != 1 || argc < 2 || argc > 3) {
    if (reason.empty()) reason = FileCountReason(std::vector<std::string>(argv + 1, argv + argc));
    return refuse(reason);
  }

  // A path beyond the system's limit is refused rather than cut: a shortened path could
  // name some other file. The settings record holds any path the system takes.
  static_assert(sizeof(settings.inputPath) == kPathLimit && sizeof(settings.outputPath) == kPathLimit);
  std::string input = argv[1];
  std::string output = argc == 3 ? argv[2] : "";
  if (input.size() >= kPathLimit || output.size() >= kPathLimit) {
    const std::string& word = input.size() >= kPathLimit ? input : output;
    return refuse(word.substr(0, 60) + "...: the path is " + std::to_string(word.size()) +
                  " bytes long; the system takes at most " + std::to_string(kPathLimit - 1));
  }
  // An empty word would name the current folder's parent or the root: refused, not guessed.
  if (input.empty() || (argc == 3 && output.empty())) {
    std::fprintf(stderr, "tracewright: %s: the %s name is empty\n", input.c_str(),
                 input.empty() ? "input" : "output");
    return 0;
  }

  const bool standardInput = IsStandardStreamWord(input);
  // Read from a pipe, there is no name to put an output beside: it goes to standard output.
  if (argc != 3) output = standardInput ? "-" : DefaultOutputName(input);
  const std::string problem = OutputWordProblem(input, output);
  if (!problem.empty()) return refuse(problem);
  if (!standardInput && !IsAbsolutePath(input) && FileExists(input) && !MakeFullPath(input))
    return refuse(input + ": the full path cannot be made or is too long");
  if (!output.empty() && !IsAbsolutePath(output) && !IsStandardOutputWord(output) &&
      !MakeFullPath(output))
    return refuse(output + ": the full path cannot be made or is too long");
  // Made full, both fit; only an output name made from the input's may not.
  if (!StoreText(settings.inputPath, input) || !StoreText(settings.outputPath, output)) {
    return refuse(input + ": the output's name would be " + std::to_string(output.size()) +
                  " bytes long; the system takes at most " + std::to_string(kPathLimit - 1));
  }
  ReportIgnoredOptions(settings);
  return 1;
}
