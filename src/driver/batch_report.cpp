#include "driver/batch_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace {

void AppendJson(std::string& line, const std::string& text) {
  line += '"';
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      line += '\\';
      line += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  line += '"';
}

void AppendField(std::string& line, const char* name, const std::string& text) {
  line += line.size() > 1 ? ",\"" : "\"";
  line += name;
  line += "\":";
  AppendJson(line, text);
}

void AppendNumber(std::string& line, const char* name, double value, bool whole) {
  char number[48];
  if (whole) {
    std::snprintf(number, sizeof(number), "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(number, sizeof(number), "%.3f", value);
  }
  line += line.size() > 1 ? ",\"" : "\"";
  line += name;
  line += "\":";
  line += number;
}

void WriteLine(int fd, std::string line) {
  if (fd < 0) return;
  line += "}\n";
  WriteAll(fd, line.data(), line.size());
}

std::string Clock(double seconds) {
  const long total = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof(text), "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

bool OpenBatchReport(const std::string& where, int& fd, std::string& why) {
  fd = -1;
  if (where.empty()) return true;
  if (where == "-") {
    fd = STDERR_FILENO;
    return true;
  }
  if (where.find_first_not_of("0123456789") == std::string::npos && where.size() < 8) {
    const int number = std::stoi(where);
    const int flags = ::fcntl(number, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
      why = "descriptor " + where + " is not open for writing";
      return false;
    }
    fd = number;
    return true;
  }
  fd = ::open(where.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    why = where + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void WriteImageRecord(int fd, const ImageRecord& record) {
  std::string line = "{";
  AppendField(line, "type", "image");
  AppendField(line, "input", record.input);
  AppendField(line, "kind", record.kind);
  AppendNumber(line, "image", record.image, true);
  AppendNumber(line, "images", record.images, true);
  AppendField(line, "asked", record.asked);
  AppendField(line, "written", record.written);
  AppendField(line, "status", record.status);
  AppendField(line, "reason", record.reason);
  AppendField(line, "engine", record.engine);
  AppendNumber(line, "seconds", record.seconds, false);
  AppendNumber(line, "bytes", static_cast<double>(record.bytes), true);
  WriteLine(fd, line);
}

void WriteBatchTotals(int fd, const BatchTotals& totals) {
  std::string line = "{";
  AppendField(line, "type", "summary");
  AppendNumber(line, "jobs", totals.jobs, true);
  AppendNumber(line, "images", totals.images, true);
  AppendNumber(line, "written", totals.written, true);
  AppendNumber(line, "skipped", totals.skipped, true);
  AppendNumber(line, "failed", totals.failed, true);
  AppendNumber(line, "seconds", totals.seconds, false);
  WriteLine(fd, line);
}

ProgressLine::ProgressLine(int setting)
    : wanted_(setting == 1 || (setting < 0 && ::isatty(STDERR_FILENO) == 1)), start_(std::chrono::steady_clock::now()) {}

void ProgressLine::Show(int done, int total, int failed) {
  if (!wanted_ || total <= 1) return;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string left = "--:--";
  if (done > 0) left = Clock(elapsed / done * (total - done));
  std::fprintf(stderr, "\r\033[K%d of %d images, %d failed, %s elapsed, %s left", done, total, failed,
               Clock(elapsed).c_str(), left.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}
