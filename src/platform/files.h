#pragma once
// File queries and simple file operations.
#include <string>

struct FileAttributes {
  bool exists = false;
  bool isFolder = false;
};

// stat() following links; in-memory engine files registered at their tool paths count as
// existing files.
FileAttributes QueryFileAttributes(const std::string& path);
bool FileExists(const std::string& path);    // exists, file or folder
bool FolderExists(const std::string& path);  // exists and is a folder

// Byte copy; an existing destination is overwritten. False on any failure.
bool CopyFileOverwrite(const std::string& from, const std::string& to);

// Equal ignoring letter case, or both name the same existing file (device and inode).
bool IsSameFile(const std::string& a, const std::string& b);

// Deletes a file; failure is reported by the result only.
bool DeleteFilePath(const std::string& path);

// Absolute path of the running executable (/proc/self/exe), or "" when unknown.
std::string OwnExecutablePath();
