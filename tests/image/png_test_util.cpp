#include "image/png_test_util.h"

#include <png.h>

#include <cstdlib>

namespace pngjpgtest {

bool IsFullyTransparent(const CxImage& image, uint32_t x, uint32_t y) {
  if (image.HasAlpha() && image.AlphaGet(x, y) == 0) return true;
  const RgbQuad c = image.ColourAt(x, y);
  if (image.Bpp() <= 8) {
    const uint8_t index = image.IndexAt(x, y);
    if (image.AlphaPaletteEnabled() && image.PaletteEntry(index).reserved == 0) return true;
    return image.TransparentIndex() >= 0 && index == image.TransparentIndex();
  }
  const RgbQuad t = image.TransparentColour();
  return image.TransparentIndex() >= 0 && c.red == t.red && c.green == t.green &&
         c.blue == t.blue;
}

int64_t CountOpaqueDifferences(const CxImage& image, const imagetest::RefImage& ref,
                               int tolerance) {
  if (image.Width() != ref.width || image.Height() != ref.height) return -1;
  int64_t count = 0;
  for (uint32_t t = 0; t < ref.height; ++t) {
    for (uint32_t x = 0; x < ref.width; ++x) {
      const uint32_t y = ref.height - 1 - t;
      if (IsFullyTransparent(image, x, y)) continue;
      const uint8_t* r = &ref.rgb[(static_cast<size_t>(t) * ref.width + x) * 3];
      const RgbQuad c = image.ColourAt(x, y);
      if (std::abs(c.red - r[0]) > tolerance || std::abs(c.green - r[1]) > tolerance ||
          std::abs(c.blue - r[2]) > tolerance) {
        ++count;
      }
    }
  }
  return count;
}

namespace {
void AppendBytes(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}
}  // namespace

std::vector<uint8_t> MakePng(const PngSpec& layout,
                             const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  std::vector<png_color> palette;
  for (size_t i = 0; i + 2 < layout.paletteRgb.size(); i += 3) {
    palette.push_back({layout.paletteRgb[i], layout.paletteRgb[i + 1], layout.paletteRgb[i + 2]});
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!layout.paletteAlpha.empty()) {
    png_set_tRNS(png, info, layout.paletteAlpha.data(), static_cast<int>(layout.paletteAlpha.size()),
                 nullptr);
  }
  if (layout.hasKey) {
    png_color_16 key{};
    key.gray = layout.keyGrey;
    key.red = layout.keyRed;
    key.green = layout.keyGreen;
    key.blue = layout.keyBlue;
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  if (layout.hasPhys) png_set_pHYs(png, info, layout.physX, layout.physY, layout.physUnit);
  png_write_info(png, info);
  if (layout.filters != 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, layout.filters);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (const auto& row : rows) png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace pngjpgtest
