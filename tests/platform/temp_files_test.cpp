#include "platform/temp_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "pipeline/child_runner.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace {

// Points $TMPDIR at a scratch folder for one test and puts it back afterwards.
class TempDirOverride {
 public:
  explicit TempDirOverride(const std::string& dir) {
    const char* old = std::getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TempDirOverride() {
    if (hadOld_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

bool IsTempName(const std::string& name, const std::string& suffix) {
  if (name.size() != 11 + suffix.size() || name.compare(0, 3, "trw") != 0) return false;
  for (int i = 3; i < 7; ++i) {
    if (!std::strchr("0123456789ABCDEF", name[i])) return false;
  }
  return name.compare(7, 4, ".tmp") == 0 && name.compare(11, std::string::npos, suffix) == 0;
}

TEST(TempFiles, NamesAreFreshPrivateAndDeletedWithTheirFolder) {
  testsupport::ScratchDir scratch;
  TempDirOverride tmp(scratch.path());
  DeleteTempFiles();
  ASSERT_EQ(TempFolderPath(), "") << "a folder from an earlier test was left behind";

  const std::size_t listed = TempFileListSnapshot().size();
  char untouched[8] = "keep";
  EXPECT_EQ(MakeTempFileName(0, untouched, ".png"), 0);
  EXPECT_STREQ(untouched, "keep");
  EXPECT_EQ(TempFileListSnapshot().size(), listed);
  EXPECT_EQ(TempFolderPath(), "");

  std::set<std::string> names;
  std::vector<std::string> made;
  for (int i = 0; i < 300; ++i) {
    char buffer[260];
    const char* suffix = (i % 3 == 0) ? nullptr : (i % 3 == 1 ? ".png" : ".bmp");
    const int length = MakeTempFileName(sizeof buffer, buffer, suffix);
    ASSERT_EQ(length, static_cast<int>(std::strlen(buffer)));
    const std::string path = buffer;
    const std::string folder = TempFolderPath();
    ASSERT_EQ(path.compare(0, folder.size() + 1, folder + "/"), 0) << path;
    EXPECT_TRUE(IsTempName(path.substr(folder.size() + 1), suffix ? suffix : "")) << path;
    names.insert(path);
    made.push_back(path);
    if (i % 10 == 0) {
      ASSERT_TRUE(testsupport::WriteText(path, "x"));
    }
  }
  EXPECT_EQ(names.size(), 300u);
  std::vector<std::string> list = TempFileListSnapshot();
  ASSERT_EQ(list.size(), listed + 300);
  EXPECT_TRUE(std::equal(made.begin(), made.end(), list.begin() + listed));

  const std::string folder = TempFolderPath();
  EXPECT_EQ(folder.compare(0, scratch.path().size() + 1, scratch.path() + "/"), 0);
  struct stat st;
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Too small a buffer: nothing listed, an empty name, nothing printed.
  char small[20] = "keep";
  testing::internal::CaptureStderr();
  EXPECT_EQ(MakeTempFileName(sizeof small, small, ".png"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(small, "");
  EXPECT_EQ(TempFileListSnapshot().size(), listed + 300);

  // A file held in memory: a fresh name that file queries find and the disk does not hold,
  // given up when released; the thread's next one is the same file, from its start, under a
  // new name.
  // Released files on disk are deleted.
  std::string why, held, next;
  int fd = -1;
  ASSERT_TRUE(MakeMemoryTempFile(".bmp", 100, held, fd, why)) << why;
  EXPECT_EQ(MemoryTempFile(held), fd);
  EXPECT_TRUE(FileExists(held));
  EXPECT_FALSE(testsupport::Exists(held));
  ASSERT_EQ(::write(fd, "served", 6), 6);
  ReleaseTempFile(held);
  EXPECT_EQ(MemoryTempFile(held), -1);
  EXPECT_FALSE(FileExists(held));
  int again = -1;
  ASSERT_TRUE(MakeMemoryTempFile(".bmp", 100, next, again, why));
  EXPECT_NE(next, held);
  EXPECT_EQ(again, fd);
  EXPECT_EQ(::lseek(again, 0, SEEK_CUR), 0);
  // Beyond the budget nothing more is held: such files go to disk.
  std::string beyond;
  int none = -1;
  EXPECT_FALSE(MakeMemoryTempFile(".bmp", kMemoryTempBudget - 99, beyond, none, why));
  EXPECT_TRUE(MakeMemoryTempFile(".bmp", kMemoryTempBudget - 100, beyond, none, why)) << why;
  ReleaseTempFile(beyond);
  ASSERT_TRUE(testsupport::WriteText(made[2], "served"));
  ReleaseTempFile(made[2]);
  EXPECT_FALSE(testsupport::Exists(made[2]));

  ASSERT_TRUE(testsupport::WriteText(made[5], "last"));
  DeleteTempFiles();
  EXPECT_EQ(MemoryTempFile(next), -1);
  EXPECT_EQ(::fcntl(again, F_GETFD), -1);  // let go with the rest
  for (const std::string& path : made) EXPECT_FALSE(testsupport::Exists(path)) << path;
  EXPECT_FALSE(testsupport::Exists(folder));
  EXPECT_EQ(TempFolderPath(), "");
  EXPECT_EQ(TempFileListSnapshot().size(), listed + 300);  // the list keeps its entries
}

TEST(TempFiles, RegisterIgnoresCaseAndFolderKeepsUnlistedFiles) {
  testsupport::ScratchDir scratch;
  TempDirOverride tmp(scratch.path());
  DeleteTempFiles();
  char base[260];
  ASSERT_GT(MakeTempFileName(sizeof base, base, ".png"), 0);
  const std::string page = std::string(base) + "-0001.png";
  std::string upper = page;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::size_t before = TempFileListSnapshot().size();
  RegisterTempFile(page.c_str());
  RegisterTempFile(upper.c_str());
  RegisterTempFile(page.c_str());
  RegisterTempFile(nullptr);
  EXPECT_EQ(TempFileListSnapshot().size(), before + 1);
  EXPECT_EQ(TempFileListSnapshot().back(), page);

  // A file nobody listed keeps the folder alive.
  ASSERT_TRUE(testsupport::WriteText(page, "page"));
  const std::string stray = TempFolderPath() + "/stray";
  ASSERT_TRUE(testsupport::WriteText(stray, "x"));
  const std::string folder = TempFolderPath();
  DeleteTempFiles();
  EXPECT_FALSE(testsupport::Exists(page));
  EXPECT_TRUE(testsupport::Exists(stray));
  EXPECT_EQ(TempFolderPath(), folder);
  ASSERT_EQ(unlink(stray.c_str()), 0);
  DeleteTempFiles();
  EXPECT_EQ(TempFolderPath(), "");
}

TEST(TempFiles, UnusableTempFolderGivesAnEmptyName) {
  testsupport::ScratchDir scratch;
  DeleteTempFiles();
  ASSERT_EQ(TempFolderPath(), "");
  TempDirOverride tmp(scratch.file("does-not-exist"));
  const std::size_t before = TempFileListSnapshot().size();
  char buffer[260] = "keep";
  testing::internal::CaptureStderr();
  EXPECT_EQ(MakeTempFileName(sizeof buffer, buffer, ".bmp"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the caller says why, not the platform";
  EXPECT_STREQ(buffer, "");
  std::string path = "kept";
  std::string why;
  EXPECT_FALSE(MakeTempPath(".bmp", path, why));
  EXPECT_EQ(path, "kept");
  EXPECT_EQ(why, "cannot create a temporary folder in " + scratch.file("does-not-exist") +
                     ": No such file or directory");
  EXPECT_EQ(TempFileListSnapshot().size(), before);
}

// Reads the number the long-running grandchild wrote, waiting for it up to ten seconds.
pid_t WaitForPidFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(std::atoi(text.c_str()));
    usleep(10000);
  }
  return 0;
}

[[noreturn]] void InterruptedRun(const std::string& scratch) {
  setenv("TMPDIR", scratch.c_str(), 1);
  InstallInterruptCleanup();
  char name[260];
  for (const char* suffix : {".png", ".bmp", ".pdf"}) {
    if (MakeTempFileName(sizeof name, name, suffix) == 0) _exit(10);
    if (!testsupport::WriteText(name, "temp")) _exit(11);
  }
  // Something an engine wrote that is not listed yet.
  if (!testsupport::WriteText(TempFolderPath() + "/trw0000.tmp-0001.png", "page")) _exit(12);
  const std::string line = "\"/bin/sh\" -c " +
                           QuoteArgument("echo $$ > '" + scratch + "/pid'; exec /bin/sleep 30");
  std::string captured;
  RunChildProcess(line, captured);
  _exit(13);  // only reached when the signal did not end the run
}

TEST(TempFiles, InterruptEndsChildAndDeletesEverything) {
  testsupport::ScratchDir scratch;
  DeleteTempFiles();
  ASSERT_EQ(TempFolderPath(), "");
  const pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) InterruptedRun(scratch.path());

  const pid_t sleeper = WaitForPidFile(scratch.file("pid"));
  std::vector<std::string> folders = FindMatchingNames(scratch.path() + "/trw-*");
  EXPECT_EQ(folders.size(), 1u);
  const std::string folder = folders.empty() ? "" : scratch.file(folders[0]);
  EXPECT_EQ(FindMatchingNames(folder + "/*.*").size(), 4u);
  ASSERT_GT(sleeper, 0);

  ASSERT_EQ(kill(run, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGINT);
  }

  EXPECT_FALSE(testsupport::Exists(folder));
  EXPECT_EQ(FindMatchingNames(scratch.path() + "/trw-*").size(), 0u);
  errno = 0;
  EXPECT_EQ(kill(sleeper, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  if (errno != ESRCH) kill(sleeper, SIGKILL);
}

}  // namespace
