#pragma once
// OpenJPEG's stream and message callbacks over a CxStream, shared by the JPEG 2000 reader
// and writer.
#include <openjpeg.h>

#include <cstdint>

class CxStream;

struct OpjClient {
  CxStream* stream = nullptr;
  int64_t base = 0;
  char lastError[256] = {};
};

// A library stream over client->stream, from client->base on; nullptr when it cannot be made.
opj_stream_t* MakeStream(OpjClient* client, bool input);
// Keeps the codec's last error in client->lastError and drops its warnings and notes.
void QuietCodec(opj_codec_t* codec, OpjClient* client);
