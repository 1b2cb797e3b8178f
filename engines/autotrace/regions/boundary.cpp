#include "regions/boundary.h"

#include <algorithm>
#include <numeric>

#include "large_array.h"

namespace at {
namespace {

constexpr uint32_t kNoColor = 0xFFFFFFFFu;
constexpr int kSideShift = 28;
constexpr uint32_t kLabelMask = (uint32_t{1} << kSideShift) - 1;
static_assert(kMaxPixels <= kLabelMask, "region ids must leave the top bits of a label free");

// rank[c] < rank[c'] means colour c takes a contested diagonal from c'.
std::vector<uint32_t> DiagonalRanks(const IndexedImage& image) {
  const size_t n = image.palette.size();
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  auto luma = [&](uint32_t i) {
    const Rgb c = image.palette[i];
    return 299 * c.r + 587 * c.g + 114 * c.b;
  };
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const bool bgA = static_cast<int>(a) == image.background, bgB = static_cast<int>(b) == image.background;
    if (bgA != bgB) return bgB;
    return luma(a) < luma(b);
  });
  std::vector<uint32_t> rank(n);
  for (size_t i = 0; i < n; ++i) rank[order[i]] = static_cast<uint32_t>(i);
  return rank;
}

// Which colour takes a corner where two diagonal pairs of pixels cross.
struct DiagonalRule {
  const std::vector<uint32_t>& rank;
  bool Beats(uint32_t a, uint32_t b) const {
    if (a == kNoColor) return false;
    if (b == kNoColor) return true;
    return rank[a] < rank[b];
  }
  // Whether the diagonal pair joins at the corner whose four pixels are nw, ne, sw, se.
  bool MainJoins(uint32_t nw, uint32_t ne, uint32_t sw, uint32_t se) const {
    return nw == se && nw != kNoColor && !(ne == sw && ne != nw && Beats(ne, nw));
  }
  bool AntiJoins(uint32_t nw, uint32_t ne, uint32_t sw, uint32_t se) const {
    return ne == sw && ne != kNoColor && !(nw == se && nw != ne && Beats(nw, ne));
  }
};

// Open-addressing map from chain keys to chain ids; much lighter than a node-based map
// when a busy picture has millions of shared boundaries.
class KeyMap {
 public:
  KeyMap() : keys_(1024, kEmpty), values_(1024, 0) {}
  bool Find(uint64_t key, uint32_t& value) const {
    const size_t mask = keys_.size() - 1;
    for (size_t slot = Hash(key) & mask; keys_[slot] != kEmpty; slot = (slot + 1) & mask) {
      if (keys_[slot] == key) {
        value = values_[slot];
        return true;
      }
    }
    return false;
  }
  void Insert(uint64_t key, uint32_t value) {
    if ((count_ + 1) * 2 > keys_.size()) Grow();
    Place(keys_, values_, key, value);
    ++count_;
  }

 private:
  static constexpr uint64_t kEmpty = ~uint64_t{0};
  static size_t Hash(uint64_t k) { return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 20); }
  static void Place(std::vector<uint64_t>& keys, std::vector<uint32_t>& values, uint64_t key, uint32_t value) {
    const size_t mask = keys.size() - 1;
    size_t slot = Hash(key) & mask;
    while (keys[slot] != kEmpty) slot = (slot + 1) & mask;
    keys[slot] = key;
    values[slot] = value;
  }
  void Grow() {
    std::vector<uint64_t> keys(keys_.size() * 2, kEmpty);
    std::vector<uint32_t> values(keys_.size() * 2, 0);
    for (size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i] != kEmpty) Place(keys, values, keys_[i], values_[i]);
    keys_.swap(keys);
    values_.swap(values);
  }
  std::vector<uint64_t> keys_;
  std::vector<uint32_t> values_;
  size_t count_ = 0;
};

uint32_t Find(std::vector<uint32_t>& parent, uint32_t i) {
  while (parent[i] != i) {
    parent[i] = parent[parent[i]];
    i = parent[i];
  }
  return i;
}

void Union(std::vector<uint32_t>& parent, uint32_t a, uint32_t b) {
  a = Find(parent, a);
  b = Find(parent, b);
  if (a < b) parent[b] = a;
  else if (b < a) parent[a] = b;
}

// Directions: 0 east (+x), 1 south (+y), 2 west, 3 north. Pixel sides: 0 top, 1 right,
// 2 bottom, 3 left. A boundary is walked with its region on the left.
constexpr int kDx[4] = {1, 0, -1, 0};
constexpr int kDy[4] = {0, 1, 0, -1};

class Tracer {
 public:
  Tracer(const std::vector<uint32_t>& rank, RegionMap& map) : rule_{rank}, map_(map), w_(map.width), h_(map.height) {}

  void TraceAll() {
    const uint32_t* label = map_.label.data();
    const size_t ws = static_cast<size_t>(w_);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        // Inside a region (the common case) there is no side to walk.
        if (x > 0 && y > 0 && x + 1 < w_ && y + 1 < h_) {
          const size_t i = Idx(x, y);
          const uint32_t v = label[i] & kLabelMask;
          if ((label[i - 1] & kLabelMask) == v && (label[i + 1] & kLabelMask) == v && (label[i - ws] & kLabelMask) == v &&
              (label[i + ws] & kLabelMask) == v)
            continue;
        }
        const uint32_t r = Lab(x, y);
        if (!map_.regions[r].traced) continue;
        if (Seen(x, y) == 0x0F) continue;
        // Top first: the first side found of a region is on its outer boundary.
        if (!(Seen(x, y) & 1) && Lab(x, y - 1) != r) TraceCycle(r, x + 1, y, 2);
        if (!(Seen(x, y) & 2) && Lab(x + 1, y) != r) TraceCycle(r, x + 1, y + 1, 3);
        if (!(Seen(x, y) & 4) && Lab(x, y + 1) != r) TraceCycle(r, x, y + 1, 0);
        if (!(Seen(x, y) & 8) && Lab(x - 1, y) != r) TraceCycle(r, x, y, 1);
      }
    }
    for (uint32_t& l : map_.label) l &= kLabelMask;
  }

 private:
  size_t Idx(int x, int y) const { return static_cast<size_t>(y) * static_cast<size_t>(w_) + static_cast<size_t>(x); }
  uint32_t Lab(int x, int y) const {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return kOutside;
    return map_.label[Idx(x, y)] & kLabelMask;
  }
  uint32_t ColorAt(int x, int y) const {
    const uint32_t r = Lab(x, y);
    return r == kOutside ? kNoColor : map_.regions[r].color;
  }
  // Which sides of a pixel have been walked, kept in the spare top bits of its label: a
  // picture has at most kMaxPixels < 2^28 regions, and a separate array would cost a byte
  // a pixel more at the peak of the tracer's memory.
  uint32_t Seen(int x, int y) const { return map_.label[Idx(x, y)] >> kSideShift; }
  void MarkSeen(int x, int y, uint8_t bit) { map_.label[Idx(x, y)] |= uint32_t{bit} << kSideShift; }
  uint64_t Vertex(int x, int y) const { return static_cast<uint64_t>(y) * static_cast<uint64_t>(w_ + 1) + static_cast<uint64_t>(x); }

  bool IsJunction(int vx, int vy) const {
    const uint32_t nw = Lab(vx - 1, vy - 1), ne = Lab(vx, vy - 1), sw = Lab(vx - 1, vy), se = Lab(vx, vy);
    return (nw != ne) + (sw != se) + (nw != sw) + (ne != se) >= 3;
  }

  // The pixel left of the edge leaving (vx, vy) in direction d, and the bit of its side.
  void LeftPixel(int vx, int vy, int d, int& px, int& py, uint8_t& bit) const {
    switch (d) {
      case 0: px = vx; py = vy - 1; bit = 4; break;
      case 1: px = vx; py = vy; bit = 8; break;
      case 2: px = vx - 1; py = vy; bit = 1; break;
      default: px = vx - 1; py = vy - 1; bit = 2; break;
    }
  }
  uint32_t RightRegion(int vx, int vy, int d) const {
    switch (d) {
      case 0: return Lab(vx, vy);
      case 1: return Lab(vx - 1, vy);
      case 2: return Lab(vx - 1, vy - 1);
      default: return Lab(vx, vy - 1);
    }
  }

  int NextDirection(uint32_t r, int vx, int vy, int d) const {
    // Pixels around the corner: nw, ne, sw, se.
    const int px[4] = {vx - 1, vx, vx - 1, vx};
    const int py[4] = {vy - 1, vy - 1, vy, vy};
    // For each arrival direction: ahead-left and ahead-right pixel.
    static constexpr int kAheadLeft[4] = {1, 3, 2, 0};
    static constexpr int kAheadRight[4] = {3, 2, 0, 1};
    const bool inLeft = Lab(px[kAheadLeft[d]], py[kAheadLeft[d]]) == r;
    const bool inRight = Lab(px[kAheadRight[d]], py[kAheadRight[d]]) == r;
    if (inLeft && !inRight) return d;
    if (inLeft && inRight) return (d + 1) & 3;
    if (!inLeft && !inRight) return (d + 3) & 3;
    const uint32_t nw = ColorAt(vx - 1, vy - 1), ne = ColorAt(vx, vy - 1);
    const uint32_t sw = ColorAt(vx - 1, vy), se = ColorAt(vx, vy);
    const bool joins = (d == 0 || d == 2) ? rule_.MainJoins(nw, ne, sw, se) : rule_.AntiJoins(nw, ne, sw, se);
    return joins ? (d + 1) & 3 : (d + 3) & 3;
  }

  void TraceCycle(uint32_t r, int sx, int sy, int sd) {
    verts_.clear();
    dirs_.clear();
    rights_.clear();
    int vx = sx, vy = sy, d = sd;
    int64_t area2 = 0;
    do {
      int px, py;
      uint8_t bit;
      LeftPixel(vx, vy, d, px, py, bit);
      MarkSeen(px, py, bit);
      verts_.push_back(LatticePoint{vx, vy});
      dirs_.push_back(static_cast<uint8_t>(d));
      rights_.push_back(RightRegion(vx, vy, d));
      const int nx = vx + kDx[d], ny = vy + kDy[d];
      area2 += static_cast<int64_t>(vx) * ny - static_cast<int64_t>(nx) * vy;
      vx = nx;
      vy = ny;
      d = NextDirection(r, vx, vy, d);
    } while (vx != sx || vy != sy || d != sd);

    Region& region = map_.regions[r];
    Cycle cycle;
    cycle.hole = !region.cycles.empty();
    if (!cycle.hole) region.outerArea = area2 < 0 ? -area2 : area2;
    SplitIntoChains(r, cycle);
    region.cycles.push_back(std::move(cycle));
  }

  void SplitIntoChains(uint32_t r, Cycle& cycle) {
    const size_t n = verts_.size();
    size_t first = n;
    for (size_t i = 0; i < n; ++i) {
      if (IsJunction(verts_[i].x, verts_[i].y)) {
        first = i;
        break;
      }
    }
    if (first == n) {
      AddLoop(r, cycle);
      return;
    }
    size_t i = first;
    do {
      size_t j = i + 1;
      while (!IsJunction(verts_[j % n].x, verts_[j % n].y)) ++j;
      AddPiece(r, cycle, i, j);
      i = j % n;
    } while (i != first);
  }

  void AddLoop(uint32_t r, Cycle& cycle) {
    const size_t n = verts_.size();
    size_t start = 0;
    for (size_t i = 1; i < n; ++i)
      if (Vertex(verts_[i].x, verts_[i].y) < Vertex(verts_[start].x, verts_[start].y)) start = i;
    const uint64_t key = Vertex(verts_[start].x, verts_[start].y) * 4;
    AddChain(r, rights_[start], key, start, n, true, cycle);
  }

  void AddPiece(uint32_t r, Cycle& cycle, size_t i, size_t j) {
    const size_t n = verts_.size();
    const LatticePoint a = verts_[i % n], b = verts_[j % n];
    const uint64_t keyA = Vertex(a.x, a.y) * 4 + dirs_[i % n];
    const uint64_t keyB = Vertex(b.x, b.y) * 4 + ((dirs_[(j - 1) % n] + 2) & 3);
    AddChain(r, rights_[i % n], std::min(keyA, keyB), i, j - i + 1, false, cycle);
  }

  // Adds the chain of `count` cycle vertices from `from` on, region r on its left and
  // `other` on its right. When the other side has traced it already, under the same key,
  // the cycle takes that chain walked the other way instead.
  void AddChain(uint32_t r, uint32_t other, uint64_t key, size_t from, size_t count, bool closed, Cycle& cycle) {
    const bool shared = Shared(other);
    uint32_t id = 0;
    if (shared && keys_.Find(key, id)) {
      cycle.chains.push_back(ChainRef{id, true});
      return;
    }
    Chain chain;
    chain.closed = closed;
    chain.left = r;
    chain.right = other;
    chain.points.reserve(count);
    const size_t n = verts_.size();
    for (size_t k = 0; k < count; ++k) chain.points.push_back(verts_[(from + k) % n]);
    id = static_cast<uint32_t>(map_.chains.size());
    map_.chains.push_back(std::move(chain));
    if (shared) keys_.Insert(key, id);
    cycle.chains.push_back(ChainRef{id, false});
  }

  // Only chains whose other side is traced too will be looked up again.
  bool Shared(uint32_t other) const { return other != kOutside && map_.regions[other].traced; }

  DiagonalRule rule_;
  RegionMap& map_;
  int w_, h_;
  std::vector<LatticePoint> verts_;
  std::vector<uint8_t> dirs_;
  std::vector<uint32_t> rights_;
  KeyMap keys_;
};

uint32_t OtherSide(const Chain& c, uint32_t r) { return c.left == r ? c.right : c.left; }

// Decides for every hole whether anything untraced lies inside it, by walking the regions
// inside (neighbours of neighbours, never crossing the region itself). The walk has a total
// budget; holes left undecided stay cut, which is always correct.
void DecideHoles(RegionMap& map) {
  int64_t budget = 16 * static_cast<int64_t>(map.chains.size()) + 100000;
  std::vector<uint32_t> mark(map.regions.size(), kOutside);
  std::vector<uint32_t> queue;
  uint32_t stamp = 0;
  for (uint32_t r = 0; r < map.regions.size(); ++r) {
    Region& region = map.regions[r];
    for (size_t c = 1; c < region.cycles.size() && budget > 0; ++c) {
      ++stamp;
      queue.clear();
      bool untraced = false;
      auto visit = [&](uint32_t other) {
        if (other == r || other == kOutside) {
          untraced = untraced || other == kOutside;
          return;
        }
        if (mark[other] == stamp) return;
        mark[other] = stamp;
        if (!map.regions[other].traced) untraced = true;
        else queue.push_back(other);
      };
      for (const ChainRef& ref : region.cycles[c].chains) visit(OtherSide(map.chains[ref.chain], r));
      for (size_t q = 0; q < queue.size() && !untraced && budget > 0; ++q) {
        for (const Cycle& cy : map.regions[queue[q]].cycles) {
          for (const ChainRef& ref : cy.chains) {
            --budget;
            visit(OtherSide(map.chains[ref.chain], queue[q]));
          }
        }
      }
      region.cycles[c].cut = untraced || budget <= 0;
    }
  }
}

}  // namespace

uint32_t LabelRegions(const IndexedImage& image, std::vector<uint32_t>& label) {
  const std::vector<uint32_t> rank = DiagonalRanks(image);
  const DiagonalRule grid{rank};
  const int w = image.width, h = image.height;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t>& parent = label;
  ResizeLarge(parent, n);
  std::iota(parent.begin(), parent.end(), 0u);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t i = static_cast<uint32_t>(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x));
      const uint32_t c = image.index[i];
      // Pixel i is still on its own here, so joining its left neighbour is one link.
      const bool left = x > 0 && image.index[i - 1] == c;
      if (left) parent[i] = parent[i - 1];
      if (y == 0) continue;
      const uint32_t up = i - static_cast<uint32_t>(w);
      if (image.index[up] == c) {
        // Inside a run under a run of the same colour the four are joined already.
        if (!(left && image.index[up - 1] == c)) Union(parent, i, up);
        continue;
      }
      if (x > 0 && image.index[up - 1] == c && grid.MainJoins(c, image.index[up], image.index[i - 1], c))
        Union(parent, i, up - 1);
      if (x + 1 < w && image.index[up + 1] == c && grid.AntiJoins(image.index[up], c, c, image.index[i + 1]))
        Union(parent, i, up + 1);
    }
  }
  uint32_t count = 0;
  for (size_t i = 0; i < n; ++i) {
    if (parent[i] == i) parent[i] = count++ | 0x80000000u;
    else parent[i] = parent[parent[i]];  // roots precede their members and are already final
  }
  for (size_t i = 0; i < n; ++i) parent[i] &= 0x7FFFFFFFu;
  return count;
}

std::vector<uint32_t> LabelRegionsInPlace(IndexedImage& image) {
  const std::vector<uint32_t> rank = DiagonalRanks(image);
  const DiagonalRule rule{rank};
  const int w = image.width, h = image.height;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  // The index array turns into the union-find forest row by row; the colours of the row
  // being joined and the row above are kept aside. A root holds its colour, marked.
  constexpr uint32_t kRoot = 0x80000000u;
  uint32_t* p = image.index.data();
  auto find = [&](uint32_t i) {
    while (!(p[i] & kRoot)) {
      const uint32_t q = p[i];
      if (!(p[q] & kRoot)) p[i] = p[q];
      i = q;
    }
    return i;
  };
  auto unite = [&](uint32_t a, uint32_t b) {
    a = find(a);
    b = find(b);
    if (a < b) p[b] = a;
    else if (b < a) p[a] = b;
  };
  std::vector<uint32_t> above(static_cast<size_t>(w)), row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    const uint32_t base = static_cast<uint32_t>(static_cast<size_t>(y) * static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
      row[static_cast<size_t>(x)] = p[base + static_cast<uint32_t>(x)];
      p[base + static_cast<uint32_t>(x)] = kRoot | row[static_cast<size_t>(x)];
    }
    for (int x = 0; x < w; ++x) {
      const size_t xs = static_cast<size_t>(x);
      const uint32_t i = base + static_cast<uint32_t>(x), c = row[xs];
      // Pixel i is still on its own here, so joining its left neighbour is one link.
      const bool left = x > 0 && row[xs - 1] == c;
      if (left) p[i] = (p[i - 1] & kRoot) ? i - 1 : p[i - 1];
      if (y == 0) continue;
      const uint32_t up = i - static_cast<uint32_t>(w);
      if (above[xs] == c) {
        // Inside a run under a run of the same colour the four are joined already.
        if (!(left && above[xs - 1] == c)) unite(i, up);
        continue;
      }
      if (x > 0 && above[xs - 1] == c && rule.MainJoins(c, above[xs], row[xs - 1], c)) unite(i, up - 1);
      if (x + 1 < w && above[xs + 1] == c && rule.AntiJoins(above[xs], c, c, row[xs + 1])) unite(i, up + 1);
    }
    above.swap(row);
  }
  // Roots precede their members, so a member's parent already holds its final label.
  std::vector<uint32_t> color;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] & kRoot) {
      const uint32_t c = p[i] & ~kRoot;
      p[i] = static_cast<uint32_t>(color.size());
      color.push_back(c);
    } else {
      p[i] = p[p[i]];
    }
  }
  return color;
}

RegionMap BuildRegions(const IndexedImage& image) {
  IndexedImage labelled = image;
  const std::vector<uint32_t> color = LabelRegionsInPlace(labelled);
  return BuildRegions(std::move(labelled), color);
}

RegionMap BuildRegions(IndexedImage&& labelled, const std::vector<uint32_t>& regionColor) {
  RegionMap map;
  map.width = labelled.width;
  map.height = labelled.height;
  map.label = std::move(labelled.index);
  map.regions.resize(regionColor.size());
  for (size_t r = 0; r < regionColor.size(); ++r) {
    map.regions[r].color = regionColor[r];
    map.regions[r].traced = static_cast<int>(regionColor[r]) != labelled.background;
  }
  const std::vector<uint32_t> rank = DiagonalRanks(labelled);
  Tracer tracer(rank, map);
  tracer.TraceAll();
  DecideHoles(map);
  return map;
}

}  // namespace at
