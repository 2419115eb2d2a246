// Image and target folder over POSIX files, for the Linux build.
#pragma once

#include <memory>
#include <string>

#include "tools/iso/extract.h"
#include "tools/iso/volume.h"

namespace iso {

std::unique_ptr<ImageSource> openPosixImage(const std::string& path);
// Creates the folder and its parents when missing; null when that fails.
std::unique_ptr<OutputTree> openPosixFolder(const std::string& path);

}  // namespace iso
