#pragma once
#include <string>
#include <vector>

#include "settings/output_names.h"

// Appends one job per file (not folder) directly in the pattern's folder whose name matches
// the pattern's last component, in name order; a match whose path is too long is left out
// with a failure line, and so are the program's own private output files. Returns the
// number of jobs in the list.
int ExpandInputPattern(const std::string& pattern, std::vector<FilePair>& jobs);

// Appends one job per file of the folder and, after them, of each sub-folder in name order,
// depth first. A folder met again through a link is not entered twice; hidden folders, the
// output folder (`outputFolder`, when it lies inside) and the program's own private files
// are left out. `subfolders` gets each job's folder below `folder` ("" or "scans/2024/").
int ExpandFolderTree(const std::string& folder, const std::string& outputFolder, std::vector<FilePair>& jobs,
                     std::vector<std::string>& subfolders);

// Puts each named job's output into the sub-folder of its input below the output folder,
// and makes the folders it needs (a folder that cannot be made fails its jobs later).
void MirrorSubfolders(const std::vector<std::string>& subfolders, std::vector<FilePair>& jobs);
