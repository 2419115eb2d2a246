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
  IndexOutOfRange,
  TargetMissing,
  TargetNotWritable,
  TargetNotFolder,
  SourceMissing,
  SourceUnreadable,
  DestinationNotWritable,
  TempDirMissing,
  DiskFull,
  OutOfMemory,
  LibraryMissing,
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

  explicit operator bool() const { return kind != ErrorKind::None; }
};

Failure failedWith(ErrorKind kind, std::int64_t code = 0);
Failure indexOutOfRange(std::uint32_t imageCount);

// One GBK line, "错误: ..." with the library and the code appended when known (the
// texts are in one table in errors.cpp).
std::string errorLine(const Failure& failure);

// Win32 error codes as WIMGAPI reports them (GetLastError, WIM_MSG_ERROR).
ErrorKind kindOfWin32Error(std::uint32_t code, Step step);

}  // namespace wimengine
