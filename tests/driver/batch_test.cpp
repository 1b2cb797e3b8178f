// The job loop: one path for every job whatever the number of engines, at most N engines of
// any kind at once, and what a run one job after another prints; what scripts rely on:
// resuming, the report, the exit statuses, the progress line, folder trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/io/format.h"
#include "support/standin_fixture.h"
#include "support/test_support.h"

namespace {

// The most engines that ran at once, from the stand-ins' "start"/"stop" lines.
int MostAtOnce(const std::string& log, int* runs) {
  std::istringstream lines(FileText(log));
  int running = 0;
  int most = 0;
  *runs = 0;
  for (std::string event, pid; lines >> event >> pid;) {
    if (event == "start") {
      ++*runs;
      most = std::max(most, ++running);
    } else {
      --running;
    }
  }
  return most;
}

// A text field of one report line ("" when it has none).
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const std::size_t at = line.find(key);
  if (at == std::string::npos) return "";
  std::size_t from = at + key.size();
  if (line[from] != '"') return line.substr(from, line.find_first_of(",}", from) - from);
  const std::size_t to = line.find('"', from + 1);
  return line.substr(from + 1, to - from - 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Stem(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  return name.substr(0, name.rfind('.'));
}

// Engine calls that got as far as recording their arguments. A stand-in killed with its run
// may have claimed a number and recorded nothing, so the numbers can have gaps.
int CallsRecorded(const ScratchInstall& install) {
  int calls = 0;
  for (const std::string& name : FolderEntries(install.records())) calls += EndsWith(name, ".args");
  return calls;
}

}  // namespace

TEST(Batch, NeverMoreEnginesOfAnyKindThanAsked) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  install.AddStandIn("pagerip");
  ASSERT_EQ(mkdir(install.work("in").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  for (int i = 0; i < 3; ++i) testsupport::WriteText(install.work("in/doc" + std::to_string(i) + ".pdf"), "%PDF-1.4 stand-in");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteGreyImage(install.work("in/pic" + std::to_string(i) + ".bmp"), FORMAT_BMP, 60, 40, Disc));
  ASSERT_TRUE(WriteGreyImage(install.work("page.png"), FORMAT_PNG, 60, 40, Disc));
  const std::vector<std::string> env = {"TW_STANDIN_PAGE=" + install.work("page.png"), "TW_STANDIN_PAGES=4",
                                        "TW_STANDIN_SLEEP=0.05", "TW_STANDIN_LOG=" + install.work("engines.log"),
                                        "TRACEWRIGHT_JOBS=3"};
  const auto r = install.Run({"in", "out/*.svg"}, env);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "");
  int runs = 0;
  // Three renderers for each document and a tracer for each of their 12 pages and 3 pictures.
  EXPECT_EQ(MostAtOnce(install.work("engines.log"), &runs), 3);
  EXPECT_EQ(runs, 3 * 3 + 12 + 3);
  EXPECT_EQ(FolderEntries(install.work("out")).size(), 15u);

  // A lone document still shares its pages among as many renderers.
  unlink(install.work("engines.log").c_str());
  const auto lone = install.Run({"in/doc0.pdf", "out/lone.svg"}, env);
  EXPECT_EQ(lone.status, 1) << lone.err;
  EXPECT_EQ(MostAtOnce(install.work("engines.log"), &runs), 3);
  EXPECT_EQ(runs, 3 + 4);
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(Batch, ManyEnginesAtOnceLookLikeOneAfterAnother) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  // 50 inputs in several formats, some not pictures, many sharing a stem (x.tif and x.png both
  // become x.svg), and one GIF of two frames.
  const unsigned formats[] = {FORMAT_PNG, FORMAT_BMP, FORMAT_TIF, FORMAT_TGA, FORMAT_PCX};
  const char* extensions[] = {"png", "bmp", "tif", "tga", "pcx"};
  ASSERT_EQ(mkdir(install.work("in").c_str(), 0755), 0);
  for (int i = 0; i < 45; ++i) {
    const std::string name = "in/" + std::string(1, static_cast<char>('a' + i / 5)) + "." + extensions[i % 5];
    ASSERT_TRUE(WriteGreyImage(install.work(name), formats[i % 5], 20 + i, 16, Disc));
  }
  for (int i = 0; i < 5; ++i) testsupport::WriteText(install.work("in/z" + std::to_string(i) + ".jpg"), "no picture");
  const auto run = [&](const char* jobs, const std::string& out) {
    EXPECT_EQ(mkdir(install.work(out).c_str(), 0755), 0);
    auto r = install.Run({"in/*", out + "/*.svg"}, {std::string("TRACEWRIGHT_JOBS=") + jobs});
    std::string shown = r.out;
    for (std::size_t at; (at = shown.find(install.work(out))) != std::string::npos;) shown.replace(at, install.work(out).size(), "OUT");
    std::vector<std::string> names = FolderEntries(install.work(out));
    std::sort(names.begin(), names.end());
    std::vector<std::string> contents;
    for (const std::string& name : names) contents.push_back(FileText(install.work(out + "/" + name)));
    return std::make_tuple(r.status, shown, names, contents, r.err.substr(r.err.rfind("tracewright: ")));
  };
  const auto one = run("1", "one");
  const auto eight = run("8", "eight");
  EXPECT_EQ(std::get<0>(one), 0);  // the last job, z4.jpg, fails
  EXPECT_EQ(std::get<2>(one).size(), 45u);
  EXPECT_EQ(std::get<0>(eight), std::get<0>(one));
  EXPECT_EQ(std::get<1>(eight), std::get<1>(one));
  EXPECT_EQ(std::get<2>(eight), std::get<2>(one));
  EXPECT_EQ(std::get<3>(eight), std::get<3>(one));
  EXPECT_EQ(std::get<4>(eight), "tracewright: 5 of 50 jobs failed\n");
  EXPECT_EQ(std::get<4>(one), std::get<4>(eight));
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(Batch, InterruptDuringAParallelBatchLeavesNothingBehind) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(WriteGreyImage(install.work("p" + std::to_string(i) + ".bmp"), FORMAT_BMP, 8, 8, Disc));
  }
  const std::string program = install.program();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", install.tmp().c_str(), 1);
    setenv("TW_STANDIN_DIR", install.records().c_str(), 1);
    setenv("TW_STANDIN_SLEEP", "20", 1);
    setenv("TRACEWRIGHT_JOBS", "4", 1);
    if (chdir(install.work().c_str()) != 0) _exit(126);
    execl(program.c_str(), "tracewright", "*.bmp", "out/*.eps", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until four engines run at once, then interrupt.
  for (int i = 0; i < 500 && !testsupport::Exists(install.records() + "/call-3.args"); ++i) usleep(20000);
  EXPECT_TRUE(testsupport::Exists(install.records() + "/call-3.args"));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_TRUE(install.TmpEntries().empty());
  EXPECT_TRUE(FolderEntries(install.work("out")).empty());

  // Killed outright, the program cannot clean up, but its engines end with it.
  const std::string log = install.work("engines.log");
  const pid_t killed = fork();
  if (killed == 0) {
    setenv("TMPDIR", install.tmp().c_str(), 1);
    setenv("TW_STANDIN_SLEEP", "20", 1);
    setenv("TW_STANDIN_LOG", log.c_str(), 1);
    setenv("TRACEWRIGHT_JOBS", "2", 1);
    if (chdir(install.work().c_str()) != 0) _exit(126);
    execl(program.c_str(), "tracewright", "*.bmp", "out/*.eps", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<pid_t> engines;
  for (int i = 0; i < 500 && engines.size() < 2; ++i) {
    usleep(20000);
    engines.clear();
    std::istringstream lines(FileText(log));
    for (std::string event; lines >> event;) {
      pid_t engine = 0;
      lines >> engine;
      if (event == "start") engines.push_back(engine);
    }
  }
  ASSERT_EQ(engines.size(), 2u);
  kill(killed, SIGKILL);
  waitpid(killed, &status, 0);
  const auto alive = [](pid_t engine) {
    const std::string stat = FileText("/proc/" + std::to_string(engine) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
  };
  for (pid_t engine : engines) {
    for (int i = 0; i < 100 && alive(engine); ++i) usleep(20000);
    EXPECT_FALSE(alive(engine)) << "engine " << engine << " outlived the killed run";
  }
}

TEST(Batch, UnderAMemoryLimitNothingAbortsFewerEnginesRunAndNoPageIsLost) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under ulimit -v or -d";
#endif
  {
    // A picture whose decoding wants more memory than the run may have: its job fails with
    // the reason, and the batch goes on, from the main thread and from the pool's threads.
    ScratchInstall install;
    install.AddStandIn("potrace");
    ASSERT_EQ(mkdir(install.work("in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
    const std::string header = "P4\n16000 8000\n";  // 256 MB of samples once decoded
    ASSERT_TRUE(testsupport::WriteText(install.work("in/a.pnm"), header));
    ASSERT_EQ(truncate(install.work("in/a.pnm").c_str(), static_cast<off_t>(header.size() + 16000 / 8 * 8000)), 0);
    ASSERT_TRUE(WriteGreyImage(install.work("in/b.bmp"), FORMAT_BMP, 64, 48, Disc));
    for (const char* jobs : {"1", "4"}) {
      const auto r = install.Run({"in", "out/*.eps"}, {std::string("TRACEWRIGHT_JOBS=") + jobs},
                                 {"/bin/sh", "-c", "ulimit -d 204800 && exec \"$0\" \"$@\""});
      EXPECT_EQ(r.status, 1) << jobs << r.err;
      EXPECT_EQ(r.err, "tracewright: " + install.work("in/a.pnm") + ": out of memory\ntracewright: 1 of 2 jobs failed\n");
      EXPECT_EQ(FolderEntries(install.work("out")), std::vector<std::string>{"b.eps"});
      EXPECT_TRUE(install.TmpEntries().empty());
      unlink(install.work("out/b.eps").c_str());
    }
  }
  const std::string pagerip = std::string(TW_BINARY_DIR) + "/pagerip";
  if (!HasPotrace() || !testsupport::Exists(pagerip)) GTEST_SKIP() << "needs potrace and pagerip";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  install.AddLink("pagerip", pagerip);
  // Twelve letter-size pages, each a disc of its own size.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  const int pages = 12;
  for (int k = 1; k <= pages; ++k) {
    kids += std::to_string(objects.size() + 1) + " 0 R ";
    const std::string content = "0 g " + std::to_string(100 + 10 * k) + " 0 0 " + std::to_string(100 + 10 * k) +
                                " 306 396 cm 1 0 m 0.55 1 1 0.55 1 0 c 1 -0.55 0.55 -1 0 -1 c -0.55 -1 -1 -0.55 -1 0 c "
                                "-1 0.55 -0.55 1 0 1 c 0.55 1 1 0.55 1 0 c f";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                      std::to_string(objects.size() + 2) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof(entry), "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  testsupport::WriteText(install.work("doc.pdf"), pdf);
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  // As on a machine of 16 cores with half a gigabyte of address space for the run.
  const auto r = install.Run({"-pdfres", "300", "doc.pdf", "out/p.svg"}, {"TRACEWRIGHT_JOBS=16"},
                             {"/bin/sh", "-c", "ulimit -v 524288 && exec \"$0\" \"$@\""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(FolderEntries(install.work("out")).size(), static_cast<std::size_t>(pages));
  EXPECT_TRUE(install.TmpEntries().empty());
}

// A batch killed halfway and run again with skip ends with one output per image, none twice,
// and the report of the second run tells what is on disk.
TEST(Batch, KilledBatchResumesWithSkipAndReportsWhatIsOnDisk) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_EQ(mkdir(install.work("in").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  for (int i = 0; i < 40; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "in/p%02d.bmp", i);
    ASSERT_TRUE(WriteGreyImage(install.work(name), FORMAT_BMP, 8, 8, Disc));
  }
  const std::string program = install.program();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", install.tmp().c_str(), 1);
    setenv("TW_STANDIN_DIR", install.records().c_str(), 1);
    setenv("TW_STANDIN_SLEEP", "0.05", 1);
    setenv("TRACEWRIGHT_JOBS", "4", 1);
    setenv("TRACEWRIGHT_EXISTING", "skip", 1);
    if (chdir(install.work().c_str()) != 0) _exit(126);
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(125);
    execl(program.c_str(), "tracewright", "in", "out/*.eps", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto published = [&] {
    int count = 0;
    for (const std::string& name : FolderEntries(install.work("out"))) count += EndsWith(name, ".eps") && name[0] != '.';
    return count;
  };
  for (int i = 0; i < 1000 && published() < 20; ++i) usleep(5000);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  usleep(300000);  // the killed run's engines finish on their own
  const int before = published();
  ASSERT_GE(before, 20);
  ASSERT_LT(before, 40);
  const int callsBefore = CallsRecorded(install);

  const auto r = install.Run({"in", "out/*.eps"}, {"TRACEWRIGHT_EXISTING=skip", "TRACEWRIGHT_JOBS=4",
                                                   "TRACEWRIGHT_REPORT=report.jsonl", "TRACEWRIGHT_EXIT=posix"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> names = FolderEntries(install.work("out"));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 40u);  // no numbered twin, no private file left
  for (int i = 0; i < 40; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "p%02d.eps", i);
    EXPECT_EQ(names[static_cast<std::size_t>(i)], name);
  }
  // Only the missing images were traced again.
  EXPECT_EQ(CallsRecorded(install) - callsBefore, 40 - before);

  const std::vector<std::string> lines = Lines(FileText(install.work("report.jsonl")));
  ASSERT_EQ(lines.size(), 41u);
  std::map<std::string, int> statuses;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_EQ(Field(line, "type"), "image");
    ++statuses[Field(line, "status")];
    const std::string written = Field(line, "written");
    EXPECT_EQ(written, Field(line, "asked"));
    EXPECT_EQ(Field(line, "bytes"), std::to_string(testsupport::ReadBytes(written).size())) << line;
    EXPECT_EQ(Stem(written), Stem(Field(line, "input"))) << line;
  }
  EXPECT_EQ(statuses["written"], 40 - before);
  EXPECT_EQ(statuses["skipped"], before);
  const std::string& summary = lines.back();
  EXPECT_EQ(Field(summary, "type"), "summary");
  EXPECT_EQ(Field(summary, "images"), "40");
  EXPECT_EQ(Field(summary, "written"), std::to_string(40 - before));
  EXPECT_EQ(Field(summary, "failed"), "0");
}

// Under TRACEWRIGHT_EXIT=posix the cases of the design's statuses give 0, 1 and 2; a bad
// setting is refused before any work with the design's 254, or 2.
TEST(Batch, PosixStatusesAndRefusedSettings) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) ASSERT_TRUE(WriteGreyImage(install.work(name), FORMAT_BMP, 8, 8, Disc));
  testsupport::WriteText(install.work("b2.bmp"), "no picture");
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    int design;
    int posix;
  };
  const std::vector<Case> cases = {
      {{"a.bmp", "out/a.eps"}, {}, 1, 0},
      {{"a.bmp", "out/a.eps"}, {"TW_STANDIN_FAIL=1"}, 0, 1},
      {{"*.bmp", "out/*.eps"}, {}, 1, 1},  // b2.bmp fails, c.bmp is last
      {{"b*.bmp", "out/*.eps"}, {}, 0, 1},
      {{"-h"}, {}, 254, 2},
      {{"none/*.bmp", "out/*.eps"}, {}, 254, 2},
      {{"a.bmp", ""}, {}, 254, 2},
      {{"a.bmp", "out/a.eps"}, {"TRACEWRIGHT_JOBS=abc"}, 254, 2},
      {{"a.bmp", "out/a.eps"}, {"TRACEWRIGHT_EXISTING=maybe"}, 254, 2},
      {{"a.bmp", "out/a.eps"}, {"TRACEWRIGHT_REPORT=nofolder/r.jsonl"}, 254, 2},
  };
  for (const Case& c : cases) {
    std::vector<std::string> posix = c.env;
    posix.push_back("TRACEWRIGHT_EXIT=posix");
    const auto design = install.Run(c.args, c.env);
    const auto shell = install.Run(c.args, posix);
    EXPECT_EQ(design.status, c.design) << c.args[0] << " " << (c.env.empty() ? "" : c.env[0]) << design.err;
    EXPECT_EQ(shell.status, c.posix) << c.args[0] << " " << (c.env.empty() ? "" : c.env[0]) << shell.err;
    EXPECT_EQ(shell.out, design.out);
  }
  const int calls = CallsRecorded(install);
  const auto refused = install.Run({"a.bmp", "out/a.eps"}, {"TRACEWRIGHT_JOBS=abc"});
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "tracewright: TRACEWRIGHT_JOBS: not a whole number from 1: \"abc\"\n");
  EXPECT_EQ(CallsRecorded(install), calls);
  EXPECT_EQ(install.Run({"a.bmp", "out/a.eps"}, {"TRACEWRIGHT_EXIT=shell"}).status, 254);

  // Replacing: the output goes over the old one, but never over an input of the batch.
  ASSERT_EQ(mkdir(install.work("again").c_str(), 0755), 0);
  testsupport::WriteText(install.work("again/c.eps"), "old");
  const auto replaced = install.Run({"c.bmp", "again/c.eps"}, {"TRACEWRIGHT_EXISTING=replace", "TRACEWRIGHT_EXIT=posix"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_NE(FileText(install.work("again/c.eps")), "old");
  EXPECT_EQ(FolderEntries(install.work("again")).size(), 1u);
  ASSERT_TRUE(WriteGreyImage(install.work("c.png"), FORMAT_PNG, 8, 8, Disc));
  const std::string original = FileText(install.work("c.png"));
  const auto beside = install.Run({"c*", "*.png"}, {"TRACEWRIGHT_EXISTING=replace", "TRACEWRIGHT_JOBS=1",
                                                    "TRACEWRIGHT_REPORT=-", "TRACEWRIGHT_EXIT=posix"});
  EXPECT_EQ(beside.status, 0) << beside.err;
  const std::vector<std::string> lines = Lines(beside.err);
  ASSERT_EQ(lines.size(), 3u) << beside.err;
  EXPECT_EQ(Field(lines[0], "written"), install.work("c000.png"));
  EXPECT_EQ(Field(lines[1], "written"), install.work("c001.png"));
  EXPECT_EQ(FileText(install.work("c.png")), original);
}

// A folder tree is mirrored below the output folder; a link back up is not followed again,
// hidden folders and the program's private files are left out.
TEST(Batch, RecursiveFolderMirrorsTheTreeOnce) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  for (const char* folder : {"in", "in/a", "in/a/b", "in/.hidden", "out"}) ASSERT_EQ(mkdir(install.work(folder).c_str(), 0755), 0);
  for (const char* name : {"in/top.bmp", "in/a/x.bmp", "in/a/b/y.bmp", "in/.hidden/z.bmp"}) {
    ASSERT_TRUE(WriteGreyImage(install.work(name), FORMAT_BMP, 8, 8, Disc));
  }
  ASSERT_EQ(symlink("../..", install.work("in/a/b/up").c_str()), 0);  // back to in/
  testsupport::WriteText(install.work("in/.trw-1-abcdef.part"), "half");
  const auto r = install.Run({"in", "out/*.eps"}, {"TRACEWRIGHT_RECURSIVE=1", "TRACEWRIGHT_EXIT=posix"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find(".hidden"), std::string::npos);
  EXPECT_EQ(FolderEntries(install.work("out")).size(), 2u);  // top.eps, a/
  EXPECT_TRUE(testsupport::Exists(install.work("out/top.eps")));
  EXPECT_TRUE(testsupport::Exists(install.work("out/a/x.eps")));
  EXPECT_TRUE(testsupport::Exists(install.work("out/a/b/y.eps")));
  EXPECT_EQ(FolderEntries(install.work("out/a/b")).size(), 1u);
  EXPECT_EQ(CallsRecorded(install), 3);
  // An output folder inside the tree is not an input of the next run.
  const auto inside = install.Run({"in", "in/a/out/*.eps"}, {"TRACEWRIGHT_RECURSIVE=1", "TRACEWRIGHT_EXISTING=skip"});
  EXPECT_EQ(inside.status, 1) << inside.err;
  const auto again = install.Run({"in", "in/a/out/*.eps"}, {"TRACEWRIGHT_RECURSIVE=1", "TRACEWRIGHT_EXISTING=skip",
                                                           "TRACEWRIGHT_REPORT=-"});
  EXPECT_EQ(again.err.find("\"status\":\"written\""), std::string::npos) << again.err;
  EXPECT_EQ(Lines(again.err).size(), 4u) << again.err;  // three skipped, the summary
  // Without the setting, a folder is what it always was: the files directly in it.
  const auto flat = install.Run({"in", "out/flat/*.eps"}, {});
  EXPECT_EQ(flat.status, 0);  // out/flat does not exist: the job fails
  EXPECT_EQ(Lines(flat.out).size(), 2u);
}

// On a terminal, standard error shows one line redrawn in place and cleared at the end;
// standard output is what it is without it.
TEST(Batch, ProgressLineOnATerminal) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) ASSERT_TRUE(WriteGreyImage(install.work(name), FORMAT_BMP, 8, 8, Disc));
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  const std::string program = install.program();
  const auto onTerminal = [&](const char* progress, const std::string& out) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      setenv("TMPDIR", install.tmp().c_str(), 1);
      setenv("TW_STANDIN_DIR", install.records().c_str(), 1);
      if (progress != nullptr) setenv("TRACEWRIGHT_PROGRESS", progress, 1);
      if (chdir(install.work().c_str()) != 0) _exit(126);
      if (freopen((out + ".stdout").c_str(), "w", stdout) == nullptr) _exit(125);
      execl(program.c_str(), "tracewright", "*.bmp", (out + "/*.eps").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof(buffer))) > 0;) shown.append(buffer, static_cast<std::size_t>(got));
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    return shown;
  };
  ASSERT_EQ(mkdir(install.work("shown").c_str(), 0755), 0);
  const std::string shown = onTerminal(nullptr, "shown");
  EXPECT_NE(shown.find("\r\033[K1 of 3 images, 0 failed, 0:00 elapsed, "), std::string::npos) << shown;
  EXPECT_NE(shown.find("\r\033[K3 of 3 images, 0 failed, 0:00 elapsed, 0:00 left"), std::string::npos) << shown;
  EXPECT_TRUE(EndsWith(shown, "left\r\033[K")) << shown;
  EXPECT_EQ(shown.find('\n'), std::string::npos);
  ASSERT_EQ(mkdir(install.work("quiet").c_str(), 0755), 0);
  EXPECT_EQ(onTerminal("0", "quiet"), "");
  std::string plain = FileText(install.work("shown.stdout"));
  for (std::size_t at; (at = plain.find("shown/")) != std::string::npos;) plain.replace(at, 6, "quiet/");
  EXPECT_EQ(plain, FileText(install.work("quiet.stdout")));
  EXPECT_EQ(Lines(plain).size(), 6u);
}
