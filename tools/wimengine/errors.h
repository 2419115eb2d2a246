// What went wrong, independent of the library that reported it, and the Chinese
// line the user reads. Error lines never repeat paths or other arguments: the program
// judges an apply by the word "Successfully" anywhere in the output, and a file name
// must not be able to fake it.
#pragma once

#include <cstdint>
#include <string>

namespace wimengine {

enum class ErrorKind {
  None,  // it worked
  WimMissing,
  WimUnreadable,
  WimCorrupt,
  WimUnsupported,
  WimSplit,
  WimIsFolder,
  WimNotAFile,  // a device, a pipe or another special file
  SplitNotFirstPart,  // part: the chosen part's number, name: the first part's file name
  SplitPartMissing,   // part: the missing part's number, name: its expected file name
  SplitPartForeign,   // name: a file named like a part that belongs to another image
  EsdNeedsNewerWimgapi,  // name: the loaded wimgapi.dll's version
  IndexOutOfRange,
  TargetMissing,
  TargetNotWritable,
  TargetNotFolder,
  SourceMissing,
  SourceUnreadable,
  DestinationNotWritable,
  DestinationNotAFile,
  TempDirMissing,
  DiskFull,
  OutOfMemory,
  // The capture wrote the whole image, which then did not read back as it was
  // written: kept under its name for the user to look at, never restorable as it is.
  WrittenImageDamaged,
  LibraryMissing,       // wimgapi.dll could not be loaded, for another reason (code: the loader's)
  LibraryNotFound,      // the system has no wimgapi.dll
  LibraryWrongBitness,  // the one found is built for the other bitness (32/64)
  LibraryTooOld,        // name: the first entry point it lacks
  Other,
};

// Which step failed: the same OS error means different things in different steps.
enum class Step { OpenWim, ReadWim, WriteTarget, ReadSource, WriteWim };

// What an operation came to: nothing (it worked), or what failed.
struct Failure {
  ErrorKind kind = ErrorKind::None;
  std::int64_t code = 0;         // the library's or OS's code, shown for diagnosis; 0 = none
  std::uint32_t imageCount = 0;  // IndexOutOfRange: how many images the file has
  std::string library;           // which WIM library failed, where the engine has two; empty = unnamed
  std::uint32_t part = 0;        // split sets: the part concerned
  std::uint32_t totalParts = 0;  // split sets: how many parts the set has
  std::string name;              // a part's file name or a library version, as the kind says

  explicit operator bool() const { return kind != ErrorKind::None; }
};

Failure failedWith(ErrorKind kind, std::int64_t code = 0);
Failure indexOutOfRange(std::uint32_t imageCount);
// Why wimgapi.dll is unusable: the loader's error code (126 not found, 193 another
// bitness, others), or the entry point it lacks when that is not empty.
Failure libraryLoadFailure(std::uint32_t code, const std::string& missingEntry);

// One GBK line, "错误: ..." with the library and the code appended when known (the
// texts are in one table in errors.cpp).
std::string errorLine(const Failure& failure);

// Win32 error codes as WIMGAPI reports them (GetLastError, WIM_MSG_ERROR).
ErrorKind kindOfWin32Error(std::uint32_t code, Step step);

}  // namespace wimengine
