#pragma once
// A table-driven parser for command-line options and the matching usage printer. It knows
// nothing of the program's own options: any table of OptionDescriptor rows will do.
#include <cstdint>

enum OptionKind : int32_t {
  kOptionFlag = 0,
  kOptionInt = 1,
  kOptionReal = 2,
  kOptionString = 3,
  // Listed in the usage text but never accepted on the command line.
  kOptionFlagUsageOnly = 4,
  kOptionIntUsageOnly = 5,
  kOptionRealUsageOnly = 6,
  kOptionStringUsageOnly = 7,
};

struct OptionDescriptor {
  const char* name;  // null ends the table
  int32_t kind;      // an OptionKind code
  void* target;      // int32_t (Flag, Int), double (Real) or char buffer (String)
  int32_t capacity;  // String rows: target size in bytes, terminating zero included
  const char* help;  // may be null
};

// Consumes the recognised options and their values from argv, moving the remaining words
// down; argc is decreased accordingly. Returns 1 when every recognised option received an
// acceptable value, else 0. argv[0] is never examined or moved.
int ParseOptions(const OptionDescriptor* table, int& argc, char** argv);

// Prints "Usage: <program> [options] <positional>" and one aligned line per row.
void PrintUsage(const char* programName, const char* positionalText, const OptionDescriptor* table);

const OptionDescriptor* FindOption(const OptionDescriptor* table, const char* word);
int ConsumeOption(const OptionDescriptor* row, int index, int& argc, char** argv);
int IsIntegerText(const char* text);
int IsRealText(const char* text);
