#include "support/standin_fixture.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "image/core/image.h"

namespace {

void CopyExecutable(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  chmod(to.c_str(), 0755);
}

}  // namespace

ScratchInstall::ScratchInstall() {
  for (const char* sub : {"bin", "work", "rec", "tmp"}) mkdir(dir_.file(sub).c_str(), 0755);
  CopyExecutable(testsupport::TracewrightPath(), program());
}

void ScratchInstall::AddStandIn(const std::string& engine) {
  CopyExecutable(std::string(TW_BINARY_DIR) + "/testtools/standin_engine", dir_.file("bin/" + engine));
}

void ScratchInstall::AddLink(const std::string& engine, const std::string& target) {
  symlink(target.c_str(), dir_.file("bin/" + engine).c_str());
}

testsupport::CommandResult ScratchInstall::Run(const std::vector<std::string>& args,
                                               const std::vector<std::string>& extraEnv,
                                               const std::vector<std::string>& wrapper) const {
  std::vector<std::string> argv = wrapper;
  argv.push_back(program());
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = {"TMPDIR=" + tmp(), "TW_STANDIN_DIR=" + records()};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  return testsupport::RunCommand(argv, work(), env);
}

std::vector<std::string> ScratchInstall::CallArgs(int n) const {
  std::ifstream in(records() + "/call-" + std::to_string(n) + ".args");
  std::vector<std::string> args;
  for (std::string line; std::getline(in, line);) args.push_back(line);
  return args;
}

std::vector<std::string> ScratchInstall::TmpEntries() const { return FolderEntries(tmp()); }

bool HasPotrace() { return testsupport::Exists("/usr/bin/potrace"); }

std::string FileText(const std::string& path) {
  const auto bytes = testsupport::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

unsigned char Disc(int x, int y) {
  const int dx = x - 30, dy = y - 20;
  return dx * dx + dy * dy < 225 ? 0 : 250;
}

bool WriteGreyImage(const std::string& path, unsigned format, int width, int height,
                    unsigned char (*grey)(int x, int y)) {
  CxImage image(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24, format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned char g = grey(x, y);
      image.PutColour(x, height - 1 - y, RgbQuad{g, g, g, 0});
    }
  }
  return image.Save(path.c_str(), format);
}
