// In-memory files: create-new rules, visibility, and starting them as programs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/memfile_registry.h"
#include "platform/process.h"
#include "platform/temp_files.h"
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

// A producer handing out `bytes` in two stretches and counting its calls.
MemFileProducer CountingProducer(const std::vector<char>& bytes, int& calls) {
  return [&bytes, &calls](const MemFileSink& sink) {
    ++calls;
    const std::size_t half = bytes.size() / 2;
    return sink(bytes.data(), half) && sink(bytes.data() + half, bytes.size() - half);
  };
}

// Descriptors of this process that are in-memory files named `name`.
int OpenMemFds(const std::string& name) {
  std::string captured;
  RunProcess({"/bin/ls", "-l", "/proc/" + std::to_string(getpid()) + "/fd"}, captured);
  int count = 0;
  for (std::size_t at = captured.find("memfd:" + name + " "); at != std::string::npos;
       at = captured.find("memfd:" + name + " ", at + 1)) {
    ++count;
  }
  return count;
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

TEST(MemFileRegistry, OnDemandFileIsMadeOnceWhenFirstStarted) {
  StartLayer();
  ScratchDir dir;
  const std::vector<char> argdump = ReadProgram(std::string(TW_BINARY_DIR) + "/testtools/argdump");
  ASSERT_FALSE(argdump.empty());
  int calls = 0;
  const std::string path = dir.file("lazytool");
  ASSERT_TRUE(RegisterMemFileOnDemand(path, CountingProducer(argdump, calls)));
  EXPECT_TRUE(FileExists(path)) << "the path exists from registration on";
  EXPECT_TRUE(NothingOnDisk(path));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(OpenMemFds("lazytool"), 0) << "nothing is made before the first start";
  EXPECT_FALSE(RegisterMemFileOnDemand(path, CountingProducer(argdump, calls)));
  EXPECT_EQ(CreateMemFile(path), -1);

  for (int run = 0; run < 2; ++run) {
    std::string captured;
    const ProcessResult result = RunProcess({path, "x"}, captured);
    EXPECT_TRUE(result.started) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(captured, "78\n");
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(OpenMemFds("lazytool"), 1);

  // A producer that fails leaves a path that exists but cannot start, and says so.
  const std::string broken = dir.file("broken");
  ASSERT_TRUE(RegisterMemFileOnDemand(broken, [](const MemFileSink&) { return false; }));
  std::string captured;
  const ProcessResult result = RunProcess({broken}, captured);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.error.rfind("cannot run broken: ", 0), 0u) << result.error;
  // Something on disk at the path keeps it.
  ASSERT_TRUE(testsupport::WriteText(dir.file("real"), "real"));
  EXPECT_FALSE(RegisterMemFileOnDemand(dir.file("real"), CountingProducer(argdump, calls)));
}

TEST(MemFileRegistry, StartsFromTemporaryFolderWhereMemoryMayNotRun) {
  StartLayer();
  SetMemFileLayerOption(kMemFileStartFromDisk, 1);
  ScratchDir dir;
  const std::vector<char> argdump = ReadProgram(std::string(TW_BINARY_DIR) + "/testtools/argdump");
  int calls = 0;
  ASSERT_TRUE(RegisterMemFileOnDemand(dir.file("ondisk"), CountingProducer(argdump, calls)));
  ASSERT_TRUE(CreateWith(dir.file("eager"), argdump));
  for (const char* name : {"ondisk", "eager", "ondisk"}) {
    std::string captured;
    const ProcessResult result = RunProcess({dir.file(name), "x"}, captured);
    EXPECT_TRUE(result.started) << name << ": " << result.error;
    EXPECT_EQ(captured, "78\n") << name;
  }
  EXPECT_EQ(calls, 1) << "written once, straight to disk";
  EXPECT_EQ(OpenMemFds("ondisk"), 0);
  // The copies sit in the run's private folder, listed for deletion, and run nowhere else.
  const std::string folder = TempFolderPath();
  ASSERT_FALSE(folder.empty());
  std::vector<std::string> copies;
  for (const std::string& listed : TempFileListSnapshot()) {
    if (listed.size() > 7 && (listed.ends_with(".ondisk") || listed.ends_with(".eager"))) {
      copies.push_back(listed);
      EXPECT_EQ(listed.rfind(folder + "/", 0), 0u) << listed;
      struct stat st;
      ASSERT_EQ(stat(listed.c_str(), &st), 0) << listed;
      EXPECT_EQ(st.st_mode & 0777, 0700u) << listed;
    }
  }
  EXPECT_EQ(copies.size(), 2u);
  EXPECT_TRUE(NothingOnDisk(dir.file("ondisk")));
  DeleteTempFiles();
  SetMemFileLayerOption(kMemFileStartFromDisk, 0);
}

TEST(MemFileRegistry, NoexecTemporaryFolderGivesOneClearReason) {
  if (!TempFolderPath().empty()) GTEST_SKIP() << "this run's temporary folder is already made";
  ScratchDir dir;
  const std::string mountPoint = dir.file("noexec");
  ASSERT_EQ(mkdir(mountPoint.c_str(), 0700), 0);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOEXEC | MS_NOSUID, "size=8m") != 0) {
    GTEST_SKIP() << "cannot mount a noexec tmpfs here (needs root)";
  }
  const char* oldTmp = getenv("TMPDIR");
  const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
  setenv("TMPDIR", mountPoint.c_str(), 1);
  StartLayer();
  SetMemFileLayerOption(kMemFileStartFromDisk, 1);
  const std::vector<char> argdump = ReadProgram(std::string(TW_BINARY_DIR) + "/testtools/argdump");
  int calls = 0;
  ASSERT_TRUE(RegisterMemFileOnDemand(dir.file("potrace"), CountingProducer(argdump, calls)));
  std::string captured;
  const ProcessResult result = RunProcess({dir.file("potrace"), "x"}, captured);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(captured, "");
  const std::string folder = TempFolderPath();
  EXPECT_EQ(folder.rfind(mountPoint + "/trw-", 0), 0u) << folder;
  EXPECT_EQ(result.error, "cannot run potrace: the temporary folder " + folder +
                              " does not allow programs to run (noexec)");
  EXPECT_EQ(calls, 0) << "nothing is written where it cannot run";

  DeleteTempFiles();
  SetMemFileLayerOption(kMemFileStartFromDisk, 0);
  if (savedTmp.empty()) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", savedTmp.c_str(), 1);
  }
  EXPECT_EQ(umount(mountPoint.c_str()), 0);
}
