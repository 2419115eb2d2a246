// What goes wrong in the ISO tool, from the image reader to the mount: one
// vocabulary, its Chinese lines in one table (problem.cpp). Lines never repeat a
// path: the caller shows them as they are, and a file name must not be able to pass
// for another message.
#pragma once

#include <string>

namespace iso {

enum class Problem {
  None,
  BadCommandLine,
  ImageMissing,
  ImageUnreadable,   // the image could not be read
  NotAnImage,        // no ISO 9660 or UDF volume found
  ImageCorrupt,      // structures that contradict themselves or point outside the image
  ImageUnsupported,  // valid but of a kind this reader does not handle (UDF virtual partitions)
  UnsafeName,
  FolderNotCreated,
  WriteFailed,
  DiskFull,
  Cancelled,
  LetterInUse,
  MountFailed,
  MountUnsupported,
  DetachFailed,
};

// A Chinese (GBK) error line.
std::string messageLine(Problem problem);

}  // namespace iso
