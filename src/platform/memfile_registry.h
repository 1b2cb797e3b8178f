#pragma once
// In-memory files registered under real-looking paths (the provisioned engines). File
// queries and process start ask here before they touch the disk.
#include <string>

// True, with the descriptor of the in-memory file, when `path` names a registered one.
bool LookupMemFile(const std::string& path, int& fd);
