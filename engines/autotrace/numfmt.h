#pragma once
// Compact, locale-independent number text for the writers.
#include <charconv>
#include <cmath>
#include <string>

namespace at {

// Appends v with at most `decimals` decimals and no trailing zeros.
inline void AppendNumber(std::string& out, double v, int decimals = 3) {
  if (!std::isfinite(v)) v = 0;
  const double scale = std::pow(10.0, decimals);
  v = std::round(v * scale) / scale;
  if (v == 0) v = 0;  // no "-0"
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  char* end = res.ptr;
  if (decimals > 0) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  out.append(buf, end);
}

inline std::string Num(double v, int decimals = 3) {
  std::string s;
  AppendNumber(s, v, decimals);
  return s;
}

}  // namespace at
