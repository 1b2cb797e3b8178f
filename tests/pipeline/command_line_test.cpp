// Engine option texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pipeline/outline_tracer.h"
#include "pipeline/second_method.h"

namespace {

template <size_t N>
void Set(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
}

std::string Outline(const ConversionSettings& s, const std::string& ext) {
  std::string options = "unset";
  EXPECT_TRUE(BuildOutlineOptions(s, ext, options));
  return options;
}

}  // namespace

TEST(OutlineOptions, BackendSwitchAndFixedOrder) {
  ConversionSettings s{};
  EXPECT_EQ(Outline(s, "svg"), "-s");
  EXPECT_EQ(Outline(s, "SVG"), "-s");
  EXPECT_EQ(Outline(s, "Pdf"), "-b pdf");
  EXPECT_EQ(Outline(s, "pdfpage"), "-b pdfpage");
  EXPECT_EQ(Outline(s, "dxf"), "-b dxf");
  EXPECT_EQ(Outline(s, "pgm"), "-g");
  EXPECT_EQ(Outline(s, "postscript"), "");
  EXPECT_EQ(Outline(s, "emf"), "");

  s.speckleSize = 4;
  s.tight = 1;
  EXPECT_EQ(Outline(s, "svg"), "-s -t 4 --tight");
  EXPECT_EQ(Outline(s, "postscript"), " -t 4 --tight");
  s.speckleSize = 0;
  EXPECT_EQ(Outline(s, "eps"), "-e --tight");
  s.speckleSize = -3;
  EXPECT_EQ(Outline(s, "eps"), "-e --tight");

  ConversionSettings all{};
  all.speckleSize = 7;
  Set(all.pageSize, "a4");
  Set(all.width, "6.5in");
  Set(all.height, "15cm");
  Set(all.resolution, "300");
  Set(all.rotation, "90");
  Set(all.margin, "1in");
  Set(all.leftMargin, "10pt");
  Set(all.rightMargin, "11pt");
  Set(all.topMargin, "12pt");
  Set(all.bottomMargin, "13pt");
  all.tight = all.opaque = all.svgGroup = all.svgFlat = all.invert = 1;
  Set(all.lineColor, "#FF0000");
  Set(all.fillColor, "#00ff00");
  Set(all.extraEngineArgs, "-k 0.5 \"x y\"");
  all.centerline = all.secondMethod = 1;
  all.pdfResolution = 300;
  EXPECT_EQ(Outline(all, "ps"),
            "-p -t 7 -P a4 -W 6.5in -H 15cm -r 300 -A 90 -M 1in -L 10pt -R 11pt -T 12pt -B 13pt"
            " --tight --color #FF0000 --fillcolor #00ff00 --opaque --group --flat --invert"
            " -k 0.5 \"x y\"");
}

TEST(OutlineOptions, OverlongTextIsRefused) {
  ConversionSettings s{};
  Set(s.width, std::string(4000, '1').c_str());
  Set(s.height, std::string(4000, '2').c_str());
  std::string options = "kept";
  EXPECT_FALSE(BuildOutlineOptions(s, "eps", options));
  EXPECT_EQ(options, "kept");
}

TEST(SecondMethodOptions, ColourCentrelineAndExtras) {
  ConversionSettings s{};
  std::string options;
  ASSERT_TRUE(BuildSecondMethodOptions(s, options));
  EXPECT_EQ(options, "");
  Set(s.fillColor, "#FF8000");
  ASSERT_TRUE(BuildSecondMethodOptions(s, options));
  EXPECT_EQ(options, "-background-color FF8000");
  Set(s.fillColor, "FF8000");
  ASSERT_TRUE(BuildSecondMethodOptions(s, options));
  EXPECT_EQ(options, "-background-color FF8000");
  s.centerline = 1;
  ASSERT_TRUE(BuildSecondMethodOptions(s, options));
  EXPECT_EQ(options, "-background-color FF8000 -centerline");
  s.fillColor[0] = '\0';
  Set(s.extraEngineArgs, "-color-count 4");
  ASSERT_TRUE(BuildSecondMethodOptions(s, options));
  EXPECT_EQ(options, " -centerline -color-count 4");
}
