#include "app/power.h"

namespace app {

void enableShutdownPrivilege(platform::Platform& os) { os.power.enableShutdownPrivilege(); }

void powerOffRequest(platform::Platform& os, unsigned flags, unsigned reason) {
  enableShutdownPrivilege(os);
  os.power.exitWindows(flags, reason);
}

void restart(platform::Platform& os) {
  // The shell's own command does its clean-up first; Windows is asked regardless.
  os.processes.startHidden(kRestartCommand, kWaitIdleMs);
  powerOffRequest(os, kEwxReboot, kRestartReason);
}

void shutDown(platform::Platform& os) {
  os.processes.startHidden(kShutdownCommand, kWaitIdleMs);
  powerOffRequest(os, kEwxShutdown, kShutdownReason);
}

void restartAfterCapture(platform::Platform& os) {
  restart(os);
  powerOffRequest(os, kEwxReboot, kRestartReason);
}

void shutDownAfterCapture(platform::Platform& os) {
  shutDown(os);
  powerOffRequest(os, kEwxShutdown, kShutdownReason);
}

}  // namespace app
