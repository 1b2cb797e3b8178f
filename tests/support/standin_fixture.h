#pragma once
// A copy of tracewright in a scratch folder, with stand-in or real engines beside it.
#include <string>
#include <vector>

#include "support/test_support.h"

class ScratchInstall {
 public:
  ScratchInstall();
  // Places the recording stand-in beside the program under the engine's name.
  void AddStandIn(const std::string& engine);
  // Links a real engine program beside the program.
  void AddLink(const std::string& engine, const std::string& target);

  std::string program() const { return dir_.file("bin/tracewright"); }
  std::string work(const std::string& name = "") const { return dir_.file("work/" + name); }
  std::string records() const { return dir_.file("rec"); }
  std::string tmp() const { return dir_.file("tmp"); }

  std::string root() const { return dir_.path(); }

  // Runs the copy in the work folder, with TMPDIR and the stand-in's record folder set;
  // `wrapper` (such as setpriv and its options) goes in front of the program.
  testsupport::CommandResult Run(const std::vector<std::string>& args,
                                 const std::vector<std::string>& extraEnv = {},
                                 const std::vector<std::string>& wrapper = {}) const;
  // Arguments of the n-th engine call, one per element.
  std::vector<std::string> CallArgs(int n) const;
  std::vector<std::string> TmpEntries() const;

 private:
  testsupport::ScratchDir dir_;
};

// True when Debian's potrace is installed, for the tests that run the real engine.
bool HasPotrace();
// A file's whole contents; the names in a folder ("." and ".." left out), unsorted.
std::string FileText(const std::string& path);
std::vector<std::string> FolderEntries(const std::string& folder);
bool EndsWith(const std::string& text, const std::string& end);
// Black disc of radius 15 around (30, 20) on near-white, for WriteGreyImage.
unsigned char Disc(int x, int y);

// A 24-bit image in the given format; pixel (x, y) from the top has grey value grey(x, y).
bool WriteGreyImage(const std::string& path, unsigned format, int width, int height,
                    unsigned char (*grey)(int x, int y));
