// GIF decoding speed: a long animation (the last frame, which composes every frame before
// it) and large single images, at several sizes to show that the time grows linearly, each
// beside giflib's decode of the same bytes. The files are written by our own encoder; giflib
// also confirms that it reads them to the same indices.
//
// bench_gif [--quick]
#include <gif_lib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/codecs/gif/gif_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

struct MemoryInput {
  const std::vector<uint8_t>* bytes;
  size_t position;
};

int ReadFromMemory(GifFileType* file, GifByteType* out, int length) {
  auto* in = static_cast<MemoryInput*>(file->UserData);
  const size_t left = in->bytes->size() - in->position;
  const size_t n = std::min(left, static_cast<size_t>(length));
  std::memcpy(out, in->bytes->data() + in->position, n);
  in->position += n;
  return static_cast<int>(n);
}

// Decodes every image with giflib; the caller frees the result.
GifFileType* GiflibSlurp(const std::vector<uint8_t>& bytes) {
  MemoryInput in{&bytes, 0};
  int error = 0;
  GifFileType* file = DGifOpen(&in, ReadFromMemory, &error);
  if (file == nullptr) return nullptr;
  if (DGifSlurp(file) != GIF_OK) {
    DGifCloseFile(file, &error);
    return nullptr;
  }
  file->UserData = nullptr;
  return file;
}

double BestMs(int repeats, const std::function<bool()>& run) {
  double best = 1e300;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1;
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// Pseudo-random indices in runs, like a scanned or drawn picture rather than noise.
void FillIndices(CxImage& image, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (uint32_t i = 0; i < image.ColoursUsed(); ++i) {
    image.SetPaletteEntry(static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                          static_cast<uint8_t>(i * 3));
  }
  for (uint32_t y = 0; y < image.Height(); ++y) {
    uint8_t* row = image.RowPointer(y);
    uint8_t value = 0;
    for (uint32_t x = 0; x < image.Width(); ++x) {
      if (next() % 8 == 0) value = static_cast<uint8_t>(next() % image.ColoursUsed());
      row[x] = value;
    }
  }
}

std::vector<uint8_t> Animation(uint32_t frames, uint32_t screen, uint32_t tile) {
  std::vector<CxImage*> list;
  for (uint32_t i = 0; i < frames; ++i) {
    auto* frame = new CxImage(tile, tile, 8, FORMAT_GIF);
    FillIndices(*frame, i + 1);
    frame->SetOffset(static_cast<int32_t>((i * 37) % (screen - tile + 1)),
                     static_cast<int32_t>((i * 53) % (screen - tile + 1)));
    frame->SetDisposalMethod(static_cast<uint8_t>(i % 4));
    list.push_back(frame);
  }
  // The first frame covers the screen.
  delete list[0];
  list[0] = new CxImage(screen, screen, 8, FORMAT_GIF);
  FillIndices(*list[0], 999);
  CxImageGIF codec;
  CxMemStream out;
  codec.Encode(&out, list.data(), static_cast<int32_t>(list.size()));
  for (CxImage* frame : list) delete frame;
  return out.Data();
}

std::vector<uint8_t> Single(uint32_t width, uint32_t height, CxImage& source) {
  source.Create(width, height, 8, FORMAT_GIF);
  FillIndices(source, width);
  CxMemStream out;
  source.Encode(&out, FORMAT_GIF);
  return out.Data();
}

bool SameAsGiflib(const CxImage& source, const GifFileType* file) {
  if (file == nullptr || file->ImageCount != 1) return false;
  const SavedImage& image = file->SavedImages[0];
  if (static_cast<uint32_t>(image.ImageDesc.Width) != source.Width()) return false;
  for (uint32_t y = 0; y < source.Height(); ++y) {
    const uint8_t* row = source.RowPointer(source.Height() - 1 - y);
    if (std::memcmp(row, image.RasterBits + static_cast<size_t>(y) * source.Width(), source.Width()) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int repeats = quick ? 1 : 3;
  std::printf("%-28s %10s %12s %12s %10s %8s\n", "file", "MB", "ours ms", "giflib ms", "ours/gif",
              "ns/unit");

  const uint32_t frameCounts[] = {500, 1000, 2000};
  for (uint32_t frames : frameCounts) {
    if (quick && frames > 500) break;
    const auto bytes = Animation(frames, 200, 48);
    const double ours = BestMs(repeats, [&] {
      CxMemStream in(bytes.data(), bytes.size());
      CxImageGIF image;
      image.SetFrameToLoad(static_cast<int32_t>(frames) - 1);
      return image.Decode(&in) && image.FrameCount() == static_cast<int32_t>(frames);
    });
    const double theirs = BestMs(repeats, [&] {
      GifFileType* file = GiflibSlurp(bytes);
      int error = 0;
      const bool ok = file != nullptr && file->ImageCount == static_cast<int>(frames);
      if (file != nullptr) DGifCloseFile(file, &error);
      return ok;
    });
    const std::string name = std::to_string(frames) + " frames 200x200, last";
    std::printf("%-28s %10.2f %12.1f %12.1f %10.2f %8.0f\n", name.c_str(), bytes.size() / 1e6, ours,
                theirs, ours / theirs, ours * 1e6 / frames);
  }

  const uint32_t sides[][2] = {{5000, 2500}, {7072, 3536}, {10000, 5000}};
  for (const auto& side : sides) {
    if (quick && side[0] > 5000) break;
    CxImage source;
    const auto bytes = Single(side[0], side[1], source);
    const double pixels = static_cast<double>(side[0]) * side[1];
    const double ours = BestMs(repeats, [&] {
      CxMemStream in(bytes.data(), bytes.size());
      CxImageGIF image;
      return image.Decode(&in) && image.Width() == side[0];
    });
    GifFileType* check = GiflibSlurp(bytes);
    const bool agrees = SameAsGiflib(source, check);
    int error = 0;
    if (check != nullptr) DGifCloseFile(check, &error);
    const double theirs = BestMs(repeats, [&] {
      GifFileType* file = GiflibSlurp(bytes);
      const bool ok = file != nullptr;
      if (file != nullptr) DGifCloseFile(file, &error);
      return ok;
    });
    const std::string name = std::to_string(side[0]) + "x" + std::to_string(side[1]) +
                             (agrees ? "" : " (giflib DIFFERS)");
    std::printf("%-28s %10.2f %12.1f %12.1f %10.2f %8.2f\n", name.c_str(), bytes.size() / 1e6, ours,
                theirs, ours / theirs, ours * 1e6 / pixels);
  }
  return 0;
}
