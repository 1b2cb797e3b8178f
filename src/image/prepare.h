#pragma once
// Bridges the conversion pipeline and the raster image layer: single-frame temporary images
// for every frame of an input, and bitonal BMPs for the outline tracer.
#include <string>
#include <vector>

#include "image/io/format.h"

class CxImage;

// Format by the path's extension, else by the file's first bytes; 0 when neither tells.
ImageFormat DetectFormat(const std::string& path);

// Writes image in the format the path's extension names. On failure returns false and, when
// `why` is given, the reason there.
bool SaveByExtension(const std::string& path, CxImage& image, std::string* why = nullptr);

// Writes every frame of the input as a temporary file with the suffix (".png") and appends
// the names in frame order. Returns the number of entries the list holds afterwards.
// `why`, when given, receives the reason a frame could not be read or written (the system's,
// such as "No space left on device"); a frame that could not be written keeps its entry, with
// no file under the name.
size_t SplitIntoFrames(const std::string& inputPath, const char* suffix,
                       std::vector<std::string>& list, std::string* why = nullptr);

// Every frame of the input reduced as PrepareBitonal reduces the PNG that SplitIntoFrames
// writes for it, without writing or reading that PNG: for the outline tracer, which reads
// nothing else. One entry per frame, as SplitIntoFrames gives (a bitmap that could not be
// written has its entry, without a file, and the reason in `why`); returns the list's size.
size_t SplitIntoBitonalFrames(const std::string& inputPath, const char* suffix,
                              std::vector<std::string>& list, int level, std::string* why = nullptr);

// Reduces every frame of the input to 1 bit per pixel at level (grey > level is white) and
// writes it as a temporary file with the suffix (".bmp"); appends the names. Returns 1 when
// every frame was handled, 0 otherwise. A PNG is read straight to one bit per pixel, a row at
// a time, into the same bitmap, so that it is never held at its own depth (pictures beyond
// the memory limit go through too); one that cannot be read so is read whole.
// `why`, when given, receives the reason of a failure.
int PrepareBitonal(const std::string& inputPath, const char* suffix,
                   std::vector<std::string>& list, int level, std::string* why = nullptr);

// Rewrites a PNM picture (potrace's rendering of its curves) as a PNG at `pngPath`, which may
// be the same file. False, with the reason in `why` when given, on failure.
bool RewritePnmAsPng(const std::string& pnmPath, const std::string& pngPath, std::string* why = nullptr);
