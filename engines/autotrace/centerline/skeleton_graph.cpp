#include "centerline/skeleton_graph.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace at {
namespace {

// Neighbours clockwise from north: N, NE, E, SE, S, SW, W, NW.
constexpr int kNx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kNy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

struct Node {
  Point pos;
  double radius = 0;  // distance transform at the node: about half the stroke width
  uint32_t color = 0;
  bool alive = true;
};

struct Edge {
  int a = -1, b = -1;
  std::vector<Point> inner;      // pixel centres between the two nodes
  std::vector<double> widths;    // width measured at each inner point
  uint32_t color = 0;
  bool closed = false;
  bool alive = true;
};

double PathLength(const Edge& e, const std::vector<Node>& nodes) {
  std::vector<Point> pts;
  if (e.a >= 0) pts.push_back(nodes[static_cast<size_t>(e.a)].pos);
  pts.insert(pts.end(), e.inner.begin(), e.inner.end());
  if (e.b >= 0) pts.push_back(nodes[static_cast<size_t>(e.b)].pos);
  double len = 0;
  for (size_t i = 1; i < pts.size(); ++i) len += std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
  return len;
}

class Graph {
 public:
  Graph(const Mask& skeleton, const std::vector<float>& dist) : m_(skeleton), dist_(dist) {}

  void Build() {
    const size_t w = static_cast<size_t>(m_.width), n = m_.bits.size();
    nodeOf_.assign(n, -1);
    visited_.assign(n, 0);
    // Junction pixels that touch form one node; end pixels are nodes of their own.
    for (size_t i = 0; i < n; ++i) {
      if (m_.bits[i] == kNoStroke || nodeOf_[i] >= 0) continue;
      const int deg = Degree(i);
      if (deg == 2) continue;
      const int id = static_cast<int>(nodes_.size());
      nodes_.emplace_back();
      std::vector<size_t> stack{i}, members;
      nodeOf_[i] = id;
      while (!stack.empty()) {
        const size_t j = stack.back();
        stack.pop_back();
        members.push_back(j);
        if (deg < 3) continue;
        ForNeighbours(j, [&](size_t k) {
          if (nodeOf_[k] < 0 && Degree(k) >= 3) {
            nodeOf_[k] = id;
            stack.push_back(k);
          }
        });
      }
      Point sum{0, 0};
      double radius = 0;
      for (size_t j : members) {
        sum.x += static_cast<double>(j % w) + 0.5;
        sum.y += static_cast<double>(j / w) + 0.5;
        radius = std::max(radius, static_cast<double>(dist_[j]));
      }
      nodes_[static_cast<size_t>(id)].pos = Point{sum.x / static_cast<double>(members.size()), sum.y / static_cast<double>(members.size())};
      if (members.size() == 1) nodes_[static_cast<size_t>(id)].pos = Centered(i, Point{0, 1}, Point{1, 0});
      nodes_[static_cast<size_t>(id)].radius = radius;
      nodes_[static_cast<size_t>(id)].color = m_.bits[i];
    }
    std::vector<std::pair<int, int>> direct;
    for (size_t i = 0; i < n; ++i) {
      if (nodeOf_[i] < 0) continue;
      ForNeighbours(i, [&](size_t k) {
        if (nodeOf_[k] == nodeOf_[i]) return;
        if (nodeOf_[k] >= 0) {
          direct.emplace_back(std::min(nodeOf_[i], nodeOf_[k]), std::max(nodeOf_[i], nodeOf_[k]));
        } else if (!visited_[k]) {
          Walk(i, k);
        }
      });
    }
    std::sort(direct.begin(), direct.end());
    direct.erase(std::unique(direct.begin(), direct.end()), direct.end());
    for (auto [a, b] : direct) {
      Edge e;
      e.a = a;
      e.b = b;
      e.color = nodes_[static_cast<size_t>(a)].color;
      edges_.push_back(e);
    }
    // What is left unvisited are loops without any junction.
    for (size_t i = 0; i < n; ++i)
      if (m_.bits[i] != kNoStroke && nodeOf_[i] < 0 && !visited_[i]) WalkLoop(i);
  }

  void Simplify() {
    for (int round = 0; round < 50; ++round) {
      bool changed = PruneSpurs();
      changed = MergeJunctions() || changed;
      changed = JoinThroughNodes() || changed;
      if (!changed) break;
    }
  }

  std::vector<SkeletonPath> Paths(double weightFactor) const {
    std::vector<SkeletonPath> out;
    std::vector<int> degree = Degrees();
    for (const Edge& e : edges_) {
      if (!e.alive) continue;
      SkeletonPath p;
      p.closed = e.closed;
      // Thinning bends a line's free end toward a corner of a square stroke end, where the
      // stroke is narrow; free ends are cut back to where the stroke has its full width.
      size_t from = 0, to = e.inner.size();
      if (!e.closed && to >= 3) {
        std::vector<double> sorted = e.widths;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        const double full = 0.85 * sorted[sorted.size() / 2];
        if (degree[static_cast<size_t>(e.a)] == 1)
          while (from + 2 < to && e.widths[from] < full) ++from;
        if (degree[static_cast<size_t>(e.b)] == 1)
          while (to > from + 2 && e.widths[to - 1] < full) --to;
      }
      if (!e.closed && from == 0) p.points.push_back(nodes_[static_cast<size_t>(e.a)].pos);
      p.points.insert(p.points.end(), e.inner.begin() + static_cast<std::ptrdiff_t>(from),
                      e.inner.begin() + static_cast<std::ptrdiff_t>(to));
      if (!e.closed && to == e.inner.size()) p.points.push_back(nodes_[static_cast<size_t>(e.b)].pos);
      p.width = Width(e, weightFactor);
      p.color = e.color;
      out.push_back(std::move(p));
    }
    for (size_t i = 0; i < nodes_.size(); ++i) {
      if (!nodes_[i].alive || degree[i] != 0) continue;
      SkeletonPath dot;
      dot.points.push_back(nodes_[i].pos);
      dot.width = std::max(1.0, 2 * nodes_[i].radius - 1);
      dot.color = nodes_[i].color;
      out.push_back(std::move(dot));
    }
    return out;
  }

 private:
  template <typename F>
  void ForNeighbours(size_t i, F f) const {
    const size_t w = static_cast<size_t>(m_.width);
    const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
    for (int k = 0; k < 8; ++k) {
      const int nx = x + kNx[k], ny = y + kNy[k];
      if (m_.At(nx, ny) == m_.bits[i]) f(static_cast<size_t>(ny) * w + static_cast<size_t>(nx));
    }
  }
  int Degree(size_t i) const {
    int d = 0;
    ForNeighbours(i, [&](size_t) { ++d; });
    return d;
  }
  Point Center(size_t i) const {
    const size_t w = static_cast<size_t>(m_.width);
    return Point{static_cast<double>(i % w) + 0.5, static_cast<double>(i / w) + 0.5};
  }

  // Width across the line at pixel i: its own distance plus the larger distance of its
  // neighbours across the line (which makes even widths come out right).
  double WidthAt(size_t i, Point along) const {
    const size_t w = static_cast<size_t>(m_.width);
    const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
    const double len = std::hypot(along.x, along.y);
    double best = 0;
    if (len > 0) {
      const int px = static_cast<int>(std::lround(-along.y / len)), py = static_cast<int>(std::lround(along.x / len));
      for (int s : {-1, 1}) {
        const int nx = x + s * px, ny = y + s * py;
        if (nx >= 0 && ny >= 0 && nx < m_.width && ny < m_.height)
          best = std::max(best, static_cast<double>(dist_[static_cast<size_t>(ny) * w + static_cast<size_t>(nx)]));
      }
    }
    return dist_[i] + best;
  }

  // A one-pixel line of an even-width stroke runs half a pixel off the true centre; the
  // distances on either side tell which way, and by how much.
  Point Centered(size_t i, Point along) const {
    const double len = std::hypot(along.x, along.y);
    if (len == 0) return Center(i);
    return Centered(i, Point{-along.y / len, along.x / len}, Point{0, 0});
  }
  // Shifted along each of the given directions (rounded to a neighbour step) toward the
  // side where the stroke reaches further.
  Point Centered(size_t i, Point u, Point v) const {
    const size_t w = static_cast<size_t>(m_.width);
    const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
    Point c = Center(i);
    auto at = [&](int nx, int ny) {
      if (nx < 0 || ny < 0 || nx >= m_.width || ny >= m_.height) return 0.0;
      return static_cast<double>(dist_[static_cast<size_t>(ny) * w + static_cast<size_t>(nx)]);
    };
    for (Point dir : {u, v}) {
      const int px = static_cast<int>(std::lround(dir.x)), py = static_cast<int>(std::lround(dir.y));
      if (px == 0 && py == 0) continue;
      const double shift = std::clamp((at(x + px, y + py) - at(x - px, y - py)) / 2.0, -0.5, 0.5);
      const double step = std::hypot(px, py);
      c.x += px / step * shift;
      c.y += py / step * shift;
    }
    return c;
  }

  void Walk(size_t from, size_t first) {
    Edge e;
    e.a = nodeOf_[from];
    e.color = m_.bits[from];
    std::vector<size_t> pixels;
    size_t prev = from, cur = first;
    while (true) {
      if (nodeOf_[cur] >= 0) {
        e.b = nodeOf_[cur];
        break;
      }
      visited_[cur] = 1;
      pixels.push_back(cur);
      size_t next = cur;
      bool found = false;
      ForNeighbours(cur, [&](size_t k) {
        if (k != prev && !found) {
          next = k;
          found = true;
        }
      });
      if (!found || (nodeOf_[next] < 0 && visited_[next])) {  // ran into itself
        e.b = e.a;
        break;
      }
      prev = cur;
      cur = next;
    }
    FinishEdge(e, pixels, false);
  }

  void WalkLoop(size_t start) {
    Edge e;
    e.closed = true;
    e.color = m_.bits[start];
    std::vector<size_t> pixels;
    size_t prev = start, cur = start;
    while (true) {
      visited_[cur] = 1;
      pixels.push_back(cur);
      size_t next = cur;
      ForNeighbours(cur, [&](size_t k) {
        if (k != prev && !visited_[k] && next == cur) next = k;
      });
      if (next == cur) break;
      prev = cur;
      cur = next;
    }
    if (pixels.size() < 3) {  // a fragment, not a loop: keep it as a dot
      Node dot;
      dot.pos = Center(pixels[0]);
      dot.radius = dist_[pixels[0]];
      dot.color = m_.bits[pixels[0]];
      nodes_.push_back(dot);
      return;
    }
    FinishEdge(e, pixels, true);
  }

  void FinishEdge(Edge& e, const std::vector<size_t>& pixels, bool closed) {
    for (size_t k = 0; k < pixels.size(); ++k) {
      const size_t lo = k >= 2 ? k - 2 : 0, hi = std::min(pixels.size() - 1, k + 2);
      Point along{Center(pixels[hi]).x - Center(pixels[lo]).x, Center(pixels[hi]).y - Center(pixels[lo]).y};
      if (closed && (k < 2 || k + 2 >= pixels.size())) {
        const size_t n = pixels.size();
        const Point a = Center(pixels[(k + n - 2) % n]), b = Center(pixels[(k + 2) % n]);
        along = Point{b.x - a.x, b.y - a.y};
      }
      e.widths.push_back(WidthAt(pixels[k], along));
      e.inner.push_back(Centered(pixels[k], along));
    }
    edges_.push_back(std::move(e));
  }

  std::vector<int> Degrees() const {
    std::vector<int> d(nodes_.size(), 0);
    for (const Edge& e : edges_) {
      if (!e.alive || e.closed) continue;
      ++d[static_cast<size_t>(e.a)];
      ++d[static_cast<size_t>(e.b)];
    }
    return d;
  }

  double StrokeWidthAt(int node) const { return std::max(3.0, 2.0 * nodes_[static_cast<size_t>(node)].radius); }

  std::vector<std::vector<size_t>> Adjacency() const {
    std::vector<std::vector<size_t>> adj(nodes_.size());
    for (size_t k = 0; k < edges_.size(); ++k) {
      const Edge& e = edges_[k];
      if (!e.alive || e.closed) continue;
      adj[static_cast<size_t>(e.a)].push_back(k);
      adj[static_cast<size_t>(e.b)].push_back(k);
    }
    return adj;
  }

  bool PruneSpurs() {
    std::vector<int> degree = Degrees();
    bool changed = false;
    std::vector<size_t> spurs;
    // The stroke width at a junction: the distance there, or the widest branch's width.
    std::vector<double> widthAt(nodes_.size(), 0);
    for (size_t v = 0; v < nodes_.size(); ++v) widthAt[v] = StrokeWidthAt(static_cast<int>(v));
    for (const Edge& e : edges_) {
      if (!e.alive || e.closed || e.widths.empty()) continue;
      double mean = 0;
      for (double w : e.widths) mean += w;
      mean /= static_cast<double>(e.widths.size());
      for (int end : {e.a, e.b}) widthAt[static_cast<size_t>(end)] = std::max(widthAt[static_cast<size_t>(end)], mean);
    }
    for (Edge& e : edges_) {
      if (!e.alive || e.closed) continue;
      const int da = degree[static_cast<size_t>(e.a)], db = degree[static_cast<size_t>(e.b)];
      if (e.a == e.b) {  // a tiny loop hanging off a junction
        if (da > 2 && PathLength(e, nodes_) < 2 * StrokeWidthAt(e.a)) {
          e.alive = false;
          degree[static_cast<size_t>(e.a)] -= 2;
          changed = true;
        }
        continue;
      }
      int end = -1, junction = -1;
      if (da == 1 && db >= 3) {
        end = e.a;
        junction = e.b;
      } else if (db == 1 && da >= 3) {
        end = e.b;
        junction = e.a;
      }
      if (end < 0 || PathLength(e, nodes_) >= widthAt[static_cast<size_t>(junction)]) continue;
      spurs.push_back(static_cast<size_t>(&e - edges_.data()));
    }
    // Decided on the degrees before any removal, so that both prongs of the fork at a
    // square stroke end go; but a junction keeps its longest branch.
    std::vector<int> spursAt(nodes_.size(), 0);
    for (size_t k : spurs) {
      const Edge& e = edges_[k];
      ++spursAt[static_cast<size_t>(degree[static_cast<size_t>(e.a)] == 1 ? e.b : e.a)];
    }
    std::vector<double> keepLength(nodes_.size(), -1);
    std::vector<size_t> keep(nodes_.size(), edges_.size());
    for (size_t k : spurs) {
      const Edge& e = edges_[k];
      const size_t j = static_cast<size_t>(degree[static_cast<size_t>(e.a)] == 1 ? e.b : e.a);
      if (spursAt[j] < degree[j]) continue;
      const double len = PathLength(e, nodes_);
      if (len > keepLength[j]) {
        keepLength[j] = len;
        keep[j] = k;
      }
    }
    for (size_t k : spurs) {
      Edge& e = edges_[k];
      const size_t j = static_cast<size_t>(degree[static_cast<size_t>(e.a)] == 1 ? e.b : e.a);
      if (keep[j] == k) continue;
      e.alive = false;
      nodes_[static_cast<size_t>(degree[static_cast<size_t>(e.a)] == 1 ? e.a : e.b)].alive = false;
      changed = true;
    }
    return changed;
  }

  bool MergeJunctions() {
    std::vector<int> degree = Degrees();
    std::vector<std::vector<size_t>> adj = Adjacency();
    bool changed = false;
    for (size_t k = 0; k < edges_.size(); ++k) {
      Edge& e = edges_[k];
      if (!e.alive || e.closed || e.a == e.b) continue;
      const size_t a = static_cast<size_t>(e.a), b = static_cast<size_t>(e.b);
      if (degree[a] < 3 || degree[b] < 3) continue;
      if (PathLength(e, nodes_) >= std::max(StrokeWidthAt(e.a), StrokeWidthAt(e.b))) continue;
      // b joins a at their midpoint; the short edge between them goes.
      e.alive = false;
      nodes_[a].pos = Point{(nodes_[a].pos.x + nodes_[b].pos.x) / 2, (nodes_[a].pos.y + nodes_[b].pos.y) / 2};
      nodes_[a].radius = std::max(nodes_[a].radius, nodes_[b].radius);
      nodes_[b].alive = false;
      for (size_t f : adj[b]) {
        if (!edges_[f].alive) continue;
        if (edges_[f].a == static_cast<int>(b)) edges_[f].a = static_cast<int>(a);
        if (edges_[f].b == static_cast<int>(b)) edges_[f].b = static_cast<int>(a);
        adj[a].push_back(f);
      }
      adj[b].clear();
      degree[a] += degree[b] - 2;
      degree[b] = 0;
      changed = true;
    }
    return changed;
  }

  // A node left with two edges is no junction: the edges become one.
  bool JoinThroughNodes() {
    std::vector<int> degree = Degrees();
    std::vector<std::vector<size_t>> adj = Adjacency();
    bool changed = false;
    for (size_t v = 0; v < nodes_.size(); ++v) {
      if (!nodes_[v].alive || degree[v] != 2) continue;
      const int node = static_cast<int>(v);
      std::vector<size_t> touching;
      for (size_t k : adj[v])
        if (edges_[k].alive && !edges_[k].closed && (edges_[k].a == node || edges_[k].b == node) &&
            std::find(touching.begin(), touching.end(), k) == touching.end())
          touching.push_back(k);
      if (touching.size() == 1) {  // a loop through this node alone
        Edge& e = edges_[touching[0]];
        e.inner.insert(e.inner.begin(), nodes_[v].pos);
        e.widths.insert(e.widths.begin(), e.widths.empty() ? 2 * nodes_[v].radius : e.widths.front());
        e.closed = true;
        nodes_[v].alive = false;
        changed = true;
        continue;
      }
      if (touching.size() != 2) continue;
      Edge first = edges_[touching[0]], second = edges_[touching[1]];
      if (first.b != node) Flip(first);
      if (second.a != node) Flip(second);
      Edge joined;
      joined.a = first.a;
      joined.color = first.color;
      joined.b = second.b;
      joined.inner = std::move(first.inner);
      joined.widths = std::move(first.widths);
      joined.inner.push_back(nodes_[v].pos);
      joined.widths.push_back(joined.widths.empty() ? 2 * nodes_[v].radius : joined.widths.back());
      joined.inner.insert(joined.inner.end(), second.inner.begin(), second.inner.end());
      joined.widths.insert(joined.widths.end(), second.widths.begin(), second.widths.end());
      edges_[touching[0]].alive = false;
      edges_[touching[1]].alive = false;
      nodes_[v].alive = false;
      const size_t id = edges_.size();
      for (int end : {joined.a, joined.b}) adj[static_cast<size_t>(end)].push_back(id);
      edges_.push_back(std::move(joined));
      changed = true;
    }
    return changed;
  }

  static void Flip(Edge& e) {
    std::swap(e.a, e.b);
    std::reverse(e.inner.begin(), e.inner.end());
    std::reverse(e.widths.begin(), e.widths.end());
  }

  // Widths near the ends and junctions are unreliable; they count less within
  // `factor` pixels of either end.
  static double Width(const Edge& e, double factor) {
    const size_t n = e.widths.size();
    if (n == 0) return 1.0;
    double sum = 0, weights = 0, plain = 0;
    for (size_t i = 0; i < n; ++i) {
      const double fromEnd = e.closed ? factor : static_cast<double>(std::min(i + 1, n - i));
      const double wgt = factor > 0 ? std::min(1.0, fromEnd / factor) : 1.0;
      sum += wgt * e.widths[i];
      weights += wgt;
      plain += e.widths[i];
    }
    return std::max(1.0, weights > 0 ? sum / weights : plain / static_cast<double>(n));
  }

  const Mask& m_;
  const std::vector<float>& dist_;
  std::vector<int> nodeOf_;
  std::vector<uint8_t> visited_;
  std::vector<Node> nodes_;
  std::vector<Edge> edges_;
};

}  // namespace

std::vector<SkeletonPath> ExtractPaths(const Mask& skeleton, const std::vector<float>& distance,
                                       double widthWeightFactor) {
  Graph graph(skeleton, distance);
  graph.Build();
  graph.Simplify();
  return graph.Paths(widthWeightFactor);
}

}  // namespace at
