#include "platform/path.h"

#include <unistd.h>

#include <vector>

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  const std::size_t slash = path.rfind('/');
  std::string_view name = path;
  if (slash != std::string_view::npos) {
    parts.dir.assign(path.substr(0, slash + 1));
    name = path.substr(slash + 1);
  }
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    parts.fname.assign(name);
  } else {
    parts.fname.assign(name.substr(0, dot));
    parts.ext.assign(name.substr(dot));
  }
  return parts;
}

std::string MakePath(std::string_view drive, std::string_view dir, std::string_view fname,
                     std::string_view ext) {
  std::string out;
  out.reserve(drive.size() + dir.size() + fname.size() + ext.size() + 2);
  out.append(drive);
  out.append(dir);
  if (!dir.empty() && dir.back() != '/') out.push_back('/');
  out.append(fname);
  if (!ext.empty() && ext.front() != '.') out.push_back('.');
  out.append(ext);
  return out;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

namespace {

std::string CurrentFolder() {
  std::vector<char> buffer(kPathLimit);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return "";
  return buffer.data();
}

// Resolves "." and ".." of an absolute path without looking at the disk; ".." at the root
// stays at the root.
std::string ResolveDots(std::string_view absolute) {
  std::vector<std::string_view> parts;
  std::size_t pos = 0;
  while (pos <= absolute.size()) {
    std::size_t next = absolute.find('/', pos);
    if (next == std::string_view::npos) next = absolute.size();
    const std::string_view part = absolute.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out.push_back('/');
    out.append(part);
  }
  if (out.empty()) out = "/";
  return out;
}

}  // namespace

bool FullPath(std::string_view path, std::string& out) {
  std::string joined;
  if (IsAbsolutePath(path)) {
    joined.assign(path);
  } else {
    joined = CurrentFolder();
    if (joined.empty()) return false;
    joined.push_back('/');
    joined.append(path);
  }
  std::string resolved = ResolveDots(joined);
  // A trailing separator marks a folder; callers split the result and rely on it.
  if (!path.empty() && path.back() == '/' && resolved.back() != '/') resolved.push_back('/');
  if (resolved.size() + 1 > kPathLimit) return false;
  out = std::move(resolved);
  return true;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = static_cast<unsigned char>(LowerAscii(a[i]));
    const int cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
