#include "centerline/thin.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace at {
namespace {

// Neighbours clockwise from north: N, NE, E, SE, S, SW, W, NW.
constexpr int kNx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kNy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// The neighbours that belong to the same stroke colour as the centre.
void Ring(const Mask& m, int x, int y, int p[8]) {
  const uint32_t c = m.At(x, y);
  for (int k = 0; k < 8; ++k) p[k] = m.At(x + kNx[k], y + kNy[k]) == c;
}

int CountOnes(const int p[8]) { return p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7]; }

int Transitions(const int p[8]) {
  int a = 0;
  for (int k = 0; k < 8; ++k) a += (p[k] == 0 && p[(k + 1) % 8] == 1);
  return a;
}

// 8-connectivity number: 1 when removing the centre keeps its neighbours connected.
int Connectivity8(const int p[8]) {
  int n = 0;
  for (int k = 0; k < 8; k += 2) {
    const int a = 1 - p[k], b = 1 - p[(k + 1) % 8], c = 1 - p[(k + 2) % 8];
    n += a - a * b * c;
  }
  return n;
}

// Exact squared Euclidean distance in one dimension: the lower envelope of the parabolas
// rooted at each sample (Felzenszwalb and Huttenlocher).
void Distance1D(const float* f, float* d, int* v, float* z, int n) {
  int k = 0;
  v[0] = 0;
  z[0] = -std::numeric_limits<float>::infinity();
  z[1] = std::numeric_limits<float>::infinity();
  auto meet = [&](int q, int r) {
    return ((f[q] + float(q) * float(q)) - (f[r] + float(r) * float(r))) / (2.0f * float(q) - 2.0f * float(r));
  };
  for (int q = 1; q < n; ++q) {
    float s = meet(q, v[k]);
    while (s <= z[k]) {
      --k;
      s = meet(q, v[k]);
    }
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = std::numeric_limits<float>::infinity();
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (z[k + 1] < float(q)) ++k;
    const float dq = float(q) - float(v[k]);
    d[q] = dq * dq + f[v[k]];
  }
}

}  // namespace

void RemoveNoise(Mask& mask, double level) {
  const double need = (1.0 - level) * 8.0;
  Mask src = mask;
  uint32_t values[8];
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      const uint32_t self = src.At(x, y);
      int same = 0;
      for (int k = 0; k < 8; ++k) {
        // Beyond the picture counts as agreeing, so that edges are not eaten away.
        const int nx = x + kNx[k], ny = y + kNy[k];
        const bool inside = nx >= 0 && ny >= 0 && nx < mask.width && ny < mask.height;
        values[k] = inside ? src.At(nx, ny) : self;
        same += values[k] == self;
      }
      if (same >= need) continue;
      uint32_t best = self;
      int bestCount = 0;
      for (int k = 0; k < 8; ++k) {
        int count = 0;
        for (int j = 0; j < 8; ++j) count += values[j] == values[k];
        if (count > bestCount) {
          bestCount = count;
          best = values[k];
        }
      }
      mask.bits[static_cast<size_t>(y) * static_cast<size_t>(mask.width) + static_cast<size_t>(x)] = best;
    }
  }
}

void FillPinholes(Mask& mask, size_t maxArea) {
  const int w = mask.width, h = mask.height;
  std::vector<uint8_t> seen(mask.bits.size(), 0);
  std::vector<uint32_t> queue;
  for (size_t start = 0; start < mask.bits.size(); ++start) {
    if (seen[start] || mask.bits[start] != kNoStroke) continue;
    queue.assign(1, static_cast<uint32_t>(start));
    seen[start] = 1;
    bool border = false;
    uint32_t around = kNoStroke;
    for (size_t q = 0; q < queue.size(); ++q) {
      const int x = static_cast<int>(queue[q] % static_cast<uint32_t>(w)), y = static_cast<int>(queue[q] / static_cast<uint32_t>(w));
      for (int k = 0; k < 8; k += 2) {
        const int nx = x + kNx[k], ny = y + kNy[k];
        if (nx < 0 || ny < 0 || nx >= w || ny >= h) {
          border = true;
          continue;
        }
        const size_t j = static_cast<size_t>(ny) * static_cast<size_t>(w) + static_cast<size_t>(nx);
        if (mask.bits[j] != kNoStroke) {
          if (around == kNoStroke) around = mask.bits[j];
        } else if (!seen[j]) {
          seen[j] = 1;
          queue.push_back(static_cast<uint32_t>(j));
        }
      }
    }
    if (border || queue.size() > maxArea || around == kNoStroke) continue;
    for (uint32_t i : queue) mask.bits[i] = around;
  }
}

std::vector<float> DistanceToBackground(const Mask& mask) {
  const size_t w = static_cast<size_t>(mask.width), h = static_cast<size_t>(mask.height);
  // Large but finite, so that differences of two stay finite.
  const float far = 1e12f;
  std::vector<float> g(w * h);
  for (size_t y = 0; y < h; ++y) {
    for (size_t x = 0; x < w; ++x) {
      const int xi = static_cast<int>(x), yi = static_cast<int>(y);
      const uint32_t c = mask.At(xi, yi);
      const bool edge = mask.At(xi - 1, yi) != c || mask.At(xi + 1, yi) != c || mask.At(xi, yi - 1) != c || mask.At(xi, yi + 1) != c;
      g[y * w + x] = edge ? 0.0f : far;
    }
  }
  const size_t n = std::max(w, h);
  std::vector<float> f(n), d(n), z(n + 1);
  std::vector<int> v(n);
  for (size_t x = 0; x < w; ++x) {
    for (size_t y = 0; y < h; ++y) f[y] = g[y * w + x];
    Distance1D(f.data(), d.data(), v.data(), z.data(), static_cast<int>(h));
    for (size_t y = 0; y < h; ++y) g[y * w + x] = d[y];
  }
  for (size_t y = 0; y < h; ++y) {
    for (size_t x = 0; x < w; ++x) f[x] = g[y * w + x];
    Distance1D(f.data(), d.data(), v.data(), z.data(), static_cast<int>(w));
    for (size_t x = 0; x < w; ++x) g[y * w + x] = mask.bits[y * w + x] != kNoStroke ? std::sqrt(d[x]) + 1.0f : 0.0f;
  }
  return g;
}

void Thin(Mask& mask) {
  const size_t w = static_cast<size_t>(mask.width);
  std::vector<uint32_t> live;
  for (size_t i = 0; i < mask.bits.size(); ++i)
    if (mask.bits[i] != kNoStroke) live.push_back(static_cast<uint32_t>(i));
  std::vector<uint32_t> remove;
  bool changed = true;
  while (changed) {
    changed = false;
    for (int pass = 0; pass < 2; ++pass) {
      remove.clear();
      for (uint32_t i : live) {
        const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
        int p[8];
        Ring(mask, x, y, p);
        const int b = CountOnes(p);
        if (b < 2 || b > 6 || Transitions(p) != 1) continue;
        // p[0] N, p[2] E, p[4] S, p[6] W
        if (pass == 0 && (p[0] * p[2] * p[4] != 0 || p[2] * p[4] * p[6] != 0)) continue;
        if (pass == 1 && (p[0] * p[2] * p[6] != 0 || p[0] * p[4] * p[6] != 0)) continue;
        remove.push_back(i);
      }
      for (uint32_t i : remove) mask.bits[i] = kNoStroke;
      if (!remove.empty()) {
        changed = true;
        live.erase(std::remove_if(live.begin(), live.end(), [&](uint32_t i) { return mask.bits[i] == kNoStroke; }), live.end());
      }
    }
  }
  // Staircase corners: a pixel with two perpendicular edge neighbours whose removal keeps
  // the line connected is redundant and would look like a junction.
  for (uint32_t i : live) {
    const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
    int p[8];
    Ring(mask, x, y, p);
    if (CountOnes(p) < 2 || Connectivity8(p) != 1) continue;
    const bool corner = (p[0] && p[2]) || (p[2] && p[4]) || (p[4] && p[6]) || (p[6] && p[0]);
    if (corner) mask.bits[i] = kNoStroke;
  }
}

}  // namespace at
