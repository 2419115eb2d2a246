// From process start to a usable main window, and the common way out.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/context.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace app {

inline constexpr char kHomePage[] = "https://vrelpe.example.org/";
inline constexpr char kProductTitle[] = "VrelPE Lite 一键备份还原";
inline constexpr char kNotWinPEMessage[] =
    "本软件只可在WinPE环境下使用！\r\n\r\n请复制软件至U盘,在WinPE中运行。(支持GHO/WIM/ISO快速装机)";

// The Windows directory with a trailing backslash.
std::string windowsDirectoryText(platform::Platform& os);
bool isWinPE(platform::Platform& os);

// The tools folder for a temporary directory: the temporary directory itself, or
// the Windows directory's "\Vrel\" folder when the temporary path holds a hyphen or
// a blank. needsCreate tells whether that folder must be created first.
struct ToolsFolderChoice {
  std::string folder;
  bool needsCreate = false;
};
ToolsFolderChoice chooseToolsFolder(std::string tempDirectory, const std::string& windowsDirText);

// Chooses the tools folder, records the six tool paths and writes the six tools, and
// the x86-64 WIM engine where deployEngine64 does.
void deployTools(core::Context& ctx);
// A 32-bit program on a 64-bit host: the carried x86-64 WIM engine, written into the
// tools folder's x64 subfolder; engine64Path stays empty when it is not carried, not
// needed or cannot be written.
void deployEngine64(core::Context& ctx);

// Steps of the start-up sequence that other parts of the program provide.
struct StartupSteps {
  std::function<void()> scanImages;      // fills the image combo box
  std::function<void()> fillPartitions;  // fills the partition list
};

// Runs the start-up sequence in the main window's creation handler. Returns false
// when the program is not in WinPE (the message has been shown and the process ended).
bool runStartup(core::Context& ctx, ui::Window& mainWindow, ui::Control& statusBar, const StartupSteps& steps);

}  // namespace app
