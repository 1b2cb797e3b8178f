#include "options.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> args, at::Options& o, std::string* err = nullptr) {
  std::string e;
  const bool ok = at::ParseOptions(args, o, e);
  if (err) *err = e;
  return ok;
}

TEST(AutotraceOptions, DefaultsAreTheDocumentedOnes) {
  at::Options o;
  ASSERT_TRUE(Parse({"in.png"}, o));
  EXPECT_EQ(o.inputFile, "in.png");
  EXPECT_EQ(o.cornerThreshold, 100.0);
  EXPECT_EQ(o.cornerAlwaysThreshold, 60.0);
  EXPECT_EQ(o.cornerSurround, 4);
  EXPECT_EQ(o.despeckleLevel, 0);
  EXPECT_EQ(o.despeckleTightness, 2.0);
  EXPECT_EQ(o.errorThreshold, 2.0);
  EXPECT_EQ(o.filterIterations, 4);
  EXPECT_EQ(o.lineReversionThreshold, 0.01);
  EXPECT_EQ(o.lineThreshold, 1.0);
  EXPECT_EQ(o.tangentSurround, 3);
  EXPECT_EQ(o.widthWeightFactor, 6.0);
  EXPECT_EQ(o.noiseRemoval, 0.99);
  EXPECT_EQ(o.colorCount, 0);
  EXPECT_FALSE(o.hasBackground);
  EXPECT_FALSE(o.centerline);
}

TEST(AutotraceOptions, DashesAbbreviationsAndValueForms) {
  at::Options o;
  ASSERT_TRUE(Parse({"--corner-t=45", "-corner-always", "30", "-centerline", "-output-fi", "out.svg",
                     "-output-format=PDF", "--color-c", "8", "-preserve", "-noise=0.5", "in.png"}, o));
  EXPECT_EQ(o.cornerThreshold, 45.0);
  EXPECT_EQ(o.cornerAlwaysThreshold, 30.0);
  EXPECT_TRUE(o.centerline);
  EXPECT_EQ(o.outputFile, "out.svg");
  EXPECT_EQ(o.outputFormat, "PDF");
  EXPECT_EQ(o.colorCount, 8);
  EXPECT_TRUE(o.preserveWidth);
  EXPECT_EQ(o.noiseRemoval, 0.5);
  // An exact name wins over longer names it is a prefix of.
  at::Options p;
  ASSERT_TRUE(Parse({"-log", "x.png"}, p));
  EXPECT_TRUE(p.log);
}

TEST(AutotraceOptions, RejectsWhatItCannotHonour) {
  std::string err;
  at::Options o;
  EXPECT_FALSE(Parse({"-c", "x.png"}, o, &err));  // centerline, color-count, corner-...
  EXPECT_NE(err.find("ambiguous"), std::string::npos);
  EXPECT_FALSE(Parse({"-output", "a", "x.png"}, o, &err));
  EXPECT_FALSE(Parse({"-frobnicate", "x.png"}, o, &err));
  EXPECT_NE(err.find("unknown"), std::string::npos);
  EXPECT_FALSE(Parse({"-corner-threshold", "abc", "x.png"}, o));
  EXPECT_FALSE(Parse({"-corner-threshold", "12x", "x.png"}, o));
  EXPECT_FALSE(Parse({"-color-count", "2.5", "x.png"}, o));
  EXPECT_FALSE(Parse({"-color-count", "257", "x.png"}, o));
  EXPECT_FALSE(Parse({"-despeckle-level", "-1", "x.png"}, o));
  EXPECT_FALSE(Parse({"-noise-removal", "nan", "x.png"}, o));
  EXPECT_FALSE(Parse({"-error-threshold"}, o, &err));
  EXPECT_NE(err.find("needs a value"), std::string::npos);
  EXPECT_FALSE(Parse({"-centerline=1", "x.png"}, o));
  EXPECT_FALSE(Parse({"a.png", "b.png"}, o));
}

TEST(AutotraceOptions, BackgroundColourWithOrWithoutHash) {
  for (const char* text : {"FF8000", "#ff8000"}) {
    at::Options o;
    ASSERT_TRUE(Parse({"-background-color", text, "x.png"}, o)) << text;
    EXPECT_TRUE(o.hasBackground);
    EXPECT_EQ(o.background, (at::Rgb{255, 128, 0}));
  }
  at::Options o;
  for (const char* bad : {"FF80", "#GG0000", "FF80000", ""}) EXPECT_FALSE(Parse({"-background-color", bad, "x.png"}, o)) << bad;
}

}  // namespace
