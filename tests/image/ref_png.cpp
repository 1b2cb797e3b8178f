#include "image/ref_png.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "image/core/image.h"
#include "support/test_support.h"

namespace imagetest {

bool LoadRefPng(const std::string& path, RefImage* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> buffer(PNG_IMAGE_SIZE(image));
  // Alpha is dropped without compositing: the reference keeps the colour channels as stored.
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out->width = image.width;
  out->height = image.height;
  out->rgb = std::move(buffer);
  return true;
}

std::vector<ReferenceRow> ReferenceRows(const std::string& prefix) {
  std::vector<ReferenceRow> rows;
  const std::string dir = testsupport::CorpusDir();
  if (dir.empty()) return rows;
  std::ifstream in(dir + "/reference.tsv");
  std::string line;
  std::vector<std::string> header;
  auto split = [](const std::string& s) {
    std::vector<std::string> cells;
    std::stringstream ss(s);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cells.push_back(cell);
    return cells;
  };
  if (!std::getline(in, line)) return rows;
  header = split(line);
  auto column = [&](const char* name) {
    for (size_t i = 0; i < header.size(); ++i)
      if (header[i] == name) return static_cast<int>(i);
    return -1;
  };
  const int cPath = column("local_path"), cStatus = column("status"), cBest = column("best_ref"),
            cConf = column("confidence"), cFeat = column("features");
  while (std::getline(in, line)) {
    const auto cells = split(line);
    auto cell = [&](int i) { return (i >= 0 && static_cast<size_t>(i) < cells.size()) ? cells[i] : std::string(); };
    ReferenceRow row{cell(cPath), cell(cStatus), cell(cBest), cell(cConf), cell(cFeat)};
    if (row.localPath.rfind(prefix, 0) == 0) rows.push_back(row);
  }
  return rows;
}

RefImage Upright(const RefImage& stored, int orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const uint32_t w = stored.width, h = stored.height;
  RefImage view;
  const bool quarter = orientation >= 5;
  view.width = quarter ? h : w;
  view.height = quarter ? w : h;
  view.rgb.resize(stored.rgb.size());
  for (uint32_t viewY = 0; viewY < view.height; ++viewY) {
    for (uint32_t viewX = 0; viewX < view.width; ++viewX) {
      uint32_t x = viewX, y = viewY;
      switch (orientation) {
        case 2: x = w - 1 - viewX; break;
        case 3: x = w - 1 - viewX; y = h - 1 - viewY; break;
        case 4: y = h - 1 - viewY; break;
        case 5: x = viewY; y = viewX; break;
        case 6: x = viewY; y = h - 1 - viewX; break;
        case 7: x = w - 1 - viewY; y = h - 1 - viewX; break;
        case 8: x = w - 1 - viewY; y = viewX; break;
      }
      std::memcpy(&view.rgb[(static_cast<size_t>(viewY) * view.width + viewX) * 3],
                  &stored.rgb[(static_cast<size_t>(y) * w + x) * 3], 3);
    }
  }
  return view;
}

int64_t CountPixelDifferences(const CxImage& image, const RefImage& ref, int tolerance) {
  if (image.Width() != ref.width || image.Height() != ref.height) return -1;
  int64_t differences = 0;
  for (uint32_t top = 0; top < ref.height; ++top) {
    const uint32_t y = ref.height - 1 - top;
    for (uint32_t x = 0; x < ref.width; ++x) {
      const RgbQuad c = image.ColourAt(x, y);
      const uint8_t* r = &ref.rgb[(static_cast<size_t>(top) * ref.width + x) * 3];
      if (std::abs(c.red - r[0]) > tolerance || std::abs(c.green - r[1]) > tolerance ||
          std::abs(c.blue - r[2]) > tolerance)
        ++differences;
    }
  }
  return differences;
}

void ExpectMatchWithin(const CxImage& image, const std::string& refPath, int tolerance) {
  RefImage ref;
  ASSERT_TRUE(LoadRefPng(refPath, &ref));
  EXPECT_EQ(CountPixelDifferences(image, ref, tolerance), 0);
  if (tolerance > 0) {
    EXPECT_NE(CountPixelDifferences(image, ref, 0), 0) << "listed as different but matches now";
  }
}

}  // namespace imagetest
