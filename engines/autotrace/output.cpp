#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace at {

const std::vector<std::string>& ListOutputFormats() {
  static const std::vector<std::string> names = {"svg", "pdf", "eps", "ps", "postscript", "dxf", "emf"};
  return names;
}

bool FormatFromName(const std::string& name, Format& format) {
  std::string n;
  for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n == "svg") format = Format::Svg;
  else if (n == "pdf") format = Format::Pdf;
  else if (n == "eps") format = Format::Eps;
  else if (n == "ps" || n == "postscript") format = Format::Ps;
  else if (n == "dxf") format = Format::Dxf;
  else if (n == "emf") format = Format::Emf;
  else return false;
  return true;
}

std::vector<PaintRun> PaintRuns(const Drawing& drawing) {
  std::vector<PaintRun> runs;
  const std::vector<Shape>& shapes = drawing.shapes;
  for (size_t i = 0; i < shapes.size(); ++i) {
    const Shape& s = shapes[i];
    if (!runs.empty()) {
      const Shape& prev = shapes[runs.back().end - 1];
      const bool joins = prev.color == s.color && prev.stroked == s.stroked &&
                         (s.stroked ? prev.width == s.width : !prev.overlaps && !s.overlaps);
      if (joins) {
        runs.back().end = i + 1;
        continue;
      }
    }
    runs.push_back(PaintRun{i, i + 1});
  }
  return runs;
}

bool HasUnderlay(const Drawing& drawing, const PaintRun& run) {
  for (size_t i = run.begin; i < run.end; ++i)
    if (!drawing.shapes[i].underlay.empty()) return true;
  return false;
}

std::string WriteDrawing(const Drawing& drawing, Format format) {
  switch (format) {
    case Format::Svg: return WriteSvg(drawing);
    case Format::Pdf: return WritePdf(drawing);
    case Format::Eps: return WriteEps(drawing, false);
    case Format::Ps: return WriteEps(drawing, true);
    case Format::Dxf: return WriteDxf(drawing);
    case Format::Emf: return WriteEmf(drawing);
  }
  return {};
}

namespace {

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A device or pipe named as the output (/dev/null, /dev/stdout, a FIFO) is written in place:
// renaming a file over it would replace the device node itself.
bool WriteToSpecialFile(const std::string& path, const std::string& bytes, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  bool ok = fd >= 0 && WriteAll(fd, bytes);
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (!ok) error = "cannot write \"" + path + "\": " + std::strerror(errno);
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  struct stat existing;
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    return WriteToSpecialFile(path, bytes, error);
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = folder + ".at-XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  const int fd = mkstemp(buf.data());
  if (fd < 0) {
    error = "cannot create a file in the folder of \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  const std::string temp = buf.data();
  bool ok = WriteAll(fd, bytes);
  // mkstemp makes the file private; give it the usual permissions of a new file.
  const mode_t mask = umask(0);
  umask(mask);
  if (ok) ok = fchmod(fd, 0666 & ~mask) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    error = "cannot write \"" + path + "\": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace at
