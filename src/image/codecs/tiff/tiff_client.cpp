#include "image/codecs/tiff/tiff_client.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <mutex>

#include "image/core/checked_size.h"
#include "image/core/image.h"
#include "image/io/stream.h"

namespace {

TiffClient* ClientOf(thandle_t handle) { return static_cast<TiffClient*>(handle); }

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(ClientOf(handle)->stream->Read(buffer, 1, static_cast<size_t>(size)));
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(
      ClientOf(handle)->stream->Write(buffer, 1, static_cast<size_t>(size)));
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  TiffClient* client = ClientOf(handle);
  constexpr toff_t kFail = static_cast<toff_t>(-1);
  // libtiff passes relative moves as two's complement in an unsigned offset.
  const int64_t signedOffset = static_cast<int64_t>(offset);
  int64_t target = 0;
  switch (whence) {
    case SEEK_SET:
      if (offset > static_cast<toff_t>(std::numeric_limits<int64_t>::max() - client->base))
        return kFail;
      target = client->base + signedOffset;
      break;
    case SEEK_CUR:
    case SEEK_END: {
      const int64_t from = whence == SEEK_CUR ? client->stream->Tell() : client->stream->Size();
      if (from < 0) return kFail;
      if (signedOffset > 0 && from > std::numeric_limits<int64_t>::max() - signedOffset)
        return kFail;
      target = from + signedOffset;
      break;
    }
    default:
      return kFail;
  }
  if (target < client->base) return kFail;
  if (!client->stream->Seek(target, SEEK_SET)) return kFail;
  return static_cast<toff_t>(client->stream->Tell() - client->base);
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) {
  TiffClient* client = ClientOf(handle);
  const int64_t size = client->stream->Size();
  return size > client->base ? static_cast<toff_t>(size - client->base) : 0;
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

void Format(char* out, size_t capacity, const char* module, const char* fmt, va_list ap) {
  char text[240];
  vsnprintf(text, sizeof text, fmt, ap);
  if (module != nullptr && module[0] != '\0') {
    snprintf(out, capacity, "%s: %s", module, text);
  } else {
    snprintf(out, capacity, "%s", text);
  }
}

int ErrorProc(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  TiffClient* client = static_cast<TiffClient*>(user);
  if (client != nullptr) Format(client->lastError, sizeof client->lastError, module, fmt, ap);
  return 1;
}

int WarningProc(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  TiffClient* client = static_cast<TiffClient*>(user);
  if (client != nullptr) Format(client->lastWarning, sizeof client->lastWarning, module, fmt, ap);
  return 1;
}

// Messages raised before a handle exists go to the process-wide handlers; the image layer
// never prints, so those are switched off once.
void SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

}  // namespace

TIFF* OpenTiffOverStream(TiffClient* client, const char* mode) {
  if (client == nullptr || client->stream == nullptr) return nullptr;
  SilenceGlobalHandlers();
  client->base = client->stream->Tell();
  if (client->base < 0) return nullptr;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(CXIMAGE_MAX_MEMORY));
  TIFFOpenOptionsSetErrorHandlerExtR(options, ErrorProc, client);
  TIFFOpenOptionsSetWarningHandlerExtR(options, WarningProc, client);
  TIFF* tif = TIFFClientOpenExt("CxStream", mode, static_cast<thandle_t>(client), ReadProc,
                                WriteProc, SeekProc, CloseProc, SizeProc, MapProc, UnmapProc,
                                options);
  TIFFOpenOptionsFree(options);
  return tif;
}
