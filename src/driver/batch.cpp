#include "driver/batch.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <time.h>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "driver/batch_report.h"
#include "driver/leftover_parts.h"
#include "driver/standard_streams.h"
#include "pipeline/convert.h"
#include "pipeline/diagnostics.h"
#include "pipeline/page_renderer.h"
#include "platform/files.h"
#include "platform/memory_limit.h"
#include "platform/path.h"
#include "platform/running_child.h"
#include "platform/temp_files.h"
#include "settings/environment.h"

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

using FileId = std::pair<dev_t, ino_t>;

bool IdOf(const std::string& path, FileId& id) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  id = {info.st_dev, info.st_ino};
  return true;
}

// The files this run has written, seen by the jobs' work items too.
class WrittenFiles {
 public:
  void Add(const std::string& path) {
    FileId id;
    if (!IdOf(path, id)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.insert(id);
  }
  bool Holds(const std::string& path) {
    FileId id;
    if (!IdOf(path, id)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return ids_.count(id) != 0;
  }

 private:
  std::mutex mutex_;
  std::set<FileId> ids_;
};

// One traced image on its way to delivery.
struct ImageTrace {
  bool traced = false;
  bool skipped = false;  // its output existed already: not traced
  double seconds = 0;
  std::string why;
  PendingOutput pending;
  std::atomic<bool> done{false};

  ImageTrace() = default;
  ImageTrace(const ImageTrace&) = delete;
  ImageTrace& operator=(const ImageTrace&) = delete;
  // A traced image never delivered (a fault ended the run between) leaves no private file.
  ~ImageTrace() { AbandonOutput(pending); }
};

// One job and all its work items need: shared by them and the coordinating thread, which
// reads a part only after the flag that follows its writing (`ready`, `done`).
struct Job {
  Job(const FilePair& pair, std::shared_ptr<const ConversionSettings> settings, int renderers, bool skipKnown,
      std::shared_ptr<WrittenFiles> written)
      : pair(pair), settings(std::move(settings)), renderers(renderers), skipKnown(skipKnown), written(std::move(written)) {}

  const FilePair pair;
  const std::shared_ptr<const ConversionSettings> settings;
  const int renderers;  // how many page renderers share a PDF
  // Existing outputs are skipped, and no other job of the batch can take a name of this
  // one's: its images' names are known before they are traced.
  const bool skipKnown;
  const std::shared_ptr<WrittenFiles> written;
  bool ownOutput = false;  // the input is a file this run wrote: left alone
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
  if (IsStandardStreamWord(job.pair.input)) {
    job.source = StagedStandardInput();
    return true;
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

// The name image `index` of a job gets in a run into an empty folder, when no other job can
// take a name of its own: the output name, then stem000, stem001, ...
std::string NumberedName(const std::string& base, int index) {
  if (index == 0) return base;
  const PathParts parts = SplitPath(base);
  char number[16];
  std::snprintf(number, sizeof(number), "%03d", index - 1);
  return MakePath(parts.drive, parts.dir, parts.fname + number, parts.ext);
}

// Anything under the name, a foreign or broken file or a folder too, is an existing output;
// a device or pipe is written in place.
bool OutputTaken(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && !S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode) &&
         !S_ISSOCK(info.st_mode) && !S_ISBLK(info.st_mode);
}

// Puts the reason of the exception being handled into `why` ("out of memory" for a failed
// allocation). A work item that an exception cuts short fails its image or job with it, and
// the run goes on. Never throws; `why` is left empty when even the reason cannot be kept.
void NoteFault(std::string& why) noexcept {
  const char* text = "an unexpected fault";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    text = "out of memory";
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  try {
    why = text;
  } catch (...) {
    why.clear();
  }
}

// The job's images are known: one trace for each is queued.
void QueueTraces(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  const int count = static_cast<int>(job->images.paths.size());
  job->traces.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    try {
      pool.Submit([job, i](WorkerPool&) {
        ImageTrace& trace = job->traces[static_cast<std::size_t>(i)];
        try {
          if (job->ownOutput) {
            // Not traced; the job is finished as one of the run's own outputs.
          } else if (job->skipKnown && OutputTaken(NumberedName(job->pair.output, i))) {
            trace.skipped = true;
          } else {
            const auto start = std::chrono::steady_clock::now();
            trace.traced = TraceImage(*job->settings, job->images, i, job->pair.output, trace.pending, trace.why);
            trace.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
          }
        } catch (...) {
          AbandonOutput(trace.pending);
          trace.traced = false;
          NoteFault(trace.why);
        }
        trace.done = true;
      });
    } catch (...) {
      // The images that could not be queued fail with the reason, each on its line.
      for (int k = i; k < count; ++k) {
        ImageTrace& trace = job->traces[static_cast<std::size_t>(k)];
        NoteFault(trace.why);
        trace.done = true;
      }
      break;
    }
  }
  job->ready = true;
}

// An exception cut the job short before its images were known: the job fails with the
// reason, on one line, and has no image.
void FailJob(Job& job) noexcept {
  if (job.ready) return;
  std::string why;
  NoteFault(why);
  job.images.paths.clear();
  job.traces.clear();
  try {
    job.failures.push_back(why);
  } catch (...) {
  }
  job.ready = true;
}

// After the last of a PDF's renderers: its pages become the job's images.
void TakePages(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  try {
    const RenderedPages pages = CollectRenderedPages(job->render);
    job->failures.insert(job->failures.end(), pages.skippedPages.begin(), pages.skippedPages.end());
    std::string why;
    if (!TakeRenderedPages(pages, job->images, why)) job->failures.push_back(why);
    QueueTraces(pool, job);
  } catch (...) {
    FailJob(*job);
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

// The first work item of a job: its input is checked, and its images are made, or its
// page renderers queued. An exception fails the job (FailJob).
void PrepareJob(WorkerPool& pool, const std::shared_ptr<Job>& job) {
  std::string why;
  job->ownOutput = job->written->Holds(job->pair.input);
  // A file of one picture whose output exists, or that this run wrote, is not even read.
  if (job->ownOutput || (job->skipKnown && !MayHoldSeveralImages(job->pair.input) && OutputTaken(job->pair.output))) {
    job->images.paths.push_back(job->pair.input);
    QueueTraces(pool, job);
    return;
  }
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
    try {
      pool.Submit([job, part](WorkerPool& pool) {
        try {
          RenderPagePart(job->render, part);
        } catch (...) {
          // Its pages are reported lost with the reason.
          NoteFault(job->render.reports[part].failure);
        }
        if (job->rendersLeft.fetch_sub(1) == 1) TakePages(pool, job);
      });
    } catch (...) {
      // The shares that could not be queued are renderers that failed.
      const int unqueued = static_cast<int>(parts - part);
      for (std::size_t k = part; k < parts; ++k) NoteFault(job->render.reports[k].failure);
      if (job->rendersLeft.fetch_sub(unqueued) == unqueued) TakePages(pool, job);
      return;
    }
  }
}

// An output name as the user gave it: standard output's word for its private file.
const std::string& ShownOutput(const BatchOptions& options, const std::string& output) {
  return options.standardOutput.empty() ? output : options.standardOutput;
}

struct JobResult {
  int result = 0;
  bool failed = false;
};

// The job loop's two halves: jobs are started (their work queued) a few ahead of the one
// being finished, and finished in order on this thread.
class Batch {
 public:
  Batch(const ConversionSettings& settings, int workers, bool inlineWork, const BatchOptions& options)
      : settings_(std::make_shared<const ConversionSettings>(settings)),
        renderers_(workers),
        pool_(inlineWork ? 0 : workers),
        // Run on this thread, a job's work starts only when it is finished: strictly one
        // job after another.
        lookahead_(inlineWork ? 1 : static_cast<std::size_t>(workers) + 1),
        options_(options),
        progress_(options.progress) {}

  std::size_t lookahead() const { return lookahead_; }
  // With replace, the batch's inputs are never outputs of it: their names are passed over,
  // so that no input is lost.
  void KeepInputs(const std::vector<FilePair>& jobs) {
    for (const FilePair& pair : jobs) {
      FileId id;
      if (IdOf(pair.input, id)) inputs_.insert(id);
    }
  }

  const BatchTotals& totals() const { return totals_; }
  ProgressLine& progress() { return progress_; }

  std::shared_ptr<Job> Start(const FilePair& pair, bool skipKnown) {
    auto job = std::make_shared<Job>(pair, settings_, renderers_, skipKnown, written_);
    pool_.Submit([job](WorkerPool& pool) {
      try {
        PrepareJob(pool, job);
      } catch (...) {
        FailJob(*job);
      }
    });
    return job;
  }

  // Prints the job's failure and progress lines and delivers its outputs in order.
  // `expectedLater`: the images the jobs after it are thought to hold, for the progress line.
  JobResult Finish(Job& job, int expectedLater) {
    JobResult outcome;
    pool_.WaitUntil([&job] { return job.ready.load(); });
    ++totals_.jobs;
    ImageRecord record;
    record.input = job.pair.input;
    record.asked = ShownOutput(options_, job.pair.output);
    record.engine = job.settings->secondMethod ? "autotrace" : "potrace";
    const int count = static_cast<int>(job.traces.size());
    record.images = count;
    record.kind = job.images.pages ? "page" : count > 1 ? "frame" : "image";
    for (const std::string& reason : job.failures) {
      Fail(job.pair.input, reason, record);
      outcome.failed = true;
    }
    // A file this run has written is never read back as an input.
    const bool ownOutput = written_->Holds(job.pair.input);
    for (int i = 0; i < count; ++i) {
      progress_.Clear();
      std::printf("Processing %d of %d...\n", i + 1, count);
      std::fflush(stdout);
      ImageTrace& trace = job.traces[static_cast<std::size_t>(i)];
      pool_.WaitUntil([&trace] { return trace.done.load(); });
      record.image = i + 1;
      record.seconds = trace.seconds;
      record.written.clear();
      record.bytes = 0;
      std::string why = trace.why;
      if (ownOutput) {
        AbandonOutput(trace.pending);
        record.status = "skipped";
        record.reason = "the input was written by this run";
        outcome.result = 1;
      } else {
        outcome.result = Deliver(job, trace, record, why) ? 1 : 0;
      }
      if (outcome.result == 0) {
        record.status = "failed";
        record.written.clear();
        Fail(job.pair.input, ImageLabel(job.images, i) + (why.empty() ? "no output was written" : why), record);
        outcome.failed = true;
      } else {
        ++totals_.images;
        ++(std::string(record.status) == "written" ? totals_.written : totals_.skipped);
        WriteImageRecord(options_.reportFd, record);
      }
      progress_.Show(totals_.images, totals_.images + (count - i - 1) + expectedLater, totals_.failed);
    }
    return outcome;
  }

 private:
  // The failure line on standard error, and its line in the report.
  void Fail(const std::string& input, const std::string& reason, ImageRecord& record) {
    progress_.Clear();
    ReportFailure(input, reason);
    record.status = "failed";
    record.reason = reason;
    WriteImageRecord(options_.reportFd, record);
    ++totals_.images;
    ++totals_.failed;
  }

  // The first name a run into an empty folder gives that this run has not given yet: past
  // the job's own input (a PNG traced to PNG beside itself), and with replace past every
  // input.
  std::string ClaimName(const std::string& base, const std::string& input) {
    FileId own;
    const bool ownKnown = IdOf(input, own);
    for (int index = 0;; ++index) {
      std::string name = NumberedName(base, index);
      if (!claimed_.insert(name).second) continue;
      FileId id;
      if (IdOf(name, id) && ((ownKnown && id == own) || inputs_.count(id) != 0)) continue;
      return name;
    }
  }

  // Puts the image's output under its name as TRACEWRIGHT_EXISTING asks. True when the image
  // is written or its output existed already (`record.status` tells which).
  bool Deliver(Job& job, ImageTrace& trace, ImageRecord& record, std::string& why) {
    const std::string& base = job.pair.output;
    const ExistingOutputs mode = options_.existing;
    record.reason.clear();
    if (mode == ExistingOutputs::kNumber || IsSpecialFile(base)) {
      if (!trace.traced || !DeliverImage(trace.pending, base, why)) return false;
      Written(trace.pending.chosen, record);
      return true;
    }
    const std::string name = ClaimName(base, job.pair.input);
    bool taken = trace.skipped || (mode == ExistingOutputs::kSkip && OutputTaken(name));
    if (!taken) {
      if (!trace.traced) return false;
      if (PublishOutputAs(trace.pending, name, mode == ExistingOutputs::kReplace, taken, why)) {
        Written(name, record);
        return true;
      }
      if (!taken) return false;
    }
    // Taken before this run, or by another run since it was looked at.
    AbandonOutput(trace.pending);
    record.status = "skipped";
    record.written = name;
    record.bytes = FileSize(name) > 0 ? FileSize(name) : 0;
    record.reason = "the output exists";
    return true;
  }

  void Written(const std::string& name, ImageRecord& record) {
    record.status = "written";
    record.written = ShownOutput(options_, name);
    record.bytes = FileSize(name) > 0 ? FileSize(name) : 0;
    written_->Add(name);
  }

  std::shared_ptr<const ConversionSettings> settings_;
  int renderers_;
  WorkerPool pool_;
  std::size_t lookahead_;
  BatchOptions options_;
  ProgressLine progress_;
  BatchTotals totals_;
  std::set<std::string> claimed_;  // names given to this run's images
  std::set<FileId> inputs_;        // the batch's inputs, with TRACEWRIGHT_EXISTING=replace
  std::shared_ptr<WrittenFiles> written_ = std::make_shared<WrittenFiles>();
};

// With TRACEWRIGHT_EXISTING=skip, the jobs whose names no other job, and no input, can take.
// Names of one job are its stem followed by nothing or by digits, so two jobs in one folder
// with one extension may meet only when one stem is the other followed by digits (or the
// same).
std::vector<bool> KnownNames(const std::vector<FilePair>& jobs, ExistingOutputs existing) {
  std::vector<bool> known(jobs.size(), false);
  if (existing != ExistingOutputs::kSkip) return known;
  const auto key = [](const PathParts& parts, const std::string& stem) { return parts.dir + '\n' + parts.ext + '\n' + stem; };
  std::map<std::string, int> stems;
  for (const FilePair& pair : jobs) {
    const PathParts parts = SplitPath(pair.output);
    ++stems[key(parts, parts.fname)];
  }
  std::set<std::string> meeting;
  for (const auto& [stem, uses] : stems) {
    if (uses > 1) meeting.insert(stem);
  }
  // An input among a job's names is passed over, which moves the names after it.
  const auto meet = [&](const std::string& path, bool input) {
    const PathParts parts = SplitPath(path);
    if (input && stems.count(key(parts, parts.fname)) != 0) meeting.insert(key(parts, parts.fname));
    std::string shorter = parts.fname;
    while (!shorter.empty() && shorter.back() >= '0' && shorter.back() <= '9') {
      shorter.pop_back();
      if (stems.count(key(parts, shorter)) != 0) {
        meeting.insert(key(parts, shorter));
        if (!input) meeting.insert(key(parts, parts.fname));
      }
    }
  };
  for (const FilePair& pair : jobs) {
    meet(pair.output, false);
    meet(pair.input, true);
  }
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const PathParts parts = SplitPath(jobs[i].output);
    known[i] = !jobs[i].output.empty() && !IsSpecialFile(jobs[i].output) && meeting.count(key(parts, parts.fname)) == 0;
  }
  return known;
}

// A resumed batch first clears the private files its killed predecessor left.
void RemoveLeftovers(const std::vector<FilePair>& jobs, const timespec& runStart) {
  std::set<std::string> folders;
  for (const FilePair& pair : jobs) {
    if (!pair.output.empty()) folders.insert(SplitPath(pair.output).dir);
  }
  for (const std::string& folder : folders) RemoveLeftoverParts(folder, runStart);
}

}  // namespace

BatchOptions BatchOptionsFromEnvironment() {
  BatchOptions options;
  options.existing = Environment().existing;
  options.progress = Environment().progress;
  return options;
}

int BatchWorkers() {
  if (Environment().jobs > 0) return Environment().jobs;
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > kMaxWorkers ? kMaxWorkers : static_cast<int>(online);
}

BatchOutcome RunBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers,
                      const BatchOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  if (options.existing == ExistingOutputs::kSkip) RemoveLeftovers(jobs, options.runStart);
  workers = WorkersWithinMemoryLimit(workers < 1 ? 1 : workers);
  // A single file of one image has nothing to share out: it is traced on this thread.
  const bool inlineWork = workers == 1 || (jobs.size() == 1 && !MayHoldSeveralImages(jobs[0].input));
  Batch batch(settings, workers, inlineWork, options);
  if (options.existing == ExistingOutputs::kReplace) batch.KeepInputs(jobs);
  const std::vector<bool> known = KnownNames(jobs, options.existing);
  BatchOutcome outcome;
  std::deque<std::shared_ptr<Job>> underWay;
  std::size_t next = 0;
  for (std::size_t at = 0; at < jobs.size(); ++at) {
    const FilePair& pair = jobs[at];
    batch.progress().Clear();
    std::printf("%s ==> %s\n", pair.input.c_str(), ShownOutput(options, pair.output).c_str());
    std::fflush(stdout);
    while (next < jobs.size() && underWay.size() < batch.lookahead()) {
      underWay.push_back(batch.Start(jobs[next], known[next]));
      ++next;
    }
    const JobResult job = batch.Finish(*underWay.front(), static_cast<int>(jobs.size() - at - 1));
    underWay.pop_front();
    outcome.result = job.result;
    if (job.failed || job.result == 0) ++outcome.failedJobs;
  }
  batch.progress().Clear();
  BatchTotals totals = batch.totals();
  totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  WriteBatchTotals(options.reportFd, totals);
  outcome.images = totals.images;
  outcome.failedImages = totals.failed;
  return outcome;
}

int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath) {
  Batch batch(settings, 1, true, BatchOptions{});
  return batch.Finish(*batch.Start(FilePair{inputPath, outputPath}, false), 0).result;
}
