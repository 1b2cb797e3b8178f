#pragma once
// Folder search with the wildcard rules users know from Windows command lines.
#include <string>
#include <string_view>
#include <vector>

// '*' matches any run, '?' one character, letters without regard to case; a pattern ending
// in ".*" also matches names without a dot, so "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Names (not paths) of the entries of the pattern's folder that match its last component,
// dot files included, "." and ".." excluded, sorted by name without regard to case
// (ties broken byte-wise). An unreadable folder gives an empty list.
std::vector<std::string> FindMatchingNames(const std::string& pattern);

// Full paths of the files (not folders) in the pattern's folder that match its last
// component, in the order of FindMatchingNames. A match whose path would not fit kPathLimit
// is left out, with a line on standard error.
std::vector<std::string> FindMatchingFiles(const std::string& pattern);
