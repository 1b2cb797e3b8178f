// In-memory files: create-new rules, visibility, and starting them as programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/memfile_registry.h"
#include "platform/process.h"
#include "support/test_support.h"

using testsupport::ScratchDir;

namespace {

std::vector<char> ReadProgram(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool CreateWith(const std::string& path, const std::vector<char>& bytes) {
  const int handle = CreateMemFile(path);
  if (handle < 0) return false;
  const bool written = WriteMemFile(handle, bytes.data(), bytes.size());
  return CloseMemFile(handle) && written;
}

void StartLayer() {
  StartMemFileLayer();
  SetMemFileLayerOption(kMemFileAnswerQueries, 1);
  SetMemFileLayerOption(kMemFileStartable, 1);
}

bool NothingOnDisk(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) != 0;
}

}  // namespace

TEST(MemFileRegistry, CreateNewRulesAndVisibility) {
  ScratchDir dir;
  const std::string path = dir.file("tool");
  const std::vector<char> bytes = {'a', 'b', 'c'};
  int fd = -1;
  if (MemFileLayerStartCount() == 0) {
    EXPECT_EQ(CreateMemFile(path), -1) << "nothing is created before the layer starts";
  }
  StartLayer();

  const int handle = CreateMemFile(path);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(CreateMemFile(path), -1) << "the path is taken from creation on";
  EXPECT_TRUE(WriteMemFile(handle, bytes.data(), bytes.size()));
  EXPECT_FALSE(FileExists(path)) << "visible only once written and closed";
  EXPECT_TRUE(CloseMemFile(handle));
  EXPECT_FALSE(WriteMemFile(handle, bytes.data(), 1));
  EXPECT_FALSE(CloseMemFile(handle));
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FolderExists(path));
  EXPECT_TRUE(NothingOnDisk(path));
  ASSERT_TRUE(LookupMemFile(path, fd));
  char back[8] = {};
  EXPECT_EQ(pread(fd, back, sizeof(back), 0), 3);
  EXPECT_EQ(std::string(back), "abc");
  EXPECT_EQ(write(fd, "x", 1), -1) << "a closed file is read-only";
  EXPECT_EQ(CreateMemFile(path), -1);

  // Anything on disk at the path wins: a file, a folder, a dangling link.
  ASSERT_TRUE(testsupport::WriteText(dir.file("real"), "real"));
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.file("missing").c_str(), dir.file("dangling").c_str()), 0);
  for (const char* name : {"real", "folder", "dangling"}) {
    EXPECT_EQ(CreateMemFile(dir.file(name)), -1) << name;
  }
  EXPECT_EQ(CreateMemFile(""), -1);
  EXPECT_EQ(CreateMemFile(dir.path() + "/"), -1);

  // The options decide whether queries and process start see the files.
  SetMemFileLayerOption(kMemFileAnswerQueries, 0);
  EXPECT_FALSE(FileExists(path));
  SetMemFileLayerOption(kMemFileStartable, 0);
  EXPECT_FALSE(LookupMemFile(path, fd));
  StartLayer();
  EXPECT_TRUE(FileExists(path));
}

TEST(MemFileRegistry, StartsAsProgramWithoutOtherInMemoryFiles) {
  StartLayer();
  ScratchDir dir;
  const std::vector<char> argdump = ReadProgram(std::string(TW_BINARY_DIR) + "/testtools/argdump");
  const std::vector<char> lister = ReadProgram("/bin/ls");
  ASSERT_FALSE(argdump.empty());
  ASSERT_FALSE(lister.empty());
  ASSERT_TRUE(CreateWith(dir.file("argdump"), argdump));
  ASSERT_TRUE(CreateWith(dir.file("lister"), lister));

  std::string captured;
  ProcessResult run = RunProcess({dir.file("argdump"), "a b", "\""}, captured);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(captured, "612062\n22\n");

  // The child holds its own program's descriptor and no other in-memory file.
  captured.clear();
  run = RunProcess({dir.file("lister"), "-l", "/proc/self/fd"}, captured);
  EXPECT_EQ(run.exitStatus, 0);
  std::size_t memfds = 0;
  for (std::size_t at = captured.find("memfd:"); at != std::string::npos;
       at = captured.find("memfd:", at + 1)) {
    ++memfds;
  }
  EXPECT_EQ(memfds, 1u) << captured;
  EXPECT_NE(captured.find("memfd:lister"), std::string::npos) << captured;
}
