#include <zlib.h>

#include <cstdio>

#include "numfmt.h"
#include "output.h"
#include "ps_operators.h"

namespace at {
namespace {

std::string Content(const Drawing& drawing, double s) {
  std::string out = "q " + Num(s, 6) + " 0 0 " + Num(-s, 6) + " 0 " + Num(drawing.height * s) + " cm 1 J 1 j\n";
  const PsDialect pdf{.closePath = "h", .strokeColour = " RG\n", .fillColour = " rg\n",
                      .strokeUnderlay = " w 0 J S 1 J\n", .stroke = " w S\n", .fill = "f*\n"};
  AppendPaintOperators(out, drawing, pdf);
  out += "Q\n";
  return out;
}

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), 6) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

}  // namespace

// A one-page PDF whose page is the image's size; the content is drawn in pixel units under
// a matrix that scales to points and flips y.
std::string WritePdf(const Drawing& drawing) {
  const double s = 72.0 / drawing.dpi;
  const std::string content = Content(drawing, s);
  std::string packed = Deflate(content);
  const bool deflated = !packed.empty();
  if (!deflated) packed = content;
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(out.size());
    out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Num(drawing.width * s) + " " + Num(drawing.height * s) +
         "] /Resources << >> /Contents 4 0 R >>");
  object("<< /Length " + std::to_string(packed.size()) + (deflated ? " /Filter /FlateDecode" : "") + " >>\nstream\n" +
         packed + "\nendstream");
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace at
