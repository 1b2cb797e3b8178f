#pragma once
// Output formats and the writers that produce them.
#include <string>
#include <vector>

#include "types.h"

namespace at {

enum class Format { Svg, Pdf, Eps, Ps, Dxf, Emf };

// Format from a name ("svg", "EPS", "postscript", ...); false when unknown.
bool FormatFromName(const std::string& name, Format& format);
const std::vector<std::string>& ListOutputFormats();

// Shapes drawn as one path: consecutive, of one colour and kind, and (for fills) none of
// them covering another's ground, so that a single even-odd path paints exactly their union.
struct PaintRun {
  size_t begin = 0, end = 0;
};
std::vector<PaintRun> PaintRuns(const Drawing& drawing);
bool HasUnderlay(const Drawing& drawing, const PaintRun& run);

// Pixels: wide enough that a neighbour's anti-aliased edge pixel lies wholly on it.
constexpr double kUnderlayWidth = 2.0;

std::string WriteSvg(const Drawing& drawing);
std::string WriteEps(const Drawing& drawing, bool document);  // document: PostScript page
std::string WritePdf(const Drawing& drawing);
std::string WriteDxf(const Drawing& drawing);
std::string WriteEmf(const Drawing& drawing);
std::string WriteDrawing(const Drawing& drawing, Format format);

// Writes to a fresh temporary name in the same folder and renames it into place, so that
// no partial file ever stands under `path`.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace at
