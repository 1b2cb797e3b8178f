#pragma once
// Several PDF files gathered into one by pagerip: every page of each, in the order given,
// each keeping its own size. Used where one output must hold the pages that were traced one
// by one. The merge is an engine run of its own, under the engine time limit.
#include <string>
#include <vector>

// Writes every page of `inputs` (at least one) into `output`, whole or not at all. False,
// with the reason, when pagerip is missing or an input cannot be read or merged.
bool MergePdfFiles(const std::vector<std::string>& inputs, const std::string& output, std::string& why);
