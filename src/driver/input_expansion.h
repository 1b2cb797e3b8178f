#pragma once
#include <string>
#include <vector>

#include "settings/output_names.h"

// Appends one job per file (not folder) directly in the pattern's folder whose name matches
// the pattern's last component, in name order; a match whose path is too long is left out
// with a failure line. Returns the number of jobs in the list.
int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs);
