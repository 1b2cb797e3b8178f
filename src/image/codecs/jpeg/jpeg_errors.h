#pragma once
// How the JPEG decoder and encoder take libjpeg's errors: an error leaves the library by
// longjmp to the caller's setjmp with its text kept; nothing is printed, warnings included.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// Readies err with an empty message and returns what goes into the library's `err` field.
// The caller still calls setjmp(err.jump) before its first library call.
jpeg_error_mgr* UseJpegErrorManager(JpegErrorManager& err);
