#include "run.h"

#include <chrono>
#include <fstream>

#include "image_in.h"
#include "options.h"
#include "output.h"
#include "trace_drawing.h"

namespace at {
namespace {

constexpr const char* kVersion = "0.1.0";

std::string Suffix(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

std::string Stem(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool ChooseFormat(const Options& o, Format& format, std::string& error) {
  std::string name = o.outputFormat;
  if (name.empty()) name = Suffix(o.outputFile);
  if (name.empty()) name = "eps";
  if (!FormatFromName(name, format)) {
    error = "unsupported output format \"" + name + "\" (use -list-output-formats)";
    return false;
  }
  return true;
}

class Reporter {
 public:
  Reporter(const Options& o, std::ostream& err) : progress_(o.reportProgress), err_(err) {
    if (o.log) log_.open(Stem(o.inputFile) + ".log");
  }
  void Step(int percent, const std::string& what) {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    if (progress_) err_ << "autotrace: " << percent << "% " << what << "\n";
    if (log_) log_ << static_cast<long long>(ms) << " ms: " << what << "\n";
  }

 private:
  bool progress_;
  std::ostream& err_;
  std::ofstream log_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Help, version and the format lists; true when one of them was asked for.
bool AnswerInfoRequest(const Options& o, std::ostream& out) {
  if (o.help) {
    out << UsageText();
    return true;
  }
  if (!o.version && !o.listInputFormats && !o.listOutputFormats) return false;
  if (o.version) out << "autotrace (Tracewright second-method tracer) " << kVersion << "\n";
  if (o.listInputFormats)
    for (const std::string& f : ListInputFormats()) out << f << "\n";
  if (o.listOutputFormats)
    for (const std::string& f : ListOutputFormats()) out << f << "\n";
  return true;
}

bool Deliver(const Options& o, const std::string& bytes, std::ostream& out, std::string& error) {
  if (!o.outputFile.empty()) return WriteFileAtomically(o.outputFile, bytes, error);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) error = "cannot write to standard output";
  return static_cast<bool>(out);
}

int Fail(std::ostream& err, const std::string& error) {
  err << "autotrace: " << error << "\n";
  return 1;
}

}  // namespace

int RunTracer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!ParseOptions(args, o, error)) return Fail(err, error + "\n(run autotrace -help for the options)");
  if (AnswerInfoRequest(o, out)) return 0;
  if (o.inputFile.empty()) return Fail(err, "no input file given");
  Format format;
  if (!ChooseFormat(o, format, error)) return Fail(err, error);
  Reporter report(o, err);
  Image image;
  if (!ReadImageFile(o.inputFile, o.inputFormat, image, error)) return Fail(err, error);
  report.Step(10, "read " + std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels");
  Drawing drawing;
  if (!TraceDrawing(std::move(image), o, drawing, error,
                    [&](int percent, const std::string& what) { report.Step(percent, what); }))
    return Fail(err, error);
  const std::string bytes = WriteDrawing(drawing, format);
  if (!Deliver(o, bytes, out, error)) return Fail(err, error);
  report.Step(100, "wrote " + std::to_string(bytes.size()) + " bytes");
  return 0;
}

}  // namespace at
