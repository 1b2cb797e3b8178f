#include "frontend/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

// The option table points into the record of its first build, so every test parses into
// this one record.
ConversionSettings& Settings() {
  static ConversionSettings settings;
  settings = ConversionSettings{};
  return settings;
}

int Parse(ConversionSettings& s, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());
  testing::internal::CaptureStdout();
  int result = ParseCommandLine(s, argc, argv.data());
  testing::internal::GetCapturedStdout();
  return result;
}

class InFolder {
 public:
  explicit InFolder(const std::string& dir) {
    char buf[4096];
    old_ = getcwd(buf, sizeof(buf)) ? buf : "/";
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InFolder() { (void)chdir(old_.c_str()); }

 private:
  std::string old_;
};

}  // namespace

TEST(ParseCommandLine, OptionsReachTheirFields) {
  ConversionSettings& s = Settings();
  ASSERT_EQ(Parse(s, {"tw", "-pagesize", "a4", "-speckle", "4", "-tight", "-addcmd", "-z 1",
                      "-bwthreshold", "300", "-pdfres", "-5", "-method2", "-centerline", "/in.png",
                      "/out.svg"}),
            1);
  EXPECT_STREQ(s.pageSize, "a4");
  EXPECT_EQ(s.speckleSize, 4);
  EXPECT_EQ(s.tight, 1);
  EXPECT_STREQ(s.extraEngineArgs, "-z 1");
  EXPECT_EQ(EffectiveThreshold(s), 240);
  EXPECT_EQ(EffectivePdfResolution(s), 150);
  EXPECT_EQ(s.secondMethod, 1);
  EXPECT_EQ(s.centerline, 1);
  EXPECT_STREQ(s.inputPath, "/in.png");
  EXPECT_STREQ(s.outputPath, "/out.svg");

  for (int level : {10, 255, 0}) {
    s.bwThreshold = level;
    EXPECT_EQ(EffectiveThreshold(s), 240) << level;
  }
  for (int level : {11, 254}) {
    s.bwThreshold = level;
    EXPECT_EQ(EffectiveThreshold(s), level);
  }
}

TEST(ParseCommandLine, StopsOnHelpVersionAndWrongCounts) {
  const std::vector<std::vector<std::string>> stops = {
      {"tw"},
      {"tw", "-v", "in.png", "out.pdf"},
      {"tw", "-?"},
      {"tw", "-speckle", "x", "in.png", "out.pdf"},
      {"tw", "in.png", "-width"},
      {"tw", "a", "b", "c"},
      {"tw", ""},
  };
  for (const auto& words : stops) {
    ConversionSettings& s = Settings();
    EXPECT_EQ(Parse(s, words), 0) << words.size();
  }
}

TEST(ParseCommandLine, DerivesAndCompletesPaths) {
  testsupport::ScratchDir dir;
  testsupport::WriteText(dir.file("pic.tif"), "x");
  InFolder cd(dir.path());
  {
    ConversionSettings& s = Settings();
    ASSERT_EQ(Parse(s, {"tw", "pic.tif"}), 1);
    EXPECT_EQ(std::string(s.inputPath), dir.file("pic.tif"));
    EXPECT_EQ(std::string(s.outputPath), dir.file("pic.png"));
  }
  {
    // A relative pattern stays relative; its derived output keeps the wildcard.
    ConversionSettings& s = Settings();
    ASSERT_EQ(Parse(s, {"tw", "*.tif"}), 1);
    EXPECT_STREQ(s.inputPath, "*.tif");
    EXPECT_EQ(std::string(s.outputPath), dir.file("*.png"));
  }
  {
    ConversionSettings& s = Settings();
    ASSERT_EQ(Parse(s, {"tw", "--", "-x.png", "sub/../out.pdf"}), 1);
    EXPECT_STREQ(s.inputPath, "-x.png");
    EXPECT_EQ(std::string(s.outputPath), dir.file("out.pdf"));
  }
  {
    // A word that begins with '-' is a file name only after "--"; "-" alone is a pipe.
    ConversionSettings& s = Settings();
    ASSERT_EQ(Parse(s, {"tw", "-foo", "in.png"}), 0);
    ASSERT_EQ(Parse(Settings(), {"tw", "--", "-foo", "in.png"}), 1);
    ASSERT_EQ(Parse(s, {"tw", "-", "eps:-"}), 1);
    EXPECT_STREQ(s.inputPath, "-");
    EXPECT_STREQ(s.outputPath, "eps:-");
    ASSERT_EQ(Parse(Settings(), {"tw", "-"}), 1);
    EXPECT_STREQ(s.outputPath, "-");
  }
}

TEST(ParseCommandLine, TakesPathsAsLongAsTheSystemDoesAndRefusesLonger) {
  ConversionSettings& s = Settings();
  EXPECT_EQ(Parse(s, {"tw", "/" + std::string(4095, 'a')}), 0);
  EXPECT_EQ(Parse(Settings(), {"tw", "in.png", "/" + std::string(4095, 'b')}), 0);
  const std::string longest = "/" + std::string(4094, 'a');
  EXPECT_EQ(Parse(Settings(), {"tw", longest}), 0);  // its output's name, longest + ".png", would not fit
  ASSERT_EQ(Parse(Settings(), {"tw", longest, "/o.svg"}), 1);
  EXPECT_EQ(s.inputPath, longest);
  const std::string output = longest.substr(0, 4091) + ".svg";
  ASSERT_EQ(Parse(Settings(), {"tw", "in.png", output}), 1);
  EXPECT_EQ(s.outputPath, output);
}
