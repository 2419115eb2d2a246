// The guard against a second WIM engine, and stopping a running one.
#pragma once

#include <string>

#include "core/context.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace wim {

inline constexpr char kRestoreBusyQuestion[] =
    "检测到有其他Imagex.exe正在运行,是否终止？\r\n注意:如果不终止其他Imagex.exe,可能会影响Imagex还原。";
inline constexpr char kApplyStopQuestion[] = "Imagex正在操作,是否终止？";
inline constexpr char kCaptureStopQuestion[] = "Imagex正在备份,是否退出？";
std::string captureBusyQuestion(const std::string& engineName);

// Processes are matched on the executable file name only, never on the path.
bool processExistsByName(platform::Processes& processes, const std::string& name, bool caseMatters = false);
unsigned long findProcessIdByName(platform::Processes& processes, const std::string& name,
                                  bool caseMatters = false);
// Terminates the first match with exit code 0; further copies keep running.
bool terminateProcessByName(platform::Processes& processes, const std::string& name);
void suspendProcess(platform::Processes& processes, unsigned long pid, bool suspendIt);

// The WIM engine to start: on a 64-bit host the x86-64 one where it was written (a
// 32-bit engine would find no 32-bit wimgapi.dll there), else the one that matches
// the program. The one place the info, apply and capture command lines take it from.
inline std::string enginePathFor(core::Context& ctx) {
  const core::ToolPaths& tools = ctx.state.tools;
  return ctx.os.system.isWow64() && !tools.engine64Path.empty() ? tools.engine64Path : tools.enginePath;
}

// The engine's file name: everything after the last backslash of its path.
std::string engineName(const core::AppState& state);

// Before a start: true when no engine runs, or the user agreed to end the one found.
bool confirmNoOtherEngine(core::Context& ctx, ui::Window* owner, const std::string& question);

// While our engine runs: freezes the process (0: none yet), asks, and resumes it, so
// that it is never left frozen whatever comes next. True when the user chose to stop.
bool askToStopEngine(core::Context& ctx, ui::Window* owner, const std::string& question, unsigned long enginePid);

}  // namespace wim
