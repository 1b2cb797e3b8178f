#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, WindowsRules) {
  EXPECT_EQ(SplitCommandLine("  a  b\tc  "), (Args{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"a b\" c"), (Args{"a b", "c"}));
  EXPECT_EQ(SplitCommandLine("ab\"c d\"e"), (Args{"abc de"}));
  EXPECT_EQ(SplitCommandLine("\"\" x"), (Args{"", "x"}));
  EXPECT_EQ(SplitCommandLine(""), Args{});
  // Backslashes are literal unless a quote follows.
  EXPECT_EQ(SplitCommandLine("a\\b c\\\\d"), (Args{"a\\b", "c\\\\d"}));
  EXPECT_EQ(SplitCommandLine("a\\\"b"), (Args{"a\"b"}));             // 1 + quote
  EXPECT_EQ(SplitCommandLine("\"a\\\\\" b"), (Args{"a\\", "b"}));     // 2 + quote
  EXPECT_EQ(SplitCommandLine("\"a\\\\\\\" b\""), (Args{"a\\\" b"}));  // 3 + quote
  // An unterminated quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("\"a b"), (Args{"a b"}));
}

TEST(QuoteArgument, RoundTripsEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const Args samples = {"",     "\\",     "\\\\",   "\"",     "\\\"",  "a\\\\\"b\\",
                        " ; ",  "x\\ y\\", "\"\"\"", "\t\n\r", all,     all + "\\\\\\"};
  std::string line = "\"/bin/tool\"";
  for (const std::string& sample : samples) {
    const std::string quoted = QuoteArgument(sample);
    EXPECT_EQ(quoted.front(), '"');
    EXPECT_EQ(quoted.back(), '"');
    EXPECT_EQ(SplitCommandLine(quoted), Args{sample});
    line += " " + quoted;
  }
  Args expected = {"/bin/tool"};
  expected.insert(expected.end(), samples.begin(), samples.end());
  EXPECT_EQ(SplitCommandLine(line), expected);
}

}  // namespace
