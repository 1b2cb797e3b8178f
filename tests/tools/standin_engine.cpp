// A stand-in for the engines in tests. Placed beside a copy of tracewright under an engine's
// name, it records how it was called and writes the output the real engine would write:
// - TW_STANDIN_DIR: folder for call-N.args (one argument per line) and call-N.input (a copy
//   of the last argument, the image it was given; standard input when that is "-");
// - as pagerip (-r DPI in.pdf base.png): TW_STANDIN_PAGES copies (default 1) of the PNG named
//   by TW_STANDIN_PAGE, named base-0001.png, base-0002.png, ...;
// - otherwise: a small file at the path after -o or -output-file (standard output for "-"),
//   ending the way potrace's backend (the first argument) ends its files;
// - TW_STANDIN_FAIL=1: writes no output, says why and ends with status 1; =kill: is killed by
//   SIGKILL; TW_STANDIN_FAIL_CALL=N: fails so only on its N-th call (from 0);
// - as pagerip with TW_STANDIN_PAGE set, says "pagerip: N pages" first, as pagerip does;
// - TW_STANDIN_SKIP=N: as pagerip, leaves out page N and says so as pagerip does;
// - TW_STANDIN_DIE_AFTER=N: as pagerip, is killed by SIGKILL after writing N pages;
// - TW_STANDIN_SLEEP=N: sleeps N seconds first (for interrupt tests; fractions allowed);
// - TW_STANDIN_LOG=FILE: appends "start <pid>" when it begins and "stop <pid>" when it ends,
//   one line each with O_APPEND, so that tests can count the engines running at once.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

void CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
}

int Record(int argc, char** argv) {
  const char* dir = std::getenv("TW_STANDIN_DIR");
  if (dir == nullptr || *dir == '\0') return -1;
  // Stand-ins may run side by side: a number is claimed by creating its file exclusively.
  int n = 0;
  while (open((std::string(dir) + "/call-" + std::to_string(n) + ".claim").c_str(),
              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644) < 0) {
    ++n;
  }
  const std::string stem = std::string(dir) + "/call-" + std::to_string(n);
  if (argc > 1) CopyFile(std::strcmp(argv[argc - 1], "-") == 0 ? "/dev/stdin" : argv[argc - 1], stem + ".input");
  std::ofstream args(stem + ".args.part", std::ios::binary);
  for (int i = 0; i < argc; ++i) args << argv[i] << '\n';
  args.close();
  std::rename((stem + ".args.part").c_str(), (stem + ".args").c_str());
  return n;
}

// pagerip -r DPI [-part K/M] in.pdf base.png: only pages K, K+M, ... with a part.
void WritePages(const std::string& base, int part, int parts) {
  const char* page = std::getenv("TW_STANDIN_PAGE");
  const char* countText = std::getenv("TW_STANDIN_PAGES");
  const int count = countText ? std::atoi(countText) : 1;
  const char* skipText = std::getenv("TW_STANDIN_SKIP");
  const int skip = skipText ? std::atoi(skipText) : 0;
  const char* dieText = std::getenv("TW_STANDIN_DIE_AFTER");
  int left = dieText ? std::atoi(dieText) : -1;
  const std::string stem = base.size() > 4 ? base.substr(0, base.size() - 4) : base;
  if (page != nullptr) std::fprintf(stderr, "pagerip: %d pages\n", count);
  for (int i = part; i <= count; i += parts) {
    if (left-- == 0) raise(SIGKILL);
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), "-%04d.png", i);
    if (i == skip) {
      std::fprintf(stderr, "pagerip: page %d of %d skipped: the page is too large\n", i, count);
    } else if (page != nullptr) {
      CopyFile(page, stem + suffix);
    }
  }
}

void Log(const char* event) {
  const char* log = std::getenv("TW_STANDIN_LOG");
  if (log == nullptr || *log == '\0') return;
  const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string line = std::string(event) + " " + std::to_string(getpid()) + "\n";
  if (write(fd, line.data(), line.size()) < 0) {
  }
  close(fd);
}

int Run(int argc, char** argv) {
  const int call = Record(argc, argv);
  if (const char* pause = std::getenv("TW_STANDIN_SLEEP")) {
    const double seconds = std::atof(pause);
    const timespec wait = {static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<long>(seconds)) * 1e9)};
    nanosleep(&wait, nullptr);
  }
  const char* fail = std::getenv("TW_STANDIN_FAIL");
  const char* failCall = std::getenv("TW_STANDIN_FAIL_CALL");
  if (fail != nullptr && (failCall == nullptr || std::atoi(failCall) == call)) {
    if (std::strcmp(fail, "kill") == 0) raise(SIGKILL);
    if (std::strcmp(fail, "1") == 0) {
      const char* slash = std::strrchr(argv[0], '/');
      const char* name = slash != nullptr ? slash + 1 : argv[0];
      std::fprintf(stderr, "%s: warming up\n%s: failed on purpose\n", name, name);
      return 1;
    }
  }
  const std::string self = argv[0];
  const bool renderer = self.size() >= 7 && self.compare(self.size() - 7, 7, "pagerip") == 0;
  if (renderer) {
    int part = 1, parts = 1;
    if (argc == 7 && std::sscanf(argv[4], "%d/%d", &part, &parts) == 2 && part >= 1 && parts >= part) {
      WritePages(argv[6], part, parts);
    } else if (argc == 5) {
      WritePages(argv[4], 1, 1);
    }
    return 0;
  }
  const std::string backend = argc > 2 ? std::string(argv[1]) + " " + argv[2] : "";
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 || std::strcmp(argv[i], "-output-file") == 0) {
      std::ofstream out(std::strcmp(argv[i + 1], "-") == 0 ? "/dev/stdout" : argv[i + 1], std::ios::binary);
      if (backend.rfind("-g ", 0) == 0) {
        out << "P5\n1 1\n255\n\xff";
      } else {
        out << "stand-in output\n";
        if (backend.rfind("-s ", 0) == 0 || backend == "-b gimppath") {
          out << "</svg>\n";
        } else if (backend == "-b dxf") {
          out << "EOF\n";
        } else {
          out << "%%EOF\n";
        }
      }
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Log("start");
  const int status = Run(argc, argv);
  Log("stop");
  return status;
}
