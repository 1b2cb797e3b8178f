#pragma once
// The child processes that are running, shared with the interrupt handler: one slot per
// thread that runs an engine. Reading is async-signal-safe; writers block the interrupt
// signals around the update.
#include <signal.h>
#include <sys/types.h>

// The calling thread's child, 0 when it runs none.
pid_t RunningChild();
// Records (pid > 0) or forgets (0) the calling thread's child.
void SetRunningChild(pid_t pid);

// For the interrupt handler: asks every running child to end, gives them two seconds, kills
// the rest, and reaps them all. Async-signal-safe.
void EndRunningChildren();

// Steps that must be finished or not begun when an interrupt cleans up: starting a child,
// making a file the handler is to delete. Enter fails once the run is being interrupted;
// enter and leave with the interrupt signals blocked (InterruptBlock).
bool EnterGuardedStep();
void LeaveGuardedStep();
// For the interrupt handler: refuses new steps and waits (at most a second) for those under
// way in other threads. Async-signal-safe.
void CloseGuardedSteps();

// The signals whose handler ends the children and deletes the temporary files.
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
