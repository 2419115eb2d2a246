// The image files of the system the engine runs on: Windows (wide-character paths,
// FAT destinations found through the volume's file-system name) or Linux (FAT from
// statfs, so the span rule works on a mounted FAT32 stick too).
#pragma once

#include <memory>

#include "tools/ghost/spans.h"

namespace ghost {

std::unique_ptr<Files> platformFiles();

}  // namespace ghost
