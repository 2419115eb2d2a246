#include "app/power.h"

#include "core/operation_log.h"

namespace app {

void enableShutdownPrivilege(platform::Platform& os) { os.power.enableShutdownPrivilege(); }

void powerOffRequest(platform::Platform& os, unsigned flags, unsigned reason) {
  enableShutdownPrivilege(os);
  os.power.exitWindows(flags, reason);
}

namespace {

// Written before the request: once Windows goes down there is no later.
void logPowerAction(platform::Platform& os, const char* operation, const char* command) {
  core::OperationRecord record;
  record.operation = operation;
  record.options = command;
  record.start = record.end = os.system.localTime();
  record.succeeded = true;
  record.outcome = "已请求 Windows " + std::string(operation) + "。";
  core::appendOperationLog(os, record);
}

}  // namespace

void restart(platform::Platform& os) {
  logPowerAction(os, "重启", kRestartCommand);
  // The shell's own command does its clean-up first; Windows is asked regardless.
  os.processes.startHidden(kRestartCommand, kWaitIdleMs);
  powerOffRequest(os, kEwxReboot, kRestartReason);
}

void shutDown(platform::Platform& os) {
  logPowerAction(os, "关机", kShutdownCommand);
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
