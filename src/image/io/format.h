#pragma once
// Numeric format types that select a codec, and how a type is guessed from a name or bytes.
#include <cstdint>
#include <string>

using ImageFormat = uint32_t;

constexpr ImageFormat FORMAT_UNKNOWN = 0;
constexpr ImageFormat FORMAT_BMP = 1;
constexpr ImageFormat FORMAT_GIF = 2;
constexpr ImageFormat FORMAT_JPG = 3;
constexpr ImageFormat FORMAT_PNG = 4;
constexpr ImageFormat FORMAT_ICO = 5;
constexpr ImageFormat FORMAT_TIF = 6;
constexpr ImageFormat FORMAT_TGA = 7;
constexpr ImageFormat FORMAT_PCX = 8;
constexpr ImageFormat FORMAT_WBMP = 9;
constexpr ImageFormat FORMAT_WMF = 10;
constexpr ImageFormat FORMAT_JP2 = 11;
constexpr ImageFormat FORMAT_JPC = 12;
constexpr ImageFormat FORMAT_PGX = 13;
constexpr ImageFormat FORMAT_PNM = 14;
constexpr ImageFormat FORMAT_RAS = 15;
constexpr ImageFormat FORMAT_MNG = 17;
constexpr ImageFormat FORMAT_SKA = 18;
constexpr ImageFormat FORMAT_RAW = 19;
constexpr ImageFormat FORMAT_WEBP = 20;

// Dense index of the types that have a codec: 0..15 map to themselves, 17..20 to 16..19,
// everything else to 0.
uint32_t FormatIndex(ImageFormat type);

// The extension without its dot, any case ("BMP", "jpeg"); 0 when not in the table.
ImageFormat FormatFromExtension(const char* extension);

// The part of path after the last dot of its file name, without the dot ("" when none).
std::string ExtensionOf(const std::string& path);

// Looks at the first bytes of the file: TIFF, PNG, JPEG or WebP; 0 otherwise.
ImageFormat FormatFromSignature(const char* path);
