#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>

#include "output.h"

namespace {

at::Drawing Sample(int w = 100, int h = 50) {
  at::Drawing d;
  d.width = w;
  d.height = h;
  at::Shape fill;
  fill.color = {255, 0, 0};
  at::Contour c;
  c.start = {10, 10};
  c.segs.push_back(at::Segment{true, {}, {}, {40, 10}});
  c.segs.push_back(at::Segment{false, {45, 20}, {45, 30}, {40, 40}});
  c.segs.push_back(at::Segment{true, {}, {}, {10, 40}});
  fill.contours.push_back(c);
  d.shapes.push_back(fill);
  at::Shape stroke;
  stroke.color = {0, 0, 255};
  stroke.stroked = true;
  stroke.width = 4;
  at::Contour l;
  l.closed = false;
  l.start = {60, 10};
  l.segs.push_back(at::Segment{true, {}, {}, {90, 40}});
  stroke.contours.push_back(l);
  d.shapes.push_back(stroke);
  return d;
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

struct EmfRecord {
  uint32_t type, size;
  size_t offset;
};

// Walks the records, checking that they tile the file exactly.
std::vector<EmfRecord> EmfRecords(const std::string& emf) {
  std::vector<EmfRecord> out;
  size_t pos = 0;
  while (pos + 8 <= emf.size()) {
    const uint32_t type = Le32(emf, pos), size = Le32(emf, pos + 4);
    EXPECT_GE(size, 8u);
    EXPECT_EQ(size % 4, 0u);
    if (size < 8 || pos + size > emf.size()) {
      ADD_FAILURE() << "record overruns the file";
      break;
    }
    out.push_back({type, size, pos});
    pos += size;
  }
  EXPECT_EQ(pos, emf.size());
  return out;
}

TEST(AutotraceWriters, EmfStructure) {
  const std::string emf = at::WriteEmf(Sample());
  const auto recs = EmfRecords(emf);
  ASSERT_GE(recs.size(), 3u);
  EXPECT_EQ(recs.front().type, 1u);
  EXPECT_EQ(Le32(emf, 40), 0x464D4520u);
  EXPECT_EQ(Le32(emf, 48), emf.size());
  EXPECT_EQ(Le32(emf, 52), recs.size());
  EXPECT_EQ(recs.back().type, 14u);
  EXPECT_EQ(recs.back().size, 20u);
  // Bounds are the picture in pixels; the frame is in hundredths of millimetres at 72 dpi.
  EXPECT_EQ(Le32(emf, 16), 100u);
  EXPECT_EQ(Le32(emf, 20), 50u);
  EXPECT_EQ(Le32(emf, 32), 3528u);
  int created = 0, deleted = 0, beziers = 0, fills = 0, strokes = 0;
  for (const auto& r : recs) {
    created += r.type == 38 || r.type == 39;
    deleted += r.type == 40;
    beziers += r.type == 5;
    fills += r.type == 62;
    strokes += r.type == 64;
    EXPECT_TRUE(r.type < 85 || r.type > 92) << "16-bit record " << r.type;
  }
  EXPECT_EQ(created, 2);
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(beziers, 1);
  EXPECT_EQ(fills, 1);
  EXPECT_EQ(strokes, 1);
}

TEST(AutotraceWriters, EmfKeepsHugeCoordinates) {
  at::Drawing d = Sample(30000, 30000);
  d.shapes[0].contours[0].segs[1] = at::Segment{false, {29000, 20000}, {29500, 25000}, {29999.5, 29999.5}};
  const std::string emf = at::WriteEmf(d);
  bool found = false;
  for (const auto& r : EmfRecords(emf)) {
    if (r.type != 5) continue;
    ASSERT_EQ(Le32(emf, r.offset + 24), 3u);
    // Logical units are sixteenths of a pixel: 29999.5 * 16 = 479992, far beyond 16 bits.
    EXPECT_EQ(Le32(emf, r.offset + 28 + 16), 479992u);
    EXPECT_EQ(Le32(emf, r.offset + 28 + 20), 479992u);
    EXPECT_EQ(Le32(emf, r.offset + 28 + 0), 29000u * 16);
    found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(Le32(emf, 16), 30000u);
}

TEST(AutotraceWriters, SvgEpsAndPdfStructure) {
  at::Drawing d = Sample();
  d.dpi = 144;  // half a point a pixel
  const std::string svg = at::WriteSvg(d);
  // SVG sizes are pixels whatever the resolution; path data is relative and terse.
  EXPECT_NE(svg.find("width=\"100\" height=\"50\" viewBox=\"0 0 100 50\""), std::string::npos);
  EXPECT_NE(svg.find("fill=\"#ff0000\" fill-rule=\"evenodd\""), std::string::npos);
  EXPECT_NE(svg.find("d=\"m10 10h30c5 10 5 20 0 30h-30z\""), std::string::npos);
  EXPECT_NE(svg.find("stroke=\"#0000ff\" stroke-width=\"4\""), std::string::npos);
  EXPECT_NE(svg.find("m60 10l30 30\""), std::string::npos);  // open: no z

  const std::string eps = at::WriteEps(d, false);
  EXPECT_EQ(eps.rfind("%!PS-Adobe-3.0 EPSF-3.0\n", 0), 0u);
  EXPECT_NE(eps.find("%%BoundingBox: 0 0 50 25\n"), std::string::npos);
  EXPECT_EQ(eps.find("showpage"), std::string::npos);
  const std::string ps = at::WriteEps(d, true);
  EXPECT_NE(ps.find("showpage"), std::string::npos);
  EXPECT_NE(ps.find("/PageSize [50 25]"), std::string::npos);

  const std::string pdf = at::WritePdf(d);
  EXPECT_EQ(pdf.rfind("%PDF-1.4", 0), 0u);
  EXPECT_NE(pdf.find("/MediaBox [0 0 50 25]"), std::string::npos);
  // Every cross-reference offset points at its object.
  const size_t xref = pdf.find("\nxref\n") + 1;
  const size_t start = std::stoul(pdf.substr(pdf.find("startxref\n") + 10));
  EXPECT_EQ(start, xref);
  std::istringstream table(pdf.substr(xref));
  std::string word;
  int first = 0, count = 0;
  table >> word >> first >> count;
  ASSERT_EQ(count, 5);
  for (int i = 0; i < count; ++i) {
    std::string off, gen, kind;
    table >> off >> gen >> kind;
    if (i == 0) continue;
    EXPECT_EQ(pdf.compare(std::stoul(off), std::to_string(i).size() + 6, std::to_string(i) + " 0 obj"), 0) << i;
  }
}

// End points of the relative path data our SVG writer produces (m, l, h, v, c, z, with
// separators left out wherever a number can start without one).
std::vector<at::Point> SvgEndPoints(const std::string& d) {
  std::vector<at::Point> out;
  at::Point cur, start;
  char cmd = 0;
  std::vector<double> nums;
  size_t i = 0;
  auto number = [&]() {
    const size_t from = i;
    if (d[i] == '-') ++i;
    bool dot = false;
    while (i < d.size() && (std::isdigit(static_cast<unsigned char>(d[i])) || (d[i] == '.' && !dot))) dot |= d[i++] == '.';
    return std::stod(d.substr(from, i - from));
  };
  while (i < d.size()) {
    const char ch = d[i];
    if (ch == ' ') {
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(ch))) {
      cmd = ch;
      ++i;
      if (cmd == 'z') cur = start;
    } else {
      nums.push_back(number());
      const size_t need = cmd == 'c' ? 6 : cmd == 'h' || cmd == 'v' ? 1 : 2;
      if (nums.size() < need) continue;
      if (cmd == 'h') cur.x += nums[0];
      else if (cmd == 'v') cur.y += nums[0];
      else cur = {cur.x + nums[need - 2], cur.y + nums[need - 1]};
      if (cmd == 'm') start = cur;
      out.push_back(cur);
      nums.clear();
    }
  }
  return out;
}

TEST(AutotraceWriters, CompactSvgCoordinatesDoNotDrift) {
  // A long wiggly open line of short steps: relative steps written with one decimal must
  // add up to each point's own rounding, not drift, and must read back unambiguously.
  at::Drawing d = Sample(400, 400);
  at::Contour& c = d.shapes[1].contours[0];
  c.segs.clear();
  std::vector<at::Point> want;
  for (int i = 1; i <= 600; ++i) {
    const at::Point p{200 + 150 * std::cos(i * 0.0123), 200 + 150 * std::sin(i * 0.0371) - 0.0049 * (i % 7)};
    c.segs.push_back(at::Segment{i % 3 == 0, {p.x - 0.55, p.y + 0.05}, {p.x - 0.04, p.y - 0.61}, p});
    want.push_back(p);
  }
  d.decimals = 1;
  const std::string svg = at::WriteSvg(d);
  const size_t from = svg.rfind(" d=\"") + 4;
  const std::vector<at::Point> got = SvgEndPoints(svg.substr(from, svg.find('"', from) - from));
  ASSERT_EQ(got.size(), want.size() + 1);
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got[i + 1].x, want[i].x, 0.0501) << i;
    EXPECT_NEAR(got[i + 1].y, want[i].y, 0.0501) << i;
  }
}

TEST(AutotraceWriters, DxfIsR12WithYUp) {
  const std::string dxf = at::WriteDxf(Sample());
  std::istringstream in(dxf);
  std::vector<std::pair<int, std::string>> pairs;
  std::string code, value;
  while (std::getline(in, code) && std::getline(in, value)) pairs.emplace_back(std::stoi(code), value);
  ASSERT_FALSE(pairs.empty());
  EXPECT_EQ(pairs.back(), (std::pair<int, std::string>{0, "EOF"}));
  EXPECT_NE(dxf.find("$ACADVER\n1\nAC1009\n"), std::string::npos);
  int polylines = 0, seqends = 0, closed = 0;
  std::vector<double> ys;
  for (size_t i = 0; i < pairs.size(); ++i) {
    polylines += pairs[i] == std::pair<int, std::string>{0, "POLYLINE"};
    seqends += pairs[i] == std::pair<int, std::string>{0, "SEQEND"};
    if (pairs[i].first == 70 && pairs[i].second == "1" && i > 2) ++closed;
    if (pairs[i].first == 20 && i > 0 && pairs[i - 1].first == 10 && pairs[i - 3].second == "VERTEX") ys.push_back(std::stod(pairs[i].second));
  }
  EXPECT_EQ(polylines, 2);
  EXPECT_EQ(seqends, 2);
  EXPECT_GE(closed, 1);
  ASSERT_FALSE(ys.empty());
  EXPECT_DOUBLE_EQ(ys.front(), 40.0);  // (10, 10) from the top is 40 from the bottom
  EXPECT_NE(dxf.find("CFF0000"), std::string::npos);
  EXPECT_NE(dxf.find("\n40\n4\n"), std::string::npos);  // centre-line width
}

TEST(AutotraceWriters, FormatNames) {
  at::Format f;
  EXPECT_TRUE(at::FormatFromName("SVG", f));
  EXPECT_EQ(f, at::Format::Svg);
  EXPECT_TRUE(at::FormatFromName("PostScript", f));
  EXPECT_EQ(f, at::Format::Ps);
  EXPECT_TRUE(at::FormatFromName("emf", f));
  EXPECT_FALSE(at::FormatFromName("png", f));
  EXPECT_FALSE(at::FormatFromName("", f));
}

}  // namespace
