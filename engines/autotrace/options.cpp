#include "options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <variant>

namespace at {
namespace {

// Where an option's value goes: the member's type says what the option takes (a flag, a
// whole number, a number, a text or a colour).
using Target =
    std::variant<bool Options::*, int Options::*, double Options::*, std::string Options::*, Rgb Options::*>;

struct OptionDef {
  const char* name;
  Target target;
  double min;  // numbers only
  double max;
  const char* help;
};

constexpr OptionDef kOptions[] = {
    {"background-color", &Options::background, 0, 0, "RRGGBB: this colour is not traced"},
    {"centerline", &Options::centerline, 0, 0, "trace the centre-lines of strokes instead of outlines"},
    {"color-count", &Options::colorCount, 0, 256, "N: reduce to at most N colours (0 = no reduction, the default)"},
    {"corner-always-threshold", &Options::cornerAlwaysThreshold, 0, 180, "DEG: sharper angles are always corners (default 60)"},
    {"corner-surround", &Options::cornerSurround, 1, 100, "N: points on each side that measure a corner (default 4)"},
    {"corner-threshold", &Options::cornerThreshold, 0, 180, "DEG: sharper angles are corner candidates (default 100)"},
    {"despeckle-level", &Options::despeckleLevel, 0, 20, "N: merge specks of up to N*N pixels (default 0 = off)"},
    {"despeckle-tightness", &Options::despeckleTightness, 0, 8, "R: how strongly a speck takes a similar colour (default 2.0)"},
    {"dpi", &Options::dpi, 1, 100000, "R: resolution of the input; one pixel is 72/R points (default 72)"},
    {"error-threshold", &Options::errorThreshold, 0.01, 1000, "R: split curves that stray over R/8 pixels from the outline (default 2.0)"},
    {"filter-iterations", &Options::filterIterations, 0, 100, "N: smoothing passes before fitting (default 4)"},
    {"help", &Options::help, 0, 0, "print this text"},
    {"input-format", &Options::inputFormat, 0, 0, "FMT: png, pnm, pbm, pgm, ppm or bmp (default: by contents)"},
    {"line-reversion-threshold", &Options::lineReversionThreshold, 0, 1, "R: curves straighter than R times their length become lines (default 0.01)"},
    {"line-threshold", &Options::lineThreshold, 0, 1000, "R: points within R pixels of the chord make a line (default 1.0)"},
    {"list-input-formats", &Options::listInputFormats, 0, 0, "list the input formats"},
    {"list-output-formats", &Options::listOutputFormats, 0, 0, "list the output formats"},
    {"log", &Options::log, 0, 0, "write a log of the run to INPUT-NAME.log"},
    {"noise-removal", &Options::noiseRemoval, 0, 1, "R: centre-line mode; flip pixels that agree with under (1-R) of their neighbours (default 0.99)"},
    {"output-file", &Options::outputFile, 0, 0, "FILE: write here (default: standard output)"},
    {"output-format", &Options::outputFormat, 0, 0, "FMT: svg, pdf, eps, ps, dxf or emf (default: by suffix, else eps)"},
    {"preserve-width", &Options::preserveWidth, 0, 0, "centre-line mode: stroke with the measured line width"},
    {"remove-adjacent-corners", &Options::removeAdjacentCorners, 0, 0, "drop corners next to sharper corners"},
    {"report-progress", &Options::reportProgress, 0, 0, "print progress on standard error"},
    {"tangent-surround", &Options::tangentSurround, 1, 100, "N: points on each side that measure a tangent (default 3)"},
    {"version", &Options::version, 0, 0, "print the version"},
    {"width-weight-factor", &Options::widthWeightFactor, 0, 1000, "R: centre-line widths count less within R pixels of a stroke's ends (default 6.0)"},
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
  if (const auto* colour = std::get_if<Rgb Options::*>(&def.target)) {
    if (!ParseColor(value, o.**colour)) {
      error = "-" + name + ": expected a colour RRGGBB, got \"" + value + "\"";
      return false;
    }
    o.hasBackground = true;  // the one colour option
    return true;
  }
  if (const auto* text = std::get_if<std::string Options::*>(&def.target)) {
    o.**text = value;
    if (value.empty()) {
      error = "-" + name + ": empty value";
      return false;
    }
    return true;
  }
  const auto* whole = std::get_if<int Options::*>(&def.target);
  double number = 0;
  if (whole) {
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
  if (whole) o.**whole = static_cast<int>(number);
  else o.*std::get<double Options::*>(def.target) = number;
  return true;
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
    if (const auto* flag = std::get_if<bool Options::*>(&def->target)) {
      if (inlineValue) {
        error = std::string("-") + def->name + " takes no value";
        return false;
      }
      options.**flag = true;
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
