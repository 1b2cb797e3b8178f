#pragma once
// Tracing one picture into a drawing, apart from the command line and from files: the
// stages in order (colours, despeckling, regions, outlines or centre-lines).
#include <functional>
#include <string>

#include "options.h"
#include "types.h"

namespace at {

// Told each finished stage: how far along the run is (percent) and what was done.
using ProgressFn = std::function<void(int percent, const std::string& what)>;

// A picture that falls into more regions than this is refused rather than exhausting memory.
constexpr uint32_t kMaxRegions = 1000000;

// Traces `image` with the tracing options of `options` (its file names and formats are not
// used). Returns false with a reason in `error` when the picture cannot be traced. The
// picture is taken over, and let go as soon as the tracing no longer needs it.
bool TraceDrawing(Image image, const Options& options, Drawing& drawing, std::string& error,
                  const ProgressFn& progress = {});

}  // namespace at
