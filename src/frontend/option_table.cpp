#include "frontend/option_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void RemoveWords(int index, int count, int& argc, char** argv) {
  for (int i = index; i + count < argc; ++i) argv[i] = argv[i + count];
  argc -= count;
}

// Removes an option word, with its value when the value was taken; returns 1 when it was,
// 0 when the option went without its value.
int RemoveOptionWords(bool valueTaken, int index, int& argc, char** argv) {
  RemoveWords(index, valueTaken ? 2 : 1, argc, argv);
  return valueTaken ? 1 : 0;
}

const char* KindSuffix(int32_t kind) {
  switch (kind) {
    case kOptionInt:
    case kOptionIntUsageOnly:
      return " <int>";
    case kOptionReal:
    case kOptionRealUsageOnly:
      return " <fp>";
    case kOptionString:
    case kOptionStringUsageOnly:
      return " <string>";
    default:
      return "";
  }
}

}  // namespace

int IsIntegerText(const char* text) {
  const char* p = text;
  if (*p == '-' || *p == '+') ++p;
  while (IsDigit(*p)) ++p;
  return *p == '\0';
}

int IsRealText(const char* text) {
  const char* p = text;
  bool digits = false;
  if (*p == '-' || *p == '+') ++p;
  while (IsDigit(*p)) ++p, digits = true;
  if (*p == '.') ++p;
  while (IsDigit(*p)) ++p, digits = true;
  if (digits && (*p == 'e' || *p == 'E')) {
    ++p;
    if (*p == '-' || *p == '+') ++p;
    if (!IsDigit(*p)) return 0;
    while (IsDigit(*p)) ++p;
  }
  return *p == '\0';
}

const OptionDescriptor* FindOption(const OptionDescriptor* table, const char* word) {
  for (const OptionDescriptor* row = table; row->name != nullptr; ++row) {
    if (row->kind < kOptionFlagUsageOnly && std::strcmp(row->name, word) == 0) return row;
  }
  return nullptr;
}

int ConsumeOption(const OptionDescriptor* row, int index, int& argc, char** argv) {
  const bool hasValue = index + 1 < argc;
  const char* value = hasValue ? argv[index + 1] : nullptr;
  switch (row->kind) {
    case kOptionFlag:
      *static_cast<int32_t*>(row->target) = 1;
      RemoveWords(index, 1, argc, argv);
      return 1;
    case kOptionInt: {
      const bool taken = hasValue && IsIntegerText(value);
      if (taken) *static_cast<int32_t*>(row->target) = std::atoi(value);
      return RemoveOptionWords(taken, index, argc, argv);
    }
    case kOptionReal: {
      const bool taken = hasValue && IsRealText(value);
      if (taken) *static_cast<double*>(row->target) = std::atof(value);
      return RemoveOptionWords(taken, index, argc, argv);
    }
    case kOptionString: {
      const bool taken = hasValue && row->capacity > 0;
      if (taken) {
        char* target = static_cast<char*>(row->target);
        const size_t capacity = static_cast<size_t>(row->capacity);
        std::strncpy(target, value, capacity - 1);
        target[capacity - 1] = '\0';
      }
      return RemoveOptionWords(taken, index, argc, argv);
    }
    default:
      std::printf("Internal error in arg table\n");
      RemoveWords(index, 1, argc, argv);
      return 1;
  }
}

int ParseOptions(const OptionDescriptor* table, int& argc, char** argv) {
  int result = 1;
  int index = 1;
  while (index < argc) {
    if (std::strcmp(argv[index], "--") == 0) {
      RemoveWords(index, 1, argc, argv);
      break;
    }
    const OptionDescriptor* row = FindOption(table, argv[index]);
    if (row == nullptr) {
      ++index;
      continue;
    }
    if (ConsumeOption(row, index, argc, argv) == 0) result = 0;
  }
  return result;
}

void PrintUsage(const char* programName, const char* positionalText, const OptionDescriptor* table) {
  int width = 0;
  for (const OptionDescriptor* row = table; row->name != nullptr; ++row) {
    const int length = static_cast<int>(std::strlen(row->name));
    if (length > width) width = length;
  }
  std::printf("Usage: %s [options]", programName);
  if (positionalText != nullptr) std::printf(" %s", positionalText);
  std::printf("\n");
  for (const OptionDescriptor* row = table; row->name != nullptr; ++row) {
    const int field = width - static_cast<int>(std::strlen(row->name)) + 9;
    std::printf("  %s", row->name);
    std::printf("%-*s", field, KindSuffix(row->kind));
    if (row->help != nullptr) std::printf(": %s", row->help);
    std::printf("\n");
  }
}
