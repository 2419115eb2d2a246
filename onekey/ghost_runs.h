// Every use of the GHO engine: restore a partition from an image, back a partition
// up into an image, check an image. Each builds one command line, runs it through
// the command interpreter and judges the run by its console text.
#pragma once

#include <string>

#include "core/request.h"
#include "onekey/services.h"
#include "platform/os.h"

namespace onekey {

std::string restoreCommandLine(const std::string& enginePath, const std::string& imagePath,
                               const std::string& targetIndex);
std::string backupCommandLine(const std::string& enginePath, const std::string& targetIndex,
                              const std::string& savePath);
std::string checkCommandLine(const std::string& enginePath, const std::string& imagePath);

// The engine prints nothing when it succeeds, or only notice lines, each beginning
// "提示: " (a restore whose NTFS could not be grown to fill the partition: the data
// is all there). Anything else is a failure, and so is a run whose interpreter never
// started, which printed nothing either.
struct GhostOutcome {
  bool succeeded = false;
  std::string errorText;  // what to show after "错误信息:"
  std::string notice;     // a success's notice lines, without the last line end
};
GhostOutcome judgeGhostRun(const platform::CapturedRun& run);
inline constexpr char kEngineNoticePrefix[] = "提示: ";

inline constexpr char kInterpreterNotStarted[] = "无法启动命令解释器 cmd.exe,Ghost没有运行。";

// True unless VrelPELite.ini's Config/CheckImage is 0: every GHO backup is then
// checked with the engine's image check before the user is told it is done.
bool checksAfterBackup(platform::Platform& os);

// The two runs on a partition expect a request that the one-key checks have passed.

// Restores the request's image onto its target after the user's confirmation, with
// the main window (and installWindow, when given) hidden during the run. Returns
// true when the engine ran, whatever its outcome.
bool ghostRestore(Services& s, ui::Window& mainWindow, const core::Request& request,
                  ui::Window* installWindow = nullptr);
// Backs the request's target up into its image path after the user's confirmation,
// then checks the image (checksAfterBackup): a damaged one is a failed backup.
void ghostBackup(Services& s, ui::Window& mainWindow, const core::Request& request);
// Checks the chosen image's integrity and reports pass or fail.
void checkGhostImage(Services& s, ui::Window& mainWindow, const std::string& imagePath);

}  // namespace onekey
