// Win32 handles in the tools: the program's own owners (platform/win32/handles_win32.h),
// and a close that says whether the system took it.
#pragma once

#include <windows.h>

#include "platform/win32/handles_win32.h"

namespace toolio {

using win32::FindHandle;
using win32::UniqueHandle;

// Closes now: closing a file just written is where its last write error shows.
inline bool closeAndCheck(UniqueHandle& handle) {
  const HANDLE h = handle.release();
  return h == nullptr || h == INVALID_HANDLE_VALUE || CloseHandle(h) != 0;
}

}  // namespace toolio
