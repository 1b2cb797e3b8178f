#include "image/io/format.h"

#include <cctype>
#include <cstdio>
#include <cstring>

uint32_t FormatIndex(ImageFormat type) {
  if (type <= 15) return type;
  if (type >= 17 && type <= 20) return type - 1;
  return 0;
}

namespace {

struct ExtensionRow {
  const char* extension;
  ImageFormat type;
};

constexpr ExtensionRow kExtensions[] = {
    {"bmp", FORMAT_BMP}, {"gif", FORMAT_GIF},  {"jpg", FORMAT_JPG},  {"jpeg", FORMAT_JPG},
    {"png", FORMAT_PNG}, {"ico", FORMAT_ICO},  {"tiff", FORMAT_TIF}, {"tif", FORMAT_TIF},
    {"tga", FORMAT_TGA}, {"pcx", FORMAT_PCX},  {"wbmp", FORMAT_WBMP}, {"wmf", FORMAT_WMF},
    {"emf", FORMAT_WMF}, {"jp2", FORMAT_JP2},  {"j2k", FORMAT_JP2},  {"jpc", FORMAT_JPC},
    {"j2c", FORMAT_JPC}, {"pgx", FORMAT_PGX},  {"pnm", FORMAT_PNM},  {"pgm", FORMAT_PNM},
    {"ppm", FORMAT_PNM}, {"ras", FORMAT_RAS},  {"mng", FORMAT_MNG},  {"jng", FORMAT_MNG},
    {"webp", FORMAT_WEBP},
};

}  // namespace

ImageFormat FormatFromExtension(const char* extension) {
  if (extension == nullptr) return FORMAT_UNKNOWN;
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const ExtensionRow& row : kExtensions) {
    if (lower == row.extension) return row.type;
  }
  return FORMAT_UNKNOWN;
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return "";
  return path.substr(dot + 1);
}

ImageFormat FormatFromSignature(const char* path) {
  if (path == nullptr) return FORMAT_UNKNOWN;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return FORMAT_UNKNOWN;
  unsigned char b[12];
  const size_t got = std::fread(b, 1, sizeof(b), f);
  std::fclose(f);
  if (got < 10) return FORMAT_UNKNOWN;
  if ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')) return FORMAT_TIF;
  if (b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return FORMAT_PNG;
  if (b[0] == 0xFF && b[1] == 0xD8) return FORMAT_JPG;
  if (got == 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0) return FORMAT_WEBP;
  return FORMAT_UNKNOWN;
}
