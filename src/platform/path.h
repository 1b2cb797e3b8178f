#pragma once
// Path splitting and joining with the conventions the rest of the program expects:
// '/' separates folders, the drive part is always empty.
#include <cstddef>
#include <string>
#include <string_view>

// Longest path the program builds or accepts, terminating zero included.
inline constexpr std::size_t kPathLimit = 4096;

struct PathParts {
  std::string drive;  // always empty on this platform
  std::string dir;    // up to and including the last '/'
  std::string fname;  // file stem
  std::string ext;    // from the last '.' of the last component, dot included
};

// ".profile" splits into an empty stem and the extension ".profile".
PathParts SplitPath(std::string_view path);

// Joins drive, folder, stem and extension; a '/' is put after a non-empty folder that lacks
// one, and a '.' before an extension that lacks one.
std::string MakePath(std::string_view drive, std::string_view dir, std::string_view fname,
                     std::string_view ext);

// True when the path begins with '/'.
bool IsAbsolutePath(std::string_view path);

// Joins the current folder and a relative path and resolves "." and ".." lexically
// (links are not resolved). False when the current folder is unknown or the result would
// not fit kPathLimit.
bool FullPath(std::string_view path, std::string& out);

// Case-insensitive comparison of byte strings (ASCII letters only), like _stricmp, and the
// one letter rule it and the folder search use.
char LowerAscii(char c);
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualNoCase(std::string_view a, std::string_view b);
