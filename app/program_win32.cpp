#include "app/program.h"

#include "core/app_state.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "payload/payload.h"
#include "platform/win32/error_mode_win32.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"

namespace app {

int runProgram(platform::SystemInfo* systemOverride, core::PayloadSource payloads) {
  win32::failCriticalErrorsSilently();
  win32::RealPlatform real(systemOverride);
  win32::WindowSystem windows;
  core::AppState state;
  if (!payloads) payloads = [](std::string_view name) { return payloadFor(name); };
  core::Context ctx{real.os, windows, state, payloads};
  MainWindow mainWindow(ctx);
  return windows.runMain(mainWindow);
}

}  // namespace app
