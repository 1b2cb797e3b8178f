#include "quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "large_array.h"

namespace at {
namespace {

// A passing mark on a palette index (palettes hold far fewer colours).
constexpr uint32_t kMark = 0x80000000u;
// While mixtures are found and given their side, each pixel's index (a distinct colour, of
// which there are fewer than 2^24) carries the pixel's mixture direction (see FindMixtures)
// in its top bits, which spares an array the size of the picture at the peak of memory.
constexpr int kMixShift = 29;
constexpr uint32_t kIdMask = (uint32_t{1} << kMixShift) - 1;
uint32_t MixOf(uint32_t index) { return index >> kMixShift; }
void StripMixtures(std::vector<uint32_t>& index) {
  for (uint32_t& id : index) id &= kIdMask;
}


uint32_t Pack(Rgb c) { return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; }
Rgb Unpack(uint32_t v) {
  return Rgb{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// Open-addressing map from packed colours to dense ids.
class ColorTable {
 public:
  ColorTable() : keys_(1024, kEmpty), ids_(1024, 0) {}
  uint32_t IdOf(uint32_t key) {
    size_t mask = keys_.size() - 1;
    size_t slot = Hash(key) & mask;
    while (keys_[slot] != kEmpty) {
      if (keys_[slot] == key) return ids_[slot];
      slot = (slot + 1) & mask;
    }
    keys_[slot] = key;
    ids_[slot] = static_cast<uint32_t>(colors_.size());
    colors_.push_back(key);
    if (colors_.size() * 2 > keys_.size()) Grow();
    return static_cast<uint32_t>(colors_.size() - 1);
  }
  const std::vector<uint32_t>& colors() const { return colors_; }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  static size_t Hash(uint32_t k) { return (k * 2654435761u) >> 7; }
  void Grow() {
    std::vector<uint32_t> keys(keys_.size() * 2, kEmpty), ids(keys_.size() * 2, 0);
    const size_t mask = keys.size() - 1;
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (keys_[i] == kEmpty) continue;
      size_t slot = Hash(keys_[i]) & mask;
      while (keys[slot] != kEmpty) slot = (slot + 1) & mask;
      keys[slot] = keys_[i];
      ids[slot] = ids_[i];
    }
    keys_.swap(keys);
    ids_.swap(ids);
  }
  std::vector<uint32_t> keys_, ids_;
  std::vector<uint32_t> colors_;
};

struct Entry {
  std::array<double, 3> sum{};  // sum of channel values over its pixels
  double count = 0;
  std::array<double, 3> lab{};  // the mean colour in OKLab, times 100
  std::array<double, 3> Mean() const { return {sum[0] / count, sum[1] / count, sum[2] / count}; }
};

// OKLab (Björn Ottosson's perceptual space) scaled by 100: equal distances look about
// equally different, so clusters neither lump vivid colours together nor split greys.
std::array<double, 3> ToLab(const std::array<double, 3>& rgb) {
  double lin[3];
  for (int k = 0; k < 3; ++k) {
    const double c = std::clamp(rgb[k], 0.0, 255.0) / 255.0;
    lin[k] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  }
  const double l = std::cbrt(0.4122214708 * lin[0] + 0.5363325363 * lin[1] + 0.0514459929 * lin[2]);
  const double m = std::cbrt(0.2119034982 * lin[0] + 0.6806995451 * lin[1] + 0.1073969566 * lin[2]);
  const double s = std::cbrt(0.0883024619 * lin[0] + 0.2817188376 * lin[1] + 0.6299787005 * lin[2]);
  // Lightness with Ottosson's toe, which follows CIELAB near black: without it the cube
  // root spreads the darkest shades apart far more than a person sees them.
  const double lr = 0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s;
  constexpr double k1 = 0.206, k2 = 0.03, k3 = (1 + k1) / (1 + k2);
  const double toe = 0.5 * (k3 * lr - k1 + std::sqrt((k3 * lr - k1) * (k3 * lr - k1) + 4 * k2 * k3 * lr));
  return {100 * toe,
          100 * (1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s),
          100 * (0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s)};
}

double Dist2(const std::array<double, 3>& a, const std::array<double, 3>& b) {
  const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

size_t Nearest(const std::array<double, 3>& c, const std::vector<std::array<double, 3>>& centers) {
  size_t best = 0;
  double bestD = std::numeric_limits<double>::max();
  for (size_t i = 0; i < centers.size(); ++i) {
    const double d = Dist2(c, centers[i]);
    if (d < bestD) {
      bestD = d;
      best = i;
    }
  }
  return best;
}

std::array<double, 3> LabMean(const std::vector<Entry>& entries, size_t begin, size_t end) {
  std::array<double, 3> sum{};
  double n = 0;
  for (size_t i = begin; i < end; ++i) {
    for (int k = 0; k < 3; ++k) sum[k] += entries[i].lab[k] * entries[i].count;
    n += entries[i].count;
  }
  return {sum[0] / n, sum[1] / n, sum[2] / n};
}

// Median cut: split the box with the most pixels times extent at the weighted median of its
// longest side until there are `count` boxes.
std::vector<std::array<double, 3>> MedianCut(std::vector<Entry> entries, size_t count) {
  struct Box {
    size_t begin, end;
  };
  std::vector<Box> boxes{{0, entries.size()}};
  auto extent = [&](const Box& b, int& axis) {
    double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9}, n = 0;
    for (size_t i = b.begin; i < b.end; ++i) {
      const auto& m = entries[i].lab;
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], m[k]);
        hi[k] = std::max(hi[k], m[k]);
      }
      n += entries[i].count;
    }
    axis = 0;
    for (int k = 1; k < 3; ++k)
      if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
    return (hi[axis] - lo[axis]) * std::max(1.0, n);
  };
  while (boxes.size() < count) {
    size_t pick = boxes.size();
    int pickAxis = 0;
    double pickScore = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      int axis = 0;
      const double score = boxes[i].end - boxes[i].begin > 1 ? extent(boxes[i], axis) : 0;
      if (score > pickScore) {
        pickScore = score;
        pick = i;
        pickAxis = axis;
      }
    }
    if (pick == boxes.size()) break;
    Box b = boxes[pick];
    std::sort(entries.begin() + static_cast<std::ptrdiff_t>(b.begin),
              entries.begin() + static_cast<std::ptrdiff_t>(b.end),
              [&](const Entry& x, const Entry& y) { return x.lab[pickAxis] < y.lab[pickAxis]; });
    double total = 0, run = 0;
    for (size_t i = b.begin; i < b.end; ++i) total += entries[i].count;
    size_t cut = b.begin + 1;
    for (size_t i = b.begin; i < b.end - 1; ++i) {
      run += entries[i].count;
      cut = i + 1;
      if (run * 2 >= total) break;
    }
    boxes[pick] = Box{b.begin, cut};
    boxes.push_back(Box{cut, b.end});
  }
  std::vector<std::array<double, 3>> centers;
  for (const Box& b : boxes) centers.push_back(LabMean(entries, b.begin, b.end));
  return centers;
}

// Lloyd iterations over the weighted entries; center `fixed` (if any) does not move.
void RefineKMeans(const std::vector<Entry>& entries, std::vector<std::array<double, 3>>& centers, int fixed) {
  for (int iter = 0; iter < 6; ++iter) {
    std::vector<std::array<double, 3>> sum(centers.size(), std::array<double, 3>{});
    std::vector<double> count(centers.size(), 0.0);
    for (const Entry& e : entries) {
      const size_t c = Nearest(e.lab, centers);
      for (int k = 0; k < 3; ++k) sum[c][k] += e.lab[k] * e.count;
      count[c] += e.count;
    }
    bool moved = false;
    for (size_t i = 0; i < centers.size(); ++i) {
      if (static_cast<int>(i) == fixed || count[i] == 0) continue;
      const std::array<double, 3> m{sum[i][0] / count[i], sum[i][1] / count[i], sum[i][2] / count[i]};
      if (Dist2(m, centers[i]) > 0.01) moved = true;
      centers[i] = m;
    }
    if (!moved) break;
  }
}

// Small details of a colour unlike any other (a flower's orange heart on green) hold few
// pixels, so clustering by pixel count merges them into whatever is nearest. Such a group
// gets a colour of its own when that costs the rest of the picture less than it gains: it
// replaces the colour whose pixels would move least if it went. Gains and costs are summed
// squared distances, so a few pixels far off weigh as much as many slightly off.
void KeepDistinctColours(const std::vector<Entry>& entries, std::vector<std::array<double, 3>>& centers, int fixed,
                         double totalPixels) {
  constexpr double kDistinct = 12.0;  // OKLab x 100: clearly a different colour
  const double minPixels = std::max(12.0, totalPixels * 2e-4);
  std::vector<size_t> own(entries.size());
  std::vector<double> d2(entries.size());
  for (size_t round = 0; round < centers.size() / 4 + 1; ++round) {
    for (size_t e = 0; e < entries.size(); ++e) {
      own[e] = Nearest(entries[e].lab, centers);
      d2[e] = Dist2(entries[e].lab, centers[own[e]]);
    }
    // The worst served colour, and everything poorly served close to it.
    size_t seed = entries.size();
    double worst = kDistinct * kDistinct;
    for (size_t e = 0; e < entries.size(); ++e)
      if (d2[e] > worst) {
        worst = d2[e];
        seed = e;
      }
    if (seed == entries.size()) return;
    std::array<double, 3> sum{};
    double count = 0, gain = 0;
    for (size_t e = 0; e < entries.size(); ++e) {
      if (d2[e] <= kDistinct * kDistinct / 4 || Dist2(entries[e].lab, entries[seed].lab) > kDistinct * kDistinct / 4) continue;
      for (int k = 0; k < 3; ++k) sum[k] += entries[e].lab[k] * entries[e].count;
      count += entries[e].count;
      gain += d2[e] * entries[e].count;
    }
    if (count < minPixels) return;
    // What dropping each colour would cost: its pixels move to their next nearest colour.
    std::vector<double> cost(centers.size(), 0.0);
    for (size_t e = 0; e < entries.size(); ++e) {
      double next = std::numeric_limits<double>::max();
      for (size_t c = 0; c < centers.size(); ++c)
        if (c != own[e]) next = std::min(next, Dist2(entries[e].lab, centers[c]));
      if (centers.size() > 1) cost[own[e]] += (next - d2[e]) * entries[e].count;
    }
    size_t drop = centers.size();
    for (size_t c = 0; c < centers.size(); ++c)
      if (static_cast<int>(c) != fixed && (drop == centers.size() || cost[c] < cost[drop])) drop = c;
    if (drop == centers.size() || cost[drop] > gain) return;
    centers[drop] = {sum[0] / count, sum[1] / count, sum[2] / count};
    RefineKMeans(entries, centers, fixed);
  }
}

std::array<double, 3> ToArray(Rgb c) { return {double(c.r), double(c.g), double(c.b)}; }

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); }

// Every pixel's index into the list of its picture's distinct colours.
std::vector<uint32_t> IndexDistinct(const Image& image, IndexedImage& out) {
  const size_t n = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  ResizeLarge(out.index, n);
  ColorTable table;
  uint32_t lastKey = 0xFFFFFFFFu, lastId = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t key = uint32_t{image.rgb[3 * i]} << 16 | uint32_t{image.rgb[3 * i + 1]} << 8 | image.rgb[3 * i + 2];
    if (key != lastKey) {
      lastKey = key;
      lastId = table.IdOf(key);
    }
    out.index[i] = lastId;
  }
  return table.colors();
}

// The histogram as weighted entries (with skipMixtures, pixels marked as mixtures are not
// counted); large histograms are binned to 5 bits a channel to bound the work. entryOf gives
// each distinct colour's entry.
std::vector<Entry> BuildEntries(const std::vector<uint32_t>& distinct, const std::vector<uint32_t>& index,
                                std::vector<uint32_t>& entryOf, bool skipMixtures = false) {
  std::vector<uint32_t> count(distinct.size(), 0);
  for (size_t i = 0; i < index.size(); ++i)
    if (!skipMixtures || MixOf(index[i]) == 0) ++count[index[i] & kIdMask];
  const bool binned = distinct.size() > 65536;
  entryOf.assign(distinct.size(), 0);
  std::vector<Entry> entries;
  std::vector<int32_t> binEntry(binned ? 32768 : 0, -1);
  for (size_t i = 0; i < distinct.size(); ++i) {
    const Rgb c = Unpack(distinct[i]);
    size_t e = entries.size();
    if (binned) {
      const size_t bin = (size_t{c.r} >> 3) << 10 | (size_t{c.g} >> 3) << 5 | (c.b >> 3);
      if (binEntry[bin] < 0) {
        binEntry[bin] = static_cast<int32_t>(entries.size());
        entries.emplace_back();
      }
      e = static_cast<size_t>(binEntry[bin]);
    } else {
      entries.emplace_back();
    }
    entryOf[i] = static_cast<uint32_t>(e);
    const double w = count[i];
    entries[e].sum[0] += c.r * w;
    entries[e].sum[1] += c.g * w;
    entries[e].sum[2] += c.b * w;
    entries[e].count += w;
    if (entries[e].count == 0) entries[e].lab = ToLab(ToArray(c));  // seen only where not counted
  }
  for (Entry& e : entries)
    if (e.count > 0) e.lab = ToLab(e.Mean());
  return entries;
}

// Cluster centres for `colorCount` colours; `fixed` is set to the background's centre,
// which keeps the background's exact value, or -1.
std::vector<std::array<double, 3>> ClusterEntries(const std::vector<Entry>& entries, size_t colorCount,
                                                  const std::vector<uint32_t>& distinct, const Rgb* background,
                                                  double totalPixels, int& fixed) {
  std::vector<std::array<double, 3>> centers = MedianCut(entries, colorCount);
  fixed = -1;
  bool bgPresent = false;
  if (background != nullptr)
    for (uint32_t c : distinct) bgPresent = bgPresent || Unpack(c) == *background;
  if (bgPresent) {
    const std::array<double, 3> bg = ToLab(ToArray(*background));
    fixed = static_cast<int>(Nearest(bg, centers));
    centers[static_cast<size_t>(fixed)] = bg;
  }
  RefineKMeans(entries, centers, fixed);
  KeepDistinctColours(entries, centers, fixed, totalPixels);
  return centers;
}

// Maps every pixel to its nearest centre and keeps only the centres in use, merging equal
// colours. Each colour is the mean of its pixels in RGB, which is what they average to on
// screen; the background's centre keeps the background's value.
void MapToCenters(const std::vector<Entry>& entries, const std::vector<std::array<double, 3>>& centers,
                  const std::vector<uint32_t>& entryOf, int fixed, const Rgb* background, IndexedImage& out) {
  std::vector<uint32_t> centerOfEntry(entries.size());
  std::vector<Entry> members(centers.size());
  for (size_t e = 0; e < entries.size(); ++e) {
    centerOfEntry[e] = static_cast<uint32_t>(Nearest(entries[e].lab, centers));
    Entry& m = members[centerOfEntry[e]];
    for (int k = 0; k < 3; ++k) m.sum[k] += entries[e].sum[k];
    m.count += entries[e].count;
  }
  std::vector<int32_t> paletteOfCenter(centers.size(), -1);
  ColorTable finalColors;
  for (size_t c = 0; c < centers.size(); ++c) {
    if (members[c].count == 0) continue;
    const std::array<double, 3> mean = members[c].Mean();
    Rgb rgb{Clamp8(mean[0]), Clamp8(mean[1]), Clamp8(mean[2])};
    if (static_cast<int>(c) == fixed) rgb = *background;
    paletteOfCenter[c] = static_cast<int32_t>(finalColors.IdOf(Pack(rgb)));
  }
  // A centre nothing counted falls to (colours seen only where they were not counted, as
  // mixtures are) takes the colour of the nearest centre in use.
  for (size_t c = 0; c < centers.size(); ++c) {
    if (paletteOfCenter[c] >= 0) continue;
    double best = std::numeric_limits<double>::max();
    for (size_t k = 0; k < centers.size(); ++k)
      if (members[k].count > 0 && Dist2(centers[c], centers[k]) < best) {
        best = Dist2(centers[c], centers[k]);
        paletteOfCenter[c] = paletteOfCenter[k];
      }
  }
  std::vector<uint32_t> remap(entryOf.size());
  for (size_t i = 0; i < entryOf.size(); ++i)
    remap[i] = static_cast<uint32_t>(paletteOfCenter[centerOfEntry[entryOf[i]]]);
  for (uint32_t& id : out.index) id = remap[id & kIdMask] | (id & ~kIdMask);  // mixture marks stay
  out.palette.clear();
  for (uint32_t c : finalColors.colors()) out.palette.push_back(Unpack(c));
  out.background = fixed >= 0 ? paletteOfCenter[static_cast<size_t>(fixed)] : -1;
}

// A pixel is a mixture when it lies part way along the line between two opposite
// neighbours that differ clearly: an anti-aliased or blurred edge pixel, which a person sees
// as the edge between the two colours, not as a colour of its own. The value is the
// direction (1..4) in which its two sides lie, 0 for a pixel of its own colour.
constexpr int kPairDx[4] = {1, 0, 1, 1}, kPairDy[4] = {0, 1, 1, -1};

// Closer than this in RGB, two sides make no edge to be part way along.
constexpr int kMinStep = 48;

// The direction (1..4) in which the pixel at p lies part way along the line between its two
// opposite neighbours (the widest such pair), or 0. `stride` is the row length in bytes. In
// a grey picture the three channels are equal, so one gives the same sums three times over
// and the pixel lies on the line exactly.
template <bool kGrey>
int MixtureDirection(const uint8_t* p, int stride) {
  int best = 0, bestSpan = 0;
  for (int k = 0; k < 4; ++k) {
    const int offset = kPairDy[k] * stride + kPairDx[k] * 3;
    const uint8_t* a = p - offset;
    const uint8_t* b = p + offset;
    int d[3], q[3], dd = 0, qd = 0;
    if constexpr (kGrey) {
      d[0] = b[0] - a[0];
      q[0] = p[0] - a[0];
      dd = 3 * d[0] * d[0];
      qd = 3 * q[0] * d[0];
    } else {
      for (int c = 0; c < 3; ++c) {
        d[c] = b[c] - a[c];
        q[c] = p[c] - a[c];
        dd += d[c] * d[c];
        qd += q[c] * d[c];
      }
    }
    if (dd < kMinStep * kMinStep || qd * 32 < dd || qd * 32 > 31 * dd) continue;
    if constexpr (!kGrey) {
      // Close to the line: the part of p - a across d is small beside d.
      const double t = static_cast<double>(qd) / dd;
      double off = 0;
      for (int c = 0; c < 3; ++c) {
        const double e = q[c] - t * d[c];
        off += e * e;
      }
      if (off > 0.04 * dd + 100) continue;
    }
    if (dd > bestSpan) {
      bestSpan = dd;
      best = k + 1;
    }
  }
  return best;
}

bool IsGrey(const Image& image) {
  const uint8_t* p = image.rgb.data();
  for (size_t i = 0, n = image.rgb.size(); i < n; i += 3)
    if (p[i] != p[i + 1] || p[i] != p[i + 2]) return false;
  return true;
}

// Marks each mixture pixel's direction in its index (see kMixShift).
void FindMixtures(const Image& image, std::vector<uint32_t>& index, size_t& count, size_t& edges) {
  const int w = image.width, h = image.height;
  count = 0;
  edges = 0;
  const bool grey = IsGrey(image);
  const uint8_t* px = image.rgb.data();
  auto at = [&](int x, int y) { return px + (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3; };
  for (int y = 1; y + 1 < h; ++y) {
    const uint8_t* row = at(0, y);
    for (int x = 1; x + 1 < w; ++x) {
      const uint8_t* p = row + 3 * x;
      // Flat ground is the common case: equal to both horizontal neighbours and the pixels
      // above and below.
      if (std::memcmp(p, p - 3, 3) == 0 && std::memcmp(p, p + 3, 3) == 0 && std::memcmp(p, p - 3 * w, 3) == 0 &&
          std::memcmp(p, p + 3 * w, 3) == 0)
        continue;
      ++edges;
      const int best = grey ? MixtureDirection<true>(p, 3 * w) : MixtureDirection<false>(p, 3 * w);
      if (best > 0) {
        index[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] |= static_cast<uint32_t>(best) << kMixShift;
        ++count;
      }
    }
  }
}

// Each mixture pixel takes the nearer (in RGB, the space renderers blend in) of the colours
// on its two sides: the first pixels of a colour of their own along its direction.
void AssignMixtures(const Image& image, IndexedImage& out) {
  constexpr int kReach = 4;
  const int w = image.width, h = image.height;
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const uint32_t mix = MixOf(out.index[i]);
      if (mix == 0) continue;
      const int dx = kPairDx[mix - 1], dy = kPairDy[mix - 1];
      uint32_t side[2];
      for (int s = 0; s < 2; ++s) {
        const int sx = s == 0 ? -dx : dx, sy = s == 0 ? -dy : dy;
        int px = x + sx, py = y + sy;
        for (int step = 1; step < kReach; ++step) {
          const int nx = px + sx, ny = py + sy;
          if (MixOf(out.index[static_cast<size_t>(py) * static_cast<size_t>(w) + static_cast<size_t>(px)]) == 0 || nx < 0 ||
              ny < 0 || nx >= w || ny >= h)
            break;
          px = nx;
          py = ny;
        }
        side[s] = out.index[static_cast<size_t>(py) * static_cast<size_t>(w) + static_cast<size_t>(px)] & kIdMask;
      }
      const uint8_t* p = &image.rgb[3 * i];
      auto d2 = [&](uint32_t c) {
        const Rgb q = out.palette[c];
        const int dr = p[0] - q.r, dg = p[1] - q.g, db = p[2] - q.b;
        return dr * dr + dg * dg + db * db;
      };
      out.index[i] = (d2(side[0]) <= d2(side[1]) ? side[0] : side[1]) | mix << kMixShift;
    }
  StripMixtures(out.index);
}

// True when colour c lies part way along the line between two other colours of the palette.
bool LiesBetween(const std::vector<Rgb>& palette, size_t c) {
  const Rgb p = palette[c];
  for (size_t a = 0; a < palette.size(); ++a)
    for (size_t b = a + 1; b < palette.size(); ++b) {
      if (a == c || b == c) continue;
      const double d[3] = {double(palette[b].r) - palette[a].r, double(palette[b].g) - palette[a].g,
                           double(palette[b].b) - palette[a].b};
      const double q[3] = {double(p.r) - palette[a].r, double(p.g) - palette[a].g, double(p.b) - palette[a].b};
      const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
      if (dd < 1) continue;
      const double t = (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd;
      if (t < 0.08 || t > 0.92) continue;
      double off = 0;
      for (int k = 0; k < 3; ++k) off += (q[k] - t * d[k]) * (q[k] - t * d[k]);
      const double tol = 0.12 * std::sqrt(dd) + 8;
      if (off <= tol * tol) return true;
    }
  return false;
}

// Slivers: a colour between two others whose pixels are nearly all on edges (collars
// along anti-aliased edges, fringes, specks) is not a colour of its own. Its pixels go to
// the nearest colour on either side of them, and the palette closes up.
void AbsorbSlivers(const Image& image, IndexedImage& out) {
  const int w = image.width, h = image.height;
  const size_t colours = out.palette.size();
  std::vector<size_t> total(colours, 0), inner(colours, 0);
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const uint32_t c = out.index[i];
      ++total[c];
      inner[c] += out.index[i - 1] == c && out.index[i + 1] == c && out.index[i - static_cast<size_t>(w)] == c &&
                  out.index[i + static_cast<size_t>(w)] == c;
    }
  std::vector<uint8_t> drop(colours, 0);
  bool any = false;
  for (size_t c = 0; c < colours; ++c) {
    drop[c] = static_cast<int>(c) != out.background && inner[c] * 10 < total[c] * 3 && LiesBetween(out.palette, c);
    any = any || drop[c];
  }
  if (!any) return;
  auto d2 = [&](size_t i, uint32_t c) {
    const uint8_t* p = &image.rgb[3 * i];
    const Rgb q = out.palette[c];
    return (p[0] - q.r) * (p[0] - q.r) + (p[1] - q.g) * (p[1] - q.g) + (p[2] - q.b) * (p[2] - q.b);
  };
  // Each sliver pixel takes the nearest of the kept colours its sliver colour meets: the
  // two sides of the edges it lies along, split half-way.
  std::vector<uint8_t> touches(colours * colours, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const uint32_t a = out.index[i], b = out.index[i + 1];
      const uint32_t c = y + 1 < h ? out.index[i + static_cast<size_t>(w)] : a;
      if (a != b) touches[a * colours + b] = touches[b * colours + a] = 1;
      if (a != c) touches[a * colours + c] = touches[c * colours + a] = 1;
    }
  std::vector<uint32_t> remap(colours);
  std::vector<Rgb> kept;
  for (size_t c = 0; c < colours; ++c)
    if (!drop[c]) {
      remap[c] = static_cast<uint32_t>(kept.size());
      kept.push_back(out.palette[c]);
    }
  // The kept colours a sliver colour reaches, directly or through other sliver colours.
  std::vector<std::vector<uint32_t>> sides(colours);
  for (size_t c = 0; c < colours; ++c) {
    if (!drop[c]) continue;
    std::vector<bool> seen(colours, false);
    std::vector<size_t> todo{c};
    seen[c] = true;
    while (!todo.empty()) {
      const size_t d = todo.back();
      todo.pop_back();
      for (size_t k = 0; k < colours; ++k) {
        if (seen[k] || !touches[d * colours + k]) continue;
        seen[k] = true;
        if (drop[k]) todo.push_back(k);
        else sides[c].push_back(static_cast<uint32_t>(k));
      }
    }
    if (sides[c].empty())
      for (size_t k = 0; k < colours; ++k)
        if (!drop[k]) sides[c].push_back(static_cast<uint32_t>(k));
  }
  // Sliver pixels carry kMark until the end.
  for (size_t i = 0; i < out.index.size(); ++i) {
    uint32_t& c = out.index[i];
    if (!drop[c]) continue;
    uint32_t best = sides[c][0];
    for (uint32_t k : sides[c])
      if (d2(i, k) < d2(i, best)) best = k;
    c = best | kMark;
  }
  // Along a gradient the nearer colour flips from pixel to pixel; a sliver pixel whose
  // colour few of its neighbours share takes the one most of them have.
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      if (!(out.index[i] & kMark)) continue;
      const uint32_t own = out.index[i] & ~kMark;
      uint32_t seen[8];
      int count[8], kinds = 0, same = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const uint32_t q = out.index[i + static_cast<size_t>(dy * w + dx)] & ~kMark;
          same += q == own;
          int k = 0;
          while (k < kinds && seen[k] != q) ++k;
          if (k == kinds) {
            seen[kinds] = q;
            count[kinds++] = 0;
          }
          ++count[k];
        }
      if (same >= 2) continue;
      int top = 0;
      for (int k = 1; k < kinds; ++k)
        if (count[k] > count[top]) top = k;
      if (!drop[seen[top]]) out.index[i] = seen[top] | kMark;
    }
  for (uint32_t& c : out.index) c = remap[c & ~kMark];
  if (out.background >= 0) out.background = static_cast<int>(remap[static_cast<size_t>(out.background)]);
  out.palette.swap(kept);
}

// A colour drawn mostly in thin strokes (type scanned at a low resolution, or blurred) has
// few pixels of its full strength: blur spreads each stroke's ink over its neighbours. The
// ink itself is found from how much of it there is: the stroke's contrast against the
// ground around it, summed over the stroke and its rim, divided by the stroke's area.
void DeblurStrokeColours(const Image& image, IndexedImage& out) {
  const int w = image.width, h = image.height;
  const size_t colours = out.palette.size();
  if (colours < 2) return;
  std::vector<size_t> total(colours, 0), inner(colours, 0);
  std::vector<size_t> touch(colours * colours, 0);
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const uint32_t c = out.index[i];
      ++total[c];
      const uint32_t nb[4] = {out.index[i - 1], out.index[i + 1], out.index[i - static_cast<size_t>(w)],
                              out.index[i + static_cast<size_t>(w)]};
      if (nb[0] == c && nb[1] == c && nb[2] == c && nb[3] == c) {  // inside a patch, the common case
        ++inner[c];
        continue;
      }
      bool in = true;
      for (uint32_t q : nb) {
        if (q != c) ++touch[c * colours + q];
        in = in && q == c;
      }
      inner[c] += in;
    }
  auto d2 = [](const uint8_t* p, Rgb q) {
    return (p[0] - q.r) * (p[0] - q.r) + (p[1] - q.g) * (p[1] - q.g) + (p[2] - q.b) * (p[2] - q.b);
  };
  for (size_t c = 0; c < colours; ++c) {
    if (static_cast<int>(c) == out.background || total[c] < 64 || inner[c] * 2 >= total[c]) continue;
    // A colour many of whose pixels have it exactly is drawn at full strength already
    // (thin borders of flat art): only blurred ink is spread out.
    size_t exact = 0;
    for (size_t i = 0; i < out.index.size(); ++i)
      if (out.index[i] == c && d2(&image.rgb[3 * i], out.palette[c]) <= 36) ++exact;
    if (exact * 100 >= total[c] * 35) continue;
    size_t g = c;
    for (size_t k = 0; k < colours; ++k)
      if (k != c && (g == c || touch[c * colours + k] > touch[c * colours + g])) g = k;
    const Rgb cg = out.palette[g], cc = out.palette[c];
    const double u[3] = {double(cc.r) - cg.r, double(cc.g) - cg.g, double(cc.b) - cg.b};
    const double len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    if (len < 24) continue;
    // The longest step from the ground that stays inside the RGB cube.
    double most = 1e9;
    const double base[3] = {double(cg.r), double(cg.g), double(cg.b)};
    for (int k = 0; k < 3; ++k)
      if (std::fabs(u[k]) > 1e-9) most = std::min(most, (u[k] > 0 ? 255 - base[k] : base[k]) / std::fabs(u[k]) * len);
    // How far a pixel lies from the ground towards the colour, in RGB units; `reach` gives
    // the same times len in whole numbers, for the passes over every pixel.
    const int ui[3] = {cc.r - cg.r, cc.g - cg.g, cc.b - cg.b};
    auto reach = [&](size_t i) {
      const uint8_t* p = &image.rgb[3 * i];
      return (p[0] - cg.r) * ui[0] + (p[1] - cg.g) * ui[1] + (p[2] - cg.b) * ui[2];
    };
    auto along = [&](size_t i) { return reach(i) / len; };
    // How deep the ink is: its contrast summed over the strokes and their rims, divided by
    // the strokes' area.
    // Pixels already counted carry kMark for the moment.
    auto measure = [&]() {
      double amount = 0;
      size_t area = 0;
      for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
          const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
          if ((out.index[i] & ~kMark) != c) continue;
          ++area;
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
              const size_t j = i + static_cast<size_t>(dy * w + dx);
              const uint32_t q = out.index[j];
              if ((q & kMark) || (q != c && q != g)) continue;
              out.index[j] = q | kMark;
              amount += std::max(0.0, along(j));
            }
        }
      for (uint32_t& q : out.index) q &= ~kMark;
      return area == 0 ? len : std::clamp(amount / static_cast<double>(area), len, std::min(most, 2.5 * len));
    };
    // The ink from the strokes as first drawn; then the strokes are the pixels more than
    // half-way to it, and the ink is measured again over them. Pixels on a stroke's crest
    // (stronger than their neighbours on both sides in some direction) and clearly darker
    // than the ground are hairlines and serifs: they keep the ink, but do not thin it.
    const double first = measure();
    const size_t ws = static_cast<size_t>(w);
    const int half = static_cast<int>(std::ceil(first / 2 * len)), faint = static_cast<int>(std::ceil(0.3 * len * len));
    std::vector<uint32_t> hairline;
    for (int y = 1; y + 1 < h; ++y)
      for (int x = 1; x + 1 < w; ++x) {
        const size_t i = static_cast<size_t>(y) * ws + static_cast<size_t>(x);
        const uint32_t q = out.index[i];
        if (q != c && q != g) continue;
        const int a = reach(i);
        if (a >= half) continue;
        if (q == c) out.index[i] = static_cast<uint32_t>(g);
        if (a < faint) continue;
        if ((a > reach(i - 1) && a > reach(i + 1)) || (a > reach(i - ws) && a > reach(i + ws)) ||
            (a > reach(i - ws - 1) && a > reach(i + ws + 1)) || (a > reach(i - ws + 1) && a > reach(i + ws - 1)))
          hairline.push_back(static_cast<uint32_t>(i));
      }
    const double depth = measure();
    for (uint32_t i : hairline) out.index[i] = static_cast<uint32_t>(c);
    out.palette[c] = Rgb{Clamp8(base[0] + u[0] / len * depth), Clamp8(base[1] + u[1] / len * depth),
                         Clamp8(base[2] + u[2] / len * depth)};
  }
}


// The picture's noise in OKLab x 100: the mean difference between horizontal neighbours
// where they differ a little (grain, sensor noise) but not across an edge, over a sample
// of rows.
double EstimateNoise(const Image& image) {
  const int w = image.width, h = image.height;
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < h; y += 7) {
    const uint8_t* row = &image.rgb[static_cast<size_t>(y) * static_cast<size_t>(w) * 3];
    for (int x = 0; x + 1 < w; ++x) {
      const uint8_t* p = row + 3 * x;
      const int d = std::abs(p[0] - p[3]) + std::abs(p[1] - p[4]) + std::abs(p[2] - p[5]);
      if (d > 45) continue;
      sum += d;
      ++n;
    }
  }
  // About 0.4 OKLab units per summed RGB level in the mid tones.
  return n > 0 ? 0.4 * sum / static_cast<double>(n) : 0;
}

double MeanError(const std::vector<Entry>& entries, const std::vector<std::array<double, 3>>& centers,
                 double& farMass, double far) {
  double sum = 0, n = 0;
  farMass = 0;
  for (const Entry& e : entries) {
    const double d2 = Dist2(e.lab, centers[Nearest(e.lab, centers)]);
    sum += std::sqrt(d2) * e.count;
    n += e.count;
    if (d2 > far * far) farMass += e.count;
  }
  return n > 0 ? sum / n : 0;
}

// The fewest colours (up to kMaxSeenColors) whose mean distance from the picture's own
// colours stays within a perceptual budget, leaving no sizeable group of pixels clearly off.
// Noise (see EstimateNoise) widens both: grain is not a colour.
std::vector<std::array<double, 3>> ClusterByBudget(const std::vector<Entry>& entries, double totalPixels,
                                                   double noise) {
  constexpr size_t kMaxSeenColors = 32;
  const double kBudget = std::max(2.0, 1.5 * noise);  // OKLab x 100: mean distance a person hardly notices
  const double kFar = std::max(5.0, 3.0 * noise);     // OKLab x 100: a colour a person tells apart
  const double minPixels = std::max(12.0, totalPixels * 2e-4);
  // The error falls as colours are added: find the fewest that pass by doubling, then
  // halving the gap.
  auto tryCount = [&](size_t k, std::vector<std::array<double, 3>>& centers) {
    centers = MedianCut(entries, k);
    RefineKMeans(entries, centers, -1);
    if (k >= 2) KeepDistinctColours(entries, centers, -1, totalPixels);
    double farMass = 0;
    const double err = MeanError(entries, centers, farMass, kFar);
    return (err <= kBudget && farMass < minPixels) || centers.size() < k;  // or no more to split
  };
  std::vector<std::array<double, 3>> centers, trial;
  size_t fail = 0, pass = 1;
  while (!tryCount(pass, centers) && pass < kMaxSeenColors) {
    fail = pass;
    pass = std::min(kMaxSeenColors, pass * 2);
  }
  while (pass - fail > 1) {
    const size_t mid = (pass + fail) / 2;
    if (tryCount(mid, trial)) {
      pass = mid;
      centers.swap(trial);
    } else {
      fail = mid;
    }
  }
  // Centres closer than a colour a person tells apart are one colour.
  for (bool merged = true; merged && centers.size() > 1;) {
    merged = false;
    for (size_t a = 0; a < centers.size() && !merged; ++a)
      for (size_t b = a + 1; b < centers.size() && !merged; ++b)
        if (Dist2(centers[a], centers[b]) < 0.36 * kFar * kFar) {
          centers.erase(centers.begin() + static_cast<std::ptrdiff_t>(b));
          RefineKMeans(entries, centers, -1);
          merged = true;
        }
  }
  return centers;
}

}  // namespace

bool IndexSeenColors(const Image& image, const Rgb* background, IndexedImage& out, double snap) {
  out = IndexedImage{};
  out.width = image.width;
  out.height = image.height;
  const std::vector<uint32_t> distinct = IndexDistinct(image, out);
  size_t mixtures = 0, edges = 0;
  FindMixtures(image, out.index, mixtures, edges);
  // No in-between shades (pixel art, an enlarged sprite, a drawing made without smoothing):
  // every colour is meant.
  if (distinct.size() <= 256 && mixtures * 50 <= edges) {
    for (uint32_t c : distinct) out.palette.push_back(Unpack(c));
    if (background != nullptr)
      for (size_t i = 0; i < out.palette.size(); ++i)
        if (out.palette[i] == *background) out.background = static_cast<int>(i);
    StripMixtures(out.index);
    return false;
  }
  // The histogram of the pixels that have a colour of their own.
  std::vector<uint32_t> entryOf;
  std::vector<Entry> entries = BuildEntries(distinct, out.index, entryOf, true);
  std::vector<Entry> counted;
  for (const Entry& e : entries)
    if (e.count > 0) counted.push_back(e);
  if (counted.empty()) {  // nothing but edges (a tiny picture): every pixel counts
    entries = BuildEntries(distinct, out.index, entryOf);
    counted = entries;
    StripMixtures(out.index);
  }
  std::vector<std::array<double, 3>> centers =
      ClusterByBudget(counted, static_cast<double>(out.index.size() - mixtures), EstimateNoise(image));
  int fixed = -1;
  if (background != nullptr) {
    const std::array<double, 3> bg = ToLab(ToArray(*background));
    const size_t near = Nearest(bg, centers);
    if (Dist2(bg, centers[near]) < snap * snap) {
      fixed = static_cast<int>(near);
      centers[near] = bg;
    }
  }
  MapToCenters(entries, centers, entryOf, fixed, background, out);
  // Mixture pixels take the colour of the nearer side of the edge they lie on: the edge
  // then runs where the ramp crosses half-way.
  AssignMixtures(image, out);
  AbsorbSlivers(image, out);
  DeblurStrokeColours(image, out);

  return true;
}

IndexedImage IndexColors(const Image& image, int colorCount, const Rgb* background) {
  IndexedImage out;
  out.width = image.width;
  out.height = image.height;
  const std::vector<uint32_t> distinct = IndexDistinct(image, out);
  if (colorCount <= 0 || distinct.size() <= static_cast<size_t>(colorCount)) {
    for (uint32_t c : distinct) out.palette.push_back(Unpack(c));
    if (background != nullptr)
      for (size_t i = 0; i < out.palette.size(); ++i)
        if (out.palette[i] == *background) out.background = static_cast<int>(i);
    return out;
  }
  std::vector<uint32_t> entryOf;
  const std::vector<Entry> entries = BuildEntries(distinct, out.index, entryOf);
  int fixed = -1;
  const std::vector<std::array<double, 3>> centers =
      ClusterEntries(entries, static_cast<size_t>(colorCount), distinct, background,
                     static_cast<double>(out.index.size()), fixed);
  MapToCenters(entries, centers, entryOf, fixed, background, out);
  return out;
}

}  // namespace at
