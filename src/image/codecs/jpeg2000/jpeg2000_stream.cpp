#include "image/codecs/jpeg2000/jpeg2000_stream.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "image/io/stream.h"

namespace {

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const size_t got = c->stream->Read(buffer, 1, n);
  return got == 0 ? static_cast<OPJ_SIZE_T>(-1) : got;
}

OPJ_SIZE_T WriteFn(void* buffer, OPJ_SIZE_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const size_t put = c->stream->Write(buffer, 1, n);
  return put == n ? put : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T SkipFn(OPJ_OFF_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const int64_t at = c->stream->Tell();
  if (at < 0 || (n > 0 && at > std::numeric_limits<int64_t>::max() - n)) return -1;
  if (at + n < c->base) return -1;
  return c->stream->Seek(at + n, SEEK_SET) ? n : -1;
}

OPJ_BOOL SeekFn(OPJ_OFF_T position, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  if (position < 0 || position > std::numeric_limits<int64_t>::max() - c->base) return OPJ_FALSE;
  return c->stream->Seek(c->base + position, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

void KeepError(const char* msg, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  snprintf(c->lastError, sizeof c->lastError, "%s", msg);
  // The library ends its lines with a newline; the image keeps a bare message.
  const size_t n = strlen(c->lastError);
  if (n > 0 && c->lastError[n - 1] == '\n') c->lastError[n - 1] = '\0';
}

void Ignore(const char*, void*) {}

}  // namespace

opj_stream_t* MakeStream(OpjClient* client, bool input) {
  opj_stream_t* s = opj_stream_create(65536, input ? OPJ_TRUE : OPJ_FALSE);
  if (s == nullptr) return nullptr;
  opj_stream_set_user_data(s, client, nullptr);
  if (input) {
    const int64_t size = client->stream->Size();
    opj_stream_set_user_data_length(
        s, size > client->base ? static_cast<OPJ_UINT64>(size - client->base) : 0);
    opj_stream_set_read_function(s, ReadFn);
  } else {
    opj_stream_set_write_function(s, WriteFn);
  }
  opj_stream_set_skip_function(s, SkipFn);
  opj_stream_set_seek_function(s, SeekFn);
  return s;
}

void QuietCodec(opj_codec_t* codec, OpjClient* client) {
  opj_set_error_handler(codec, KeepError, client);
  opj_set_warning_handler(codec, Ignore, client);
  opj_set_info_handler(codec, Ignore, client);
}
