// Images kept in several files: a split set (install.swm, install2.swm, ...) is
// offered, sized and applied through its first part; the later parts travel with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace core {

// Whether the path names a split-set part file (.swm, any letter case).
bool isSplitPart(std::string_view path);

// A later part: a .swm file whose name ends in a number of 2 or more beside a first
// part named without it or with 1 (install2.swm beside install.swm or install1.swm).
// A lone numbered part is not one: nothing else could be offered for it.
bool isLaterSplitPart(platform::FileSystem& files, const std::string& path);

// Every part of the set whose first part is path, in part order: path itself, then
// <name>2.swm, <name>3.swm ... while they exist. A file that is no split part is alone.
std::vector<std::string> splitSetParts(platform::FileSystem& files, const std::string& path);

// The bytes of an image with all its parts; 0 for what cannot be read.
std::uint64_t imageSetSize(platform::FileSystem& files, const std::string& path);

// The WIM engine's pattern for the other parts: the first part's folder and name,
// then "*.swm" (D:\sources\install.swm -> D:\sources\install*.swm; a first part
// install1.swm followed by install2.swm gives install*.swm too).
std::string splitPartsPattern(platform::FileSystem& files, std::string_view firstPart);

}  // namespace core
