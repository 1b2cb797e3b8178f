#include "frontend/option_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Args {
  std::vector<std::string> words;
  std::vector<char*> argv;
  int argc = 0;
  explicit Args(std::vector<std::string> w) : words(std::move(w)) {
    for (auto& s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
    argc = static_cast<int>(words.size());
  }
  std::vector<std::string> Remaining() const {
    return std::vector<std::string>(argv.begin(), argv.begin() + argc);
  }
};

struct Targets {
  int32_t x = 77;
  int32_t flag = 0;
  double real = -1.0;
  char text[4] = "zz";
};

std::vector<OptionDescriptor> MakeTable(Targets& t) {
  return {
      {"-x", kOptionInt, &t.x, 0, "h"},
      {"-f", kOptionFlag, &t.flag, 0, nullptr},
      {"-r", kOptionReal, &t.real, 0, nullptr},
      {"-s", kOptionString, t.text, sizeof(t.text), nullptr},
      {"-u", kOptionIntUsageOnly, &t.x, 0, "usage only"},
      {nullptr, 0, nullptr, 0, nullptr},
  };
}

std::string CaptureStdout(const std::function<void()>& body) {
  testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(OptionTable, ConsumedWordsAreRemovedAndRejectedValuesStayPositional) {
  Targets t;
  auto table = MakeTable(t);
  {
    Args a({"prog", "-x", "5", "a", "b"});
    EXPECT_EQ(ParseOptions(table.data(), a.argc, a.argv.data()), 1);
    EXPECT_EQ(a.Remaining(), (std::vector<std::string>{"prog", "a", "b"}));
    EXPECT_EQ(t.x, 5);
  }
  {
    Targets u;
    auto tb = MakeTable(u);
    Args a({"prog", "-x"});
    EXPECT_EQ(ParseOptions(tb.data(), a.argc, a.argv.data()), 0);
    EXPECT_EQ(a.argc, 1);
    EXPECT_EQ(u.x, 77);
  }
  {
    Targets u;
    auto tb = MakeTable(u);
    Args a({"prog", "-x", "abc", "a"});
    EXPECT_EQ(ParseOptions(tb.data(), a.argc, a.argv.data()), 0);
    EXPECT_EQ(a.Remaining(), (std::vector<std::string>{"prog", "abc", "a"}));
    EXPECT_EQ(u.x, 77);
  }
  {
    // Unknown words, exact case-sensitive names, and usage-only rows all stay positional.
    Targets u;
    auto tb = MakeTable(u);
    Args a({"prog", "-X", "-u", "3", "-f"});
    EXPECT_EQ(ParseOptions(tb.data(), a.argc, a.argv.data()), 1);
    EXPECT_EQ(a.Remaining(), (std::vector<std::string>{"prog", "-X", "-u", "3"}));
    EXPECT_EQ(u.flag, 1);
    EXPECT_EQ(u.x, 77);
  }
}

TEST(OptionTable, DoubleDashEndsOptions) {
  Targets t;
  auto table = MakeTable(t);
  Args a({"prog", "a", "--", "-x", "b"});
  EXPECT_EQ(ParseOptions(table.data(), a.argc, a.argv.data()), 1);
  EXPECT_EQ(a.Remaining(), (std::vector<std::string>{"prog", "a", "-x", "b"}));
  EXPECT_EQ(t.x, 77);
}

TEST(OptionTable, ValueSyntax) {
  EXPECT_TRUE(IsIntegerText("-3"));
  EXPECT_TRUE(IsIntegerText(""));
  EXPECT_TRUE(IsIntegerText("-"));
  EXPECT_TRUE(IsIntegerText("+12"));
  EXPECT_FALSE(IsIntegerText("1.0"));
  EXPECT_FALSE(IsIntegerText("--1"));
  for (const char* ok : {"1.5", ".5", "5.", "-2e10", "", "-", ".", "1E+3"}) EXPECT_TRUE(IsRealText(ok)) << ok;
  for (const char* bad : {"e5", "1e", "1e+", "1.2.3", "x"}) EXPECT_FALSE(IsRealText(bad)) << bad;

  Targets t;
  auto table = MakeTable(t);
  Args a({"prog", "-x", "-", "-r", "-2e1"});
  EXPECT_EQ(ParseOptions(table.data(), a.argc, a.argv.data()), 1);
  EXPECT_EQ(t.x, 0);
  EXPECT_DOUBLE_EQ(t.real, -20.0);
}

TEST(OptionTable, StringValuesAreCutToCapacityAndTakeAnyWord) {
  Targets t;
  auto table = MakeTable(t);
  Args a({"prog", "-s", "abcdefgh"});
  EXPECT_EQ(ParseOptions(table.data(), a.argc, a.argv.data()), 1);
  EXPECT_STREQ(t.text, "abc");
  Args b({"prog", "-s", "-f"});
  EXPECT_EQ(ParseOptions(table.data(), b.argc, b.argv.data()), 1);
  EXPECT_STREQ(t.text, "-f");
  EXPECT_EQ(t.flag, 0);
}

// Codes of 4 and more are never matched, so only a negative code reaches the fallback.
TEST(OptionTable, UnknownKindConsumesOnlyTheWord) {
  int32_t dummy = 0;
  OptionDescriptor table[] = {{"-q", -1, &dummy, 0, nullptr}, {nullptr, 0, nullptr, 0, nullptr}};
  Args a({"prog", "-q", "v"});
  std::string out = CaptureStdout([&] { EXPECT_EQ(ParseOptions(table, a.argc, a.argv.data()), 1); });
  EXPECT_EQ(out, "Internal error in arg table\n");
  EXPECT_EQ(a.Remaining(), (std::vector<std::string>{"prog", "v"}));
}

TEST(OptionTable, UsageColumnsAlign) {
  int32_t v = 0;
  OptionDescriptor table[] = {
      {"-a", kOptionInt, &v, 0, "h"},
      {"-bbbbbb", kOptionFlag, &v, 0, "flag"},
      {"-c", kOptionStringUsageOnly, nullptr, 0, nullptr},
      {"-d", 42, nullptr, 0, "odd"},
      {nullptr, 0, nullptr, 0, nullptr},
  };
  std::string out = CaptureStdout([&] { PrintUsage("P", "<x>", table); });
  EXPECT_EQ(out,
            "Usage: P [options] <x>\n"
            "  -a <int>        : h\n"
            "  -bbbbbb         : flag\n"
            "  -c <string>     \n"
            "  -d              : odd\n");
  std::string noPositional = CaptureStdout([&] { PrintUsage("P", nullptr, table); });
  EXPECT_EQ(noPositional.substr(0, noPositional.find('\n')), "Usage: P [options]");
}
