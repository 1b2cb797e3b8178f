#include "driver/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "pipeline/diagnostics.h"
#include "pipeline/pdf_merge.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string g_staged;

bool StartsWith(const unsigned char* bytes, std::size_t size, const char* text, std::size_t length) {
  return size >= length && std::memcmp(bytes, text, length) == 0;
}

// A TGA file has no signature; its header is plausible when the colour-map and image types
// are ones the format defines.
bool LooksLikeTga(const unsigned char* b, std::size_t size) {
  if (size < 18) return false;
  const bool mapType = b[1] == 0 || b[1] == 1;
  const unsigned type = b[2];
  const bool imageType = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
  const unsigned depth = b[16];
  return mapType && imageType && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32);
}

bool ReadSome(int fd, unsigned char* buffer, std::size_t capacity, std::size_t& got) {
  got = 0;
  while (got < capacity) {
    const ssize_t n = ::read(fd, buffer + got, capacity - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// The files delivered for one output, in delivery order: its own name, then its numbered
// names (stem000, stem001, ...) by number. A number may be missing, when the image that was
// to take it failed.
std::vector<std::string> PublishedFiles(const std::string& base) {
  const PathParts parts = SplitPath(base);
  std::vector<std::string> found;
  CollectMatchingFiles(MakePath(parts.drive, parts.dir, parts.fname + "*", parts.ext), found);
  std::vector<std::pair<long, std::string>> numbered;
  for (std::string& path : found) {
    const std::string stem = SplitPath(path).fname;
    if (SplitPath(path).ext != parts.ext || stem.compare(0, parts.fname.size(), parts.fname) != 0) continue;
    const std::string digits = stem.substr(parts.fname.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!digits.empty() && digits.size() < 3) continue;
    numbered.emplace_back(digits.empty() ? -1 : std::stol(digits), std::move(path));
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> files;
  for (auto& [number, path] : numbered) files.push_back(std::move(path));
  return files;
}

// PostScript pages follow one another in one stream.
bool HoldsPages(const std::string& format) { return EqualNoCase(format, "ps") || EqualNoCase(format, "postscript"); }

// PDF pages are gathered into one document.
bool IsPdfFormat(const std::string& format) { return EqualNoCase(format, "pdf") || EqualNoCase(format, "pdfpage"); }

}  // namespace

std::string ExtensionFromSignature(const unsigned char* b, std::size_t size) {
  if (StartsWith(b, size, "%PDF", 4)) return ".pdf";
  if (StartsWith(b, size, "\x89PNG\r\n\x1a\n", 8)) return ".png";
  if (StartsWith(b, size, "\xff\xd8\xff", 3)) return ".jpg";
  if (StartsWith(b, size, "GIF87a", 6) || StartsWith(b, size, "GIF89a", 6)) return ".gif";
  if (StartsWith(b, size, "II*\0", 4) || StartsWith(b, size, "MM\0*", 4)) return ".tif";
  if (StartsWith(b, size, "BM", 2)) return ".bmp";
  if (size >= 12 && StartsWith(b, size, "RIFF", 4) && std::memcmp(b + 8, "WEBP", 4) == 0) return ".webp";
  if (size >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6' &&
      (b[2] == ' ' || b[2] == '\n' || b[2] == '\r' || b[2] == '\t' || b[2] == '#')) {
    return ".pnm";
  }
  if (size >= 4 && b[0] == 0x0A && b[1] <= 5 && b[2] == 1) return ".pcx";
  if (LooksLikeTga(b, size)) return ".tga";
  return "";
}

bool StageStandardInput(std::string& why) {
  std::vector<unsigned char> head(kChunk);
  std::size_t got = 0;
  if (!ReadSome(STDIN_FILENO, head.data(), head.size(), got)) {
    why = "cannot read standard input: " + SystemError(errno);
    return false;
  }
  if (got == 0) {
    why = "standard input is empty";
    return false;
  }
  const std::string extension = ExtensionFromSignature(head.data(), got);
  if (extension.empty()) {
    why = "standard input is not a picture this program reads";
    return false;
  }
  std::string path;
  if (!MakeTempPath(("-stdin" + extension).c_str(), path, why)) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = "cannot stage standard input: " + SystemError(errno);
    return false;
  }
  bool ok = WriteAll(fd, head.data(), got);
  while (ok && got == head.size()) {
    ok = ReadSome(STDIN_FILENO, head.data(), head.size(), got) && WriteAll(fd, head.data(), got);
  }
  const int error = errno;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    why = "cannot stage standard input: " + SystemError(error);
    DeleteFilePath(path);
    return false;
  }
  g_staged = path;
  return true;
}

const std::string& StagedStandardInput() { return g_staged; }

int DivertStandardOutput() {
  std::fflush(stdout);
  const int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0) return -1;
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    ::close(saved);
    return -1;
  }
  return saved;
}

bool CopyFileToDescriptor(const std::string& path, int fd, std::string& why) {
  const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) {
    why = "cannot read the traced file: " + SystemError(errno);
    return false;
  }
  // Reading our own private file does not fail in practice: a failure is the reader's side.
  const bool ok = CopyContents(from, fd);
  if (!ok) why = "cannot write standard output: " + SystemError(errno);
  ::close(from);
  return ok;
}

int WriteStandardOutput(const std::string& input, const std::string& privateOutput, const std::string& format,
                        int fd) {
  const std::vector<std::string> files = PublishedFiles(privateOutput);
  if (files.empty()) return 0;
  // A reader that has gone away is reported, not a signal that kills the run.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string read = input == "-" ? g_staged : input;
  const std::string what = EqualNoCase(SplitPath(read).ext, ".pdf") ? "page" : "frame";
  // What goes out, and how many of the traced files it holds.
  std::vector<std::string> out = {files.front()};
  std::size_t held = 1;
  std::string lost = "standard output takes one " + what + " of " + format + " (name an output file to keep them all)";
  std::string why;
  if (files.size() > 1 && HoldsPages(format)) {
    out = files;
    held = files.size();
  } else if (files.size() > 1 && IsPdfFormat(format)) {
    std::string merged;
    if (MakeTempPath(".pdf", merged, why) && MergePdfFiles(files, merged, why)) {
      out = {merged};
      held = files.size();
    } else {
      lost = "the " + what + "s could not be gathered into one PDF: " + why;
    }
  }
  int result = 1;
  for (std::size_t i = 0; i < out.size() && result == 1; ++i) {
    if (!CopyFileToDescriptor(out[i], fd, why)) {
      ReportFailure(input, why);
      result = 0;
    }
  }
  for (std::size_t i = held; i < files.size(); ++i) {
    ReportFailure(input, what + " " + std::to_string(i + 1) + " of " + std::to_string(files.size()) +
                             ": not written: " + lost);
    result = 0;
  }
  for (const std::string& file : files) DeleteFilePath(file);
  if (out.front() != files.front()) DeleteFilePath(out.front());
  return result;
}
