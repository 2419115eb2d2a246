#include "app/startup.h"

#include "core/carried_tools.h"
#include "core/message_box.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace app {

std::string windowsDirectoryText(platform::Platform& os) {
  std::string dir = os.system.windowsDirectory();
  if (!gbk::endsWithBackslash(dir)) dir += '\\';
  return dir;
}

bool isWinPE(platform::Platform& os) {
  const std::string dir = windowsDirectoryText(os);
  return gbk::asciiUpper(dir[0]) == 'X';
}

ToolsFolderChoice chooseToolsFolder(std::string temp, const std::string& windowsDirText) {
  if (!gbk::endsWithBackslash(temp)) temp += '\\';
  // A hyphen or a blank in the path breaks the unquoted tool paths of the command lines.
  if (temp.find('-') != std::string::npos || temp.find(' ') != std::string::npos)
    return {windowsDirText + "\\Vrel\\", true};
  return {temp, false};
}

void deployTools(core::Context& ctx) {
  ToolsFolderChoice choice = chooseToolsFolder(ctx.os.system.tempDirectory(), windowsDirectoryText(ctx.os));
  if (choice.needsCreate) ctx.os.files.createDirectory(choice.folder);
  core::ToolPaths& paths = ctx.state.tools;
  paths.toolsFolder = choice.folder;
  for (const core::CarriedTool& tool : core::kDeployed)
    paths.*tool.path = choice.folder + "\\" + tool.fileName;
  // A failed write shows up later, as the output of the command line that runs the tool.
  for (const core::CarriedTool& tool : core::kDeployed)
    ctx.os.files.writeFile(paths.*tool.path, ctx.payloads ? ctx.payloads(tool.fileName) : std::string_view());
  deployEngine64(ctx);
}

void deployEngine64(core::Context& ctx) {
  core::ToolPaths& paths = ctx.state.tools;
  paths.engine64Path.clear();
  // A 64-bit program (never WOW64) runs its own engine, which is 64-bit already.
  if (!ctx.os.system.isWow64() || !ctx.payloads) return;
  const std::string_view engine = ctx.payloads(core::kEngine64Payload);
  if (engine.empty()) return;
  const std::string folder = paths.toolsFolder + "\\" + core::kEngine64Folder;
  ctx.os.files.createDirectory(folder);
  const std::string path = folder + "\\" + core::fileNameOf(paths.enginePath);
  // Not written: the 32-bit engine does what it can (it still has wimlib).
  if (ctx.os.files.writeFile(path, engine)) paths.engine64Path = path;
}

static void applyIcon(core::Context& ctx, ui::Window& window) {
  const std::string iconPath = windowsDirectoryText(ctx.os) + "\\VrelPELite.ICO";
  if (!ctx.os.files.exists(iconPath)) return;
  if (auto bytes = ctx.os.files.readFile(iconPath)) window.setIconFromBytes(*bytes);
}

static void applyConfiguration(core::Context& ctx, ui::Window& window, ui::Control& statusBar) {
  const std::string iniPath = windowsDirectoryText(ctx.os) + "\\VrelPELite.ini";
  if (!ctx.os.files.exists(iniPath)) return;
  const std::string name = ctx.os.files.iniString(iniPath, "Config", "Name");
  if (!name.empty()) window.setCaption(name);
  const std::string ver = ctx.os.files.iniString(iniPath, "Config", "Ver");
  if (!ver.empty()) statusBar.setItemText(0, ver);
  const std::string welcome = ctx.os.files.iniString(iniPath, "Config", "Welcome");
  if (!welcome.empty()) statusBar.setItemText(1, welcome);
}

bool runStartup(core::Context& ctx, ui::Window& mainWindow, ui::Control& statusBar, const StartupSteps& steps) {
  if (!isWinPE(ctx.os)) {
    core::showBox(ctx.ui, &mainWindow, kNotWinPEMessage, core::kWarningBox);
    ctx.os.shell.exitProcess(0);
    return false;
  }
  deployTools(ctx);
  if (steps.scanImages) steps.scanImages();
  if (steps.fillPartitions) steps.fillPartitions();
  applyIcon(ctx, mainWindow);
  applyConfiguration(ctx, mainWindow, statusBar);
  ctx.os.shell.openUrl(kHomePage);
  return true;
}

}  // namespace app
