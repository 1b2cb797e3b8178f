#include "run.h"

#include <chrono>
#include <cmath>
#include <fstream>

#include "small_regions.h"
#include "image_in.h"
#include "options.h"
#include "output.h"
#include "quantize.h"
#include "regions/boundary.h"
#include "trace.h"

namespace at {
namespace {

constexpr const char* kVersion = "0.1.0";
constexpr uint32_t kMaxRegions = 1000000;

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

FitParams FitFrom(const Options& o) {
  FitParams p;
  p.cornerThreshold = o.cornerThreshold;
  p.cornerAlwaysThreshold = o.cornerAlwaysThreshold;
  p.cornerSurround = o.cornerSurround;
  // Measured in eighths of a pixel, so that the customary default of 2.0 keeps curves
  // within a quarter pixel of the outline: enough that rendering back gives the input.
  p.errorThreshold = o.errorThreshold / 8.0;
  p.lineThreshold = o.lineThreshold;
  p.lineReversionThreshold = o.lineReversionThreshold;
  p.filterIterations = o.filterIterations;
  p.removeAdjacentCorners = o.removeAdjacentCorners;
  p.tangentSurround = o.tangentSurround;
  return p;
}

// Enough decimals that rounding moves a point by at most a quarter of the fitting
// tolerance: coordinates any finer would only add bytes.
int DecimalsFor(double tolerance) {
  int d = 0;
  while (d < 4 && 0.5 * std::pow(10.0, -d) > tolerance / 4) ++d;
  return d;
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

size_t CountNodes(const Drawing& d) {
  size_t n = 0;
  for (const Shape& s : d.shapes)
    for (const Contour& c : s.contours) n += c.segs.size() + 1;
  return n;
}

}  // namespace

int RunTracer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!ParseOptions(args, o, error)) {
    err << "autotrace: " << error << "\n(run autotrace -help for the options)\n";
    return 1;
  }
  if (o.help) {
    out << UsageText();
    return 0;
  }
  if (o.version || o.listInputFormats || o.listOutputFormats) {
    if (o.version) out << "autotrace (Tracewright second-method tracer) " << kVersion << "\n";
    if (o.listInputFormats)
      for (const std::string& f : ListInputFormats()) out << f << "\n";
    if (o.listOutputFormats)
      for (const std::string& f : ListOutputFormats()) out << f << "\n";
    return 0;
  }
  if (o.inputFile.empty()) {
    err << "autotrace: no input file given\n";
    return 1;
  }
  Format format;
  if (!ChooseFormat(o, format, error)) {
    err << "autotrace: " << error << "\n";
    return 1;
  }
  Reporter report(o, err);
  Image image;
  if (!ReadImageFile(o.inputFile, o.inputFormat, image, error)) {
    err << "autotrace: " << error << "\n";
    return 1;
  }
  report.Step(10, "read " + std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels");

  Rgb white{255, 255, 255};
  const Rgb* background = o.hasBackground ? &o.background : (o.centerline ? &white : nullptr);
  IndexedImage indexed = IndexColors(image, o.colorCount, background);
  std::vector<uint8_t>().swap(image.rgb);
  report.Step(25, std::to_string(indexed.palette.size()) + " colours");
  if (o.despeckleLevel > 0) {
    Despeckle(indexed, o.despeckleLevel, o.despeckleTightness);
    report.Step(35, "despeckled");
  }

  // Every region costs memory for its outline and its shape; a picture that falls apart into
  // millions of them (noise, an unreduced photograph) is refused rather than exhausting memory.
  auto refuse = [&](size_t regions) {
    err << "autotrace: the picture falls into " << regions << " separate regions, more than "
        << kMaxRegions << "; reduce it with -color-count or -despeckle-level\n";
    return 1;
  };
  Drawing drawing;
  if (o.centerline) {
    std::vector<uint32_t> label;
    const uint32_t regions = LabelRegions(indexed, label);
    if (regions > kMaxRegions) return refuse(regions);
    std::vector<uint32_t>().swap(label);
    CenterlineParams cp;
    cp.preserveWidth = o.preserveWidth;
    cp.widthWeightFactor = o.widthWeightFactor;
    cp.noiseRemoval = o.noiseRemoval;
    drawing = TraceCenterlines(indexed, FitFrom(o), cp);
  } else {
    // Outlines need the colours only region by region: the labels take the index's place.
    const std::vector<uint32_t> regionColor = LabelRegionsInPlace(indexed);
    if (regionColor.size() > kMaxRegions) return refuse(regionColor.size());
    drawing = TraceLabelledOutlines(std::move(indexed), regionColor, FitFrom(o));
  }
  drawing.dpi = o.dpi;
  drawing.decimals = DecimalsFor(o.errorThreshold / 8.0);
  report.Step(85, "traced " + std::to_string(drawing.shapes.size()) + " shapes, " +
                      std::to_string(CountNodes(drawing)) + " nodes");

  const std::string bytes = WriteDrawing(drawing, format);
  if (o.outputFile.empty()) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      err << "autotrace: cannot write to standard output\n";
      return 1;
    }
  } else if (!WriteFileAtomically(o.outputFile, bytes, error)) {
    err << "autotrace: " << error << "\n";
    return 1;
  }
  report.Step(100, "wrote " + std::to_string(bytes.size()) + " bytes");
  return 0;
}

}  // namespace at
