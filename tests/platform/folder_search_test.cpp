#include "platform/folder_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using Names = std::vector<std::string>;

TEST(WildcardMatch, WindowsRules) {
  EXPECT_TRUE(WildcardMatch("*.TIF", "scan.tif"));
  EXPECT_TRUE(WildcardMatch("Scan?.png", "SCAN1.PNG"));
  EXPECT_FALSE(WildcardMatch("scan?.png", "scan.png"));
  EXPECT_FALSE(WildcardMatch("scan?.png", "scan12.png"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXXbYYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXXbYYbZ"));
  EXPECT_TRUE(WildcardMatch("page-*.png", "page-.png"));
  // "*.*" matches every name, dotted or not; "x.*" also matches a bare "x".
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("*.*", ".profile"));
  EXPECT_TRUE(WildcardMatch("doc.*", "DOC"));
  EXPECT_TRUE(WildcardMatch("doc.*", "doc.pdf"));
  EXPECT_FALSE(WildcardMatch("doc.*", "docs"));
  EXPECT_FALSE(WildcardMatch("*.png", "png"));
  EXPECT_FALSE(WildcardMatch("abc", "ab"));
}

TEST(FindMatchingNames, ListsSortedWithFoldersAndDotFiles) {
  testsupport::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // "Z.png" sorts last only when case is ignored; byte order would put it before "a.png".
  for (const char* name : {"b.png", "A.PNG", "c.txt", ".hidden.png", "noext", "a.png", "Z.png"}) {
    ASSERT_TRUE(testsupport::WriteText(dir.file(name), "x"));
  }
  ASSERT_EQ(mkdir(dir.file("sub.png").c_str(), 0700), 0);

  EXPECT_EQ(FindMatchingNames(dir.path() + "/*.png"),
            (Names{".hidden.png", "A.PNG", "a.png", "b.png", "sub.png", "Z.png"}));
  EXPECT_EQ(FindMatchingNames(dir.path() + "/*.*"),
            (Names{".hidden.png", "A.PNG", "a.png", "b.png", "c.txt", "noext", "sub.png",
                   "Z.png"}));
  EXPECT_EQ(FindMatchingNames(dir.path() + "/?.TXT"), (Names{"c.txt"}));
  EXPECT_EQ(FindMatchingNames(dir.path() + "/NOEXT"), (Names{"noext"}));
  EXPECT_EQ(FindMatchingNames(dir.path() + "/*.gif"), Names{});
  EXPECT_EQ(FindMatchingNames(dir.path() + "/missing/*.*"), Names{});
  EXPECT_EQ(FindMatchingNames(dir.path() + "/"), Names{});
}

TEST(CollectMatchingFiles, AppendsFilesOfThePatternInNameOrder) {
  testsupport::ScratchDir dir;
  for (const char* name : {"trw1A2B.tmp-0010.png", "trw1A2B.tmp-0002.png", "trw1A2B.tmp.png",
                           "trw1A2B.tmp-0001.png", "other-0001.png", "trw1A2B.tmp-0003.txt"}) {
    testsupport::WriteText(dir.file(name), "x");
  }
  ASSERT_EQ(mkdir(dir.file("trw1A2B.tmp-folder.png").c_str(), 0700), 0);
  std::vector<std::string> list = {"/earlier"};
  EXPECT_EQ(CollectMatchingFiles(dir.file("trw1A2B.tmp*.png"), list), 5);
  EXPECT_EQ(list, (std::vector<std::string>{"/earlier", dir.file("trw1A2B.tmp-0001.png"),
                                            dir.file("trw1A2B.tmp-0002.png"),
                                            dir.file("trw1A2B.tmp-0010.png"),
                                            dir.file("trw1A2B.tmp.png")}));
}

}  // namespace
