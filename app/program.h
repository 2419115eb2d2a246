// The Windows composition root: real platform, real windows, the main window.
#pragma once

#include "core/context.h"
#include "platform/os.h"

namespace app {

// Runs the program to its end. A test composition may pass its own view of the
// system and its own carried tools (the simulated WinPE); the shipped program passes
// nothing.
int runProgram(platform::SystemInfo* systemOverride = nullptr, core::PayloadSource payloads = {});

}  // namespace app
