#pragma once
// The one child process that is running, shared with the interrupt handler. Reading it is
// async-signal-safe; writers block the interrupt signals around the update.
#include <signal.h>
#include <sys/types.h>

// 0 when no child runs.
pid_t RunningChild();
void SetRunningChild(pid_t pid);

// The signals whose handler ends the child and deletes the temporary files.
sigset_t InterruptSignals();

// Blocks the interrupt signals for the lifetime of the object, so that state shared with
// the handler is never seen half-updated.
class InterruptBlock {
 public:
  InterruptBlock();
  ~InterruptBlock();
  InterruptBlock(const InterruptBlock&) = delete;
  InterruptBlock& operator=(const InterruptBlock&) = delete;

 private:
  sigset_t previous_;
};
