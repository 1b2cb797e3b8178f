#include "driver/batch.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "pipeline/convert.h"
#include "pipeline/diagnostics.h"
#include "pipeline/page_renderer.h"
#include "platform/files.h"
#include "platform/memory_limit.h"
#include "platform/path.h"
#include "platform/running_child.h"
#include "platform/temp_files.h"

namespace {

constexpr int kMaxWorkers = 256;

class WorkerPool;
using Work = std::function<void(WorkerPool&)>;

// Work items in queue order, run by up to N threads, or, with no thread, on the waiting
// thread while it waits. Each work item runs at most one engine at a time, so no more than
// N engines run at once. A work item gets the pool, to queue the work that follows it.
class WorkerPool {
 public:
  explicit WorkerPool(int threads) : wanted_(threads) {}

  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Safe from any thread, the work items included.
  void Submit(Work work) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!started_) Start();
      queue_.push_back(std::move(work));
    }
    wake_.notify_one();
  }

  // Returns once `ready` holds; it is tested again each time a work item has run. Without
  // threads, the queued work runs here, in order, until then.
  void WaitUntil(const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ready()) {
      if (!threads_.empty()) {
        finished_.wait(lock);
        continue;
      }
      if (queue_.empty()) return;  // nothing left that could make it hold
      RunFront(lock);
    }
  }

 private:
  // Interrupts are handled on the coordinating thread only. A thread that cannot be started
  // leaves its share to the others; with none, the work runs on the waiting thread.
  void Start() {
    started_ = true;
    if (wanted_ <= 0) return;
    sigset_t all = InterruptSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    for (int i = 0; i < wanted_; ++i) {
      try {
        threads_.emplace_back([this] { Serve(); });
      } catch (const std::system_error&) {
        break;
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

  // Runs the first queued work item with the lock released, and tells the waiters.
  void RunFront(std::unique_lock<std::mutex>& lock) {
    Work work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    work(*this);
    lock.lock();
    finished_.notify_all();
  }

  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      RunFront(lock);
    }
  }

  int wanted_;
  bool started_ = false;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Work> queue_;
  bool stopping_ = false;
};

// One traced image on its way to delivery.
struct ImageTrace {
  bool traced = false;
  std::string why;
  PendingOutput pending;
  std::atomic<bool> done{false};
};

// One job and all its work items need: shared by them and the coordinating thread, which
// reads a part only after the flag that follows its writing (`ready`, `done`).
struct Job {
  Job(const FilePair& pair, std::shared_ptr<const ConversionSettings> settings, int renderers)
      : pair(pair), settings(std::move(settings)), renderers(renderers) {}

  const FilePair pair;
  const std::shared_ptr<const ConversionSettings> settings;
  const int renderers;  // how many page renderers share a PDF
  std::string source;   // the file read: the input, or a copy of it
  std::vector<std::string> failures;  // lines before the images: no input, skipped pages, ...
  PageRender render;
  std::atomic<int> rendersLeft{0};
  PageImages images;
  std::deque<ImageTrace> traces;  // one per image, made before `ready`
  std::atomic<bool> ready{false};
};

// Converting a file onto itself reads from a temporary copy, so the original survives and
// the output takes the next free numbered name. The copy keeps the input's own extension so
// that it takes the same conversion route as the original.
bool SourceOf(Job& job, std::string& why) {
  if (job.pair.output.empty()) {
    why = "no output name: the path would be too long";
    return false;
  }
  if (!IsSameFile(job.pair.input, job.pair.output)) {
    job.source = job.pair.input;
    return true;
  }
  const std::string extension = SplitPath(job.pair.input).ext;
  if (!MakeTempPath(extension.c_str(), job.source, why)) return false;
  if (CopyFileOverwrite(job.pair.input, job.source)) return true;
  why = "cannot make a temporary copy of the input";
  return false;
}

// The job's images are known: one trace for each is queued.
void QueueTraces(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  const int count = static_cast<int>(job->images.paths.size());
  job->traces.resize(static_cast<std::size_t>(count));
  job->ready = true;
  for (int i = 0; i < count; ++i) {
    pool.Submit([job, i](WorkerPool&) {
      ImageTrace& trace = job->traces[static_cast<std::size_t>(i)];
      trace.traced = TraceImage(*job->settings, job->images, i, job->pair.output, trace.pending, trace.why);
      trace.done = true;
    });
  }
}

// After the last of a PDF's renderers: its pages become the job's images.
void TakePages(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  const RenderedPages pages = CollectRenderedPages(job->render);
  job->failures.insert(job->failures.end(), pages.skippedPages.begin(), pages.skippedPages.end());
  std::string why;
  if (!TakeRenderedPages(pages, job->images, why)) job->failures.push_back(why);
  QueueTraces(pool, job);
}

// The first work item of a job: its input is checked, and its images are made, or its
// page renderers queued.
void PrepareJob(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  std::string why;
  if (!SourceOf(*job, why) || !InputReadable(job->source, why)) {
    job->failures.push_back(why);
    QueueTraces(pool, job);
    return;
  }
  if (!IsPdfInput(job->source)) {
    if (!MakeImages(*job->settings, job->source, job->images, why)) job->failures.push_back(why);
    QueueTraces(pool, job);
    return;
  }
  if (!PlanPageRender(job->source, EffectivePdfResolution(*job->settings), job->renderers, job->render, why)) {
    job->failures.push_back(why);
    QueueTraces(pool, job);
    return;
  }
  const std::size_t parts = job->render.commands.size();
  job->rendersLeft = static_cast<int>(parts);
  for (std::size_t part = 0; part < parts; ++part) {
    pool.Submit([job, part](WorkerPool& pool) {
      RenderPagePart(job->render, part);
      if (job->rendersLeft.fetch_sub(1) == 1) TakePages(pool, job);
    });
  }
}

// Documents and the formats with pages or frames.
bool MayHoldSeveralImages(const std::string& path) {
  const std::string extension = SplitPath(path).ext;
  for (const char* several : {".pdf", ".gif", ".tif", ".tiff"}) {
    if (EqualNoCase(extension, several)) return true;
  }
  return false;
}

struct JobResult {
  int result = 0;
  bool failed = false;
};

// The job loop's two halves: jobs are started (their work queued) a few ahead of the one
// being finished, and finished in order on this thread.
class Batch {
 public:
  Batch(const ConversionSettings& settings, int workers, bool inlineWork)
      : settings_(std::make_shared<const ConversionSettings>(settings)),
        renderers_(workers),
        pool_(inlineWork ? 0 : workers),
        // Run on this thread, a job's work starts only when it is finished: strictly one
        // job after another.
        lookahead_(inlineWork ? 1 : static_cast<std::size_t>(workers) + 1) {}

  std::size_t lookahead() const { return lookahead_; }

  std::shared_ptr<Job> Start(const FilePair& pair) {
    auto job = std::make_shared<Job>(pair, settings_, renderers_);
    pool_.Submit([job](WorkerPool& pool) { PrepareJob(pool, job); });
    return job;
  }

  // Prints the job's failure and progress lines and delivers its outputs in order.
  JobResult Finish(Job& job) {
    JobResult outcome;
    pool_.WaitUntil([&job] { return job.ready.load(); });
    for (const std::string& reason : job.failures) {
      ReportFailure(job.pair.input, reason);
      outcome.failed = true;
    }
    const int count = static_cast<int>(job.traces.size());
    for (int i = 0; i < count; ++i) {
      std::printf("Processing %d of %d...\n", i + 1, count);
      std::fflush(stdout);
      ImageTrace& trace = job.traces[static_cast<std::size_t>(i)];
      pool_.WaitUntil([&trace] { return trace.done.load(); });
      std::string why = trace.why;
      outcome.result = trace.traced && DeliverImage(trace.pending, job.pair.output, why) ? 1 : 0;
      if (outcome.result == 0) {
        ReportFailure(job.pair.input, ImageLabel(job.images, i) + (why.empty() ? "no output was written" : why));
        outcome.failed = true;
      }
    }
    return outcome;
  }

 private:
  std::shared_ptr<const ConversionSettings> settings_;
  int renderers_;
  WorkerPool pool_;
  std::size_t lookahead_;
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
  workers = WorkersWithinMemoryLimit(workers < 1 ? 1 : workers);
  // A single file of one image has nothing to share out: it is traced on this thread.
  const bool inlineWork = workers == 1 || (jobs.size() == 1 && !MayHoldSeveralImages(jobs[0].input));
  Batch batch(settings, workers, inlineWork);
  BatchOutcome outcome;
  std::deque<std::shared_ptr<Job>> underWay;
  std::size_t next = 0;
  for (const FilePair& pair : jobs) {
    std::printf("%s ==> %s\n", pair.input.c_str(), pair.output.c_str());
    std::fflush(stdout);
    while (next < jobs.size() && underWay.size() < batch.lookahead()) underWay.push_back(batch.Start(jobs[next++]));
    const JobResult job = batch.Finish(*underWay.front());
    underWay.pop_front();
    outcome.result = job.result;
    if (job.failed || job.result == 0) ++outcome.failedJobs;
  }
  return outcome;
}

int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath) {
  Batch batch(settings, 1, true);
  return batch.Finish(*batch.Start(FilePair{inputPath, outputPath})).result;
}
