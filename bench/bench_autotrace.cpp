// Quality and speed figures for the autotrace engine, against the installed potrace. Built
// and run by bench_autotrace.sh. Generated fixtures (a page of real type set by Ghostscript,
// synthetic shapes, flat-colour art, a photo-like picture and stroke drawings) are traced,
// rendered back with rsvg-convert and compared with their input: bytes, segments, share of
// curves, agreement, seam pixels, colour error, centre-line accuracy, CPU and memory.
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
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

// ---- running the tracers ------------------------------------------------------------

struct Cost {
  int status = -1;
  double cpu = 0;     // user + system seconds of the process
  long maxRssKb = 0;  // peak resident memory
};

// Runs a shell command and measures the process itself (wait4), not the wall clock: CPU
// time is not inflated when the machine is busy with other work.
Cost Run(const std::string& cmd) {
  Cost c;
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return c;
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  c.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  c.maxRssKb = ru.ru_maxrss;
  return c;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// ---- SVG path data, absolute or relative, ours or potrace's -------------------------

struct Polyline {
  std::vector<std::array<double, 2>> pts;
  bool closed = false;
  double width = 1;
};

struct SvgFigures {
  long segments = 0, curves = 0;
  std::vector<Polyline> paths;  // every subpath, curves flattened (in the path's own units)
};

SvgFigures ParseSvg(const std::string& svg) {
  SvgFigures f;
  size_t pos = 0;
  while ((pos = svg.find("<path", pos)) != std::string::npos) {
    const size_t tagEnd = svg.find('>', pos);
    const std::string tag = svg.substr(pos, tagEnd - pos);
    pos = tagEnd;
    double width = 1;
    const size_t sw = tag.find("stroke-width=\"");
    if (sw != std::string::npos) width = std::atof(tag.c_str() + sw + 14);
    const bool underlay = tag.find("fill=\"none\"") != std::string::npos && tag.find("stroke-linecap") == std::string::npos;
    const size_t d = tag.find(" d=\"");
    if (d == std::string::npos || underlay) continue;
    const char* p = tag.c_str() + d + 4;
    char cmd = 'M';
    std::vector<double> nums;
    double cx = 0, cy = 0, sx = 0, sy = 0;
    Polyline cur;
    cur.width = width;
    auto finish = [&](bool closed) {
      cur.closed = closed;
      if (!cur.pts.empty()) f.paths.push_back(cur);
      cur.pts.clear();
    };
    auto number = [&]() {
      const char* from = p;
      if (*p == '-' || *p == '+') ++p;
      bool dot = false;
      while (std::isdigit(static_cast<unsigned char>(*p)) || (*p == '.' && !dot)) dot |= *p++ == '.';
      if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '-' || *p == '+') ++p;
        while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
      }
      return std::strtod(std::string(from, p).c_str(), nullptr);
    };
    while (*p && *p != '"') {
      if (std::isalpha(static_cast<unsigned char>(*p))) {
        cmd = *p++;
        if (cmd == 'z' || cmd == 'Z') {
          cx = sx;
          cy = sy;
          finish(true);
        }
        continue;
      }
      if (!(std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '.' || *p == '+')) {
        ++p;
        continue;
      }
      nums.push_back(number());
      const char up = char(std::toupper(cmd));
      const bool rel = cmd != up;
      const size_t need = up == 'C' ? 6 : up == 'H' || up == 'V' ? 1 : 2;
      if (nums.size() < need) continue;
      const double ox = rel ? cx : 0, oy = rel ? cy : 0;
      if (up == 'M') {
        finish(false);
        cx = ox + nums[0];
        cy = oy + nums[1];
        sx = cx;
        sy = cy;
        cur.pts.push_back({cx, cy});
        cmd = rel ? 'l' : 'L';  // further pairs are lines
      } else if (up == 'C') {
        const double x1 = ox + nums[0], y1 = oy + nums[1], x2 = ox + nums[2], y2 = oy + nums[3], x3 = ox + nums[4], y3 = oy + nums[5];
        for (int k = 1; k <= 16; ++k) {
          const double t = k / 16.0, s = 1 - t;
          cur.pts.push_back({s * s * s * cx + 3 * s * s * t * x1 + 3 * s * t * t * x2 + t * t * t * x3,
                             s * s * s * cy + 3 * s * s * t * y1 + 3 * s * t * t * y2 + t * t * t * y3});
        }
        cx = x3;
        cy = y3;
        ++f.segments;
        ++f.curves;
      } else {
        if (up == 'H') cx = ox + nums[0];
        else if (up == 'V') cy = (rel ? cy : 0) + nums[0];
        else {
          cx = ox + nums[0];
          cy = oy + nums[1];
        }
        cur.pts.push_back({cx, cy});
        ++f.segments;
      }
      nums.clear();
    }
    finish(false);
  }
  return f;
}

// ---- fixtures -----------------------------------------------------------------------

Raster Binary(const Raster& in) {
  Raster out(in.w, in.h, kWhite);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x)
      if (!(in.At(x, y) == kWhite)) out.Set(size_t(y) * in.w + x, Rgb{0, 0, 0});
  return out;
}

// A page of real type: Times and Helvetica set by Ghostscript without anti-aliasing, so
// that the glyphs carry a font's curves, serifs and stems. Type of 32 to 50 pixels is body
// text (8 to 12 points) scanned at 300 dpi. The same density at any page size.
Raster TypePage(int size) {
  const std::string ps = g_work + "/type.ps", png = g_work + "/type.png";
  std::ofstream out(ps);
  out << "%!\n/lines [(Sphinx of black quartz, judge my vow: 0123456789)\n"
         "(The quick brown fox jumps over the lazy dog! @&%$)\n(Pack my box with five dozen liquor jugs; QWERTY)] def\n"
         "/y " << size - 30 << " def /n 0 def\n"
         "{ y 20 lt {exit} if n 3 mod 0 eq {/Times-Roman} {n 3 mod 1 eq {/Helvetica} {/Times-Bold} ifelse} ifelse\n"
         "  findfont n 4 mod 6 mul 32 add scalefont setfont\n"
         "  0 800 " << size << " { 20 add y moveto lines n 3 mod get show } for\n"
         "  /y y n 4 mod 6 mul 32 add 1.35 mul sub def /n n 1 add def } loop showpage\n";
  out.close();
  Run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -dTextAlphaBits=1 -dGraphicsAlphaBits=1 -r72 -g" +
      std::to_string(size) + "x" + std::to_string(size) + " -sOutputFile=" + png + " " + ps);
  Raster r;
  if (!ReadPng(png, r)) return Raster(size, size, kWhite);
  for (size_t i = 0; i < size_t(r.w) * r.h; ++i) r.Set(i, r.px[3 * i] < 128 ? Rgb{0, 0, 0} : kWhite);
  return r;
}

// Photo-like: a shaded sky and hills, soft leaves, flowers with small saturated centres,
// and sensor noise; every pixel its own colour.
Raster Photo() {
  Raster r(480, 360, kWhite);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0, 3.0);
  struct Flower { double x, y, r; };
  std::vector<Flower> flowers = {{120, 250, 34}, {250, 280, 26}, {370, 240, 40}, {190, 190, 22}, {420, 320, 18}};
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      double R, G, B;
      const double hill = 150 + 30 * std::sin(x / 70.0) + 12 * std::sin(x / 23.0 + 1);
      if (y < hill) {  // sky: blue to pale
        const double t = y / hill;
        R = 70 + 120 * t; G = 130 + 90 * t; B = 230 - 10 * t;
      } else {  // grass, shaded
        const double t = (y - hill) / (r.h - hill);
        R = 60 + 40 * std::sin(x / 31.0 + y / 17.0) * 0.3 - 20 * t; G = 140 - 50 * t + 15 * std::sin(x / 11.0); B = 50 + 10 * t;
      }
      for (const Flower& f : flowers) {
        const double dx = x - f.x, dy = y - f.y, d = std::hypot(dx, dy), a = std::atan2(dy, dx);
        const double petal = f.r * (0.75 + 0.25 * std::cos(5 * a));
        if (d < petal) {  // white-pink petals with soft shading
          const double t = d / petal;
          R = 245 - 20 * t; G = 225 - 40 * t; B = 235 - 20 * t;
        }
        if (d < f.r * 0.14) { R = 250; G = 140 + 20 * (d / f.r); B = 10; }  // orange centre
      }
      for (int k = 0; k < 9; ++k)  // red berries of a few pixels in the grass
        if (std::hypot(x - (40 + 50 * k), y - (330 - 9 * (k % 3))) < 2.6) { R = 200; G = 20; B = 40; }
      auto c8 = [&](double v) { return uint8_t(std::clamp(v + noise(rng), 0.0, 255.0)); };
      r.Set(size_t(y) * r.w + x, Rgb{c8(R), c8(G), c8(B)});
    }
  return r;
}

// ---- comparisons --------------------------------------------------------------------

int D2(Rgb a, Rgb b) { return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b); }

// Share of pixels whose rendered colour is nearer their own colour than any other colour
// in their 3x3 neighbourhood: an edge pixel blended from both sides counts for the side
// that covers most of it.
double Agreement(const Raster& in, const Raster& out) {
  long good = 0;
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      const Rgb a = in.At(x, y), r = out.At(x, y);
      bool ok = true;
      for (int dy = -1; dy <= 1 && ok; ++dy)
        for (int dx = -1; dx <= 1 && ok; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= in.w || yy >= in.h) continue;
          const Rgb b = in.At(xx, yy);
          if (!(b == a) && D2(b, r) < D2(a, r)) ok = false;
        }
      good += ok;
    }
  return double(good) / (double(in.w) * in.h);
}

// Seam pixels: rendered clearly lighter (by 24 levels of luma) than every source pixel
// around them, which is what background showing through between two shapes looks like.
double SeamShare(const Raster& in, const Raster& out) {
  auto luma = [](Rgb c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; };
  long seams = 0;
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      double top = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = std::clamp(x + dx, 0, in.w - 1), yy = std::clamp(y + dy, 0, in.h - 1);
          top = std::max(top, luma(in.At(xx, yy)));
        }
      seams += luma(out.At(x, y)) > top + 24;
    }
  return double(seams) / (double(in.w) * in.h);
}

double MeanRgbError(const Raster& in, const Raster& out) {
  double sum = 0;
  for (size_t i = 0; i < in.px.size(); ++i) sum += std::abs(int(in.px[i]) - int(out.px[i]));
  return sum / double(in.px.size());
}

// The same over strongly saturated source pixels only (small vivid details); 0 when none.
double SaturatedRgbError(const Raster& in, const Raster& out) {
  double sum = 0;
  long n = 0;
  for (size_t i = 0; i + 2 < in.px.size(); i += 3) {
    const int hi = std::max({in.px[i], in.px[i + 1], in.px[i + 2]}), lo = std::min({in.px[i], in.px[i + 1], in.px[i + 2]});
    if (hi - lo < 170) continue;
    for (int k = 0; k < 3; ++k) sum += std::abs(int(in.px[i + k]) - int(out.px[i + k]));
    n += 3;
  }
  return n ? sum / double(n) : 0;
}

// ---- outline figures ----------------------------------------------------------------

struct Traced {
  bool ok = false;
  long bytes = 0, segments = 0, curves = 0;
  double agree = 0, seams = 0, rgbError = 0, vividError = 0;
  Cost cost;
};

Traced Render(const std::string& svg, const Raster& in, const Cost& cost) {
  Traced t;
  t.cost = cost;
  if (cost.status != 0) return t;
  const std::string text = ReadText(svg), back = svg + ".png";
  const SvgFigures f = ParseSvg(text);
  t.bytes = long(text.size());
  t.segments = f.segments;
  t.curves = f.curves;
  Run("rsvg-convert -b white -w " + std::to_string(in.w) + " -h " + std::to_string(in.h) + " " + svg + " -o " + back);
  Raster out;
  if (!ReadPng(back, out) || out.w != in.w || out.h != in.h) return t;
  t.ok = true;
  t.agree = Agreement(in, out);
  t.seams = SeamShare(in, out);
  t.rgbError = MeanRgbError(in, out);
  t.vividError = SaturatedRgbError(in, out);
  return t;
}

Traced Ours(const std::string& name, const Raster& in, const std::string& options) {
  const std::string png = g_work + "/" + name + ".png", svg = g_work + "/" + name + ".svg";
  WritePng(png, in);
  return Render(svg, in, Run(g_tool + " " + options + " -output-file " + svg + " " + png));
}

Traced Potrace(const std::string& name, const Raster& in) {
  const std::string pbm = g_work + "/" + name + ".pbm", svg = g_work + "/" + name + "-potrace.svg";
  WritePbm(pbm, in);
  return Render(svg, in, Run("potrace -s -o " + svg + " " + pbm));
}

void Row(const std::string& name, const Traced& t) {
  if (t.cost.status != 0) {
    std::printf("%-26s failed\n", name.c_str());
    return;
  }
  std::printf("%-26s %9ld %8ld %6.1f%% %8.2f %8.4f %7.3f%% %7.1f %7.3f\n", name.c_str(), t.bytes, t.segments,
              100.0 * t.curves / double(std::max(1L, t.segments)), double(t.bytes) / double(std::max(1L, t.segments)), t.agree,
              100 * t.seams, t.rgbError, t.cost.cpu);
}

void OutlineBench() {
  std::printf("Outline mode, SVG rendered back with rsvg-convert at the input size\n");
  std::printf("%-26s %9s %8s %7s %8s %8s %8s %7s %7s\n", "", "bytes", "segments", "curves", "B/seg", "agree", "seams", "RGB err", "cpu s");
  const Raster page = TypePage(2000), logo = Logo(), logoBw = Binary(Logo()), text = Text(1200, 600, 3);
  Row("type page 2000", Ours("type", page, "-background-color FFFFFF"));
  Row("  potrace", Potrace("type", page));
  Row("shapes text 1200x600", Ours("text", text, "-background-color FFFFFF"));
  Row("  potrace", Potrace("text", text));
  Row("logo, one colour", Ours("logo-bw", logoBw, "-background-color FFFFFF"));
  Row("  potrace", Potrace("logo-bw", logoBw));
  Row("logo, 8 colours", Ours("logo", logo, ""));
  Row("logo, 8 colours, white bg", Ours("logo-bg", logo, "-background-color FFFFFF"));
  Row("map, 8 colours", Ours("map", Map(), ""));
  const Traced photo = Ours("photo", Photo(), "-color-count 16");
  Row("photo, -color-count 16", photo);
  std::printf("%-26s mean RGB error over vivid pixels (flower centres, berries): %.1f\n", "", photo.vividError);
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

double DistToPaths(double x, double y, const std::vector<Polyline>& paths) {
  double best = 1e18;
  for (const Polyline& p : paths)
    for (size_t i = 0; i < p.pts.size(); ++i) {
      const auto a = p.pts[i], b = p.pts[i + 1 < p.pts.size() ? i + 1 : i];
      double dx = b[0] - a[0], dy = b[1] - a[1], l2 = dx * dx + dy * dy;
      double t = l2 > 0 ? std::clamp(((x - a[0]) * dx + (y - a[1]) * dy) / l2, 0.0, 1.0) : 0;
      best = std::min(best, std::hypot(a[0] + t * dx - x, a[1] + t * dy - y));
    }
  return best;
}

double Length(const Polyline& p) {
  double l = 0;
  for (size_t i = 1; i < p.pts.size(); ++i) l += std::hypot(p.pts[i][0] - p.pts[i - 1][0], p.pts[i][1] - p.pts[i - 1][1]);
  return l;
}

void CenterlineBench() {
  struct Case {
    std::string name;
    std::vector<Stroke> strokes;
    std::vector<std::array<double, 3>> pinholes;  // white discs punched into the strokes
    size_t expect = 1;                             // paths a clean tracing gives
  };
  std::vector<Case> cases;
  for (double wd : {3.0, 5.0, 8.0, 12.0, 20.0}) {
    const std::string w = " w" + std::to_string(int(wd));
    cases.push_back(Case{"line" + w, {{{{40, 60}, {360, 140}}, wd}}, {}});
    Stroke arc{{}, wd};
    for (int i = 0; i <= 60; ++i) arc.pts.push_back({200 + 120 * std::cos(M_PI * i / 60), 300 - 120 * std::sin(M_PI * i / 60)});
    cases.push_back(Case{"arc" + w, {arc}, {}});
    const double o = int(wd) % 2 ? 0.5 : 0.0;
    cases.push_back(Case{"plus" + w, {{{{200 + o, 60}, {200 + o, 340}}, wd}, {{{60, 200 + o}, {340, 200 + o}}, wd}}, {}, 4});
    cases.push_back(Case{"T" + w, {{{{60, 80 + o}, {340, 80 + o}}, wd}, {{{200 + o, 80 + o}, {200 + o, 340}}, wd}}, {}, 3});
    cases.push_back(Case{"V" + w, {{{{80, 60}, {200, 340}, {320, 60}}, wd}}, {}});
    Stroke circle{{}, wd};
    for (int i = 0; i <= 120; ++i) circle.pts.push_back({200 + 120 * std::cos(M_PI * i / 60), 200 + 120 * std::sin(M_PI * i / 60)});
    cases.push_back(Case{"circle" + w, {circle}, {}});
    if (wd >= 8) {  // a ring with pinholes of one and two pixels
      Case c{"pinholed ring" + w, {circle}, {}};
      for (int i = 0; i < 8; ++i)
        c.pinholes.push_back({200 + 120 * std::cos(i * 0.8), 200 + 120 * std::sin(i * 0.8), i % 2 ? 0.6 : 1.1});
      cases.push_back(c);
    }
  }
  std::printf("\nCentre-lines (-centerline -preserve-width), each case 400 x 400:\n");
  std::printf("%-20s %6s %6s %9s %9s %9s %6s %9s\n", "", "paths", "extra", "mean err", "covered", "short", "loops", "width err");
  double sumErr = 0, sumCover = 0;
  long fragments = 0, loops = 0, extra = 0, n = 0;
  for (const Case& c : cases) {
    Raster r(400, 400, kWhite);
    for (const Stroke& s : c.strokes) {
      for (size_t i = 1; i < s.pts.size(); ++i) r.Bar(Rgb{0, 0, 0}, s.pts[i - 1][0], s.pts[i - 1][1], s.pts[i][0], s.pts[i][1], s.width);
      for (size_t i = 1; i + 1 < s.pts.size(); ++i) r.Disc(Rgb{0, 0, 0}, s.pts[i][0], s.pts[i][1], s.width / 2);
    }
    for (const auto& h : c.pinholes) r.Disc(kWhite, h[0], h[1], h[2]);
    const std::string png = g_work + "/cl.png", svg = g_work + "/cl.svg";
    WritePng(png, r);
    Run(g_tool + " -centerline -preserve-width -output-file " + svg + " " + png);
    const auto paths = ParseSvg(ReadText(svg)).paths;
    double sum = 0, worstW = 0;
    long count = 0, shortOnes = 0, smallLoops = 0;
    for (const Polyline& p : paths) {
      for (const auto& q : p.pts) {
        sum += DistToStrokes(q[0], q[1], c.strokes);
        ++count;
      }
      worstW = std::max(worstW, std::fabs(p.width - c.strokes[0].width));
      const double len = Length(p);
      const bool ring = p.closed || std::hypot(p.pts.front()[0] - p.pts.back()[0], p.pts.front()[1] - p.pts.back()[1]) < 1.0;
      if (ring && len < 60) ++smallLoops;
      else if (len < 8) ++shortOnes;
    }
    // Coverage: truth sampled every half pixel, within 2 px of a traced line.
    long truth = 0, hit = 0;
    for (const Stroke& s : c.strokes)
      for (size_t i = 1; i < s.pts.size(); ++i) {
        const double l = std::hypot(s.pts[i][0] - s.pts[i - 1][0], s.pts[i][1] - s.pts[i - 1][1]);
        for (double t = 0; t <= l; t += 0.5) {
          const double x = s.pts[i - 1][0] + (s.pts[i][0] - s.pts[i - 1][0]) * t / l, y = s.pts[i - 1][1] + (s.pts[i][1] - s.pts[i - 1][1]) * t / l;
          ++truth;
          hit += DistToPaths(x, y, paths) <= 2.0;
        }
      }
    const double err = count ? sum / count : 99, cover = double(hit) / double(std::max(1L, truth));
    // Paths beyond a clean tracing's: fragments, or loops around specks in the stroke.
    const long more = long(paths.size()) - long(c.expect);
    std::printf("%-20s %6zu %6ld %9.3f %8.2f%% %9ld %6ld %9.2f\n", c.name.c_str(), paths.size(), more, err, 100 * cover, shortOnes,
                smallLoops, worstW);
    extra += std::max(0L, more);
    sumErr += err;
    sumCover += cover;
    fragments += shortOnes;
    loops += smallLoops;
    ++n;
  }
  std::printf("%-20s %6s %6ld %9.3f %8.2f%% %9ld %6ld\n", "all cases", "", extra, sumErr / n, 100 * sumCover / n, fragments, loops);
}

// ---- speed --------------------------------------------------------------------------

void TimingBench() {
  std::printf("\nType pages, outline mode, SVG out; CPU seconds best of 3, peak memory:\n");
  std::printf("%-12s %9s %9s %7s %10s %9s %12s\n", "", "ours", "potrace", "ratio", "ours MB", "B/pixel", "potrace MB");
  for (int size : {1000, 2000, 2828, 4000}) {
    const Raster page = TypePage(size);
    const std::string png = g_work + "/tp.png", pbm = g_work + "/tp.pbm";
    WritePng(png, page);
    WritePbm(pbm, page);
    Cost ours{0, 1e9, 0}, theirs{0, 1e9, 0};
    for (int i = 0; i < 3; ++i) {
      const Cost a = Run(g_tool + " -background-color FFFFFF -output-file " + g_work + "/tp.svg " + png);
      const Cost b = Run("potrace -s -o " + g_work + "/tp-potrace.svg " + pbm);
      ours = Cost{a.status, std::min(ours.cpu, a.cpu), std::max(ours.maxRssKb, a.maxRssKb)};
      theirs = Cost{b.status, std::min(theirs.cpu, b.cpu), std::max(theirs.maxRssKb, b.maxRssKb)};
    }
    const double px = double(size) * size;
    std::printf("%5d x %-5d %9.3f %9.3f %7.2f %10.1f %9.2f %12.1f\n", size, size, ours.cpu, theirs.cpu, ours.cpu / theirs.cpu,
                ours.maxRssKb / 1024.0, ours.maxRssKb * 1024.0 / px, theirs.maxRssKb / 1024.0);
  }
}

// ---- pictures like users' own --------------------------------------------------------
// Fixtures made by make_autotrace_fixtures.sh (anti-aliased SVG renders, scanner-degraded
// pages, photos from a Debian package, a line drawing, an enlarged sprite), traced with
// defaults by us, by vtracer (when installed, through vtracer_convert.mjs) and by potrace
// (on the picture thresholded at half luminance). "bitonal" is the share of pixels on the
// same side of half luminance in the render and in the picture before degradation (the
// picture itself where it was not degraded).

double Luma(Rgb c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; }

Raster Threshold(const Raster& in) {
  Raster out(in.w, in.h, kWhite);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x)
      if (Luma(in.At(x, y)) < 128) out.Set(size_t(y) * in.w + x, Rgb{0, 0, 0});
  return out;
}

// Share of pixels on the same side of half luminance in the input and the render.
double BitonalAgreement(const Raster& in, const Raster& out) {
  long same = 0;
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) same += (Luma(in.At(x, y)) < 128) == (Luma(out.At(x, y)) < 128);
  return double(same) / (double(in.w) * in.h);
}

double Within30(const Raster& in, const Raster& out) {
  long good = 0;
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) good += D2(in.At(x, y), out.At(x, y)) <= 900;
  return double(good) / (double(in.w) * in.h);
}

struct Real {
  bool ok = false;
  long bytes = 0, segments = 0, curves = 0, subpaths = 0, colours = 0;
  double within30 = 0, rgb = 0, bitonal = 0, inkLuma = 255;
  double cpu = 0;
  long rssKb = 0;
};

// `truth` is the picture the input was degraded from (a page before the scanner), or the input.
Real Measure(const std::string& svg, const Raster& in, const Raster& truth, const Cost& cost) {
  Real r;
  r.cpu = cost.cpu;
  r.rssKb = cost.maxRssKb;
  if (cost.status != 0) return r;
  const std::string text = ReadText(svg), back = svg + ".png";
  const SvgFigures f = ParseSvg(text);
  r.bytes = long(text.size());
  r.segments = f.segments;
  r.curves = f.curves;
  r.subpaths = long(f.paths.size());
  std::vector<std::string> fills;
  for (size_t p = text.find("fill=\"#"); p != std::string::npos; p = text.find("fill=\"#", p + 1)) {
    const std::string c = text.substr(p + 7, 6);
    if (std::find(fills.begin(), fills.end(), c) == fills.end()) fills.push_back(c);
    const Rgb rgb{uint8_t(std::stoi(c.substr(0, 2), nullptr, 16)), uint8_t(std::stoi(c.substr(2, 2), nullptr, 16)),
                  uint8_t(std::stoi(c.substr(4, 2), nullptr, 16))};
    r.inkLuma = std::min(r.inkLuma, Luma(rgb));
  }
  r.colours = long(fills.size());
  Run("rsvg-convert -b white -w " + std::to_string(in.w) + " -h " + std::to_string(in.h) + " " + svg + " -o " + back);
  Raster out;
  if (!ReadPng(back, out) || out.w != in.w || out.h != in.h) return r;
  r.ok = true;
  r.within30 = Within30(in, out);
  r.rgb = MeanRgbError(in, out);
  r.bitonal = BitonalAgreement(truth, out);
  return r;
}

void RealRow(const std::string& name, const std::string& who, const Real& r) {
  if (!r.ok) {
    std::printf("%-14s %-8s failed\n", name.c_str(), who.c_str());
    return;
  }
  std::printf("%-14s %-8s %10ld %8ld %6.1f%% %7ld %5ld %7.2f%% %6.2f %8.4f %5.0f %7.2f %7.1f\n", name.c_str(), who.c_str(),
              r.bytes, r.segments, 100.0 * r.curves / double(std::max(1L, r.segments)), r.subpaths, r.colours,
              100 * r.within30, r.rgb, r.bitonal, r.inkLuma, r.cpu, r.rssKb / 1024.0);
}

// The true centre-lines of autotrace_fixtures/lines.svg: seven strokes.
std::vector<Stroke> LineDrawingStrokes() {
  std::vector<Stroke> s = {{{{60, 60}, {360, 90}}, 5}, {{{60, 160}, {360, 260}}, 5}, {{{460, 360}, {620, 560}}, 4},
                           {{{700, 360}, {540, 560}}, 4}, {{{440, 60}, {440, 260}}, 3}};
  Stroke circle{{}, 5}, curve{{}, 5};
  for (int i = 0; i <= 720; ++i) circle.pts.push_back({560 + 90 * std::cos(i * M_PI / 360), 150 + 90 * std::sin(i * M_PI / 360)});
  for (int i = 0; i <= 400; ++i) {
    const double t = i / 400.0, u = 1 - t;
    curve.pts.push_back({u * u * u * 80 + 3 * u * u * t * 180 + 3 * u * t * t * 280 + t * t * t * 380,
                         u * u * u * 420 + 3 * u * u * t * 300 + 3 * u * t * t * 540 + t * t * t * 420});
  }
  s.push_back(circle);
  s.push_back(curve);
  return s;
}

// Centre-lines traced with defaults against the truth: paths, loops, fragments under 8 px,
// mean distance of the traced points from the truth, share of the truth within 2 px.
void CenterlineRow(const std::string& who, const std::string& svg, const std::vector<Stroke>& strokes) {
  const SvgFigures f = ParseSvg(ReadText(svg));
  double sum = 0;
  long count = 0, fragments = 0, loops = 0;
  for (const Polyline& p : f.paths) {
    for (const auto& q : p.pts) {
      sum += DistToStrokes(q[0], q[1], strokes);
      ++count;
    }
    const double len = Length(p);
    const bool ring = p.closed || std::hypot(p.pts.front()[0] - p.pts.back()[0], p.pts.front()[1] - p.pts.back()[1]) < 1.0;
    if (ring && len < 60) ++loops;
    else if (len < 8) ++fragments;
  }
  long truth = 0, hit = 0;
  for (const Stroke& s : strokes)
    for (size_t i = 1; i < s.pts.size(); ++i) {
      const double l = std::hypot(s.pts[i][0] - s.pts[i - 1][0], s.pts[i][1] - s.pts[i - 1][1]);
      for (double t = 0; t <= l; t += 0.5) {
        ++truth;
        hit += DistToPaths(s.pts[i - 1][0] + (s.pts[i][0] - s.pts[i - 1][0]) * t / l,
                           s.pts[i - 1][1] + (s.pts[i][1] - s.pts[i - 1][1]) * t / l, f.paths) <= 2.0;
      }
    }
  std::printf("%-14s %-8s paths %ld (strokes %zu), loops %ld, fragments %ld, mean distance %.3f px, covered %.2f%%\n",
              "lines -centerline", who.c_str(), long(f.paths.size()), strokes.size(), loops, fragments,
              count ? sum / count : 99.0, 100.0 * hit / double(std::max(1L, truth)));
}

void RealBench(const std::string& fixtures, const std::string& vtracer) {
  std::printf("\nPictures like users' own, defaults (vtracer 0.1.0 defaults; potrace on the picture at half luminance)\n");
  std::printf("%-14s %-8s %10s %8s %7s %7s %5s %8s %6s %8s %5s %7s %7s\n", "", "", "bytes", "segments", "bent",
              "subpath", "cols", "<=30RGB", "RGB", "bitonal", "ink", "cpu s", "MB");
  const bool haveVt = !vtracer.empty() && Run("node " + vtracer + " --check >/dev/null 2>&1").status == 0;
  for (const char* name : {"fox", "flag", "map", "logo", "gvim", "blobs", "photo1", "photo2", "letter", "a4", "lines",
                           "sprite", "page4000"}) {
    const std::string png = fixtures + "/" + name + ".png";
    Raster in;
    if (!ReadPng(png, in)) continue;
    const std::string base = g_work + "/" + name;
    Raster truth;
    if (!ReadPng(fixtures + "/" + name + "-clean.png", truth) || truth.w != in.w || truth.h != in.h) truth = in;
    RealRow(name, "ours", Measure(base + ".svg", in, truth, Run(g_tool + " -output-file " + base + ".svg " + png)));
    if (std::string(name) == "photo1" || std::string(name) == "photo2")
      RealRow(name, "ours-16", Measure(base + "-16.svg", in, truth, Run(g_tool + " -color-count 16 -output-file " + base + "-16.svg " + png)));
    if (haveVt)
      RealRow(name, "vtracer", Measure(base + "-vt.svg", in, truth, Run("node " + vtracer + " " + png + " " + base + "-vt.svg")));
    if (std::string(name) == "lines") {
      Run(g_tool + " -centerline -output-file " + base + "-cl.svg " + png);
      CenterlineRow("ours", base + "-cl.svg", LineDrawingStrokes());
    }
    WritePbm(base + ".pbm", Threshold(in));
    RealRow(name, "potrace", Measure(base + "-po.svg", in, truth, Run("potrace -s -o " + base + "-po.svg " + base + ".pbm")));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_autotrace AUTOTRACE WORKDIR [outline|centerline|timing]...\n");
    return 2;
  }
  g_tool = argv[1];
  g_work = argv[2];
  std::vector<std::string> parts(argv + 3, argv + argc);
  auto want = [&](const char* part) { return parts.empty() || std::find(parts.begin(), parts.end(), part) != parts.end(); };
  if (want("outline")) OutlineBench();
  if (want("centerline")) CenterlineBench();
  if (want("timing")) TimingBench();
  const char* fixtures = std::getenv("AUTOTRACE_FIXTURES");
  if (fixtures != nullptr && want("real")) RealBench(fixtures, std::getenv("VTRACER_SCRIPT") ? std::getenv("VTRACER_SCRIPT") : "");
  return 0;
}
