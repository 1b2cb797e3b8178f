// Quality and speed figures for the autotrace engine. Built and run by bench_autotrace.sh:
// synthetic flat-colour art, a bitonal page and stroke drawings are traced, rendered back
// with rsvg-convert and compared with their input; node counts are compared with potrace's.
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
const Rgb kWhite{255, 255, 255};

struct Raster {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  Raster() = default;
  Raster(int w_, int h_, Rgb fill) : w(w_), h(h_), px(size_t(w_) * h_ * 3) {
    for (size_t i = 0; i < size_t(w) * h; ++i) Set(i, fill);
  }
  void Set(size_t i, Rgb c) { px[3 * i] = c.r; px[3 * i + 1] = c.g; px[3 * i + 2] = c.b; }
  Rgb At(int x, int y) const {
    size_t i = (size_t(y) * w + x) * 3;
    return Rgb{px[i], px[i + 1], px[i + 2]};
  }
  // Paints every pixel whose centre satisfies inside(x, y).
  void Fill(Rgb c, double x0, double y0, double x1, double y1, const std::function<bool(double, double)>& inside) {
    for (int y = std::max(0, int(y0)); y < std::min(h, int(y1) + 2); ++y)
      for (int x = std::max(0, int(x0)); x < std::min(w, int(x1) + 2); ++x)
        if (inside(x + 0.5, y + 0.5)) Set(size_t(y) * w + x, c);
  }
  void Disc(Rgb c, double cx, double cy, double r) {
    Fill(c, cx - r, cy - r, cx + r, cy + r, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; });
  }
  void Ring(Rgb c, double cx, double cy, double r0, double r1) {
    Fill(c, cx - r1, cy - r1, cx + r1, cy + r1, [=](double x, double y) {
      double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      return d < r1 * r1 && d >= r0 * r0;
    });
  }
  // A segment of width wd with flat ends.
  void Bar(Rgb c, double ax, double ay, double bx, double by, double wd) {
    double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
    Fill(c, std::min(ax, bx) - wd, std::min(ay, by) - wd, std::max(ax, bx) + wd, std::max(ay, by) + wd, [=](double x, double y) {
      double t = ((x - ax) * dx + (y - ay) * dy) / len, n = ((x - ax) * dy - (y - ay) * dx) / len;
      return t >= 0 && t <= len && std::fabs(n) < wd / 2;
    });
  }
  void Polygon(Rgb c, const std::vector<std::array<double, 2>>& p) {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (auto& q : p) { x0 = std::min(x0, q[0]); y0 = std::min(y0, q[1]); x1 = std::max(x1, q[0]); y1 = std::max(y1, q[1]); }
    Fill(c, x0, y0, x1, y1, [&](double x, double y) {
      bool in = false;
      for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        if ((p[i][1] > y) != (p[j][1] > y) && x < (p[j][0] - p[i][0]) * (y - p[i][1]) / (p[j][1] - p[i][1]) + p[i][0]) in = !in;
      return in;
    });
  }
};

bool WritePng(const std::string& path, const Raster& r) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = r.w;
  img.height = r.h;
  img.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&img, path.c_str(), 0, r.px.data(), 0, nullptr);
}

bool ReadPng(const std::string& path, Raster& r) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_RGB;
  r.w = img.width;
  r.h = img.height;
  r.px.assign(PNG_IMAGE_SIZE(img), 0);
  png_color white{255, 255, 255};
  return png_image_finish_read(&img, &white, r.px.data(), 0, nullptr);
}

void WritePbm(const std::string& path, const Raster& r) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << r.w << " " << r.h << "\n";
  std::vector<uint8_t> row((r.w + 7) / 8);
  for (int y = 0; y < r.h; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < r.w; ++x)
      if (!(r.At(x, y) == kWhite)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    out.write(reinterpret_cast<char*>(row.data()), row.size());
  }
}

int Run(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// CPU seconds used by finished child processes so far: unlike wall time, not inflated when
// the machine is busy with other work.
double ChildCpu() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Segments in the path data of an SVG file (each curve or line piece counts once).
long CountSvgSegments(const std::string& svg) {
  long count = 0;
  size_t pos = 0;
  while ((pos = svg.find(" d=\"", pos)) != std::string::npos) {
    pos += 4;
    size_t end = svg.find('"', pos);
    char cmd = 0;
    int numbers = 0;
    auto flush = [&]() {
      int per = (cmd == 'c' || cmd == 'C') ? 6 : (cmd == 'l' || cmd == 'L') ? 2 : (cmd == 'm' || cmd == 'M') ? 2 : 0;
      if (per) count += numbers / per - ((cmd == 'm' || cmd == 'M') ? 1 : 0);
      numbers = 0;
    };
    for (size_t i = pos; i < end;) {
      char ch = svg[i];
      if (std::isalpha(static_cast<unsigned char>(ch)) && ch != 'e') {
        flush();
        cmd = ch;
        ++i;
      } else if (std::isdigit(static_cast<unsigned char>(ch)) || ch == '-' || ch == '.') {
        char* stop;
        std::strtod(svg.c_str() + i, &stop);
        ++numbers;
        i = size_t(stop - svg.c_str());
      } else {
        ++i;
      }
    }
    flush();
    pos = end;
  }
  return count;
}

struct Compare {
  double agree = 0;    // share of pixels whose rendered colour is nearest to the input's
  long seamPixels = 0; // pixels between two traced colours
  long seamLeaks = 0;  // of those, how many show the background colour through
};

Compare CompareRender(const Raster& in, const Raster& out, Rgb bg) {
  auto d2 = [](Rgb a, Rgb b) { return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b); };
  Compare c;
  long good = 0;
  for (int y = 0; y < in.h; ++y) {
    for (int x = 0; x < in.w; ++x) {
      Rgb a = in.At(x, y), r = out.At(x, y);
      // A pixel agrees when its rendered colour is nearer its own colour than any other
      // colour around it: an edge pixel rendered as a blend of its two sides still counts
      // for the side that covers most of it.
      bool ok = true;
      for (int dy = -1; dy <= 1 && ok; ++dy)
        for (int dx = -1; dx <= 1 && ok; ++dx) {
          int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= in.w || yy >= in.h) continue;
          Rgb b = in.At(xx, yy);
          if (!(b == a) && d2(b, r) < d2(a, r)) ok = false;
        }
      if (ok) ++good;
      if (a == bg) continue;
      const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
      for (int k = 0; k < 4; ++k) {
        if (nx[k] < 0 || ny[k] < 0 || nx[k] >= in.w || ny[k] >= in.h) continue;
        Rgb b = in.At(nx[k], ny[k]);
        if (b == a || b == bg) continue;
        ++c.seamPixels;
        // Background shows when the pixel is nearer the background than both colours.
        if (d2(r, bg) < std::min(d2(r, a), d2(r, b))) ++c.seamLeaks;
        break;
      }
    }
  }
  c.agree = double(good) / (double(in.w) * in.h);
  return c;
}

const Rgb kColors[] = {{200, 30, 30}, {30, 120, 200}, {240, 190, 20}, {20, 150, 60}, {90, 40, 140}, {0, 0, 0}, {250, 120, 0}, {0, 170, 170}};

Raster Logo() {
  Raster r(640, 420, kWhite);
  r.Disc(kColors[0], 180, 200, 130);
  r.Disc(kColors[1], 300, 210, 110);
  r.Ring(kColors[2], 180, 200, 60, 90);
  r.Polygon(kColors[3], {{380, 60}, {410, 150}, {505, 150}, {428, 205}, {458, 295}, {380, 240}, {302, 295}, {332, 205}, {255, 150}, {350, 150}});
  r.Bar(kColors[4], 60, 380, 600, 330, 24);
  r.Bar(kColors[5], 470, 40, 600, 260, 14);
  for (int i = 0; i < 6; ++i) r.Disc(kColors[6], 520 + 18 * std::cos(i), 330 + 30 * std::sin(i * 1.3), 9 + i);
  return r;
}

Raster Map() {
  Raster r(800, 600, kWhite);
  std::mt19937 rng(7);
  std::vector<std::array<double, 2>> seeds;
  for (int i = 0; i < 60; ++i) seeds.push_back({double(rng() % 800), double(rng() % 600)});
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      size_t best = 0;
      double bd = 1e18;
      for (size_t k = 0; k < seeds.size(); ++k) {
        // Curved borders: distances warped by a slow wave.
        double dx = x - seeds[k][0] + 12 * std::sin(y / 37.0), dy = y - seeds[k][1] + 12 * std::cos(x / 41.0);
        double d = dx * dx + dy * dy;
        if (d < bd) { bd = d; best = k; }
      }
      r.Set(size_t(y) * r.w + x, kColors[best % 8]);
    }
  // A white sea with an island, so the background meets many colours.
  r.Fill(kWhite, 0, 0, 800, 600, [](double x, double y) { return (x - 640) * (x - 640) / 2.0 + (y - 120) * (y - 120) < 110 * 110; });
  r.Disc(kColors[2], 650, 110, 30);
  return r;
}

// Letter-like black strokes on white.
Raster Text(int w, int h, int seed) {
  Raster r(w, h, kWhite);
  std::mt19937 rng(seed);
  const Rgb ink{0, 0, 0};
  for (int by = 20; by + 60 < h; by += 80) {
    for (int bx = 20; bx + 50 < w; bx += 56) {
      const double s = 6 + rng() % 5;
      switch (rng() % 6) {
        case 0: r.Ring(ink, bx + 22, by + 30, 22 - s, 22); break;
        case 1: r.Bar(ink, bx + 4, by + 4, bx + 4, by + 60, s); r.Bar(ink, bx, by + 58, bx + 40, by + 58, s); break;
        case 2: r.Bar(ink, bx, by + 4, bx + 44, by + 4, s); r.Bar(ink, bx + 22, by, bx + 22, by + 60, s); break;
        case 3: r.Bar(ink, bx, by + 60, bx + 22, by, s); r.Bar(ink, bx + 22, by, bx + 44, by + 60, s); r.Bar(ink, bx + 10, by + 38, bx + 34, by + 38, s * 0.8); break;
        case 4: r.Ring(ink, bx + 22, by + 18, 18 - s, 18); r.Fill(kWhite, bx + 22, by, bx + 44, by + 26, [&](double x, double y) { return x > bx + 22 && y > by + 14 && y < by + 26; });
                r.Ring(ink, bx + 22, by + 44, 18 - s, 18); break;
        default: r.Polygon(ink, {{double(bx), double(by + 60)}, {double(bx + 22), double(by)}, {double(bx + 44), double(by + 60)}, {double(bx + 30), double(by + 60)}, {double(bx + 22), double(by + 30)}, {double(bx + 14), double(by + 60)}}); break;
      }
    }
  }
  return r;
}

std::string g_tool, g_work;

struct Outcome {
  Compare cmp;
  long ours = 0, potrace = -1;
  double potraceAgree = -1;
  double seconds = 0;
};

Outcome Measure(const std::string& name, const Raster& in, const std::string& extra, bool bitonal) {
  Outcome o;
  const std::string png = g_work + "/" + name + ".png", svg = g_work + "/" + name + ".svg", back = g_work + "/" + name + "-back.png";
  WritePng(png, in);
  double t0 = Now();
  if (Run(g_tool + " " + extra + " -output-file " + svg + " " + png) != 0) {
    std::printf("%s: tracing failed\n", name.c_str());
    return o;
  }
  o.seconds = Now() - t0;
  Run("rsvg-convert -b white -w " + std::to_string(in.w) + " -h " + std::to_string(in.h) + " " + svg + " -o " + back);
  Raster out;
  if (!ReadPng(back, out) || out.w != in.w) return o;
  o.cmp = CompareRender(in, out, kWhite);
  if (std::getenv("BENCH_DIFF")) {  // input in grey, mismatching pixels in red
    Raster diff(in.w, in.h, kWhite);
    for (int y = 0; y < in.h; ++y)
      for (int x = 0; x < in.w; ++x) {
        Rgb a = in.At(x, y), b = out.At(x, y);
        int d = std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
        uint8_t g = uint8_t(128 + (a.r + a.g + a.b) / 6);
        diff.Set(size_t(y) * in.w + x, d > 200 ? Rgb{255, 0, 0} : Rgb{g, g, g});
      }
    WritePng(g_work + "/" + name + "-diff.png", diff);
  }
  o.ours = CountSvgSegments(ReadText(svg));
  if (bitonal) {
    const std::string pbm = g_work + "/" + name + ".pbm", psvg = g_work + "/" + name + "-potrace.svg";
    WritePbm(pbm, in);
    if (Run("potrace -s -o " + psvg + " " + pbm) == 0) {
      o.potrace = CountSvgSegments(ReadText(psvg));
      const std::string pback = g_work + "/" + name + "-potrace.png";
      Run("rsvg-convert -b white -w " + std::to_string(in.w) + " -h " + std::to_string(in.h) + " " + psvg + " -o " + pback);
      Raster pr;
      if (ReadPng(pback, pr) && pr.w == in.w) o.potraceAgree = CompareRender(in, pr, kWhite).agree;
    }
  }
  return o;
}

void Report(const std::string& name, const Outcome& o) {
  std::printf("%-22s agree %7.3f%%  seam pixels %6ld leaks %4ld  segments %7ld", name.c_str(), 100 * o.cmp.agree, o.cmp.seamPixels,
              o.cmp.seamLeaks, o.ours);
  if (o.potrace >= 0)
    std::printf("  potrace %7ld (ratio %.2f, agree %.3f%%)", o.potrace, double(o.ours) / double(std::max(1L, o.potrace)), 100 * o.potraceAgree);
  std::printf("  %.3f s\n", o.seconds);
}

// ---- centre-lines -------------------------------------------------------------------

struct Stroke {  // a polyline centre-line of constant width
  std::vector<std::array<double, 2>> pts;
  double width;
};

double DistToStrokes(double x, double y, const std::vector<Stroke>& strokes) {
  double best = 1e18;
  for (const Stroke& s : strokes)
    for (size_t i = 1; i < s.pts.size(); ++i) {
      double ax = s.pts[i - 1][0], ay = s.pts[i - 1][1], bx = s.pts[i][0], by = s.pts[i][1];
      double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
      double t = l2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / l2, 0.0, 1.0) : 0;
      best = std::min(best, std::hypot(ax + t * dx - x, ay + t * dy - y));
    }
  return best;
}

// Absolute M/L/C path data of our own SVG, flattened; also each path's stroke-width.
struct TracedPath {
  std::vector<std::array<double, 2>> pts;
  double width = 1;
};

std::vector<TracedPath> ParseOurSvg(const std::string& svg) {
  std::vector<TracedPath> paths;
  size_t pos = 0;
  while ((pos = svg.find("<path", pos)) != std::string::npos) {
    size_t end = svg.find("/>", pos);
    std::string tag = svg.substr(pos, end - pos);
    pos = end;
    TracedPath tp;
    size_t sw = tag.find("stroke-width=\"");
    if (sw != std::string::npos) tp.width = std::atof(tag.c_str() + sw + 14);
    size_t d = tag.find(" d=\"");
    if (d == std::string::npos) continue;
    const char* p = tag.c_str() + d + 4;
    char cmd = 'M';
    std::vector<double> nums;
    std::array<double, 2> cur{0, 0};
    auto take = [&]() {
      if (cmd == 'M' || cmd == 'L') {
        for (size_t i = 0; i + 1 < nums.size(); i += 2) { cur = {nums[i], nums[i + 1]}; tp.pts.push_back(cur); }
      } else if (cmd == 'C') {
        for (size_t i = 0; i + 5 < nums.size(); i += 6) {
          auto a = cur;
          for (int k = 1; k <= 16; ++k) {
            double t = k / 16.0, s = 1 - t;
            tp.pts.push_back({s * s * s * a[0] + 3 * s * s * t * nums[i] + 3 * s * t * t * nums[i + 2] + t * t * t * nums[i + 4],
                              s * s * s * a[1] + 3 * s * s * t * nums[i + 1] + 3 * s * t * t * nums[i + 3] + t * t * t * nums[i + 5]});
          }
          cur = {nums[i + 4], nums[i + 5]};
        }
      }
      nums.clear();
    };
    while (*p && *p != '"') {
      if (*p == 'M' || *p == 'L' || *p == 'C' || *p == 'Z') {
        take();
        cmd = *p++;
      } else if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '.') {
        char* stop;
        nums.push_back(std::strtod(p, &stop));
        p = stop;
      } else {
        ++p;
      }
    }
    take();
    paths.push_back(tp);
  }
  return paths;
}

void CenterlineBench() {
  struct Case {
    std::string name;
    std::vector<Stroke> strokes;
    int expectPaths;
  };
  std::vector<Case> cases;
  for (double wd : {3.0, 5.0, 8.0, 12.0, 20.0}) {
    Case c{"line w" + std::to_string(int(wd)), {{{{40, 60}, {360, 140}}, wd}}, 1};
    cases.push_back(c);
    Stroke arc{{}, wd};
    for (int i = 0; i <= 60; ++i) arc.pts.push_back({200 + 120 * std::cos(M_PI * i / 60), 300 - 120 * std::sin(M_PI * i / 60)});
    cases.push_back(Case{"arc w" + std::to_string(int(wd)), {arc}, 1});
    // Odd widths centred on pixel centres, even ones on pixel edges: exact pixel widths.
    const double o = int(wd) % 2 ? 0.5 : 0.0;
    cases.push_back(Case{"plus w" + std::to_string(int(wd)), {{{{200 + o, 60}, {200 + o, 340}}, wd}, {{{60, 200 + o}, {340, 200 + o}}, wd}}, 4});
    cases.push_back(Case{"T w" + std::to_string(int(wd)), {{{{60, 80 + o}, {340, 80 + o}}, wd}, {{{200 + o, 80 + o}, {200 + o, 340}}, wd}}, 3});
    Stroke circle{{}, wd};
    for (int i = 0; i <= 120; ++i) circle.pts.push_back({200 + 120 * std::cos(M_PI * i / 60), 200 + 120 * std::sin(M_PI * i / 60)});
    cases.push_back(Case{"circle w" + std::to_string(int(wd)), {circle}, 1});
  }
  std::printf("\nCentre-lines (-centerline -preserve-width):\n");
  for (const Case& c : cases) {
    Raster r(400, 400, kWhite);
    for (const Stroke& s : c.strokes) {
      for (size_t i = 1; i < s.pts.size(); ++i) r.Bar(Rgb{0, 0, 0}, s.pts[i - 1][0], s.pts[i - 1][1], s.pts[i][0], s.pts[i][1], s.width);
      if (s.pts.size() > 2)
        for (size_t i = 1; i + 1 < s.pts.size(); ++i) r.Disc(Rgb{0, 0, 0}, s.pts[i][0], s.pts[i][1], s.width / 2);
    }
    const std::string png = g_work + "/cl.png", svg = g_work + "/cl.svg";
    WritePng(png, r);
    Run(g_tool + " -centerline -preserve-width -output-file " + svg + " " + png);
    auto paths = ParseOurSvg(ReadText(svg));
    double sum = 0, worstW = 0;
    long n = 0;
    for (auto& p : paths) {
      for (auto& q : p.pts) { sum += DistToStrokes(q[0], q[1], c.strokes); ++n; }
      worstW = std::max(worstW, std::fabs(p.width - c.strokes[0].width));
    }
    std::printf("%-12s paths %d (want %d)  mean distance to centre %.3f px  worst width error %.2f px\n", c.name.c_str(), int(paths.size()),
                c.expectPaths, n ? sum / n : -1.0, worstW);
  }
}

void TimingBench() {
  std::printf("\nTiming, outline mode, bitonal page, SVG out (best of 3):\n");
  for (int size : {1000, 1414, 2000, 2828}) {
    Raster page = Text(size, size, 11);
    const std::string png = g_work + "/page.png", svg = g_work + "/page.svg";
    WritePng(png, page);
    double best = 1e9, bestCpu = 1e9;
    for (int i = 0; i < 3; ++i) {
      double t0 = Now(), c0 = ChildCpu();
      Run(g_tool + " -background-color FFFFFF -output-file " + svg + " " + png);
      best = std::min(best, Now() - t0);
      bestCpu = std::min(bestCpu, ChildCpu() - c0);
    }
    std::printf("%5d x %-5d wall %.3f s, cpu %.3f s  (cpu %.1f ms per megapixel)\n", size, size, best, bestCpu,
                1000 * bestCpu / (size * double(size) / 1e6));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_autotrace AUTOTRACE WORKDIR\n");
    return 2;
  }
  g_tool = argv[1];
  g_work = argv[2];
  std::printf("Outline mode, rendered back with rsvg-convert at the input size:\n");
  Report("logo (all colours)", Measure("logo", Logo(), "", false));
  Report("logo (white bg)", Measure("logo-bg", Logo(), "-background-color FFFFFF", false));
  Report("map (all colours)", Measure("map", Map(), "", false));
  Report("map (white bg)", Measure("map-bg", Map(), "-background-color FFFFFF", false));
  Report("text (white bg)", Measure("text", Text(1200, 600, 3), "-background-color FFFFFF", true));
  Report("page 2000 (white bg)", Measure("page", Text(2000, 2000, 5), "-background-color FFFFFF", true));
  CenterlineBench();
  TimingBench();
  return 0;
}
