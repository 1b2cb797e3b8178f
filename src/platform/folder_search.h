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

// Appends the full path of every file (not folder) in the pattern's folder that matches its
// last component, in the order of FindMatchingNames; returns the size of the list
// afterwards. A match whose path would not fit kPathLimit is left out and, when `tooLong` is
// given, appended there.
int CollectMatchingFiles(const std::string& pattern, std::vector<std::string>& list,
                         std::vector<std::string>* tooLong = nullptr);

// The system's error number when the pattern's folder cannot be read, else 0.
int PatternFolderError(const std::string& pattern);
