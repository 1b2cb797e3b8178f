#include "platform/path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

void ExpectSplit(const char* path, const char* dir, const char* fname, const char* ext) {
  const PathParts parts = SplitPath(path);
  EXPECT_EQ(parts.drive, "") << path;
  EXPECT_EQ(parts.dir, dir) << path;
  EXPECT_EQ(parts.fname, fname) << path;
  EXPECT_EQ(parts.ext, ext) << path;
}

TEST(SplitPath, FolderStemAndExtension) {
  ExpectSplit("/home/u/scan.tif", "/home/u/", "scan", ".tif");
  ExpectSplit("scan.tar.gz", "", "scan.tar", ".gz");
  ExpectSplit("/home/u/.profile", "/home/u/", "", ".profile");
  ExpectSplit("/home/u/out/", "/home/u/out/", "", "");
  ExpectSplit("/home/u.v2/readme", "/home/u.v2/", "readme", "");
  ExpectSplit("name", "", "name", "");
  ExpectSplit("/", "/", "", "");
  ExpectSplit("", "", "", "");
  ExpectSplit("/in/*.TIF", "/in/", "*", ".TIF");
}

TEST(MakePath, AddsMissingSeparatorAndDot) {
  EXPECT_EQ(MakePath("", "/out", "scan", "eps"), "/out/scan.eps");
  EXPECT_EQ(MakePath("", "/out/", "scan", ".eps"), "/out/scan.eps");
  EXPECT_EQ(MakePath("", "", "scan", ""), "scan");
  EXPECT_EQ(MakePath("", "/in/", "*", ".png"), "/in/*.png");
  const PathParts parts = SplitPath("/a/b/.profile");
  EXPECT_EQ(MakePath(parts.drive, parts.dir, parts.fname, parts.ext), "/a/b/.profile");
}

TEST(FullPath, ResolvesDotsLexically) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::string here = cwd;
  std::string out;
  ASSERT_TRUE(FullPath("a/./b/../c.png", out));
  EXPECT_EQ(out, (here == "/" ? "" : here) + "/a/c.png");
  ASSERT_TRUE(FullPath("/x/y/../../../z", out));
  EXPECT_EQ(out, "/z");
  ASSERT_TRUE(FullPath("/x//y/./", out));
  EXPECT_EQ(out, "/x/y/");  // a folder keeps its trailing separator
  ASSERT_TRUE(FullPath("/..", out));
  EXPECT_EQ(out, "/");
  ASSERT_TRUE(FullPath(".", out));
  EXPECT_EQ(out, here);
  EXPECT_TRUE(IsAbsolutePath("/a"));
  EXPECT_FALSE(IsAbsolutePath("a/b"));
  EXPECT_FALSE(IsAbsolutePath(""));

  // Too long for the path limit: refused, and the output is left alone.
  out = "unchanged";
  EXPECT_FALSE(FullPath("/" + std::string(kPathLimit, 'a'), out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_TRUE(FullPath("/" + std::string(kPathLimit - 2, 'a'), out));
}

TEST(CompareNoCase, AsciiLettersOnly) {
  EXPECT_EQ(CompareNoCase("ABC", "abc"), 0);
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_GT(CompareNoCase("b", "A"), 0);
  // '_' sits between the capitals and the small letters; _stricmp folds to lower case.
  EXPECT_GT(CompareNoCase("A", "_"), 0);
  EXPECT_FALSE(EqualNoCase("\xc4", "\xe4"));
  EXPECT_TRUE(EqualNoCase("C:/A.PDF", "c:/a.pdf"));
  EXPECT_FALSE(EqualNoCase("a", "a "));
}

}  // namespace
