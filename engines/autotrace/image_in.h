#pragma once
// Reading the image to trace, through the program's image layer: every format it reads.
#include <cstdint>
#include <string>
#include <vector>

#include "types.h"

namespace at {

// Decodes `bytes` into 8-bit RGB; alpha is composited over white. `format` is "" (by
// contents) or one of the names ListInputFormats() gives, in any letter case.
bool DecodeImage(const std::vector<uint8_t>& bytes, const std::string& format, Image& image,
                 std::string& error);

bool ReadImageFile(const std::string& path, const std::string& format, Image& image,
                   std::string& error);

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error);
bool DecodePnm(const std::vector<uint8_t>& bytes, Image& image, std::string& error);
bool DecodeBmp(const std::vector<uint8_t>& bytes, Image& image, std::string& error);

const std::vector<std::string>& ListInputFormats();

// True when width x height is a size we are willing to hold; sets a message otherwise.
bool CheckImageSize(uint64_t width, uint64_t height, std::string& error);

}  // namespace at
