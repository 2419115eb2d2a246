// The real Win32 platform under Wine: the command runner against cmd.exe, the
// console shell with its reader thread, and tool deployment.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "app/startup.h"
#include "payload/payload.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"
#include "runner/command_runner.h"
#include "tests/wine/wine_support.h"

namespace {

using win32::RealPlatform;

std::string child() { return "\"" + winetest::programFolder() + "test_child.exe\""; }

TEST(RunCapturedUnderWine, EmptyOutputIsAStartedSilentRun) {
  RealPlatform p;
  auto run = runner::tryRunCaptured(p.os, child() + " sleep 10");
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.output, "");
}

// What the interpreters the program starts inherit: the refusals of paths with
// %NAME% read it.
TEST(EnvironmentUnderWine, NamesTheProgramsVariablesAsTheInterpreterSeesThem) {
  RealPlatform p;
  SetEnvironmentVariableA("Vrel_Probe", "a=b");
  const std::vector<std::string> names = p.os.system.environmentNames();
  SetEnvironmentVariableA("Vrel_Probe", nullptr);
  EXPECT_NE(std::find(names.begin(), names.end(), "Vrel_Probe"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "a"), names.end());
  const auto path = std::find_if(names.begin(), names.end(), [](const std::string& n) { return _stricmp(n.c_str(), "PATH") == 0; });
  EXPECT_NE(path, names.end());
  const std::string echoed = runner::runCaptured(p.os, "echo %Vrel_Probe2%");
  EXPECT_EQ(echoed, "%Vrel_Probe2%\r\n") << "a name no variable has is left alone";
}

TEST(RunCapturedUnderWine, LongOutputArrivesWholeAndInOrder) {
  RealPlatform p;
  for (long size : {1023L, 1024L, 5000L, 200000L}) {
    std::string want;
    for (int i = 0; static_cast<long>(want.size()) < size; ++i) want += "line " + std::to_string(i) + "\r\n";
    want.resize(size);
    EXPECT_EQ(runner::runCaptured(p.os, child() + " print " + std::to_string(size)), want) << size;
  }
}

TEST(RunCapturedUnderWine, MissingProgramGivesTheInterpretersTextAndAStartFailureIsSaidApart) {
  RealPlatform p;
  auto missing = runner::tryRunCaptured(p.os, "Z:\\no\\such\\GhostVrelLite.exe -clone");
  EXPECT_TRUE(missing.started);
  EXPECT_FALSE(missing.output.empty()) << "cmd.exe reports the missing program";
  auto noInterpreter = p.processes.runCaptured("C:\\no\\such\\interpreter.exe /c rem");
  EXPECT_FALSE(noInterpreter.started);
  EXPECT_EQ(noInterpreter.output, "");
}

TEST(RunCapturedUnderWine, PassesGbkBytesThroughAndCutsAChunkAtNul) {
  RealPlatform p;
  EXPECT_EQ(runner::runCaptured(p.os, child() + " gbk"), "中文输出");
  EXPECT_EQ(runner::runCaptured(p.os, child() + " nul"), "before");
}

TEST(RunCapturedUnderWine, WindowMessagesAreServedWhileTheChildRuns) {
  RealPlatform p;
  static int ticks = 0;
  ticks = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
  runner::runCaptured(p.os, child() + " sleep 700");
  KillTimer(nullptr, timer);
  EXPECT_GE(ticks, 5);
}

// A window with one text box, as the progress windows have, for the shell's reader.
class ShellWindow : public ui::WindowLogic {
 public:
  ShellWindow() {
    spec_.caption = "shell";
    spec_.w = 300;
    spec_.h = 200;
    spec_.controls.push_back({"engineLogBox", ui::Kind::MultiLineEdit, "", 0, 0, 280, 150});
  }
  const ui::WindowSpec& spec() const override { return spec_; }
  void onCreated(ui::Window& w) override {
    body(w);
    if (closeWhenDone) w.close();
  }
  std::function<void(ui::Window&)> body;
  bool closeWhenDone = true;

 private:
  ui::WindowSpec spec_;
};

TEST(ConsoleShellUnderWine, RunsCommandsReadsOutputAndClosesWhileTheReaderWrites) {
  RealPlatform p;
  win32::WindowSystem ws;
  ShellWindow logic;
  logic.body = [&](ui::Window& w) {
    runner::ConsoleShell shell(p.os);
    ui::Control& box = w.control("engineLogBox");
    box.setText("left over");
    unsigned long pid = shell.openConsoleShell();
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(shell.openConsoleShell(), pid);
    EXPECT_GT(shell.sendConsoleLine("echo hello-from-shell"), 0);
    shell.startConsoleReader(w, box);
    EXPECT_TRUE(winetest::pumpUntil([&] { return box.text().find("hello-from-shell\r\n") != std::string::npos; },
                                    10000))
        << box.text();
    EXPECT_EQ(box.text().find("left over"), std::string::npos) << "the reader empties the box first";
    EXPECT_EQ(shell.sendConsoleLine("cls"), 3);
    const std::string prompt = runner::systemDirectory(p.os) + ">";
    EXPECT_TRUE(winetest::pumpUntil([&] { return box.text().find(prompt) != std::string::npos; }, 5000));
    // Close while a child keeps printing into the box.
    shell.sendConsoleLine(child() + " print 2000000");
    winetest::pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(shell.closeConsoleShell());
    EXPECT_FALSE(shell.isOpen());
    EXPECT_EQ(shell.sendConsoleLine("echo x"), 0);
    // It can be opened again, with a new interpreter.
    unsigned long again = shell.openConsoleShell();
    EXPECT_NE(again, 0u);
    EXPECT_EQ(shell.sendConsoleLine(" EXIT "), 4);
    EXPECT_FALSE(shell.isOpen());
  };
  ws.runModal(logic, nullptr);
}

TEST(ConsoleShellUnderWine, AClosedWindowNoLongerReceivesTheOutputWhileTheShellRunsOn) {
  RealPlatform p;
  win32::WindowSystem ws;
  runner::ConsoleShell shell(p.os);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string marker = std::string(temp) + "vrel_reader_marker.txt";
  DeleteFileA(marker.c_str());
  ShellWindow logic;
  logic.body = [&](ui::Window& w) {
    ASSERT_NE(shell.openConsoleShell(), 0u);
    shell.startConsoleReader(w, w.control("engineLogBox"));
    // The window goes while a child keeps printing into its box; the interpreter
    // writes the marker once the child has printed everything.
    shell.sendConsoleLine(child() + " print 2000000 & echo done>" + marker);
    winetest::pumpUntil([] { return false; }, 200);
  };
  ws.runModal(logic, nullptr);
  // Still open and still drained: a reader that stopped reading would leave the child
  // blocked on a full pipe and the marker unwritten.
  ASSERT_TRUE(shell.isOpen());
  EXPECT_TRUE(winetest::pumpUntil([&] { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; },
                                  20000))
      << "the output is still read";
  EXPECT_TRUE(shell.closeConsoleShell());
  DeleteFileA(marker.c_str());
}

TEST(DeployUnderWine, WritesTheCarriedToolsIntoTheTemporaryFolder) {
  RealPlatform p;
  win32::WindowSystem ws;
  core::AppState state;
  core::Context ctx{p.os, ws, state, [](std::string_view name) { return payloadFor(name); }};
  app::deployTools(ctx);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  EXPECT_EQ(state.tools.toolsFolder, std::string(temp));
  EXPECT_EQ(state.tools.isoToolPath, std::string(temp) + "\\ISO.exe");
  for (const char* name : {"GhostVrelLite.exe", "ZeDadaviZezi.exe", "ISO.exe", "bootice.exe", "bcdboot.exe", "pzdir.exe"}) {
    std::string bytes = winetest::readWholeFile(std::string(temp) + name);
    EXPECT_FALSE(bytes.empty()) << name;
    EXPECT_EQ(bytes, std::string(payloadFor(name))) << name;
    EXPECT_EQ(bytes.substr(0, 2), "MZ") << name;
  }
  // The deployed tools run through the doubled backslash of their paths: the ISO
  // mounter answers otherwise than the interpreter does for a missing program.
  auto iso = runner::tryRunCaptured(p.os, state.tools.isoToolPath + " /q");
  auto missing = runner::tryRunCaptured(p.os, state.tools.toolsFolder + "\\NoSuchTool.exe /q");
  ASSERT_TRUE(iso.started && missing.started);
  EXPECT_FALSE(missing.output.empty());
  EXPECT_NE(iso.output, missing.output);
  // Wine has no wimgapi.dll: the deployed WIM engine goes on with its wimlib, which
  // names the real cause, and never claims success.
  std::string info = runner::runCaptured(p.os, state.tools.enginePath + " /info \"C:\\none.wim\"");
  EXPECT_EQ(info, "\r\n错误: 找不到映像文件。(wimlib 代码 47)\r\n");
  // Boot repair without a chosen boot target passes an empty device; a letter with no
  // drive behind it is refused before any disk is opened.
  std::string boot = runner::runCaptured(p.os, state.tools.booticePath + " /DEVICE= /mbr /install  /type=nt60  /quiet");
  EXPECT_EQ(boot.rfind("错误: 未指定设备", 0), 0u) << boot;
  boot = runner::runCaptured(p.os, state.tools.booticePath + " /DEVICE=Q:\\ /partitions /activate /quiet");
  EXPECT_EQ(boot, "错误: 找不到设备 Q:\\。\r\n");
}

}  // namespace
