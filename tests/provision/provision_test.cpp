// Provisioning: which engines are created where, and that they can be started.
#include <gtest/gtest.h>
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "settings/conversion_settings.h"
#include "driver/batch.h"
#include "platform/files.h"
#include "platform/memfile_registry.h"
#include "platform/process.h"
#include "provision/provision.h"
#include "provision/stored_builder.h"
#include "support/test_support.h"

using provtest::Bytes;
using provtest::Deflate;
using provtest::PackedTool;
using testsupport::ScratchDir;

namespace {

const std::string kTestTools = std::string(TW_BINARY_DIR) + "/testtools/";

std::vector<std::string> ListFolder(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

Bytes MemFileContents(const std::string& path) {
  int fd = -1;
  if (!LookupMemFile(path, fd)) return {};
  Bytes out(1 << 16);
  Bytes all;
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, out.data(), out.size(), at);
    if (n <= 0) break;
    all.insert(all.end(), out.begin(), out.begin() + n);
    at += n;
  }
  return all;
}

// A store of three tools from the given images (an empty image stores no pieces).
struct Store {
  Store(const Bytes& autotrace, const Bytes& potrace, const Bytes& pagerip)
      : tools{PackedTool(autotrace.empty() ? Bytes{} : Deflate(autotrace)),
              PackedTool(potrace.empty() ? Bytes{} : Deflate(potrace)),
              PackedTool(pagerip.empty() ? Bytes{} : Deflate(pagerip))} {
    for (int i = 0; i < kToolCount; ++i) set.tools[i] = tools[i].View();
  }
  PackedTool tools[kToolCount];
  StoredToolSet set;
};

// In-memory files named `name` that this process holds open.
int OpenMemFds(const std::string& name) {
  int count = 0;
  const std::string fdDir = "/proc/self/fd";
  for (const std::string& entry : ListFolder(fdDir)) {
    char target[256] = {};
    const ssize_t n = readlink((fdDir + "/" + entry).c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)).rfind("/memfd:" + name + " ", 0) == 0) {
      ++count;
    }
  }
  return count;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

TEST(Provision, CreatesAllThreeInMemoryAndStartsTheLayerOnce) {
  const Bytes a = provtest::SampleBytes(150000, 1);
  const Bytes p = provtest::SampleBytes(20000, 2);
  const Bytes r = provtest::SampleBytes(400000, 3);
  Store store(a, p, r);
  ScratchDir dir;
  const std::string program = dir.file("tracewright");

  const int pageripsBefore = OpenMemFds("pagerip");
  EXPECT_EQ(ProvisionEnginesFrom(store.set, program), 1);
  // The paths exist at once; an engine is rebuilt only when it is first needed.
  EXPECT_TRUE(FileExists(dir.file("pagerip")));
  EXPECT_EQ(OpenMemFds("pagerip"), pageripsBefore);
  EXPECT_EQ(MemFileContents(dir.file("autotrace")), a);
  EXPECT_EQ(MemFileContents(dir.file("potrace")), p);
  EXPECT_EQ(MemFileContents(dir.file("pagerip")), r);
  EXPECT_EQ(OpenMemFds("pagerip"), pageripsBefore + 1);
  EXPECT_TRUE(FileExists(dir.file("potrace")));
  EXPECT_FALSE(FolderExists(dir.file("potrace")));
  EXPECT_TRUE(ListFolder(dir.path()).empty()) << "nothing may be written beside the program";

  // A second run in the same process: the layer is not started again, and the files already
  // at the tool paths stay as they are.
  Store other(p, a, p);
  EXPECT_EQ(ProvisionEnginesFrom(other.set, program), 1);
  EXPECT_EQ(MemFileContents(dir.file("potrace")), p);
  ScratchDir second;
  EXPECT_EQ(ProvisionEnginesFrom(other.set, second.file("tracewright")), 1);
  EXPECT_EQ(MemFileContents(second.file("potrace")), a);
  EXPECT_EQ(MemFileLayerStartCount(), 1);
}

TEST(Provision, EmptyImageStopsAtThatTool) {
  const Bytes image = provtest::SampleBytes(30000, 4);
  ScratchDir dir;
  Store noPotrace(image, {}, image);
  EXPECT_EQ(ProvisionEnginesFrom(noPotrace.set, dir.file("tracewright")), 0);
  EXPECT_TRUE(FileExists(dir.file("autotrace")));
  EXPECT_FALSE(FileExists(dir.file("potrace")));
  EXPECT_FALSE(FileExists(dir.file("pagerip")));

  // A damaged piece counts as an empty image.
  ScratchDir damagedDir;
  Store damaged(image, image, image);
  std::vector<StoredPiece> bad = {{damaged.tools[kToolPagerip].Blocks()[0].data(), 2}};
  damaged.set.tools[kToolPagerip] = {bad.data(), bad.size()};
  EXPECT_EQ(ProvisionEnginesFrom(damaged.set, damagedDir.file("tracewright")), 0);
  EXPECT_TRUE(FileExists(damagedDir.file("potrace")));
  EXPECT_FALSE(FileExists(damagedDir.file("pagerip")));

  // So does a stream that does not begin as zlib data: it is caught without rebuilding.
  ScratchDir rawDir;
  Store raw(image, image, image);
  raw.tools[kToolPotrace].Blocks()[0][4] ^= 0x0F;
  EXPECT_EQ(ProvisionEnginesFrom(raw.set, rawDir.file("tracewright")), 0);
  EXPECT_TRUE(FileExists(rawDir.file("autotrace")));
  EXPECT_FALSE(FileExists(rawDir.file("potrace")));

  // Without the program's own path there is no folder to create the tools in.
  Store whole(image, image, image);
  EXPECT_EQ(ProvisionEnginesFrom(whole.set, ""), 0);
  EXPECT_FALSE(FileExists("autotrace"));
}

TEST(Provision, ProvisionedEngineStartsAndRealFileWins) {
  const Bytes standin = provtest::ReadFileBytes((kTestTools + "standin_engine").c_str());
  const Bytes argdump = provtest::ReadFileBytes((kTestTools + "argdump").c_str());
  ASSERT_FALSE(standin.empty());
  ASSERT_FALSE(argdump.empty());
  ScratchDir dir;
  ScratchDir work;
  setenv("TW_STANDIN_DIR", work.path().c_str(), 1);

  // The in-memory stand-in runs under its tool path and writes what it is told to.
  Store store(argdump, standin, argdump);
  ASSERT_EQ(ProvisionEnginesFrom(store.set, dir.file("tracewright")), 1);
  std::string captured;
  const ProcessResult run =
      RunProcess({dir.file("potrace"), "-o", work.file("out.svg"), work.file("in.bmp")}, captured);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(testsupport::Exists(work.file("out.svg")));
  EXPECT_EQ(FirstLine(work.file("call-0.args")), dir.file("potrace"));
  EXPECT_TRUE(ListFolder(dir.path()).empty());

  // A real file placed at a tool path first is the one that runs.
  ScratchDir withReal;
  ASSERT_TRUE(testsupport::WriteBytes(withReal.file("pagerip"), standin));
  ASSERT_EQ(chmod(withReal.file("pagerip").c_str(), 0755), 0);
  ASSERT_EQ(ProvisionEnginesFrom(store.set, withReal.file("tracewright")), 1);
  captured.clear();
  RunProcess({withReal.file("pagerip"), "-r", "150", "in.pdf", work.file("page.png")}, captured);
  EXPECT_EQ(FirstLine(work.file("call-1.args")), withReal.file("pagerip"));
  EXPECT_EQ(captured, "") << "the stored tool (which prints its arguments) ran instead";
  unsetenv("TW_STANDIN_DIR");
}

TEST(Provision, ConversionsNeedingMissingEnginesFail) {
  // Beside this test program itself, where the pipeline looks for its engines.
  const std::string self = OwnExecutablePath();
  ASSERT_FALSE(self.empty());
  const std::string folder = self.substr(0, self.rfind('/') + 1);
  if (FileExists(folder + "potrace") || FileExists(folder + "pagerip")) {
    GTEST_SKIP() << "engines already sit beside " << self;
  }
  const Bytes standin = provtest::ReadFileBytes((kTestTools + "standin_engine").c_str());
  Store store(standin, {}, standin);
  EXPECT_EQ(ProvisionEnginesFrom(store.set, self), 0);
  EXPECT_TRUE(FileExists(folder + "autotrace"));
  EXPECT_FALSE(FileExists(folder + "potrace"));

  ScratchDir dir;
  const std::string png = std::string(TW_SOURCE_DIR) + "/samples/logo.png";
  static ConversionSettings settings;
  settings = ConversionSettings{};
  EXPECT_EQ(ConvertFile(settings, png.c_str(), dir.file("out.svg").c_str()), 0);
  EXPECT_FALSE(testsupport::Exists(dir.file("out.svg")));
  ASSERT_TRUE(testsupport::WriteText(dir.file("in.pdf"), "%PDF-1.4\n%%EOF\n"));
  EXPECT_EQ(ConvertFile(settings, dir.file("in.pdf").c_str(), dir.file("out.eps").c_str()), 0);
  EXPECT_FALSE(testsupport::Exists(dir.file("out.eps")));
}
