// The rules that name outputs: beside the input, per job of a folder or pattern, and the next
// free numbered name.
#include "settings/output_names.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

TEST(OutputNames, DefaultBesideTheInputAndOnePerJob) {
  EXPECT_EQ(DefaultOutputName("/scans/page.tif"), "/scans/page.png");
  EXPECT_EQ(DefaultOutputName("page"), "page.png");
  EXPECT_EQ(DefaultOutputName("/a.b/.profile"), "/a.b/.png");

  testsupport::ScratchDir dir;
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
  std::vector<FilePair> jobs = {{"/in/a.tif", ""}, {"/in/b.x.png", ""}, {"/in/c", "/kept.svg"},
                                {"/in/" + std::string(4100, 'd') + ".png", ""}};
  AssignOutputNames("/o/*.svg", jobs);
  EXPECT_EQ(jobs[0].output, "/o/a.svg");
  EXPECT_EQ(jobs[1].output, "/o/b.x.svg");
  EXPECT_EQ(jobs[2].output, "/kept.svg");
  EXPECT_EQ(jobs[3].output, "");  // too long: left unnamed, never cut short
  jobs = {{"/in/a.tif", ""}};
  AssignOutputNames("/o/", jobs);  // no extension: PDF
  EXPECT_EQ(jobs[0].output, "/o/a.pdf");
  jobs = {{"/in/a.tif", ""}};
  AssignOutputNames(dir.file("out"), jobs);  // an existing folder is the folder itself
  EXPECT_EQ(jobs[0].output, dir.file("out/a.pdf"));
}

TEST(OutputNames, NumberedVariantsNeverOverwrite) {
  testsupport::ScratchDir dir;
  std::string path = dir.file("out.eps");
  EXPECT_EQ(MakeUniqueOutputName(path), dir.file("out.eps"));
  testsupport::WriteText(dir.file("out.eps"), "x");
  for (int i = 0; i <= 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "out%03d.eps", i);
    testsupport::WriteText(dir.file(name), "x");
  }
  path = dir.file("out.eps");
  EXPECT_EQ(MakeUniqueOutputName(path), dir.file("out005.eps"));
  // Candidates are built from the given stem, not from an earlier candidate.
  path = dir.file("out000.eps");
  EXPECT_EQ(MakeUniqueOutputName(path), dir.file("out000000.eps"));
  // The search goes on from the last number taken (frames of a long input do not test every
  // earlier name again), and still passes over names taken since.
  testsupport::WriteText(dir.file("out005.eps"), "x");
  testsupport::WriteText(dir.file("out006.eps"), "x");
  unlink(dir.file("out001.eps").c_str());
  path = dir.file("out.eps");
  EXPECT_EQ(MakeUniqueOutputName(path), dir.file("out007.eps"));
  // A name a dangling link holds is taken too.
  ASSERT_EQ(symlink("nowhere", dir.file("out007.eps").c_str()), 0);
  path = dir.file("out.eps");
  EXPECT_EQ(MakeUniqueOutputName(path), dir.file("out008.eps"));
}

}  // namespace
