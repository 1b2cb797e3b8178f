#include "driver/batch.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "pipeline/convert.h"
#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/running_child.h"
#include "platform/temp_files.h"

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

// Documents and the formats with pages or frames.
bool MayHoldSeveralImages(const std::string& path) {
  const std::string extension = SplitPath(path).ext;
  for (const char* several : {".pdf", ".gif", ".tif", ".tiff"}) {
    if (EqualNoCase(extension, several)) return true;
  }
  return false;
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

// A piece of work for the pool; `done` is set under the pool's lock when it has run.
struct Work {
  std::function<void()> run;
  bool done = false;
};

// Worker threads, started when the first work is queued, that run work in queue order.
class WorkerPool {
 public:
  explicit WorkerPool(int workers) : workers_(workers) {}

  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Safe from any thread, the workers included.
  void Submit(std::shared_ptr<Work> work) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (threads_.empty()) {
        // Interrupts are handled on the coordinating thread only.
        sigset_t all = InterruptSignals();
        sigset_t previous;
        pthread_sigmask(SIG_BLOCK, &all, &previous);
        for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Serve(); });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      }
      queue_.push_back(std::move(work));
    }
    wake_.notify_one();
  }

  void WaitFor(const Work& work) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&work] { return work.done; });
  }

 private:
  void Serve() {
    for (;;) {
      std::shared_ptr<Work> work;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      work->run();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        work->done = true;
      }
      finished_.notify_all();
    }
  }

  int workers_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Work>> queue_;
  bool stopping_ = false;
};

// One traced image on its way: traced by a worker, delivered by the coordinator in order.
struct Trace {
  std::shared_ptr<Work> work;
  int traced = 0;
  std::string why;
  PendingOutput pending;
};

// One job: prepared by a worker (its images made, its traces queued), then retired by the
// coordinator in job order.
struct Job {
  std::shared_ptr<Work> work;
  std::vector<std::string> failures;
  std::shared_ptr<PageImages> images = std::make_shared<PageImages>();
  std::vector<std::shared_ptr<Trace>> traces;
};

// Runs the batch with up to `workers` engines at once. Workers prepare the jobs' images and
// trace them; the coordinating thread then takes the jobs in order, prints what a run one job
// after another prints and delivers the outputs, so names are chosen exactly as one job after
// another would choose them. At most a few jobs beyond the one being delivered are under way.
class ParallelBatch {
 public:
  ParallelBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers)
      : settings_(settings), jobs_(jobs), workers_(workers), pool_(workers),
        limit_(static_cast<std::size_t>(workers) + 1) {}

  BatchOutcome Run() {
    BatchOutcome outcome;
    std::deque<std::shared_ptr<Job>> underWay;
    std::size_t next = 0;
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      while (next < jobs_.size() && underWay.size() < limit_) underWay.push_back(Start(next++));
      const auto [result, failed] = Retire(*underWay.front(), jobs_[j]);
      underWay.pop_front();
      outcome.result = result;
      if (failed || result == 0) ++outcome.failedJobs;
    }
    return outcome;
  }

 private:
  std::shared_ptr<Job> Start(std::size_t j) {
    auto job = std::make_shared<Job>();
    job->work = std::make_shared<Work>();
    // The job outlives its work: it is retired, after its work has run, before it goes.
    Job* raw = job.get();
    job->work->run = [this, raw, j] { Prepare(*raw, jobs_[j]); };
    pool_.Submit(job->work);
    return job;
  }

  // On a worker: the job's images, and one queued trace for each.
  void Prepare(Job& job, const FilePair& pair) {
    const std::string source = SourceOf(pair, job.failures);
    if (!source.empty()) {
      const std::vector<std::string> failures = PrepareJob(settings_, source.c_str(), workers_, *job.images);
      job.failures.insert(job.failures.end(), failures.begin(), failures.end());
    }
    const std::shared_ptr<const PageImages> images = job.images;
    for (std::size_t i = 0; i < images->paths.size(); ++i) {
      auto trace = std::make_shared<Trace>();
      trace->work = std::make_shared<Work>();
      Trace* t = trace.get();
      const int index = static_cast<int>(i);
      trace->work->run = [this, t, images, index, output = pair.output] {
        t->traced = TraceImage(settings_, *images, index, output, t->pending, &t->why);
      };
      job.traces.push_back(trace);
      pool_.Submit(trace->work);
    }
  }

  // On the coordinator: prints the job's lines and delivers its outputs in order. Returns the
  // job's result and whether a failure line was printed.
  std::pair<int, bool> Retire(Job& job, const FilePair& pair) {
    pool_.WaitFor(*job.work);
    std::printf("%s ==> %s\n", pair.input.c_str(), pair.output.c_str());
    std::fflush(stdout);
    bool failed = false;
    for (const std::string& reason : job.failures) {
      ReportFailure(pair.input, reason);
      failed = true;
    }
    int result = 0;
    const int count = static_cast<int>(job.traces.size());
    for (int i = 0; i < count; ++i) {
      std::printf("Processing %d of %d...\n", i + 1, count);
      std::fflush(stdout);
      Trace& trace = *job.traces[static_cast<std::size_t>(i)];
      pool_.WaitFor(*trace.work);
      std::string failure;
      result = DeliverImage(trace.traced, trace.pending, pair.output, *job.images, i, trace.why, failure);
      if (result == 0) {
        ReportFailure(pair.input, failure);
        failed = true;
      }
    }
    return {result, failed};
  }

  const ConversionSettings& settings_;
  const std::vector<FilePair>& jobs_;
  int workers_;
  WorkerPool pool_;
  std::size_t limit_;
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
  // A single file of one image has nothing to share out: it is traced on this thread.
  if (workers <= 1 || (jobs.size() == 1 && !MayHoldSeveralImages(jobs[0].input))) {
    return RunOneAtATime(settings, jobs);
  }
  ParallelBatch batch(settings, jobs, workers);
  return batch.Run();
}
