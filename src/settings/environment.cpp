#include "settings/environment.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr long kMaxJobs = 256;
constexpr long kMaxTimeout = 1000000000L;

// A whole decimal number from `least` to `most`.
bool ReadWhole(const char* text, long least, long most, long& value, std::string& why) {
  char* end = nullptr;
  const bool digits = *text >= '0' && *text <= '9';
  value = digits ? std::strtol(text, &end, 10) : 0;
  if (!digits || *end != '\0' || value < least || value > most) {
    why = "not a whole number from " + std::to_string(least) + (most < 1000000000L ? " to " + std::to_string(most) : "") +
          ": \"" + text + "\"";
    return false;
  }
  return true;
}

bool ReadSwitch(const char* text, bool& value, std::string& why) {
  if (std::strcmp(text, "0") == 0 || std::strcmp(text, "1") == 0) {
    value = *text == '1';
    return true;
  }
  why = std::string("not 0 or 1: \"") + text + "\"";
  return false;
}

bool ReadOne(const char* name, const char* text, EnvironmentSettings& settings, std::string& why) {
  long number = 0;
  bool on = false;
  if (std::strcmp(name, "TRACEWRIGHT_JOBS") == 0) {
    // More than the pool's limit is taken as the limit.
    if (!ReadWhole(text, 1, 1000000000L, number, why)) return false;
    settings.jobs = static_cast<int>(number > kMaxJobs ? kMaxJobs : number);
  } else if (std::strcmp(name, "TRACEWRIGHT_ENGINE_TIMEOUT") == 0) {
    if (!ReadWhole(text, 0, kMaxTimeout, number, why)) return false;
    settings.engineTimeout = static_cast<int>(number);
  } else if (std::strcmp(name, "TRACEWRIGHT_ENGINES_ON_DISK") == 0) {
    if (!ReadSwitch(text, settings.enginesOnDisk, why)) return false;
  } else if (std::strcmp(name, "TRACEWRIGHT_EXISTING") == 0) {
    if (std::strcmp(text, "number") == 0) {
      settings.existing = ExistingOutputs::kNumber;
    } else if (std::strcmp(text, "skip") == 0) {
      settings.existing = ExistingOutputs::kSkip;
    } else if (std::strcmp(text, "replace") == 0) {
      settings.existing = ExistingOutputs::kReplace;
    } else {
      why = std::string("not number, skip or replace: \"") + text + "\"";
      return false;
    }
  } else if (std::strcmp(name, "TRACEWRIGHT_REPORT") == 0) {
    settings.report = text;
  } else if (std::strcmp(name, "TRACEWRIGHT_EXIT") == 0) {
    if (std::strcmp(text, "posix") != 0 && std::strcmp(text, "design") != 0) {
      why = std::string("not posix or design: \"") + text + "\"";
      return false;
    }
    settings.posixExit = std::strcmp(text, "posix") == 0;
  } else if (std::strcmp(name, "TRACEWRIGHT_PROGRESS") == 0) {
    if (!ReadSwitch(text, on, why)) return false;
    settings.progress = on ? 1 : 0;
  } else if (std::strcmp(name, "TRACEWRIGHT_RECURSIVE") == 0) {
    if (!ReadSwitch(text, settings.recursive, why)) return false;
  }
  return true;
}

}  // namespace

bool ReadEnvironment(EnvironmentSettings& settings, std::string& why) {
  settings = EnvironmentSettings{};
  // TRACEWRIGHT_EXIT first, so that a refusal of any other value is told with its status.
  static const char* const kNames[] = {"TRACEWRIGHT_EXIT",     "TRACEWRIGHT_JOBS",     "TRACEWRIGHT_ENGINE_TIMEOUT",
                                       "TRACEWRIGHT_ENGINES_ON_DISK", "TRACEWRIGHT_EXISTING", "TRACEWRIGHT_REPORT",
                                       "TRACEWRIGHT_PROGRESS", "TRACEWRIGHT_RECURSIVE"};
  for (const char* name : kNames) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') continue;
    std::string reason;
    if (!ReadOne(name, text, settings, reason)) {
      why = std::string(name) + ": " + reason;
      return false;
    }
  }
  return true;
}

const EnvironmentSettings& Environment() {
  static const EnvironmentSettings settings = [] {
    EnvironmentSettings read;
    std::string why;
    if (!ReadEnvironment(read, why)) {
      // Keep what was read before the bad value; the run refuses it before it gets here.
    }
    return read;
  }();
  return settings;
}
