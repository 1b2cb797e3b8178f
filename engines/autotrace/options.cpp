#include "options.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace at {
namespace {

enum class Kind { Flag, Int, Real, Text, Color };

struct OptionDef {
  const char* name;
  Kind kind;
  double min;
  double max;
  const char* help;
};

constexpr OptionDef kOptions[] = {
    {"background-color", Kind::Color, 0, 0, "RRGGBB: this colour is not traced"},
    {"centerline", Kind::Flag, 0, 0, "trace the centre-lines of strokes instead of outlines"},
    {"color-count", Kind::Int, 0, 256, "N: reduce to at most N colours (0 = no reduction, the default)"},
    {"corner-always-threshold", Kind::Real, 0, 180, "DEG: sharper angles are always corners (default 60)"},
    {"corner-surround", Kind::Int, 1, 100, "N: points on each side that measure a corner (default 4)"},
    {"corner-threshold", Kind::Real, 0, 180, "DEG: sharper angles are corner candidates (default 100)"},
    {"despeckle-level", Kind::Int, 0, 20, "N: merge specks of up to N*N pixels (default 0 = off)"},
    {"despeckle-tightness", Kind::Real, 0, 8, "R: how strongly a speck takes a similar colour (default 2.0)"},
    {"dpi", Kind::Real, 1, 100000, "R: resolution of the input; one pixel is 72/R points (default 72)"},
    {"error-threshold", Kind::Real, 0.01, 1000, "R: split curves that stray over R/8 pixels from the outline (default 2.0)"},
    {"filter-iterations", Kind::Int, 0, 100, "N: smoothing passes before fitting (default 4)"},
    {"help", Kind::Flag, 0, 0, "print this text"},
    {"input-format", Kind::Text, 0, 0, "FMT: png, pnm, pbm, pgm, ppm or bmp (default: by contents)"},
    {"line-reversion-threshold", Kind::Real, 0, 1, "R: curves straighter than R times their length become lines (default 0.01)"},
    {"line-threshold", Kind::Real, 0, 1000, "R: points within R pixels of the chord make a line (default 1.0)"},
    {"list-input-formats", Kind::Flag, 0, 0, "list the input formats"},
    {"list-output-formats", Kind::Flag, 0, 0, "list the output formats"},
    {"log", Kind::Flag, 0, 0, "write a log of the run to INPUT-NAME.log"},
    {"noise-removal", Kind::Real, 0, 1, "R: centre-line mode; flip pixels that agree with under (1-R) of their neighbours (default 0.99)"},
    {"output-file", Kind::Text, 0, 0, "FILE: write here (default: standard output)"},
    {"output-format", Kind::Text, 0, 0, "FMT: svg, pdf, eps, ps, dxf or emf (default: by suffix, else eps)"},
    {"preserve-width", Kind::Flag, 0, 0, "centre-line mode: stroke with the measured line width"},
    {"remove-adjacent-corners", Kind::Flag, 0, 0, "drop corners next to sharper corners"},
    {"report-progress", Kind::Flag, 0, 0, "print progress on standard error"},
    {"tangent-surround", Kind::Int, 1, 100, "N: points on each side that measure a tangent (default 3)"},
    {"version", Kind::Flag, 0, 0, "print the version"},
    {"width-weight-factor", Kind::Real, 0, 1000, "R: centre-line widths count less within R pixels of a stroke's ends (default 6.0)"},
};

const OptionDef* FindOption(const std::string& word, std::string& error) {
  const OptionDef* found = nullptr;
  int matches = 0;
  for (const OptionDef& def : kOptions) {
    if (word == def.name) return &def;
    if (std::strncmp(def.name, word.c_str(), word.size()) == 0) {
      found = &def;
      ++matches;
    }
  }
  if (matches == 1) return found;
  error = matches == 0 ? "unknown option -" + word : "ambiguous option -" + word;
  return nullptr;
}

bool ParseInt(const std::string& text, long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseReal(const std::string& text, double& value) {
  const char* begin = text.data();
  if (!text.empty() && text[0] == '+') ++begin;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, value);
  return ec == std::errc() && ptr == end && begin != end && std::isfinite(value);
}

bool Store(const OptionDef& def, const std::string& value, Options& o, std::string& error) {
  const std::string name = def.name;
  if (def.kind == Kind::Color) {
    if (!ParseColor(value, o.background)) {
      error = "-" + name + ": expected a colour RRGGBB, got \"" + value + "\"";
      return false;
    }
    o.hasBackground = true;
    return true;
  }
  if (def.kind == Kind::Text) {
    if (name == "input-format") o.inputFormat = value;
    else if (name == "output-file") o.outputFile = value;
    else o.outputFormat = value;
    if (value.empty()) {
      error = "-" + name + ": empty value";
      return false;
    }
    return true;
  }
  double number = 0;
  if (def.kind == Kind::Int) {
    long n = 0;
    if (!ParseInt(value, n)) {
      error = "-" + name + ": expected a whole number, got \"" + value + "\"";
      return false;
    }
    number = static_cast<double>(n);
  } else if (!ParseReal(value, number)) {
    error = "-" + name + ": expected a number, got \"" + value + "\"";
    return false;
  }
  if (number < def.min || number > def.max) {
    error = "-" + name + ": " + value + " is out of range";
    return false;
  }
  const int n = static_cast<int>(number);
  if (name == "color-count") o.colorCount = n;
  else if (name == "corner-always-threshold") o.cornerAlwaysThreshold = number;
  else if (name == "corner-surround") o.cornerSurround = n;
  else if (name == "corner-threshold") o.cornerThreshold = number;
  else if (name == "despeckle-level") o.despeckleLevel = n;
  else if (name == "despeckle-tightness") o.despeckleTightness = number;
  else if (name == "dpi") o.dpi = number;
  else if (name == "error-threshold") o.errorThreshold = number;
  else if (name == "filter-iterations") o.filterIterations = n;
  else if (name == "line-reversion-threshold") o.lineReversionThreshold = number;
  else if (name == "line-threshold") o.lineThreshold = number;
  else if (name == "noise-removal") o.noiseRemoval = number;
  else if (name == "tangent-surround") o.tangentSurround = n;
  else if (name == "width-weight-factor") o.widthWeightFactor = number;
  return true;
}

void SetFlag(const std::string& name, Options& o) {
  if (name == "centerline") o.centerline = true;
  else if (name == "help") o.help = true;
  else if (name == "list-input-formats") o.listInputFormats = true;
  else if (name == "list-output-formats") o.listOutputFormats = true;
  else if (name == "log") o.log = true;
  else if (name == "preserve-width") o.preserveWidth = true;
  else if (name == "remove-adjacent-corners") o.removeAdjacentCorners = true;
  else if (name == "report-progress") o.reportProgress = true;
  else if (name == "version") o.version = true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseColor(const std::string& text, Rgb& color) {
  std::string hex = (!text.empty() && text[0] == '#') ? text.substr(1) : text;
  if (hex.size() != 6) return false;
  uint8_t bytes[3];
  for (int i = 0; i < 3; ++i) {
    const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  color = Rgb{bytes[0], bytes[1], bytes[2]};
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool haveInput = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      if (haveInput) {
        error = "more than one input file: \"" + options.inputFile + "\" and \"" + arg + "\"";
        return false;
      }
      options.inputFile = arg;
      haveInput = true;
      continue;
    }
    std::string word = arg.substr(arg[1] == '-' ? 2 : 1);
    std::string value;
    const size_t eq = word.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue) {
      value = word.substr(eq + 1);
      word.resize(eq);
    }
    if (word.empty()) {
      error = "unknown option " + arg;
      return false;
    }
    const OptionDef* def = FindOption(word, error);
    if (def == nullptr) return false;
    if (def->kind == Kind::Flag) {
      if (inlineValue) {
        error = std::string("-") + def->name + " takes no value";
        return false;
      }
      SetFlag(def->name, options);
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = std::string("-") + def->name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!Store(*def, value, options, error)) return false;
  }
  return true;
}

std::string UsageText() {
  std::string text = "Usage: autotrace [options] input-file\n"
                     "Options take one or two dashes and may be shortened while unambiguous;\n"
                     "a value follows after a blank or '='.\n";
  for (const OptionDef& def : kOptions) {
    std::string line = std::string("  -") + def.name;
    if (line.size() < 28) line.resize(28, ' ');
    else line += ' ';
    text += line + def.help + "\n";
  }
  return text;
}

}  // namespace at
