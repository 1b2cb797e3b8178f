#pragma once
// Reference decodes for the image tests: PNG files read with libpng, the corpus table, and a
// pixel comparison against a CxImage.
#include <cstdint>
#include <string>
#include <vector>

class CxImage;

namespace imagetest {

// 8-bit RGB, top row first, alpha dropped.
struct RefImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

bool LoadRefPng(const std::string& path, RefImage* out);

// A reference decoded as stored, shown as a TIFF or Exif orientation (1 to 8) describes it:
// where the stored first row and column lie in the view. Other values give it unchanged.
RefImage Upright(const RefImage& stored, int orientation);

// One row of the corpus's reference.tsv (paths relative to the corpus folder).
struct ReferenceRow {
  std::string localPath;
  std::string status;      // good, questionable, bad
  std::string bestRef;     // "" when there is none
  std::string confidence;
  std::string features;
};

// Rows whose local path starts with prefix ("bmp/"), in table order. Empty without corpus.
std::vector<ReferenceRow> ReferenceRows(const std::string& prefix);

// Pixels whose colour (ColourAt, rows counted from the top of the reference) differs from
// the reference by more than tolerance in any channel; -1 when the sizes differ.
int64_t CountPixelDifferences(const CxImage& image, const RefImage& ref, int tolerance = 0);

// Expects the image to match the reference PNG at refPath within tolerance; a file listed
// with a tolerance above 0 must also still differ at 0, so stale entries are noticed.
void ExpectMatchWithin(const CxImage& image, const std::string& refPath, int tolerance);

}  // namespace imagetest
