#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdint>
#include <ctime>
#include <new>

#include "platform/memfile_registry.h"
#include "platform/running_child.h"

extern char** environ;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '\\') {
      std::size_t run = 0;
      while (i + run < line.size() && line[i + run] == '\\') ++run;
      inArg = true;
      if (i + run < line.size() && line[i + run] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current.push_back('"');
          i += run + 1;
        } else {
          i += run;  // the quote toggles quoting on the next round
        }
      } else {
        current.append(run, '\\');
        i += run;
      }
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;
      ++i;
    } else if (IsBlank(c) && !quoted) {
      if (inArg) args.push_back(std::move(current));
      current.clear();
      inArg = false;
      ++i;
    } else {
      current.push_back(c);
      inArg = true;
      ++i;
    }
  }
  if (inArg) args.push_back(std::move(current));
  return args;
}

std::string QuoteArgument(std::string_view arg) {
  std::string out;
  out.reserve(arg.size() + 2);
  out.push_back('"');
  std::size_t i = 0;
  while (i < arg.size()) {
    std::size_t run = 0;
    while (i + run < arg.size() && arg[i + run] == '\\') ++run;
    if (i + run == arg.size()) {
      // Doubled, so that the closing quote stays a quote.
      out.append(run * 2, '\\');
      break;
    }
    if (arg[i + run] == '"') {
      out.append(run * 2 + 1, '\\');
    } else {
      out.append(run, '\\');
    }
    out.push_back(arg[i + run]);
    i += run + 1;
  }
  out.push_back('"');
  return out;
}

namespace {

constexpr std::size_t kReadChunk = 64 * 1024 - 1;

// Keeps pipe ends off descriptors 0 to 2, where the child's dup2 onto the same number would
// leave close-on-exec set.
bool MoveAboveStdio(int& fd) {
  if (fd > 2) return true;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  fd = moved;
  return moved >= 0;
}

// A caller's descriptor for the child, copied above 0 to 2 while it is in use when it sits
// there (its holder updated to the copy).
struct StreamCopy {
  explicit StreamCopy(int& fd) {
    if (fd < 0 || fd > 2) return;
    copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ok = copy >= 0;
    fd = copy;
  }
  ~StreamCopy() {
    if (copy >= 0) ::close(copy);
  }
  StreamCopy(const StreamCopy&) = delete;
  StreamCopy& operator=(const StreamCopy&) = delete;
  int copy = -1;
  bool ok = true;
};

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// What the child does between clone and exec, prepared in full beforehand: it shares the
// parent's memory until exec and may call nothing that allocates or locks.
struct ChildSetup {
  const char* path = nullptr;
  char** args = nullptr;
  int writeEnd = -1;
  int programFd = -1;  // an in-memory executable, started as /proc/self/fd/3
  int inputFd = -1;    // /dev/null unless the caller gave one
  int outputFd = -1;   // the pipe unless the caller gave one
  pid_t parent = 0;
  int error = 0;       // set by a child that could not exec
};

// The kernel's own sigaction, for the raw system call: the child calls no library function
// that a sanitizer or the C library might intercept and run with the parent's locks.
struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  std::uint64_t mask;
};

// Runs in the child. It ends with the thread that started it (an engine never outlives a
// run that was killed), gets its input, its output and the pipe as error, no other
// descriptor, default signal handling and an empty signal mask.
__attribute__((no_sanitize("address", "undefined"))) int ChildMain(void* data) {
  ChildSetup& setup = *static_cast<ChildSetup*>(data);
  long error = 0;
  if (::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) error = errno;
  // The parent may have ended before the death signal was set.
  if (error == 0 && ::syscall(SYS_getppid) != setup.parent) error = ESRCH;
  const KernelSigaction defaults = {SIG_DFL, 0, nullptr, 0};
  for (int sig = 1; sig < 65 && error == 0; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::syscall(SYS_rt_sigaction, sig, &defaults, nullptr, sizeof(std::uint64_t));
  }
  if (error == 0 && (::syscall(SYS_dup2, setup.inputFd, 0) < 0 || ::syscall(SYS_dup2, setup.outputFd, 1) < 0 ||
                     ::syscall(SYS_dup2, setup.writeEnd, 2) < 0)) {
    error = errno;
  }
  if (error == 0 && setup.programFd >= 0 && ::syscall(SYS_dup2, setup.programFd, 3) < 0) error = errno;
  if (error == 0) ::syscall(SYS_close_range, setup.programFd >= 0 ? 4U : 3U, ~0U, 0U);
  if (error == 0) {
    const std::uint64_t none = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof(none));
    ::syscall(SYS_execve, setup.path, setup.args, environ);
    error = errno;
  }
  setup.error = error == 0 ? ENOEXEC : static_cast<int>(error);
  ::syscall(SYS_exit, 127);
  return 127;
}

constexpr std::size_t kChildStack = 64 * 1024;

// Starts the child and records it for the interrupt handler in one step, so that an
// interrupt never finds a child that is running but unknown. Returns 0 or an errno value.
// The child is made with clone(CLONE_VM | CLONE_VFORK), as posix_spawn does, which cannot
// set the death signal: this thread waits until the child has run exec or failed.
int SpawnFrom(const std::vector<std::string>& argv, const MemFileStart& start, int writeEnd,
              const ChildStreams& streams, pid_t& pid) {
  ChildSetup setup;
  const std::string path = start.fd >= 0 ? "/proc/self/fd/3" : start.diskPath.empty() ? argv[0] : start.diskPath;
  std::vector<char*> args;
  std::vector<char> stack;
  try {
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    stack.resize(kChildStack);
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  setup.path = path.c_str();
  setup.args = args.data();
  setup.writeEnd = writeEnd;
  setup.programFd = start.fd;
  setup.parent = ::getpid();
  setup.outputFd = streams.output >= 0 ? streams.output : writeEnd;
  const int nullFd = streams.input >= 0 ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (streams.input < 0 && nullFd < 0) return errno;
  setup.inputFd = streams.input >= 0 ? streams.input : nullFd;
  int status = 0;
  {
    // No handler of this process may run in the child before exec.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const int child = ::clone(ChildMain, stack.data() + stack.size(), CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
    if (child < 0) {
      status = errno;
    } else if (setup.error != 0) {
      status = setup.error;
      int ignored = 0;
      while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
      }
    } else {
      pid = child;
      SetRunningChild(pid);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  if (nullFd >= 0) ::close(nullFd);
  return status;
}

// The system may refuse to run in-memory files (vm.memfd_noexec, no /proc); such a refusal
// sends this and every later start to the copies on disk.
bool RefusedInMemory(int status) {
  return status == EACCES || status == EPERM || status == ENOENT;
}

constexpr int kBusyRetries = 100;

bool Spawn(const std::vector<std::string>& argv, int writeEnd, const ChildStreams& streams, pid_t& pid,
           std::string& error) {
  const std::string& program = argv[0];
  MemFileStart start = PrepareMemFileStart(program);
  if (start.registered && start.fd < 0 && start.diskPath.empty()) {
    error = start.error;
    return false;
  }
  int status = SpawnFrom(argv, start, writeEnd, streams, pid);
  // An engine file written a moment ago may still be open for writing in a child that
  // another thread is starting (until that child's exec closes it): the kernel then says
  // "text file busy" for a short while.
  for (int retry = 0; status == ETXTBSY && start.registered && retry < kBusyRetries; ++retry) {
    const timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
    status = SpawnFrom(argv, start, writeEnd, streams, pid);
  }
  if (status != 0 && start.fd >= 0 && RefusedInMemory(status)) {
    start = MemFileStartRefused(program);
    if (start.diskPath.empty()) {
      error = start.error;
      return false;
    }
    status = SpawnFrom(argv, start, writeEnd, streams, pid);
  }
  if (status != 0) {
    const std::string& ran = start.diskPath.empty() ? program : start.diskPath;
    error = "cannot run " + program.substr(program.find_last_of('/') + 1) + ": " + ran + ": " +
            std::strerror(status);
  }
  return status == 0;
}

void AppendUpToNul(std::string& captured, const char* data, std::size_t size) {
  const void* nul = std::memchr(data, '\0', size);
  if (nul != nullptr) size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
  captured.append(data, size);
}

// Milliseconds left until the deadline (-1: none), never below 0.
int MillisecondsLeft(const timespec& deadline, bool hasDeadline) {
  if (!hasDeadline) return -1;
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const long long left = (deadline.tv_sec - now.tv_sec) * 1000LL + (deadline.tv_nsec - now.tv_nsec) / 1000000;
  return left <= 0 ? 0 : static_cast<int>(left > 1 << 30 ? 1 << 30 : left);
}

// Reads until end of data. When the child has ended but something it left behind still
// holds the pipe open, stops once nothing more is waiting instead of hanging. Returns false
// when the time limit ran out first.
bool Drain(int readEnd, int pidFd, std::string& captured, int timeoutSeconds) {
  std::vector<char> buffer(kReadChunk);
  timespec deadline{};
  const bool hasDeadline = timeoutSeconds > 0;
  if (hasDeadline) {
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutSeconds;
  }
  for (;;) {
    pollfd fds[2] = {{readEnd, POLLIN, 0}, {pidFd, POLLIN, 0}};
    const nfds_t count = pidFd >= 0 ? 2 : 1;
    const int wait = MillisecondsLeft(deadline, hasDeadline);
    const int ready = ::poll(fds, count, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return true;
    }
    if (ready == 0 && wait == 0) return false;
    if (fds[0].revents & POLLNVAL) return true;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(readEnd, buffer.data(), buffer.size());
      if (n > 0) {
        AppendUpToNul(captured, buffer.data(), static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return true;
    }
    if (count == 2 && fds[1].revents != 0) return true;
  }
}

// Asks a child that ran too long to end, and kills it when it has not after two seconds.
void EndOverdueChild(pid_t pid, int pidFd) {
  ::kill(pid, SIGTERM);
  if (pidFd >= 0) {
    pollfd fd = {pidFd, POLLIN, 0};
    while (::poll(&fd, 1, 2000) < 0 && errno == EINTR) {
    }
    if (fd.revents != 0) return;
  } else {
    for (int i = 0; i < 200; ++i) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid) {
        return;
      }
      timespec pause = {0, 10 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }
  ::kill(pid, SIGKILL);
}

// Waits for the child's end without reaping it, so that its pid cannot be reused while the
// interrupt handler may still signal it; then forgets and reaps it with interrupts blocked.
int Reap(pid_t pid, int& signal) {
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
         errno == EINTR) {
  }
  InterruptBlock block;
  SetRunningChild(0);
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    signal = WTERMSIG(status);
    return 128 + signal;
  }
  return -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, std::string& captured,
                         int timeoutSeconds, const ChildStreams& given) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) return result;
  // The child's dup2 onto the same number would leave close-on-exec set: a stream on 0 to 2
  // goes through a copy above them.
  ChildStreams streams = given;
  StreamCopy input(streams.input);
  StreamCopy output(streams.output);
  if (!input.ok || !output.ok) return result;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return result;
  int readEnd = ends[0];
  int writeEnd = ends[1];
  if (!MoveAboveStdio(readEnd) || !MoveAboveStdio(writeEnd)) {
    if (readEnd >= 0) ::close(readEnd);
    if (writeEnd >= 0) ::close(writeEnd);
    return result;
  }
  pid_t pid = 0;
  bool started = false;
  {
    // An interrupt under way in another thread must not find a child it does not know of.
    InterruptBlock block;
    if (EnterGuardedStep()) {
      started = Spawn(argv, writeEnd, streams, pid, result.error);
      LeaveGuardedStep();
    }
  }
  // Only the child may hold the write end, or the pipe never reports end of data.
  ::close(writeEnd);
  if (!started) {
    ::close(readEnd);
    return result;
  }
  result.started = true;
  const int pidFd = OpenPidFd(pid);
  if (!Drain(readEnd, pidFd, captured, timeoutSeconds)) {
    result.timedOut = true;
    EndOverdueChild(pid, pidFd);
  }
  ::close(readEnd);
  if (pidFd >= 0) ::close(pidFd);
  result.exitStatus = Reap(pid, result.signal);
  return result;
}
