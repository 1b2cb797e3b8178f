#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

TEST(Files, AttributesCopySameFileAndDelete) {
  testsupport::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string a = dir.file("a.bin");
  std::vector<uint8_t> bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(testsupport::WriteBytes(a, bytes));

  EXPECT_TRUE(FileExists(a));
  EXPECT_FALSE(FolderExists(a));
  EXPECT_TRUE(FolderExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.file("missing")));
  EXPECT_FALSE(QueryFileAttributes(dir.file("missing")).exists);

  const std::string b = dir.file("b.bin");
  ASSERT_TRUE(testsupport::WriteText(b, "an older, longer text that must go entirely"));
  ASSERT_TRUE(CopyFileOverwrite(a, b));
  EXPECT_EQ(testsupport::ReadBytes(b), bytes);

  // Copying onto itself, or through a link onto itself, keeps the data.
  ASSERT_EQ(symlink(a.c_str(), dir.file("link").c_str()), 0);
  EXPECT_FALSE(CopyFileOverwrite(a, a));
  EXPECT_FALSE(CopyFileOverwrite(a, dir.file("link")));
  EXPECT_EQ(testsupport::ReadBytes(a), bytes);
  EXPECT_FALSE(CopyFileOverwrite(dir.file("missing"), dir.file("c.bin")));
  EXPECT_FALSE(FileExists(dir.file("c.bin")));
  EXPECT_FALSE(CopyFileOverwrite(dir.path(), dir.file("c.bin")));
  EXPECT_FALSE(CopyFileOverwrite(a, dir.file("nofolder/c.bin")));

  EXPECT_TRUE(IsSameFile(a, dir.file("link")));
  EXPECT_TRUE(IsSameFile(dir.path() + "/./a.bin", a));
  EXPECT_TRUE(IsSameFile("/NO/such.PDF", "/no/SUCH.pdf"));
  EXPECT_FALSE(IsSameFile(a, b));
  EXPECT_FALSE(IsSameFile("/no/such1", "/no/such2"));

  EXPECT_TRUE(DeleteFilePath(b));
  EXPECT_FALSE(FileExists(b));
  EXPECT_FALSE(DeleteFilePath(b));
}

TEST(Files, OwnExecutablePathNamesThisProgram) {
  const std::string self = OwnExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self.front(), '/');
  EXPECT_NE(self.find("tests_platform"), std::string::npos);
  EXPECT_TRUE(FileExists(self));
}

}  // namespace
