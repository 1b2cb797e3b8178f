#include "pipeline/diagnostics.h"

#include <cstdio>
#include <cstring>

void ReportFailure(const std::string& subject, const std::string& reason) {
  std::fprintf(stderr, "tracewright: %s: %s\n", subject.c_str(), reason.c_str());
  std::fflush(stderr);
}

std::string SystemError(int error) { return std::strerror(error); }
