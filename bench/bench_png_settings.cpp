// Chooses the PNG encoder's zlib level, strategy and filters for the temporary frame images:
// they are written once, read once and deleted, so the measure is write time + read time
// (file size is shown for reference). Frames: scan-like pages at 1, 8 and 24 bits
// (2500 x 3300, an A4 page at 300 dpi) and a photo-like 24-bit picture.
//
// Usage: bench_png_settings [folder for the temporary files] [repeats]
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/codecs/png/png_codec.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

struct Frame {
  std::string name;
  CxImage* image;
};

// Text-like marks: short strokes in lines, as on a printed page.
bool InkAt(uint32_t x, uint32_t y, uint32_t seed) {
  const uint32_t line = y / 48, inLine = y % 48;
  if (inLine < 8 || inLine > 36 || x < 200 || x > 2300) return false;
  const uint32_t word = (x + line * 131) / 180;
  const uint32_t h = (word * 2654435761u) ^ (line * 40503u) ^ seed;
  if (((x + line * 131) % 180) > 150 || (h & 7) == 0) return false;  // word gaps, short lines
  const uint32_t glyph = (x + line * 131) / 14;
  const uint32_t g = (glyph * 2246822519u) ^ (line * 3266489917u);
  const uint32_t gx = (x + line * 131) % 14, gy = inLine - 8;
  return ((g >> (gx % 16)) & 1) && ((g >> (gy % 16 + 8)) & 1);
}

CxImage* MakeScan(uint32_t bpp, uint32_t seed, int grain = 4) {
  const uint32_t w = 2500, h = 3300;
  auto* image = new CxImage(w, h, bpp, FORMAT_PNG);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-grain, grain);
  if (bpp == 1) {
    image->SetPaletteEntry(0, 0, 0, 0);
    image->SetPaletteEntry(1, 255, 255, 255);
  } else if (bpp == 8) {
    image->SetGreyPalette();
  }
  for (uint32_t t = 0; t < h; ++t) {
    uint8_t* row = image->RowPointer(h - 1 - t);
    for (uint32_t x = 0; x < w; ++x) {
      const bool ink = InkAt(x, t, seed);
      if (bpp == 1) {
        if (!ink) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        continue;
      }
      const int base = ink ? 30 : 238;
      if (bpp == 8) {
        row[x] = static_cast<uint8_t>(std::clamp(base + noise(rng), 0, 255));
      } else {
        row[3 * x] = static_cast<uint8_t>(std::clamp(base - 6 + noise(rng), 0, 255));
        row[3 * x + 1] = static_cast<uint8_t>(std::clamp(base + noise(rng), 0, 255));
        row[3 * x + 2] = static_cast<uint8_t>(std::clamp(base + 4 + noise(rng), 0, 255));
      }
    }
  }
  return image;
}

CxImage* MakePhoto() {
  const uint32_t w = 2400, h = 1600;
  auto* image = new CxImage(w, h, 24, FORMAT_PNG);
  std::mt19937 rng(7);
  std::normal_distribution<double> grain(0.0, 3.0);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = image->RowPointer(y);
    for (uint32_t x = 0; x < w; ++x) {
      const double fx = x / 300.0, fy = y / 260.0;
      const double r = 128 + 90 * std::sin(fx) * std::cos(fy * 0.7) + grain(rng);
      const double g = 110 + 70 * std::cos(fx * 0.6 + fy) + grain(rng);
      const double b = 100 + 80 * std::sin(fy * 1.3 - fx * 0.4) + grain(rng);
      row[3 * x] = static_cast<uint8_t>(std::clamp(b, 0.0, 255.0));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0.0, 255.0));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
    }
  }
  return image;
}

struct Setting {
  const char* name;
  PngWriteSettings settings;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Result {
  double write = 1e9, read = 1e9;
  long size = 0;
};

Result Measure(CxImage& image, const PngWriteSettings& settings, const std::string& path,
               int repeats) {
  Result r;
  for (int i = 0; i < repeats; ++i) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::exit(1);
    CxFileStream out(f);
    CxImagePNG codec;
    codec.BorrowView(image);
    codec.SetWriteSettings(settings);
    auto start = std::chrono::steady_clock::now();
    const bool ok = codec.Encode(&out);
    std::fclose(f);
    r.write = std::min(r.write, Seconds(start));
    if (!ok) {
      std::fprintf(stderr, "encode failed: %s\n", codec.LastErrorText());
      std::exit(1);
    }
    f = std::fopen(path.c_str(), "rb");
    CxFileStream in(f);
    CxImagePNG back;
    start = std::chrono::steady_clock::now();
    const bool readOk = back.Decode(&in);
    r.read = std::min(r.read, Seconds(start));
    std::fseek(f, 0, SEEK_END);
    r.size = std::ftell(f);
    std::fclose(f);
    if (!readOk) {
      std::fprintf(stderr, "decode failed: %s\n", back.LastErrorText());
      std::exit(1);
    }
  }
  std::remove(path.c_str());
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const std::string path = folder + "/bench_png_settings.png";
  const Setting settings[] = {
      {"libpng defaults (6, auto filters)", {6, -1, -1}},
      {"level 0 stored, no filter", {0, PNG_FILTER_NONE, -1}},
      {"level 1, no filter", {1, PNG_FILTER_NONE, -1}},
      {"level 1, no filter, RLE", {1, PNG_FILTER_NONE, Z_RLE}},
      {"level 1, sub", {1, PNG_FILTER_SUB, -1}},
      {"level 1, sub, RLE", {1, PNG_FILTER_SUB, Z_RLE}},
      {"level 1, up, RLE", {1, PNG_FILTER_UP, Z_RLE}},
      {"level 1, paeth", {1, PNG_FILTER_PAETH, -1}},
      {"level 1, auto filters", {1, -1, -1}},
      {"level 3, no filter", {3, PNG_FILTER_NONE, -1}},
      {"level 3, sub", {3, PNG_FILTER_SUB, -1}},
      {"level 2, no filter, RLE", {2, PNG_FILTER_NONE, Z_RLE}},
  };
  Frame frames[] = {
      {"scan 1-bit 2500x3300", MakeScan(1, 1)},
      {"scan 8-bit grey 2500x3300", MakeScan(8, 2)},
      {"scan 24-bit 2500x3300", MakeScan(24, 3)},
      {"clean 24-bit 2500x3300", MakeScan(24, 4, 0)},
      {"photo 24-bit 2400x1600", MakePhoto()},
  };
  std::printf("%-36s", "setting \\ frame (write+read ms, KB)");
  for (const auto& f : frames) std::printf(" | %-26s", f.name.c_str());
  std::printf(" | total ms\n");
  for (const auto& s : settings) {
    std::printf("%-36s", s.name);
    double total = 0;
    for (auto& f : frames) {
      const Result r = Measure(*f.image, s.settings, path, repeats);
      total += r.write + r.read;
      std::printf(" | %6.0f+%5.0f %8ld KB ", r.write * 1000, r.read * 1000, r.size / 1024);
    }
    std::printf(" | %7.0f\n", total * 1000);
    std::fflush(stdout);
  }
  for (auto& f : frames) delete f.image;
  return 0;
}
