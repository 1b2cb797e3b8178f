// Build step: packs the engine executables into the form the program stores them in and
// writes a source file that links that data into the program.
//
//   embed_engines OUT.cpp DATA_DIR autotrace=PATH potrace=PATH pagerip=PATH
//
// Each executable is compressed into a zlib stream, combined with the key and cut into
// pieces (32-bit little-endian length + bytes), written to DATA_DIR/<tool>.pieces. OUT.cpp
// pulls those files in with the assembler's .incbin, which costs next to nothing to compile,
// and lists the pieces for the program.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "provision/stored_tools.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packed {
  std::string name;
  std::string piecesPath;
  std::vector<std::size_t> pieceSizes;  // stored sizes, length field included
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "embed_engines: %s\n", message.c_str());
  return false;
}

bool ReadFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return static_cast<bool>(out);
}

// An engine is rebuilt each time a run first starts it, so speed of rebuilding counts more
// than size. Only stretches that deflate to under a tenth (padding, tables of zeros) are
// compressed; the rest are kept as stored blocks inside the stream, and rebuilding those is a
// plain copy. Measured on pagerip (3.8 MB): 1.3 ms to make it available against 0.65 ms for
// writing its bytes once, where compressing every stretch that deflates to under 30% took
// 2.0 ms for 0.3 MB less program.
constexpr std::size_t kStretch = 64 * 1024;
constexpr double kStoreAboveRatio = 0.1;

int LevelForStretch(const std::uint8_t* data, std::size_t size) {
  uLongf packed = compressBound(static_cast<uLong>(size));
  Bytes trial(packed);
  if (compress2(trial.data(), &packed, data, static_cast<uLong>(size), 9) != Z_OK) return 9;
  return static_cast<double>(packed) > kStoreAboveRatio * static_cast<double>(size) ? 0 : 9;
}

bool Deflate(const Bytes& in, Bytes& out) {
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) return false;
  const std::size_t stretches = in.size() / kStretch + 1;
  out.resize(compressBound(static_cast<uLong>(in.size())) + 64 * stretches + 1024);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int level = 9;
  bool ok = true;
  for (std::size_t at = 0; ok && at < in.size(); at += kStretch) {
    const std::size_t size = std::min(kStretch, in.size() - at);
    const int wanted = LevelForStretch(in.data() + at, size);
    if (wanted != level) {
      ok = deflateParams(&z, wanted, Z_DEFAULT_STRATEGY) == Z_OK;
      level = wanted;
    }
    z.next_in = const_cast<Bytef*>(in.data() + at);
    z.avail_in = static_cast<uInt>(size);
    const bool last = at + size == in.size();
    const int status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
    ok = ok && (last ? status == Z_STREAM_END : status == Z_OK) && z.avail_in == 0;
  }
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return ok;
}

bool Compress(const Bytes& in, Bytes& out) {
  if (!Deflate(in, out)) return false;
  // The program trusts this data at every start, so it is checked once here.
  Bytes back(in.size());
  uLongf backSize = static_cast<uLongf>(back.size());
  return uncompress(back.data(), &backSize, out.data(), static_cast<uLong>(out.size())) == Z_OK &&
         backSize == in.size() && back == in;
}

void AppendLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Scrambles the stream and cuts it into pieces; returns the stored bytes.
std::string CutIntoPieces(const Bytes& stream, std::vector<std::size_t>& pieceSizes) {
  std::string stored;
  for (std::size_t at = 0; at < stream.size(); at += kMaxPieceBytes) {
    const std::size_t length = std::min(kMaxPieceBytes, stream.size() - at);
    AppendLe32(stored, static_cast<std::uint32_t>(length));
    for (std::size_t i = 0; i < length; ++i) {
      stored.push_back(static_cast<char>(stream[at + i] ^ kStoredToolKey));
    }
    pieceSizes.push_back(kPieceHeaderBytes + length);
  }
  return stored;
}

bool PackTool(const std::string& name, const std::string& exe, const std::string& dataDir,
              Packed& packed) {
  Bytes image;
  if (!ReadFile(exe, image)) return Fail("cannot read the " + name + " executable " + exe);
  if (image.empty()) return Fail("the " + name + " executable " + exe + " is empty");
  Bytes stream;
  if (!Compress(image, stream)) return Fail("cannot compress " + exe);
  packed.name = name;
  packed.piecesPath = dataDir + "/" + name + ".pieces";
  if (!WriteFile(packed.piecesPath, CutIntoPieces(stream, packed.pieceSizes))) {
    return Fail("cannot write " + packed.piecesPath);
  }
  return true;
}

// The path goes into an assembler string inside a C++ string; rather than escape it twice,
// paths that would need escaping are refused.
bool PlainPath(const std::string& path) {
  return path.find_first_of("\"\\\n\r") == std::string::npos;
}

std::string Symbol(const Packed& packed) { return "tw_stored_" + packed.name; }

std::string GenerateSource(const std::vector<Packed>& tools) {
  std::ostringstream src;
  src << "// Generated by embed_engines from the engine executables. Do not edit.\n"
      << "#include \"provision/stored_tools.h\"\n\n"
      << "__asm__(\n"
      << "    \".pushsection .rodata.tw_stored_tools,\\\"a\\\",@progbits\\n\"\n";
  for (const Packed& t : tools) {
    src << "    \".balign 16\\n\"\n"
        << "    \".globl " << Symbol(t) << "\\n\"\n"
        << "    \".hidden " << Symbol(t) << "\\n\"\n"
        << "    \"" << Symbol(t) << ":\\n\"\n"
        << "    \".incbin \\\"" << t.piecesPath << "\\\"\\n\"\n";
  }
  src << "    \".popsection\\n\");\n\n";
  for (const Packed& t : tools) {
    src << "extern \"C\" const std::uint8_t " << Symbol(t) << "[];\n";
  }
  src << "\nnamespace {\n";
  for (const Packed& t : tools) {
    src << "\nconst StoredPiece k_" << t.name << "[] = {\n";
    std::size_t offset = 0;
    for (std::size_t size : t.pieceSizes) {
      src << "    {" << Symbol(t) << " + " << offset << ", " << size << "},\n";
      offset += size;
    }
    src << "};\n";
  }
  src << "\nconst StoredToolSet kStored = {{\n";
  for (const Packed& t : tools) {
    src << "    {k_" << t.name << ", " << t.pieceSizes.size() << "},\n";
  }
  src << "}};\n\n}  // namespace\n\n"
      << "extern \"C\" const StoredToolSet* TwBuiltInStoredTools() { return &kStored; }\n";
  return src.str();
}

// Finds "name=PATH" among the arguments.
bool ToolArgument(int argc, char** argv, const std::string& name, std::string& path) {
  const std::string prefix = name + "=";
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, prefix.size(), prefix) == 0) {
      path = arg.substr(prefix.size());
      return !path.empty();
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 + kToolCount) {
    std::fprintf(stderr,
                 "usage: embed_engines OUT.cpp DATA_DIR autotrace=PATH potrace=PATH "
                 "pagerip=PATH\n");
    return 2;
  }
  const std::string outSource = argv[1];
  const std::string dataDir = argv[2];
  if (!PlainPath(dataDir)) {
    Fail("the data folder's path holds a quote, backslash or line break: " + dataDir);
    return 1;
  }
  std::vector<Packed> tools(kToolCount);
  for (int i = 0; i < kToolCount; ++i) {
    std::string exe;
    if (!ToolArgument(argc, argv, kStoredToolNames[i], exe)) {
      Fail(std::string("no path given for ") + kStoredToolNames[i]);
      return 2;
    }
    if (!PackTool(kStoredToolNames[i], exe, dataDir, tools[i])) return 1;
  }
  if (!WriteFile(outSource, GenerateSource(tools))) {
    Fail("cannot write " + outSource);
    return 1;
  }
  return 0;
}
