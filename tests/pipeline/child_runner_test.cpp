#include "pipeline/child_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

const char* kArgDump = TW_BINARY_DIR "/testtools/argdump";

std::string Hex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

TEST(RunChildProcess, SilentChildNulBytesAndMissingProgram) {
  std::string captured;
  EXPECT_NE(RunChildProcess("\"/bin/true\"", captured), 0);
  EXPECT_EQ(captured, "");

  // Each chunk counts only up to its first NUL; a later chunk starts afresh.
  captured.clear();
  EXPECT_NE(RunChildProcess("\"/bin/sh\" -c \"printf 'abc\\000def'; sleep 0.2; printf xyz\"",
                            captured),
            0);
  EXPECT_EQ(captured, "abcxyz");

  captured = "kept";
  EXPECT_EQ(RunChildProcess("\"/nonexistent/tool\" -x", captured), 0);
  EXPECT_EQ(captured, "kept");
  EXPECT_EQ(RunChildProcess("", captured), 0);
  // A folder cannot be started either.
  EXPECT_EQ(RunChildProcess("\"/tmp\"", captured), 0);
}

TEST(RunChildProcess, LargeOutputAndStderrAreDrainedWithoutDeadlock) {
  std::string captured;
  // 10 MB, far beyond any pipe buffer, then a line on standard error.
  ASSERT_NE(RunChildProcess("\"/bin/sh\" -c \"head -c 10485760 /dev/zero | tr '\\0' x; "
                            "echo tail >&2\"",
                            captured),
            0);
  ASSERT_EQ(captured.size(), 10485760u + 5u);
  EXPECT_EQ(captured.find_first_not_of('x'), 10485760u);
  EXPECT_EQ(captured.substr(10485760), "tail\n");
}

TEST(RunChildProcess, ChildSeesNullStdinAndReturnsWhenItEndsDespiteLeftovers) {
  std::string captured;
  ASSERT_NE(RunChildProcess("\"/bin/sh\" -c \"wc -c\"", captured), 0);
  EXPECT_EQ(captured, "0\n");

  // A background process that keeps the pipe open must not hold the run beyond the child.
  captured.clear();
  ASSERT_NE(RunChildProcess("\"/bin/sh\" -c \"echo started; sleep 5 &\"", captured), 0);
  EXPECT_EQ(captured, "started\n");

  // Streams given by the caller: the child reads and writes them from their offsets, and
  // only its errors are captured; one on descriptor 0 reaches the child as well.
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  ASSERT_TRUE(in != nullptr && out != nullptr);
  ASSERT_EQ(::write(fileno(in), "four", 4), 4);
  ASSERT_EQ(::lseek(fileno(in), 0, SEEK_SET), 0);
  captured.clear();
  const ProcessResult run = RunProcess({"/bin/sh", "-c", "wc -c; echo said >&2"}, captured, 0,
                                       ChildStreams{fileno(in), fileno(out)});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(captured, "said\n");
  const int saved = ::dup(0);
  ASSERT_EQ(::dup2(fileno(in), 0), 0);
  ASSERT_EQ(::lseek(0, 1, SEEK_SET), 1);
  RunProcess({"/bin/sh", "-c", "wc -c"}, captured, 0, ChildStreams{0, fileno(out)});
  ::dup2(saved, 0);
  ::close(saved);
  char written[16] = {};
  EXPECT_EQ(::pread(fileno(out), written, sizeof written - 1, 0), 4);
  EXPECT_STREQ(written, "4\n3\n");
  std::fclose(in);
  std::fclose(out);
}

TEST(RunChildProcess, AwkwardArgumentsArriveIntact) {
  const std::vector<std::string> args = {
      "plain",         "with space",   "quote\"inside", "semi;colon && echo pwned",
      "trailing\\",    "two\\\\",      "\\\"",          "",
      "tab\there",     "$(id) `id`",   "new\nline",     "C:\\dir\\file name.png",
      "\xff\x80 high", "'single'",     "*?[a]",         "ends in quote\""};
  std::string line = "\"" + std::string(kArgDump) + "\"";
  for (const std::string& arg : args) line += " " + QuoteArgument(arg);
  std::string captured;
  ASSERT_NE(RunChildProcess(line, captured), 0);
  std::string expected;
  for (const std::string& arg : args) expected += Hex(arg) + "\n";
  EXPECT_EQ(captured, expected);
}

TEST(RunProcess, ExitStatusAndSignals) {
  std::string captured;
  ProcessResult result = RunProcess({"/bin/sh", "-c", "exit 3"}, captured);
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exitStatus, 3);
  result = RunProcess({"/bin/sh", "-c", "kill -TERM $$"}, captured);
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.exitStatus, 128 + 15);
  result = RunProcess({"/no/such/program"}, captured);
  EXPECT_FALSE(result.started);
  result = RunProcess({}, captured);
  EXPECT_FALSE(result.started);
}

}  // namespace
