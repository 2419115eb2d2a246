#include "app/program.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "payload/payload.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_os.h"
#include "platform/win32/win32_ui.h"

namespace app {

int runProgram(platform::SystemInfo* systemOverride) {
  win32::System system;
  win32::Files files;
  win32::Volumes volumes;
  win32::Processes processes;
  win32::Console console;
  win32::Power power;
  win32::Shell shell;
  platform::Platform os{systemOverride ? *systemOverride : system, files, volumes, processes, console, power, shell};
  win32::WindowSystem windows;
  AppState state;
  Context ctx{os, windows, state, [](std::string_view name) { return payloadFor(name); }};
  MainWindow mainWindow(ctx);
  return windows.runMain(mainWindow);
}

}  // namespace app
