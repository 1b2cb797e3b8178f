#include "platform/running_child.h"

#include <pthread.h>

namespace {
volatile sig_atomic_t g_runningChild = 0;
}  // namespace

pid_t RunningChild() { return static_cast<pid_t>(g_runningChild); }

void SetRunningChild(pid_t pid) { g_runningChild = static_cast<sig_atomic_t>(pid); }

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
