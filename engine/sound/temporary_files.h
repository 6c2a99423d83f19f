// Output files are written under a temporary hidden name beside their
// destination and renamed when complete. The name says whose it is,
// ".vk-<machine>-<pid>-<random>", so that what a killed process left behind
// can be told from the files of one still running, here or on another
// machine sharing the folder. It is short, so it fits wherever the final
// name fits.
#pragma once

#include <string>

namespace varkel::engine {

// The mkstemp pattern for a temporary in folder.
std::string temporaryPattern(const std::string& folder);

// Removes the temporaries in folder whose process, on this machine, is gone,
// files and folders alike (a distributed batch keeps its work in a folder of
// its own); leaves everything else, and those of other machines, alone.
// Returns how many it removed.
int removeStaleTemporaries(const std::string& folder);

}  // namespace varkel::engine
