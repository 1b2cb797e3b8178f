#include "pipeline/delivery.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/running_child.h"
#include "platform/temp_files.h"
#include "settings/output_names.h"

namespace {

constexpr int kMaxPublishAttempts = 1000;

std::string FolderOf(const std::string& path) {
  const PathParts parts = SplitPath(path);
  return parts.dir.empty() ? "./" : parts.dir;
}

std::string ReadTail(const std::string& path, std::size_t bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  std::string tail(bytes, '\0');
  std::size_t got = 0;
  if (std::fseek(file, -static_cast<long>(bytes), SEEK_END) != 0) std::fseek(file, 0, SEEK_SET);
  got = std::fread(tail.data(), 1, bytes, file);
  std::fclose(file);
  tail.resize(got);
  return tail;
}

bool EndsWithToken(const std::string& path, const char* token) {
  std::string tail = ReadTail(path, 64);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
  const std::size_t n = std::strlen(token);
  return tail.size() >= n && tail.compare(tail.size() - n, n, token) == 0;
}

// Next header number of a PNM file, skipping blanks and comment lines; -1 at a bad byte.
long long ReadHeaderNumber(std::FILE* file) {
  int c = std::fgetc(file);
  for (;;) {
    if (c == '#') {
      while (c != '\n' && c != EOF) c = std::fgetc(file);
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      c = std::fgetc(file);
    } else {
      break;
    }
  }
  if (c < '0' || c > '9') return -1;
  long long value = 0;
  while (c >= '0' && c <= '9' && value < (1LL << 40)) {
    value = value * 10 + (c - '0');
    c = std::fgetc(file);
  }
  return value;  // the single blank after the last number has been read as well
}

// A binary PGM is whole when it holds as many samples as its header promises.
bool PgmIsWhole(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  const bool magic = std::fgetc(file) == 'P' && std::fgetc(file) == '5';
  const long long width = magic ? ReadHeaderNumber(file) : -1;
  const long long height = width >= 0 ? ReadHeaderNumber(file) : -1;
  const long long maxval = height >= 0 ? ReadHeaderNumber(file) : -1;
  const long header = std::ftell(file);
  std::fclose(file);
  if (maxval <= 0 || maxval > 65535 || header < 0) return false;
  const long long samples = width * height * (maxval > 255 ? 2 : 1);
  return FileSize(path) >= header + samples;
}

// A device or pipe gets the engine's result from a private file in the temporary folder,
// copied to it once whole: the engine's own standard output is a pipe to this program, and
// an engine writing a device itself could not be told from one that succeeded.
bool BeginInPlaceOutput(const std::string& outputPath, PendingOutput& pending, std::string& why) {
  pending.inPlace = true;
  const std::string extension = SplitPath(outputPath).ext;
  std::string reason;
  if (MakeTempPath(extension.c_str(), pending.target, reason)) return true;
  why = "cannot make a temporary file: " + reason;
  pending.target.clear();
  return false;
}

bool PublishInPlace(PendingOutput& pending, std::string& why) {
  std::string reason;
  const bool written = WriteInPlace(pending.target, pending.chosen, reason);
  if (!written) why = "cannot write " + pending.chosen + ": " + reason;
  AbandonOutput(pending);
  return written;
}

}  // namespace

bool BeginOutput(const std::string& outputPath, PendingOutput& pending, std::string& why) {
  pending = PendingOutput{outputPath, outputPath, outputPath, false, -1, std::chrono::steady_clock::now()};
  if (ClassifyOutputName(outputPath) == OutputNameUse::kInPlace) return BeginInPlaceOutput(outputPath, pending, why);
  const std::string folder = FolderOf(outputPath);
  // Made and listed in one step, so that an interrupt deletes it or finds nothing made.
  InterruptBlock block;
  if (!EnterGuardedStep()) {
    why = "interrupted";
    return false;
  }
  std::string reason;
  // The run's process number in the name tells a later run whether its owner is alive.
  const std::string prefix = ".trw-" + std::to_string(::getpid()) + "-";
  const bool made = CreateUniqueFile(folder, prefix, ".part", pending.target, reason);
  if (made) pending.slot = ListPendingOutput(pending.target);
  LeaveGuardedStep();
  if (!made) why = "cannot write in " + folder + ": " + reason;
  return made;
}

void AbandonOutput(PendingOutput& pending) {
  if (pending.target.empty()) return;
  DeleteFilePath(pending.target);
  if (!pending.inPlace) UnlistPendingOutput(pending.slot);
  pending.target.clear();
}

bool PublishOutput(PendingOutput& pending, std::string& why) {
  if (FileSize(pending.target) <= 0) {
    why = FileSystemFull(pending.target, pending.began) ? SystemError(ENOSPC) : "the engine wrote an empty file";
    AbandonOutput(pending);
    return false;
  }
  if (pending.inPlace) return PublishInPlace(pending, why);
  std::string name = pending.chosen;
  for (int attempt = 0; attempt < kMaxPublishAttempts; ++attempt) {
    bool taken = false;
    std::string reason;
    if (RenameNoReplace(pending.target, name, taken, reason)) {
      UnlistPendingOutput(pending.slot);
      pending.target.clear();
      pending.chosen = name;
      return true;
    }
    if (!taken) {
      why = "cannot create " + name + ": " + reason;
      break;
    }
    // Another run took the name since it was chosen: the next free one by the same rule.
    name = pending.base;
    MakeUniqueOutputName(name);
  }
  if (why.empty()) why = "no free name for " + pending.base;
  AbandonOutput(pending);
  return false;
}

bool PublishOutputAs(PendingOutput& pending, const std::string& name, bool replace, bool& taken, std::string& why) {
  taken = false;
  if (pending.inPlace) return true;
  if (FileSize(pending.target) <= 0) {
    why = FileSystemFull(pending.target, pending.began) ? SystemError(ENOSPC) : "the engine wrote an empty file";
    AbandonOutput(pending);
    return false;
  }
  std::string reason;
  bool moved = false;
  if (replace) {
    moved = std::rename(pending.target.c_str(), name.c_str()) == 0;
    if (!moved) reason = SystemError(errno);
  } else {
    moved = RenameNoReplace(pending.target, name, taken, reason);
  }
  if (!moved) {
    if (!taken) why = "cannot create " + name + ": " + reason;
    AbandonOutput(pending);
    return false;
  }
  UnlistPendingOutput(pending.slot);
  pending.target.clear();
  pending.chosen = name;
  return true;
}

bool OutputLooksWhole(const PendingOutput& pending, const std::string& extension, std::string& why) {
  const std::string& path = pending.target;
  const bool xfig = EqualNoCase(extension, "xfig");
  bool whole = true;
  if (EqualNoCase(extension, "svg") || EqualNoCase(extension, "gimppath")) {
    whole = EndsWithToken(path, "</svg>");
  } else if (EqualNoCase(extension, "dxf")) {
    whole = EndsWithToken(path, "EOF");
  } else if (EqualNoCase(extension, "pgm")) {
    whole = PgmIsWhole(path);
  } else if (!xfig) {
    // PDF and every PostScript flavour, potrace's default, end in %%EOF.
    whole = EndsWithToken(path, "%%EOF");
  }
  // A backend whose ending is not known is trusted unless the disk filled up under it.
  if (whole && xfig && FileSystemFull(path, pending.began)) whole = false;
  if (!whole) {
    why = FileSystemFull(path, pending.began) ? SystemError(ENOSPC) : "the engine left an incomplete file";
  }
  return whole;
}
