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

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
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
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
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
