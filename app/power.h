// Restarting or shutting the machine down after a finished operation.
#pragma once

#include "platform/os.h"

namespace app {

// ExitWindowsEx flags and the reasons given with them.
inline constexpr unsigned kEwxShutdown = 1;
inline constexpr unsigned kEwxReboot = 2;
inline constexpr unsigned kRestartReason = 0;
inline constexpr unsigned kShutdownReason = 0xFFFF;

inline constexpr char kRestartCommand[] = "PECMD.EXE SHUT R";
inline constexpr char kShutdownCommand[] = "PECMD.EXE SHUT";
inline constexpr unsigned kWaitIdleMs = 1000;

void enableShutdownPrivilege(platform::Platform& os);
// Enables the privilege and asks Windows; the program does not end itself.
void powerOffRequest(platform::Platform& os, unsigned flags, unsigned reason);

// Asks the WinPE shell first (a missing shell is ignored), then Windows directly.
void restart(platform::Platform& os);
void shutDown(platform::Platform& os);

// After a capture: the action, then one more request of the same kind.
void restartAfterCapture(platform::Platform& os);
void shutDownAfterCapture(platform::Platform& os);

}  // namespace app
