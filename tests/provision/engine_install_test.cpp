// The installed program as users get it: one executable that brings its engines along.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine_locations.h"
#include "provision/provision.h"
#include "support/test_support.h"

using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::ScratchDir;

namespace {

const std::string kBinary = TW_BINARY_DIR;
const std::string kLogo = std::string(TW_SOURCE_DIR) + "/samples/logo.png";

std::vector<std::string> ListFolder(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool CopyExecutable(const std::string& from, const std::string& to) {
  return testsupport::WriteBytes(to, testsupport::ReadBytes(from)) &&
         chmod(to.c_str(), 0755) == 0;
}

// One page with a black square, offsets computed so that the cross-reference table is exact.
std::string SquarePdf() {
  const std::string content = "0 g 36 36 72 72 re f\n";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R "
      "/Resources << >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
          "endstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof(line), "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

struct Conversion {
  const char* what;
  std::vector<std::string> options;
  std::string input;
  const char* outputName;
  std::vector<std::string> engines;  // the ones it needs, beside a reference copy
};

// Converts with a copy of the built program that has the engines as real files beside it.
// When that fails too, the pipeline or an engine cannot do this conversion yet.
bool ReferenceConverts(const Conversion& c, const ScratchDir& scratch) {
  const std::string dir = scratch.file(std::string("ref-") + c.outputName);
  if (mkdir(dir.c_str(), 0755) != 0) return false;
  if (!CopyExecutable(kBinary + "/tracewright", dir + "/tracewright")) return false;
  for (const std::string& engine : c.engines) {
    const std::string real = engine == "potrace" ? TW_POTRACE_PATH : kBinary + "/" + engine;
    if (symlink(real.c_str(), (dir + "/" + engine).c_str()) != 0) return false;
  }
  std::vector<std::string> argv = {dir + "/tracewright"};
  argv.insert(argv.end(), c.options.begin(), c.options.end());
  argv.push_back(c.input);
  argv.push_back(dir + "/" + c.outputName);
  const CommandResult run = RunCommand(argv);
  return run.status == 1 && testsupport::Exists(dir + "/" + c.outputName);
}

}  // namespace

TEST(EngineInstall, InstalledProgramConvertsFromReadOnlyFolderWithNothingBesideIt) {
  if (!TW_PROGRAM_CARRIES_ENGINES) GTEST_SKIP() << "built without the engines inside";
  ScratchDir scratch;
  const std::string prefix = scratch.file("prefix");
  const CommandResult install =
      RunCommand({TW_CMAKE_COMMAND, "--install", kBinary, "--prefix", prefix});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  const std::string bin = prefix + "/bin";
  EXPECT_TRUE(testsupport::Exists(prefix + "/share/man/man1/tracewright.1"));
  const std::vector<std::string> onlyProgram = {"tracewright"};
  EXPECT_EQ(ListFolder(bin), onlyProgram) << "the install must be one self-contained program";
  ASSERT_TRUE(testsupport::Exists(bin + "/tracewright"));
  // As root the mode does not stop writes; the listing afterwards is what proves none.
  ASSERT_EQ(chmod(bin.c_str(), 0555), 0);
  const std::vector<std::string> before = ListFolder(bin);

  const std::string work = scratch.file("work");
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  const std::string tmp = scratch.file("tmp");
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_TRUE(testsupport::WriteText(work + "/square.pdf", SquarePdf()));
  struct Mode {
    std::string name;
    std::vector<std::string> wrapper;  // runs the program inside it
    std::vector<std::string> env;
  };
  std::vector<Mode> modes = {{"memory", {}, {}},
                             {"disk", {}, {"TRACEWRIGHT_ENGINES_ON_DISK=1", "TMPDIR=" + tmp}}};
  const std::vector<std::string> noexecMemory = {
      "/usr/bin/unshare", "-p", "-f", "--mount-proc", "/bin/sh", "-c",
      "echo 2 >/proc/sys/vm/memfd_noexec && exec \"$0\" \"$@\""};
  std::vector<std::string> probe = noexecMemory;
  probe.push_back("/bin/true");
  if (testsupport::Exists(noexecMemory[0]) && RunCommand(probe).status == 0) {
    modes.push_back({"noexec-memfd", noexecMemory, {"TMPDIR=" + tmp}});
  }
  const std::vector<Conversion> conversions = {
      {"PNG to SVG with potrace", {}, kLogo, "logo.svg", {"potrace"}},
      {"PDF to EPS through pagerip", {}, work + "/square.pdf", "square.eps",
       {"pagerip", "potrace"}},
      {"PNG to EMF with -method2", {"-method2"}, kLogo, "logo.emf", {"autotrace"}},
  };
  std::string skipped;
  for (const Conversion& c : conversions) {
    if (!ReferenceConverts(c, scratch)) {
      skipped += std::string(skipped.empty() ? "" : "; ") + c.what;
      continue;
    }
    // In memory; from copies in the temporary folder when asked to; and where the kernel
    // refuses executable in-memory files (vm.memfd_noexec=2 in a PID namespace of its own).
    for (const Mode& mode : modes) {
      const std::string output = work + "/" + mode.name + "-" + c.outputName;
      std::vector<std::string> argv = mode.wrapper;
      argv.push_back(bin + "/tracewright");
      argv.insert(argv.end(), c.options.begin(), c.options.end());
      argv.push_back(c.input);
      argv.push_back(output);
      const CommandResult run = RunCommand(argv, work, mode.env);
      EXPECT_EQ(run.status, 1) << c.what << " (" << mode.name << ")\n" << run.out << run.err;
      EXPECT_TRUE(testsupport::Exists(output)) << c.what << " (" << mode.name << ")";
    }
  }
  EXPECT_EQ(ListFolder(bin), before) << "nothing may be written beside the program";
  EXPECT_TRUE(ListFolder(tmp).empty()) << "the copies go with the run's other temporary files";
  chmod(bin.c_str(), 0755);
  if (!skipped.empty()) {
    GTEST_SKIP() << "not converting yet, even with the engines beside the program: " << skipped;
  }
}

TEST(EngineInstall, RealFileBesideProgramIsTheOneThatRuns) {
  ScratchDir scratch;
  const std::string prog = scratch.file("prog");
  const std::string calls = scratch.file("calls");
  ASSERT_EQ(mkdir(prog.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(calls.c_str(), 0755), 0);
  ASSERT_TRUE(CopyExecutable(kBinary + "/tracewright", prog + "/tracewright"));
  const std::string standin = kBinary + "/testtools/standin_engine";
  ASSERT_TRUE(CopyExecutable(standin, prog + "/potrace"));
  ASSERT_TRUE(CopyExecutable(standin, prog + "/autotrace"));
  const std::vector<std::string> env = {"TW_STANDIN_DIR=" + calls};

  const CommandResult run =
      RunCommand({prog + "/tracewright", kLogo, scratch.file("out.svg")}, "", env);
  if (run.out.find("Processing") == std::string::npos) {
    GTEST_SKIP() << "the conversion pipeline does not start engines yet";
  }
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  std::ifstream args(calls + "/call-0.args");
  std::string first;
  std::getline(args, first);
  EXPECT_EQ(first, prog + "/potrace");
  EXPECT_TRUE(testsupport::Exists(scratch.file("out.svg")));

  const CommandResult second = RunCommand(
      {prog + "/tracewright", "-method2", kLogo, scratch.file("out.emf")}, "", env);
  EXPECT_EQ(second.status, 1) << second.out << second.err;
  std::ifstream secondArgs(calls + "/call-1.args");
  std::getline(secondArgs, first);
  EXPECT_EQ(first, prog + "/autotrace");
}

// A packaged build runs the installed engines: its own two from the engine folder, the
// second-method tracer under a name of its own, and the system's potrace. Without a folder
// (this build) nothing is fixed and the engines are provisioned beside the program.
TEST(EngineInstall, PackagedBuildRunsTheInstalledEnginesUnderTheirOwnNames) {
  const std::string potrace = "/usr/bin/potrace";
  for (const std::string folder : {"/usr/libexec/tracewright", "/usr/libexec/tracewright/"}) {
    EXPECT_EQ(InstalledToolPathIn(folder, potrace, "potrace"), potrace);
    EXPECT_EQ(InstalledToolPathIn(folder, potrace, "pagerip"), "/usr/libexec/tracewright/pagerip");
    EXPECT_EQ(InstalledToolPathIn(folder, potrace, "autotrace"),
              "/usr/libexec/tracewright/" + std::string(kInstalledSecondTracer));
  }
  EXPECT_NE(kInstalledSecondTracer, "autotrace");
  for (const char* tool : kStoredToolNames) {
    EXPECT_EQ(InstalledToolPathIn("", potrace, tool), "") << tool;
    if (kEngineFolder.empty()) {
      EXPECT_EQ(InstalledToolPath(tool), "") << tool;
    }
  }
}
