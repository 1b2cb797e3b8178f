// Outputs delivered whole or not at all, and a reason on standard error for every failure:
// whole runs of a copy of tracewright with stand-in or real engines.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/io/format.h"
#include "support/standin_fixture.h"
#include "support/test_support.h"

namespace {

// Starts the program `count` times at once with the same arguments; returns their statuses.
std::vector<int> RunTogether(const ScratchInstall& install, int count, const std::vector<std::string>& args,
                             const std::vector<std::string>& env = {}) {
  const std::string program = install.program();
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(install.work().c_str()) != 0) _exit(126);
      setenv("TMPDIR", install.tmp().c_str(), 1);
      for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      std::vector<char*> argv = {const_cast<char*>(program.c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  std::vector<int> statuses;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return statuses;
}

}  // namespace

TEST(Delivery, ConcurrentRunsIntoOneNameEachDeliverWholeOutputs) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("disc.png"), FORMAT_PNG, 60, 40, Disc));
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  for (int status : RunTogether(install, 16, {"disc.png", "out/same.svg"})) EXPECT_EQ(status, 1);
  const auto names = FolderEntries(install.work("out"));
  EXPECT_EQ(names.size(), 16u);
  for (const std::string& name : names) {
    EXPECT_TRUE(name == "same.svg" || (name.rfind("same", 0) == 0 && name.size() == 11)) << name;
    EXPECT_TRUE(EndsWith(FileText(install.work("out/" + name)), "</svg>\n")) << name;
  }

  // Four runs of a three-page document: every page of every run is delivered.
  install.AddStandIn("pagerip");
  testsupport::WriteText(install.work("doc.pdf"), "%PDF-1.4 stand-in");
  ASSERT_EQ(mkdir(install.work("pages").c_str(), 0755), 0);
  const std::vector<std::string> pdf = {"TW_STANDIN_PAGES=3", "TW_STANDIN_PAGE=" + install.work("disc.png")};
  for (int status : RunTogether(install, 4, {"doc.pdf", "pages/p.svg"}, pdf)) EXPECT_EQ(status, 1);
  const auto pageNames = FolderEntries(install.work("pages"));
  EXPECT_EQ(pageNames.size(), 12u);
  for (const std::string& name : pageNames) EXPECT_TRUE(EndsWith(FileText(install.work("pages/" + name)), "</svg>\n"));
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(Diagnostics, EveryFailureSaysWhyInOneLineAndStandardOutputStaysAsDesigned) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  install.AddStandIn("pagerip");
  ASSERT_TRUE(WriteGreyImage(install.work("a.png"), FORMAT_PNG, 60, 40, Disc));
  const auto line = [&](const std::string& input, const std::string& reason) {
    return "tracewright: " + install.work(input) + ": " + reason + "\n";
  };
  // A missing input; its name is shown as given.
  auto r = install.Run({"missing.png", "x.svg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "tracewright: missing.png: No such file or directory\n");
  // A pipe is refused rather than waited on for ever.
  ASSERT_EQ(mkfifo(install.work("pipe.png").c_str(), 0644), 0);
  r = install.Run({"pipe.png", "x.svg"});
  EXPECT_EQ(r.err, line("pipe.png", "not a regular file (pipes and devices are not read)"));
  unlink(install.work("pipe.png").c_str());
  // Not a picture, an unsupported variant, an oversized picture: the image layer's reason.
  testsupport::WriteText(install.work("text.jpg"), "hello, world");
  r = install.Run({"text.jpg", "x.svg"});
  EXPECT_EQ(r.out, install.work("text.jpg") + " ==> " + install.work("x.svg") + "\n");
  EXPECT_EQ(r.err.rfind("tracewright: " + install.work("text.jpg") + ": Not a JPEG file", 0), 0u) << r.err;
  const std::vector<uint8_t> bmpHead = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
  auto bmp = [&](uint32_t side, uint32_t compression) {
    std::vector<uint8_t> bytes = bmpHead;
    for (uint32_t v : {side, side, 1u | 24u << 16, compression, 0u, 2835u, 2835u, 0u, 0u}) {
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    bytes.resize(70, 0);
    return bytes;
  };
  testsupport::WriteBytes(install.work("huge.bmp"), bmp(60000, 0));
  testsupport::WriteBytes(install.work("odd.bmp"), bmp(2, 7));
  r = install.Run({"-method2", "huge.bmp", "x.svg"});
  EXPECT_EQ(r.err, line("huge.bmp", "CXIMAGE_MAX_MEMORY exceeded"));
  // A PNG or PBM beyond the limit says so with its size, on either route, even where the
  // format is found by trying every decoder (.pbm).
  const std::vector<uint8_t> hugePng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                        0, 0x0F, 0x42, 0x40, 0, 0x0F, 0x42, 0x40, 8, 0, 0, 0, 0, 0x79, 0x06, 0x67, 0xA1,
                                        0, 0, 0, 2, 'I', 'D', 'A', 'T', 0x78, 0x9C, 0x62, 0xA4, 0x91, 0x2B};
  testsupport::WriteBytes(install.work("huge.png"), hugePng);
  testsupport::WriteText(install.work("huge.pbm"), "P4\n1000000 1000000\n" + std::string(1000, '\0'));
  const std::string tooLarge =
      "the picture is too large: 1000000 x 1000000 pixels, more than the 256 MiB limit (CXIMAGE_MAX_MEMORY exceeded)";
  for (const std::vector<std::string>& words : {std::vector<std::string>{"huge.png", "x.svg"},
                                                std::vector<std::string>{"huge.pbm", "x.svg"},
                                                std::vector<std::string>{"-method2", "huge.pbm", "x.svg"}}) {
    r = install.Run(words);
    EXPECT_EQ(r.err, line(words[words.size() - 2], tooLarge));
  }
  unlink(install.work("huge.png").c_str());
  // A temporary folder that cannot be made says why, on the job's one line, where one is
  // needed (potrace's bitmap is held in memory).
  ASSERT_TRUE(WriteGreyImage(install.work("pic.bmp"), FORMAT_BMP, 60, 40, Disc));
  r = install.Run({"-method2", "pic.bmp", "x.svg"}, {}, {"/usr/bin/env", "TMPDIR=" + install.work("none")});
  EXPECT_EQ(r.err, line("pic.bmp", "cannot create a temporary folder in " + install.work("none") +
                                       ": No such file or directory"));
  r = install.Run({"pic.bmp", "y.svg"}, {}, {"/usr/bin/env", "TMPDIR=" + install.work("none")});
  EXPECT_EQ(r.err, "");
  unlink(install.work("pic.bmp").c_str());
  r = install.Run({"odd.bmp", "x.svg"});
  EXPECT_EQ(r.err, line("odd.bmp", "unknown compression"));
  // A format the engine cannot write.
  r = install.Run({"a.png", "x.emf"});
  EXPECT_EQ(r.err, line("a.png", "potrace cannot write .emf files (-method2 writes emf)"));
  // An engine that fails says its own last line; one ended by a signal says which.
  r = install.Run({"a.png", "x.svg"}, {"TW_STANDIN_FAIL=1"});
  EXPECT_EQ(r.err, line("a.png", "potrace failed with status 1: failed on purpose"));
  r = install.Run({"a.png", "x.svg"}, {"TW_STANDIN_FAIL=kill"});
  EXPECT_EQ(r.err, line("a.png", "potrace was ended by signal 9 (Killed)"));
  // An engine past its time limit is stopped and the batch goes on, ending with a summary.
  ASSERT_TRUE(WriteGreyImage(install.work("b.png"), FORMAT_PNG, 8, 8, Disc));
  ASSERT_EQ(mkdir(install.work("t").c_str(), 0755), 0);
  r = install.Run({"*.png", "t/*.svg"}, {"TW_STANDIN_SLEEP=5", "TRACEWRIGHT_ENGINE_TIMEOUT=1"});
  EXPECT_EQ(r.err, "tracewright: a.png: potrace ran longer than 1 s and was stopped\n"
                   "tracewright: b.png: potrace ran longer than 1 s and was stopped\n"
                   "tracewright: 2 of 2 jobs failed\n");
  EXPECT_EQ(r.out, "a.png ==> " + install.work("t/a.svg") + "\nProcessing 1 of 1...\nb.png ==> " +
                       install.work("t/b.svg") + "\nProcessing 1 of 1...\n");
  // A document: no page at all, a page the renderer skipped, a page whose tracing failed.
  testsupport::WriteText(install.work("doc.pdf"), "%PDF-1.4 stand-in");
  r = install.Run({"doc.pdf", "d.svg"}, {"TW_STANDIN_PAGES=0"});
  EXPECT_EQ(r.err, line("doc.pdf", "the renderer wrote no page"));
  // Calls are counted over the whole test: the renderer's is the next, the third page's two later.
  int calls = 0;
  for (const std::string& name : FolderEntries(install.records())) calls += EndsWith(name, ".claim");
  const std::string thirdPage = std::to_string(calls + 2);
  r = install.Run({"doc.pdf", "d.svg"}, {"TW_STANDIN_PAGES=3", "TW_STANDIN_SKIP=2", "TW_STANDIN_FAIL=1",
                                          "TW_STANDIN_FAIL_CALL=" + thirdPage, "TW_STANDIN_PAGE=" + install.work("a.png"),
                                          "TRACEWRIGHT_JOBS=1"});
  EXPECT_EQ(r.out, install.work("doc.pdf") + " ==> " + install.work("d.svg") +
                       "\nProcessing 1 of 2...\nProcessing 2 of 2...\n");
  EXPECT_EQ(r.err, line("doc.pdf", "page 2 of 3: the page is too large") +
                       line("doc.pdf", "page 3 of 3: potrace failed with status 1: failed on purpose"));
  EXPECT_EQ(r.status, 0);
  // A renderer killed part-way, alone or as one of two: every page it did not write is named.
  for (const char* jobs : {"TRACEWRIGHT_JOBS=1", "TRACEWRIGHT_JOBS=2"}) {
    const bool shared = std::string(jobs).back() == '2';
    r = install.Run({"doc.pdf", "lost.svg"}, {"TW_STANDIN_PAGES=4", "TW_STANDIN_DIE_AFTER=" + std::string(shared ? "1" : "2"),
                                              "TW_STANDIN_PAGE=" + install.work("a.png"), jobs});
    EXPECT_EQ(r.err, line("doc.pdf", "page 3 of 4: pagerip was ended by signal 9 (Killed)") +
                         line("doc.pdf", "page 4 of 4: pagerip was ended by signal 9 (Killed)")) << jobs;
    EXPECT_EQ(r.out, install.work("doc.pdf") + " ==> " + install.work("lost.svg") +
                         "\nProcessing 1 of 2...\nProcessing 2 of 2...\n");
  }
  // No output folder to write in; a folder we may not write in (checked as an ordinary user).
  r = install.Run({"a.png", "nowhere/x.svg"});
  EXPECT_EQ(r.err, line("a.png", "cannot write in " + install.work("nowhere/") + ": No such file or directory"));
  if (geteuid() == 0 && testsupport::Exists("/usr/bin/setpriv")) {
    for (const std::string& folder : {install.root(), install.work(), install.tmp()}) chmod(folder.c_str(), 0777);
    ASSERT_EQ(mkdir(install.work("locked").c_str(), 0555), 0);
    testsupport::WriteText(install.work("secret.png"), "");
    chmod(install.work("secret.png").c_str(), 0);
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    r = install.Run({"a.png", "locked/x.svg"}, {}, nobody);
    EXPECT_EQ(r.err, line("a.png", "cannot write in " + install.work("locked/") + ": Permission denied"));
    r = install.Run({"secret.png", "x.svg"}, {}, nobody);
    EXPECT_EQ(r.err, line("secret.png", "Permission denied"));
    // An input folder that may not be read says so.
    ASSERT_EQ(mkdir(install.work("sealed").c_str(), 0311), 0);
    r = install.Run({"sealed", "x.svg"}, {}, nobody);
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.err, "tracewright: " + install.work("sealed/") + ": Permission denied\n");
  }
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(Delivery, MendsEmptyOutputWordAndPngOutputs) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  install.AddLink("autotrace", std::string(TW_BINARY_DIR) + "/autotrace");
  ASSERT_TRUE(WriteGreyImage(install.work("pic.tif"), FORMAT_TIF, 60, 40, Disc));
  // An empty output word is refused like an empty input word, and nothing is written.
  auto r = install.Run({"pic.tif", ""});
  EXPECT_EQ(r.status, 254);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tracewright: pic.tif: the output name is empty\n");
  EXPECT_EQ(FolderEntries(install.work()), std::vector<std::string>{"pic.tif"});
  // The default output, pic.png, is a PNG of the traced curves: black disc, white corners.
  r = install.Run({"pic.tif"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto png = testsupport::ReadBytes(install.work("pic.png"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 4), (std::vector<uint8_t>{0x89, 'P', 'N', 'G'}));
  // A device named as the output is written in place, not replaced or renumbered.
  r = install.Run({"pic.tif", "/dev/null"});
  EXPECT_EQ(r.status, 1) << r.err;
  r = install.Run({"-method2", "pic.tif", "x.pgm"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("unsupported output format"), std::string::npos) << r.err;
  EXPECT_EQ(FolderEntries(install.work()).size(), 2u);
}

TEST(Delivery, FullDiskLeavesNothingAndSaysWhy) {
  if (!HasPotrace()) GTEST_SKIP() << "potrace is not installed";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  install.AddLink("autotrace", std::string(TW_BINARY_DIR) + "/autotrace");
  const std::string disk = install.work("disk");
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  }
  // Filled up to the last block.
  std::vector<uint8_t> block(4096, 0);
  std::FILE* fill = std::fopen((disk + "/fill").c_str(), "wb");
  while (fill != nullptr && std::fwrite(block.data(), 1, block.size(), fill) == block.size() && std::fflush(fill) == 0) {
  }
  if (fill != nullptr) std::fclose(fill);
  truncate((disk + "/fill").c_str(), 60 * 1024);
  ASSERT_TRUE(WriteGreyImage(install.work("big.png"), FORMAT_PNG, 400, 300, [](int x, int y) -> unsigned char {
    return ((x / 3 + y / 2) % 3 == 0 || (x * 7 + y * 13) % 11 == 0) ? 0 : 255;
  }));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"big.png", "disk/x.svg"},
                                               std::vector<std::string>{"-method2", "big.png", "disk/x.svg"}}) {
    const auto r = install.Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(FolderEntries(disk), std::vector<std::string>{"fill"});
  }
  // Jobs side by side: a job whose engine lost its writes says why even when another job's
  // failed file has given the room back by the time it looks.
  ASSERT_EQ(mkdir(install.work("many").c_str(), 0755), 0);
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(WriteGreyImage(install.work("many/p" + std::to_string(i) + ".png"), FORMAT_PNG, 100 + 30 * i, 150,
                               [](int x, int y) -> unsigned char { return (x * 7 + y * 13) % 11 == 0 ? 0 : 255; }));
  }
  for (const char* extension : {"dxf", "pgm"}) {
    const auto r = install.Run({"many", std::string("disk/*.") + extension}, {"TRACEWRIGHT_JOBS=4"});
    std::istringstream lines(r.err);
    int failures = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.find(" jobs failed") != std::string::npos) continue;
      ++failures;
      EXPECT_TRUE(EndsWith(line, ": No space left on device")) << line;
    }
    EXPECT_GT(failures, 0) << extension;
    for (const std::string& name : FolderEntries(disk)) {
      if (name != "fill") unlink((disk + "/" + name).c_str());
    }
  }
  // The temporary folder on the full disk: one line for the job, with the system's reason,
  // where the method writes its picture's frames there; potrace's bitmap is held in memory.
  ASSERT_TRUE(WriteGreyImage(install.work("big.bmp"), FORMAT_BMP, 400, 300, [](int x, int y) -> unsigned char {
    return ((x / 3 + y / 2) % 3 == 0 || (x * 7 + y * 13) % 11 == 0) ? 0 : 255;
  }));
  auto r = install.Run({"-method2", "big.bmp", "x.svg"}, {}, {"/usr/bin/env", "TMPDIR=" + disk});
  EXPECT_EQ(r.status, 0);
  const std::string start = "tracewright: " + install.work("big.bmp") + ": No space left on device";
  EXPECT_EQ(r.err.substr(0, start.size()), start) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(testsupport::Exists(install.work("x.svg")));
  r = install.Run({"big.bmp", "x.svg"}, {}, {"/usr/bin/env", "TMPDIR=" + disk});
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(testsupport::Exists(install.work("x.svg")));
  EXPECT_EQ(FolderEntries(disk), std::vector<std::string>{"fill"});
  umount(disk.c_str());
  EXPECT_TRUE(install.TmpEntries().empty());
}

TEST(Delivery, GnuParallelJobsShareOneOutputFolder) {
  if (!HasPotrace() || !testsupport::Exists("/usr/bin/parallel")) GTEST_SKIP() << "needs potrace and GNU parallel";
  ScratchInstall install;
  install.AddLink("potrace", "/usr/bin/potrace");
  // As the README's recipe: status 1 is a delivered output, so the job maps it to success.
  std::vector<std::string> args = {"/usr/bin/parallel", "-j8", install.program() + " {} out/page.svg; test $? = 1", ":::"};
  for (int i = 0; i < 8; ++i) {
    const std::string name = "in" + std::to_string(i) + ".png";
    ASSERT_TRUE(WriteGreyImage(install.work(name), FORMAT_PNG, 60, 40, Disc));
    args.push_back(name);
  }
  ASSERT_EQ(mkdir(install.work("out").c_str(), 0755), 0);
  const auto r = testsupport::RunCommand(args, install.work(), {"TMPDIR=" + install.tmp(), "HOME=" + install.tmp()});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto names = FolderEntries(install.work("out"));
  EXPECT_EQ(names.size(), 8u);
  for (const std::string& name : names) EXPECT_TRUE(EndsWith(FileText(install.work("out/" + name)), "</svg>\n")) << name;
}

TEST(Delivery, DevicesGetTheWholeResultAndNamesPlantedByOthersAreNeverWritten) {
  ScratchInstall install;
  install.AddStandIn("potrace");
  ASSERT_TRUE(WriteGreyImage(install.work("a.png"), FORMAT_PNG, 60, 40, Disc));
  const std::string jobLine = install.work("a.png") + " ==> ";
  // Standard output as the output, a pipe or a file: the picture follows the job's lines.
  auto r = install.Run({"a.png", "/dev/stdout"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, jobLine + "/dev/stdout\nProcessing 1 of 1...\nstand-in output\n%%EOF\n");
  r = install.Run({"a.png", "/dev/stdout"}, {}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" > captured.eps"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(FileText(install.work("captured.eps")), jobLine + "/dev/stdout\nProcessing 1 of 1...\nstand-in output\n%%EOF\n");
  // A full device says so.
  r = install.Run({"a.png", "/dev/full"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "tracewright: " + install.work("a.png") + ": cannot write /dev/full: No space left on device\n");
  // A dangling link holds its name: the output takes the next one.
  ASSERT_EQ(symlink("nowhere", install.work("dangling.svg").c_str()), 0);
  r = install.Run({"a.png", "dangling.svg"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(EndsWith(FileText(install.work("dangling000.svg")), "</svg>\n"));
  if (geteuid() == 0) {
    // Another user's link to a device and another user's pipe, in a sticky world-writable
    // folder: neither is written, the outputs take the next names, and nothing waits.
    const std::string shared = install.work("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink("/dev/null", (shared + "/out.svg").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/out.svg").c_str(), 65534, 65534), 0);
    ASSERT_EQ(mkfifo((shared + "/pipe.svg").c_str(), 0666), 0);
    ASSERT_EQ(chown((shared + "/pipe.svg").c_str(), 65534, 65534), 0);
    for (const char* name : {"out", "pipe"}) {
      r = install.Run({"a.png", "shared/" + std::string(name) + ".svg"}, {"TRACEWRIGHT_ENGINE_TIMEOUT=5"});
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_TRUE(EndsWith(FileText(shared + "/" + name + "000.svg"), "</svg>\n")) << name;
    }
  }
  EXPECT_FALSE(testsupport::Exists("/dev/stdout000"));
  EXPECT_TRUE(install.TmpEntries().empty());
}
