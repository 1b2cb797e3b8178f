#include "platform/memfile_registry.h"

// Nothing is registered yet; engine provisioning fills this in.
bool LookupMemFile(const std::string& /*path*/, int& /*fd*/) { return false; }
