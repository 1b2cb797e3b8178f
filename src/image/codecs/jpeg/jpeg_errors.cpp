#include "image/codecs/jpeg/jpeg_errors.h"

namespace {

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

// Warnings are counted by the library; nothing is printed.
void OutputMessage(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* UseJpegErrorManager(JpegErrorManager& err) {
  jpeg_error_mgr* pub = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
  return pub;
}
