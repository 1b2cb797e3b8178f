#pragma once
// The whole program run: options, reading, tracing, writing. Returns the exit status.
#include <ostream>
#include <string>
#include <vector>

namespace at {

int RunTracer(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace at
