// Path and size operations: file names, extensions and drive letters of paths, file
// sizes, and sizes in megabytes as the messages and lists show them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace core {

// The text after the last "\" of the path; the whole path when it has none.
std::string fileNameOf(std::string_view path);
// From the last dot of the last path element, dot included, as PathFindExtensionA
// finds it (a blank after the dot ends the extension); empty when there is none.
std::string extensionOf(std::string_view path);
// The upper-case drive letter a path or drive text (C:\, c:, C:\x.gho) begins with; 0 when none.
char driveLetterOf(std::string_view path);
// The file's size in bytes; 0 when the file cannot be opened.
std::uint64_t fileSizeOf(platform::FileSystem& files, const std::string& path);
// x rounded to n decimals; a value within 1e-7 of a tie goes to the even neighbour.
double roundHalfEven(double x, int n);
// Bytes as megabytes with two decimals, ties to even, in "%.13g" form (1.5, 0, 1024).
std::string sizeInMegabytesText(std::uint64_t bytes);
// Bytes / 1048576 rounded as sizeInMegabytesText rounds it.
double sizeInMegabytes(std::uint64_t bytes);
// The integer part of the size in megabytes.
std::string wholeMegabytesText(std::uint64_t bytes);

// A WIM capture's scratch folder: the save path's first three characters (its drive
// root) + ImagexTemp. It is removed with all it holds after every capture.
inline constexpr char kScratchFolderName[] = "ImagexTemp";
std::string scratchFolderFor(const std::string& savePath);

}  // namespace core
