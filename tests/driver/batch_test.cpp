// The job loop: one path for every job whatever the number of engines, at most N engines of
// any kind at once, and what a run one job after another prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
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

TEST(Batch, UnderAMemoryLimitFewerEnginesRunAndNoPageIsLost) {
  const std::string pagerip = std::string(TW_BINARY_DIR) + "/pagerip";
  if (!HasPotrace() || !testsupport::Exists(pagerip)) GTEST_SKIP() << "needs potrace and pagerip";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under ulimit -v";
#endif
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
