// Every real platform service in one place, for the Windows compositions.
#pragma once

#include "platform/os.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/os_win32.h"

namespace win32 {

struct RealPlatform {
  // A composition may replace the view of the system (the simulated WinPE) or the
  // shell (tests that must not open a browser or end themselves).
  explicit RealPlatform(platform::SystemInfo* systemOverride = nullptr, platform::Shell* shellOverride = nullptr)
      : os{systemOverride ? *systemOverride : system, files,  volumes, processes,
           console,         power,          shellOverride ? *shellOverride : shell} {}
  System system;
  Files files;
  Volumes volumes;
  Processes processes;
  Console console;
  Power power;
  Shell shell;
  platform::Platform os;
};

}  // namespace win32
