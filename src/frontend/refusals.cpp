#include "frontend/refusals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/path.h"

namespace {

// Edit distance with adjacent swaps counted as one edit ("-tigth" is one from "-tight").
std::size_t SpellingDistance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size();
  const std::size_t m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1, 0));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

bool IsOptionWord(const char* word) { return word[0] == '-' && word[1] != '\0'; }

const char* ValueKindText(int32_t kind) {
  return kind == kOptionInt ? "a whole number" : kind == kOptionReal ? "a number" : "a value";
}

std::string QuotedForShell(const std::string& word) {
  if (word.find('\'') != std::string::npos) return word;
  return "'" + word + "'";
}

}  // namespace

std::string NearestOption(const OptionDescriptor* table, const std::string& word) {
  std::string best;
  std::size_t bestDistance = 0;
  for (const OptionDescriptor* row = table; row->name != nullptr; ++row) {
    if (row->kind >= kOptionFlagUsageOnly) continue;
    const std::size_t distance = SpellingDistance(word, row->name);
    if (best.empty() || distance < bestDistance) {
      best = row->name;
      bestDistance = distance;
    }
  }
  // Near enough: at most a third of the word's letters wrong, and never a wild guess.
  const std::size_t letters = word.size() > 1 ? word.size() - 1 : 1;
  if (best.empty() || bestDistance > std::max<std::size_t>(2, letters / 3 + 1)) return "";
  return best;
}

bool CheckOptionWords(const OptionDescriptor* table, int argc, char** argv, std::string& reason) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strcmp(word, "--") == 0) return true;
    const OptionDescriptor* row = FindOption(table, word);
    if (row == nullptr) {
      if (!IsOptionWord(word)) continue;
      const std::string nearest = NearestOption(table, word);
      reason = std::string(word) + ": unknown option";
      if (!nearest.empty()) reason += "; did you mean " + nearest + "?";
      reason += " (a file name that begins with '-' goes after --)";
      return false;
    }
    if (row->kind == kOptionFlag) continue;
    const bool hasValue = i + 1 < argc;
    const char* value = hasValue ? argv[i + 1] : "";
    const bool good = hasValue && (row->kind == kOptionInt    ? IsIntegerText(value) != 0
                                   : row->kind == kOptionReal ? IsRealText(value) != 0
                                                              : true);
    if (!good) {
      reason = std::string(row->name) + " needs " + ValueKindText(row->kind);
      if (hasValue) reason += ", not '" + std::string(value) + "'";
      return false;
    }
    ++i;
  }
  return true;
}

std::string FileCountReason(const std::vector<std::string>& words) {
  if (words.empty()) return "no input file named";
  std::string reason = std::to_string(words.size()) + " file names where one or two are expected";
  // Inputs of one folder and one extension, all but the last word: an expanded pattern.
  const PathParts first = SplitPath(words.front());
  const std::size_t inputs = words.size() - 1;
  bool alike = true;
  for (std::size_t i = 0; i < inputs; ++i) {
    const PathParts parts = SplitPath(words[i]);
    alike = alike && parts.dir == first.dir && EqualNoCase(parts.ext, first.ext);
  }
  const std::string pattern = first.dir + "*" + first.ext;
  reason += "; the shell may have expanded an unquoted pattern: quote it, as in tracewright " +
            QuotedForShell(alike ? pattern : "*.tif") + " " + QuotedForShell(words.back());
  return reason;
}

void PrintRefusal(const std::string& reason) {
  std::fprintf(stderr, "tracewright: %s\n", reason.c_str());
  std::fflush(stderr);
}

void ReportIgnoredOptions(const ConversionSettings& s) {
  if (s.secondMethod) {
    struct Given {
      const char* name;
      bool given;
    };
    const Given outlineOnly[] = {
        {"-pagesize", s.pageSize[0] != '\0'},   {"-width", s.width[0] != '\0'},
        {"-height", s.height[0] != '\0'},       {"-res", s.resolution[0] != '\0'},
        {"-rotate", s.rotation[0] != '\0'},     {"-margin", s.margin[0] != '\0'},
        {"-lmargin", s.leftMargin[0] != '\0'},  {"-rmargin", s.rightMargin[0] != '\0'},
        {"-tmargin", s.topMargin[0] != '\0'},   {"-bmargin", s.bottomMargin[0] != '\0'},
        {"-tight", s.tight != 0},               {"-linecolor", s.lineColor[0] != '\0'},
        {"-opaque", s.opaque != 0},             {"-speckle", s.speckleSize != 0},
        {"-invert", s.invert != 0},             {"-svggroup", s.svgGroup != 0},
        {"-svgflat", s.svgFlat != 0},           {"-bwthreshold", s.bwThreshold != 0},
    };
    for (const Given& option : outlineOnly) {
      if (option.given) PrintRefusal(std::string(option.name) + " has no effect with -method2");
    }
  } else {
    if (s.centerline) PrintRefusal("-centerline has no effect without -method2");
    if (s.bwThreshold != 0 && EffectiveThreshold(s) != s.bwThreshold) {
      PrintRefusal("-bwthreshold " + std::to_string(s.bwThreshold) + " is outside 11-254: 240 is used");
    }
  }
}
