// The first call of the program and of every carried tool. Without it a drive with
// no medium (an empty card reader or DVD drive) touched by a search raises the
// system's "no disk" box, which blocks the run behind a hidden window; with it the
// call just fails. Process-wide, so worker threads and children get it too.
#pragma once

#include <windows.h>

namespace win32 {

// Adds SEM_FAILCRITICALERRORS to the bits already set (SetErrorMode replaces them all).
inline void failCriticalErrorsSilently() {
  SetErrorMode(SetErrorMode(SEM_FAILCRITICALERRORS) | SEM_FAILCRITICALERRORS);
}

}  // namespace win32
