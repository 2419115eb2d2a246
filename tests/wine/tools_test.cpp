// The carried tools under Wine: what the program deploys is the tools as built (for
// whatever tools the payload table lists), the ISO tool's copy and its progress
// window, and the Windows-only refusals of MARK.exe and bcdboot.exe.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>

#include "app/startup.h"
#include "payload/payload.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"
#include "runner/command_runner.h"
#include "tests/wine/wine_support.h"
#include "tools/common/progress_window.h"
#include "tools/iso/copy_window.h"

namespace {

// A Unix path of the build as Wine sees it (its Z: drive is /).
std::string winePath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

TEST(PayloadsUnderWine, DeployedToolsAreTheBuiltOnes) {
  win32::RealPlatform p;
  win32::WindowSystem ws;
  core::AppState state;
  core::Context ctx{p.os, ws, state, [](std::string_view name) { return payloadFor(name); }};
  app::deployTools(ctx);
  std::istringstream manifest(winetest::readWholeFile(winePath(VREL_CARRIED_DIR "/manifest.txt")));
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string name, built, machine;
    std::getline(fields, name, '\t');
    std::getline(fields, built, '\t');
    if (name.empty() || name == "MARK.exe") continue;  // written on demand, not at start-up
    std::string deployed = winetest::readWholeFile(state.tools.toolsFolder + name);
    EXPECT_FALSE(deployed.empty()) << name;
    EXPECT_TRUE(deployed == winetest::readWholeFile(winePath(built))) << name << " differs from " << built;
    ++checked;
  }
  EXPECT_GE(checked, 6);
}

std::string runTool(win32::RealPlatform& p, const std::string& commandLine) {
  return runner::runCaptured(p.os, commandLine);
}

TEST(ToolsUnderWine, MarkRefusesCleanlyWithoutTheFormatLibrary) {
  win32::RealPlatform p;
  std::string mark = winePath(VREL_TOOLS_DIR "/mark/MARK.exe");
  std::string bad = runTool(p, mark);
  EXPECT_NE(bad.find("参数无效"), std::string::npos) << bad;
  std::string system = runTool(p, mark + " C:");  // Wine's Windows folder is on C:
  EXPECT_NE(system.find("系统所在的分区"), std::string::npos) << system;
  std::string other = runTool(p, mark + " Z:");
  EXPECT_EQ(other.find("success."), std::string::npos) << other;
  EXPECT_EQ(other.rfind("错误: ", 0), 0u) << other;
}

TEST(ToolsUnderWine, BcdbootSaysTheSystemToolIsMissing) {
  win32::RealPlatform p;
  std::string out = runTool(p, winePath(VREL_TOOLS_DIR "/bcdboot/bcdboot.exe") + " C:\\Windows /s C:  /l zh-cn ");
  EXPECT_EQ(out, "错误: 系统目录中没有 bcdboot 工具,无法创建引导文件。\r\n");
}

std::string systemDirectory() {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  return dir;
}

TEST(ToolsUnderWine, BcdbootPassesItsArgumentsToTheSystemTool) {
  win32::RealPlatform p;
  std::string launcher = winePath(VREL_TOOLS_DIR "/bcdboot/bcdboot.exe");
  std::string systemTool = systemDirectory() + "\\bcdboot.exe";
  // A stand-in for the system's tool that prints the command line it received.
  ASSERT_TRUE(CopyFileA((winetest::programFolder() + "test_child.exe").c_str(), systemTool.c_str(), FALSE));
  std::string out = runTool(p, launcher + " cmdline C:\\Windows /s C:  /l zh-cn \"D:\\a b\" ");
  EXPECT_EQ(out, "\"" + systemTool + "\" cmdline C:\\Windows /s C:  /l zh-cn \"D:\\a b\" ");
  // The launcher itself in the system folder would start itself: refused.
  ASSERT_TRUE(CopyFileA(launcher.c_str(), systemTool.c_str(), FALSE));
  std::string loop = runTool(p, systemTool + " C:\\Windows");
  EXPECT_NE(loop.find("拒绝循环调用"), std::string::npos) << loop;
  DeleteFileA(systemTool.c_str());
}

TEST(ToolsUnderWine, IsoToolCopiesAndQuitsSilently) {
  win32::RealPlatform p;
  std::string iso = winePath(VREL_TOOLS_DIR "/iso/ISO.exe");
  std::string target = winetest::programFolder() + "iso_copy";
  std::string out = runTool(p, iso + " /X:\"" + target + "\" /I:" + winePath(VREL_ISO_SAMPLE));
  EXPECT_EQ(out, "已复制 1 个文件,共 3000 字节。\r\n");
  EXPECT_EQ(winetest::readWholeFile(target + "\\sources\\install.wim").size(), 3000u);
  DeleteFileA((target + "\\sources\\install.wim").c_str());
  RemoveDirectoryA((target + "\\sources").c_str());
  RemoveDirectoryA(target.c_str());
  EXPECT_EQ(runTool(p, iso + " /q"), "");
  EXPECT_NE(runTool(p, iso + " /D:Q").find("命令行无效"), std::string::npos);
}

// Wine's wimgapi.dll is a stub that lacks an entry point: the engine goes on with wimlib and says so only when it
// fails. VREL_WIM_LIBRARY forces one library, and nothing else is taken.
TEST(ToolsUnderWine, WimEngineFallsBackToWimlibAndObeysTheForcingVariable) {
  win32::RealPlatform p;
  const std::string info = winePath(VREL_TOOLS_DIR "/wimengine/ZeDadaviZezi.exe") + " /info \"Z:\\no\\such.wim\"";
  struct Case {
    const char* value;
    const char* output;
  } cases[] = {
      {nullptr, "\r\n错误: 找不到映像文件。(wimlib 代码 47)\r\n"},
      {"wimlib", "\r\n错误: 找不到映像文件。(wimlib 代码 47)\r\n"},
      {"wimgapi", "\r\n错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 WIMSetTemporaryPath,无法使用。(wimgapi.dll)\r\n"},
      {"wimgapi.dll", "错误: 环境变量 VREL_WIM_LIBRARY 只能是 auto、wimgapi 或 wimlib。\r\n"},
  };
  for (const Case& k : cases) {
    SetEnvironmentVariableA("VREL_WIM_LIBRARY", k.value);
    EXPECT_EQ(runTool(p, info), k.output) << (k.value ? k.value : "(unset)");
  }
  SetEnvironmentVariableA("VREL_WIM_LIBRARY", nullptr);
}

// The window serves itself while the copy (here: this work) runs on its own thread.
TEST(ToolsUnderWine, IsoCopyProgressWindow) {
  bool photographed = false, stopAsked = true;
  std::wstring file, amount;
  toolio::runWithProgressWindow(iso::copyWindowLayout(), [&](toolio::Progress& progress) {
    progress.item("sources/install.wim");
    progress.report(1536ull << 20, 4300ull << 20);
    HWND window = nullptr;
    for (int i = 0; i < 100 && !(window = FindWindowA("VrelIsoCopyProgress", nullptr)); ++i) Sleep(50);
    Sleep(600);  // the figures are refreshed four times a second
    wchar_t text[256] = {};
    GetDlgItemTextW(window, 101, text, 256);
    file = text;
    GetDlgItemTextW(window, 103, text, 256);
    amount = text;
    photographed = window && winetest::saveWindowPicture(window, winetest::artifactFolder() + "iso_copy_progress.bmp");
    stopAsked = progress.stopRequested();
  });
  EXPECT_TRUE(photographed);
  EXPECT_FALSE(stopAsked);
  EXPECT_TRUE(file == L"正在复制: sources/install.wim");
  EXPECT_TRUE(amount == L"1536.0 MB / 4300.0 MB  (35%)");
  EXPECT_FALSE(FindWindowA("VrelIsoCopyProgress", nullptr)) << "the window is gone with the work";
}

}  // namespace
