#pragma once
// Small helpers shared by the test programs.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh private folder under $TMPDIR (or /tmp), removed with its contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);
bool Exists(const std::string& path);

// The public image corpus (../shared/corpus), or "" when it is absent.
std::string CorpusDir();

}  // namespace testsupport

namespace testsupport {

struct CommandResult {
  int status = -1;         // exit code, or 128 + signal number
  std::string out;         // standard output
  std::string err;         // standard error
};

// Runs argv[0] (a path) with the given arguments in folder cwd ("" = current), with
// standard input from /dev/null and optional extra environment entries ("NAME=value").
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& cwd = "",
                         const std::vector<std::string>& extraEnv = {});

// Path of the built tracewright program.
std::string TracewrightPath();

}  // namespace testsupport
