#include "noise_removal.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "regions/boundary.h"

namespace at {
namespace {

double ColorDistance(Rgb a, Rgb b) {
  const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return std::sqrt(dr * dr + dg * dg + db * db);
}

}  // namespace

bool MergeSpecks(IndexedImage& image, uint64_t maxArea, double tightness) {
  const int w = image.width, h = image.height;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t> label;
  {
    const uint32_t count = LabelRegions(image, label);
    if (count < 2) return false;
    const uint64_t limit = maxArea;
    std::vector<uint64_t> area(count, 0);
    for (uint32_t l : label) ++area[l];
    // Border tallies of each small region: (colour, shared edges).
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> tally(count);
    bool any = false;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
        const uint32_t l = label[i];
        if (area[l] > limit) continue;
        any = true;
        const size_t nb[4] = {x > 0 ? i - 1 : n, x + 1 < w ? i + 1 : n, y > 0 ? i - static_cast<size_t>(w) : n,
                              y + 1 < h ? i + static_cast<size_t>(w) : n};
        for (size_t q : nb) {
          if (q == n || label[q] == l) continue;
          const uint32_t c = image.index[q];
          auto& t = tally[l];
          size_t k = 0;
          while (k < t.size() && t[k].first != c) ++k;
          if (k == t.size()) t.emplace_back(c, 0);
          ++t[k].second;
        }
      }
    }
    if (!any) return true;
    std::vector<int64_t> target(count, -1);
    // Scores need the region's own colour; find one pixel of each small region.
    std::vector<uint32_t> own(count, 0);
    for (size_t i = 0; i < n; ++i) own[label[i]] = image.index[i];
    for (uint32_t l = 0; l < count; ++l) {
      double best = -1;
      for (const auto& [color, edges] : tally[l]) {
        const double dist = ColorDistance(image.palette[color], image.palette[own[l]]);
        const double score = edges * std::exp(-tightness * dist / 128.0);
        if (score > best) {
          best = score;
          target[l] = color;
        }
      }
    }
    for (size_t i = 0; i < n; ++i)
      if (target[label[i]] >= 0) image.index[i] = static_cast<uint32_t>(target[label[i]]);
  }
  return true;
}

void MergeTinySpecks(IndexedImage& image, size_t maxArea, double tightness) {
  constexpr uint32_t kSeen = 0x80000000u;  // a passing mark: palettes hold far fewer colours
  const int w = image.width, h = image.height;
  std::vector<size_t> speck, stack;
  std::vector<std::pair<uint32_t, uint32_t>> tally;
  for (int y0 = 0; y0 < h; ++y0)
    for (int x0 = 0; x0 < w; ++x0) {
      const size_t start = static_cast<size_t>(y0) * static_cast<size_t>(w) + static_cast<size_t>(x0);
      if (image.index[start] & kSeen) continue;
      const uint32_t colour = image.index[start];
      // A pixel of the same colour as the one before it or above it (seen already) joins
      // a patch already dealt with: a flood from here would find that at once.
      if ((x0 > 0 && (image.index[start - 1] & ~kSeen) == colour) ||
          (y0 > 0 && (image.index[start - static_cast<size_t>(w)] & ~kSeen) == colour)) {
        image.index[start] |= kSeen;
        continue;
      }
      // The edge-connected patch of this colour, given up as soon as it is too big.
      speck.assign(1, start);
      stack.assign(1, start);
      image.index[start] |= kSeen;
      bool big = false;
      tally.clear();
      while (!stack.empty() && !big) {
        const size_t i = stack.back();
        stack.pop_back();
        const int x = static_cast<int>(i % static_cast<size_t>(w)), y = static_cast<int>(i / static_cast<size_t>(w));
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4 && !big; ++k) {
          if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
          const size_t j = static_cast<size_t>(ny[k]) * static_cast<size_t>(w) + static_cast<size_t>(nx[k]);
          const uint32_t q = image.index[j] & ~kSeen;
          if (q != colour) {
            size_t t = 0;
            while (t < tally.size() && tally[t].first != q) ++t;
            if (t == tally.size()) tally.emplace_back(q, 0);
            ++tally[t].second;
          } else if (!(image.index[j] & kSeen)) {
            image.index[j] |= kSeen;
            speck.push_back(j);
            stack.push_back(j);
            big = speck.size() > maxArea;
          } else if (std::find(speck.begin(), speck.end(), j) == speck.end()) {
            big = true;  // joins a patch already found too big
          }
        }
      }
      if (big || tally.empty()) continue;  // what was reached stays marked: part of something big
      double best = -1;
      uint32_t target = colour;
      for (const auto& [c, edges] : tally) {
        const double score = edges * std::exp(-tightness * ColorDistance(image.palette[c], image.palette[colour]) / 128.0);
        if (score > best) {
          best = score;
          target = c;
        }
      }
      for (size_t i : speck) image.index[i] = target | kSeen;
    }
  for (uint32_t& q : image.index) q &= ~kSeen;
}

void Despeckle(IndexedImage& image, int level, double tightness) {
  for (int step = 1; step <= level; ++step)
    if (!MergeSpecks(image, static_cast<uint64_t>(step) * static_cast<uint64_t>(step), tightness)) return;
}

}  // namespace at
