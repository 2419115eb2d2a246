// Every use of the GHO engine: restore a partition from an image, back a partition
// up into an image, check an image. Each builds one command line, runs it through
// the command interpreter and judges the run by its console text.
#pragma once

#include <string>

#include "onekey/services.h"
#include "platform/os.h"

namespace onekey {

std::string restoreCommandLine(const std::string& enginePath, const std::string& imagePath,
                               const std::string& targetIndex);
std::string backupCommandLine(const std::string& enginePath, const std::string& targetIndex,
                              const std::string& savePath);
std::string checkCommandLine(const std::string& enginePath, const std::string& imagePath);

// The engine prints nothing when it succeeds. A run whose interpreter never started
// printed nothing either, and is a failure.
struct GhostOutcome {
  bool succeeded = false;
  std::string errorText;  // what to show after "错误信息:"
};
GhostOutcome judgeGhostRun(const platform::CapturedRun& run);

inline constexpr char kInterpreterNotStarted[] = "无法启动命令解释器 cmd.exe,Ghost没有运行。";

// True when the path lies on the drive of targetDrive (C:\ or C:): restoring there
// would overwrite the image while it is read, backing up there images a moving target.
bool onTargetDrive(platform::FileSystem& files, const std::string& path, const std::string& targetDrive);

// Restores the image onto the selected partition after the user's confirmation,
// with the main window (and installWindow, when given) hidden during the run.
// Returns true when the engine ran, whatever its outcome.
bool ghostRestore(Services& s, ui::Window& mainWindow, const std::string& imagePath,
                  ui::Window* installWindow = nullptr);
// Backs the selected partition up into saveFile after the user's confirmation.
void ghostBackup(Services& s, ui::Window& mainWindow, const std::string& saveFile);
// Checks the chosen image's integrity and reports pass or fail.
void checkGhostImage(Services& s, ui::Window& mainWindow, const std::string& imagePath);

}  // namespace onekey
