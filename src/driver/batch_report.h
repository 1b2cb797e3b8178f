#pragma once
// What a batch tells scripts and people besides its standard output: the report, one JSON
// object per line for each image and a summary line at the end, and the progress line that
// a terminal's standard error shows while the batch runs.
#include <chrono>
#include <string>

// One image of a job, or one failure of a job that has no image of its own.
struct ImageRecord {
  std::string input;
  int image = 0;        // from 1; 0 for a failure of the job as a whole
  int images = 0;       // the job's number of images
  const char* kind = "image";  // "page", "frame" or "image"
  std::string asked;    // the job's output name
  std::string written;  // the file that holds the image's output ("" when none)
  const char* status = "failed";  // "written", "skipped" or "failed"
  std::string reason;
  const char* engine = "";
  double seconds = 0;
  long long bytes = 0;
};

struct BatchTotals {
  int jobs = 0;
  int images = 0;
  int written = 0;
  int skipped = 0;
  int failed = 0;
  double seconds = 0;
};

// Where TRACEWRIGHT_REPORT sends the report: "" nowhere (-1), "-" standard error, a number
// that open descriptor, else a file, created or appended to. False, with the reason, when it
// cannot be written.
bool OpenBatchReport(const std::string& where, int& fd, std::string& why);

// Each line goes out in one write, so that runs sharing a report file do not mix lines.
void WriteImageRecord(int fd, const ImageRecord& record);
void WriteBatchTotals(int fd, const BatchTotals& totals);

// The line on standard error that shows how far the batch is, redrawn in place.
class ProgressLine {
 public:
  // `setting`: 0 never, 1 always, -1 when standard error is a terminal. It is shown only for
  // a batch of more than one image.
  explicit ProgressLine(int setting);
  void Show(int done, int total, int failed);
  // Takes the line away, before other text goes to the terminal and at the end.
  void Clear();

 private:
  bool wanted_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};
