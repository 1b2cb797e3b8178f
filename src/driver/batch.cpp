#include "driver/batch.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "pipeline/convert.h"
#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/running_child.h"
#include "platform/temp_files.h"
#include "settings/output_names.h"

namespace {

constexpr int kMaxWorkers = 256;

// Converting a file onto itself reads from a temporary copy, so the original survives and
// the output takes the next free numbered name. The copy keeps the input's own extension so
// that it takes the same conversion route as the original. "" when no copy could be made.
std::string CopyOfInput(const FilePair& job) {
  char copy[kPathLimit] = "";
  const std::string extension = SplitPath(job.input).ext;
  if (MakeTempFileName(sizeof(copy), copy, extension.c_str()) == 0 || !CopyFileOverwrite(job.input, copy)) {
    return "";
  }
  return copy;
}

// The file a job reads, or "" after reporting why there is none.
std::string SourceOf(const FilePair& job, std::vector<std::string>& failures) {
  if (job.output.empty()) {
    failures.push_back("no output name: the path would be too long");
    return "";
  }
  if (!IsSameFile(job.input, job.output)) return job.input;
  const std::string copy = CopyOfInput(job);
  if (copy.empty()) failures.push_back("cannot make a temporary copy of the input");
  return copy;
}

BatchOutcome RunOneAtATime(const ConversionSettings& settings, const std::vector<FilePair>& jobs) {
  BatchOutcome outcome;
  for (const FilePair& job : jobs) {
    std::printf("%s ==> %s\n", job.input.c_str(), job.output.c_str());
    std::fflush(stdout);
    std::vector<std::string> failures;
    const std::string source = SourceOf(job, failures);
    bool failed = false;
    if (source.empty()) {
      for (const std::string& reason : failures) ReportFailure(job.input, reason);
      failed = true;
      outcome.result = 0;
    } else {
      outcome.result = ConvertFile(settings, source.c_str(), job.output.c_str(), &job.input, &failed);
    }
    if (failed || outcome.result == 0) ++outcome.failedJobs;
  }
  return outcome;
}

// One traced image on its way: filled in by a worker, delivered by the coordinator in order.
struct Task {
  std::shared_ptr<const PageImages> images;  // the job's images, shared by its tasks
  int index = 0;
  std::string output;
  int job = 0;
  std::string label;
  bool done = false;
  int traced = 0;
  std::string why;
  PendingOutput pending;
};

// What the coordinator retires in job order: a task, or failure lines of a job's own.
struct Retiring {
  std::shared_ptr<Task> task;
  int job = 0;
  std::vector<std::string> failures;
  bool endsJob = false;  // the job has no task after this one
};

class WorkerPool {
 public:
  WorkerPool(const ConversionSettings& settings, int workers) : settings_(settings), workers_(workers) {}

  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Queues a task for the workers, started with the first. With `alone`, a task that nothing
  // else will run beside runs at once on the calling thread instead, as a run of one image
  // would run it.
  void Submit(std::shared_ptr<Task> task, bool alone) {
    if (alone && threads_.empty()) {
      task->traced = TraceImage(settings_, *task->images, task->index, task->output, task->pending, &task->why);
      task->done = true;
      return;
    }
    if (threads_.empty()) {
      // Interrupts are handled on the coordinating thread only.
      sigset_t all = InterruptSignals();
      sigset_t previous;
      pthread_sigmask(SIG_BLOCK, &all, &previous);
      for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Work(); });
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(task));
    }
    wake_.notify_one();
  }

  void WaitFor(const Task& task) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&task] { return task.done; });
  }

  bool IsDone(const Task& task) {
    std::lock_guard<std::mutex> lock(mutex_);
    return task.done;
  }

 private:
  void Work() {
    for (;;) {
      std::shared_ptr<Task> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      const int traced = TraceImage(settings_, *task->images, task->index, task->output, task->pending, &task->why);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        task->traced = traced;
        task->done = true;
      }
      finished_.notify_all();
    }
  }

  const ConversionSettings& settings_;
  int workers_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Task>> queue_;
  bool stopping_ = false;
};

// Runs the batch with up to `workers` engines at once. The coordinating thread prints, in job
// order, what a run one job after another prints, prepares the next job's images while the
// engines run, and delivers the outputs in job order, so names are chosen exactly as one job
// after another would choose them.
class ParallelBatch {
 public:
  ParallelBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers)
      : settings_(settings), jobs_(jobs), workers_(workers), pool_(settings, workers),
        limit_(2 * static_cast<std::size_t>(workers)),
        jobFailed_(jobs.size(), false), jobResult_(jobs.size(), 0) {}

  BatchOutcome Run() {
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      Start(static_cast<int>(j));
      RetireFinished(false);
    }
    RetireFinished(true);
    BatchOutcome outcome;
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      if (jobFailed_[j] || jobResult_[j] == 0) ++outcome.failedJobs;
    }
    outcome.result = jobs_.empty() ? 0 : jobResult_.back();
    return outcome;
  }

 private:
  void Start(int j) {
    const FilePair& job = jobs_[static_cast<std::size_t>(j)];
    std::printf("%s ==> %s\n", job.input.c_str(), job.output.c_str());
    std::fflush(stdout);
    Retiring own{nullptr, j, {}, false};
    const std::string source = SourceOf(job, own.failures);
    std::string problem = source.empty() ? "" : InputProblem(source.c_str());
    if (!problem.empty()) own.failures.push_back(problem);
    auto images = std::make_shared<PageImages>();
    if (!source.empty() && problem.empty()) {
      *images = BuildPageImageList(settings_, source, workers_);
      own.failures.insert(own.failures.end(), images->skipped.begin(), images->skipped.end());
      if (!images->failure.empty()) own.failures.push_back(images->failure);
    }
    const int count = static_cast<int>(images->paths.size());
    own.endsJob = count == 0;
    retiring_.push_back(std::move(own));
    for (int i = 0; i < count; ++i) {
      std::printf("Processing %d of %d...\n", i + 1, count);
      std::fflush(stdout);
      auto task = std::make_shared<Task>();
      task->images = images;
      task->index = i;
      task->output = job.output;
      task->job = j;
      task->label = ImageLabel(*images, i);
      retiring_.push_back(Retiring{task, j, {}, i + 1 == count});
      const bool alone = i + 1 == count && static_cast<std::size_t>(j) + 1 == jobs_.size() && inFlight_ == 0;
      pool_.Submit(std::move(task), alone);
      ++inFlight_;
      while (inFlight_ > limit_) RetireFront();
    }
  }

  // Delivers what is finished at the front of the line; with `wait`, everything.
  void RetireFinished(bool wait) {
    while (!retiring_.empty()) {
      const Retiring& front = retiring_.front();
      if (!wait && front.task != nullptr && !pool_.IsDone(*front.task)) return;
      RetireFront();
    }
  }

  // Prints the front entry's failures and delivers its output, waiting for its engine.
  void RetireFront() {
    Retiring entry = std::move(retiring_.front());
    retiring_.pop_front();
    const std::size_t j = static_cast<std::size_t>(entry.job);
    const std::string& shown = jobs_[j].input;
    for (const std::string& reason : entry.failures) {
      ReportFailure(shown, reason);
      jobFailed_[j] = true;
    }
    if (entry.task == nullptr) {
      if (entry.endsJob) jobResult_[j] = 0;
      return;
    }
    pool_.WaitFor(*entry.task);
    --inFlight_;
    Task& task = *entry.task;
    int result = task.traced;
    if (result != 0) {
      std::string chosen = task.output;
      MakeUniqueOutputName(chosen);
      result = DeliverOutput(task.pending, chosen, task.output, &task.why);
    }
    if (result == 0) {
      ReportFailure(shown, task.label + (task.why.empty() ? "no output was written" : task.why));
      jobFailed_[j] = true;
    }
    jobResult_[j] = result;
  }

  const ConversionSettings& settings_;
  const std::vector<FilePair>& jobs_;
  int workers_;
  WorkerPool pool_;
  std::size_t limit_;
  std::size_t inFlight_ = 0;
  std::deque<Retiring> retiring_;
  std::vector<bool> jobFailed_;
  std::vector<int> jobResult_;
};

}  // namespace

int BatchWorkers() {
  const char* text = std::getenv("TRACEWRIGHT_JOBS");
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value >= 1) return value > kMaxWorkers ? kMaxWorkers : static_cast<int>(value);
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > kMaxWorkers ? kMaxWorkers : static_cast<int>(online);
}

BatchOutcome RunBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers) {
  if (workers <= 1) return RunOneAtATime(settings, jobs);
  ParallelBatch batch(settings, jobs, workers);
  return batch.Run();
}
