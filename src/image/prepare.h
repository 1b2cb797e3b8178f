#pragma once
// Bridges the conversion pipeline and the raster image layer: single-frame temporary images
// for every frame of an input, and bitonal BMPs for the outline tracer.
#include <string>
#include <vector>

#include "image/io/format.h"

class CxImage;

// Format by the path's extension, else by the file's first bytes; 0 when neither tells.
ImageFormat DetectFormat(const std::string& path);

// Writes image in the format the path's extension names. On failure prints the reason on
// standard error and returns false.
bool SaveByExtension(const std::string& path, CxImage& image);

// Writes every frame of the input as a temporary file with the suffix (".png") and appends
// the names in frame order. Returns the number of entries the list holds afterwards.
size_t SplitIntoFrames(const std::string& inputPath, const char* suffix,
                       std::vector<std::string>& list);

// Reduces every frame of the input to 1 bit per pixel at level (grey > level is white) and
// writes it as a temporary file with the suffix (".bmp"); appends the names. Returns 1 when
// every frame was handled, 0 otherwise.
int PrepareBitonal(const std::string& inputPath, const char* suffix,
                   std::vector<std::string>& list, int level);
