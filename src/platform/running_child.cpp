#include "platform/running_child.h"

#include <pthread.h>
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <cerrno>

namespace {

constexpr int kChildSlots = 512;
std::atomic<pid_t> g_children[kChildSlots];
// The calling thread's slot, handed back when the thread ends.
struct SlotOwner {
  int slot = -1;
  ~SlotOwner() {
    if (slot >= 0) g_children[slot].store(0);
  }
};
thread_local SlotOwner t_owner;

static_assert(std::atomic<pid_t>::is_always_lock_free, "the interrupt handler reads the slots");

bool Reaped(pid_t child) {
  const pid_t r = ::waitpid(child, nullptr, WNOHANG);
  return r == child || (r < 0 && errno != EINTR);
}

std::atomic<bool> g_closing{false};
std::atomic<int> g_inside{0};

}  // namespace

bool EnterGuardedStep() {
  g_inside.fetch_add(1);
  if (!g_closing.load()) return true;
  g_inside.fetch_sub(1);
  return false;
}

void LeaveGuardedStep() { g_inside.fetch_sub(1); }

void CloseGuardedSteps() {
  g_closing.store(true);
  for (int i = 0; i < 100 && g_inside.load() > 0; ++i) {
    timespec pause = {0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
}

pid_t RunningChild() { return t_owner.slot < 0 ? 0 : g_children[t_owner.slot].load(); }

void SetRunningChild(pid_t pid) {
  if (t_owner.slot < 0) {
    if (pid == 0) return;
    for (int i = 0; i < kChildSlots && t_owner.slot < 0; ++i) {
      pid_t expected = 0;
      // A slot holds -1 while its thread owns it without a child.
      if (g_children[i].compare_exchange_strong(expected, -1)) t_owner.slot = i;
    }
    if (t_owner.slot < 0) return;
  }
  g_children[t_owner.slot].store(pid == 0 ? -1 : pid);
}

void EndRunningChildren() {
  for (std::atomic<pid_t>& slot : g_children) {
    const pid_t child = slot.load();
    if (child > 0) ::kill(child, SIGTERM);
  }
  // Two seconds for all of them together, then the rest are killed; all are reaped, so that
  // nothing of the run outlives the process.
  for (int round = 0; round < 200; ++round) {
    bool running = false;
    for (std::atomic<pid_t>& slot : g_children) {
      const pid_t child = slot.load();
      if (child <= 0) continue;
      if (Reaped(child)) {
        slot.store(-1);
      } else {
        running = true;
      }
    }
    if (!running) return;
    timespec pause = {0, 10 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  for (std::atomic<pid_t>& slot : g_children) {
    const pid_t child = slot.load();
    if (child <= 0) continue;
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

InterruptBlock::InterruptBlock() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

InterruptBlock::~InterruptBlock() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
