// Both progress windows through the real console shell, reader thread, timers and
// process list: with a stand-in engine deployed under the engine's name for the
// command lines and the outcomes, and with the real engine (the carried one, on its
// wimlib backend, as Wine has no wimgapi.dll) on trees that tests/wine/run.sh makes
// and compares afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <deque>

#include "platform/gbk.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"
#include "tests/wine/wine_support.h"
#include "wim/backup_window.h"
#include "wim/engine_guard.h"
#include "wim/restore_window.h"

namespace {

// Answers message boxes from a script instead of waiting for a user.
class ScriptedWindows : public win32::WindowSystem {
 public:
  std::vector<std::string> boxes;
  std::deque<int> answers;
  int messageBox(ui::Window*, std::string_view text, std::string_view, unsigned style) override {
    boxes.emplace_back(text);
    if ((style & 0xF) != ui::kYesNo) return ui::kAnswerOk;
    if (answers.empty()) return ui::kAnswerYes;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
};

// A process list that does not show the engine until a moment has passed, as on a
// machine where the engine takes long to start (a cold USB stick).
class LaggingProcesses : public platform::Processes {
 public:
  explicit LaggingProcesses(platform::Processes& real) : real_(real) {}
  DWORD hideEngineUntil = 0;
  platform::CapturedRun runCaptured(const std::string& c) override { return real_.runCaptured(c); }
  bool startHidden(const std::string& c, unsigned ms) override { return real_.startHidden(c, ms); }
  bool runAndWait(const std::string& c) override { return real_.runAndWait(c); }
  std::vector<platform::ProcessEntry> list() override {
    std::vector<platform::ProcessEntry> all = real_.list(), shown;
    for (auto& e : all)
      if (GetTickCount() >= hideEngineUntil || !gbk::equalsIgnoreCase(e.exeName, "ZeDadaviZezi.exe")) shown.push_back(e);
    return shown;
  }
  bool terminate(unsigned long pid, unsigned code) override { return real_.terminate(pid, code); }
  bool suspend(unsigned long pid, bool on) override { return real_.suspend(pid, on); }

 private:
  platform::Processes& real_;
};

class RecordingShell : public platform::Shell {
 public:
  int exits = 0;
  void openUrl(const std::string&) override {}
  void exitProcess(int) override { ++exits; }
};

using winetest::Harness;

class WimWindowsUnderWine : public ::testing::Test {
 protected:
  WimWindowsUnderWine() : lagging(real.processes), os{real.system, real.files, real.volumes, lagging,
                                                      real.console, real.power, shell} {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    toolsFolder = std::string(temp) + "vrel-wim-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(toolsFolder.c_str(), nullptr);
    const std::string engine = toolsFolder + "ZeDadaviZezi.exe";
    CopyFileA((winetest::programFolder() + "wim_engine_double.exe").c_str(), engine.c_str(), FALSE);
    state.tools.toolsFolder = toolsFolder;
    state.tools.enginePath = toolsFolder + "\\ZeDadaviZezi.exe";
    state.tools.isoToolPath = toolsFolder + "\\ISO.exe";
    // The image lies on another drive than the target (Z: is the Linux root).
    imageFolder = "Z:\\tmp\\vrel-wim-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(imageFolder.c_str(), nullptr);
    request.imagePath = imageFolder + "\\系统.wim";
    FILE* f = std::fopen(request.imagePath.c_str(), "wb");
    if (f) {
      std::fputs("wim", f);
      std::fclose(f);
    }
    request.target.targetDrive = "C:\\";
    request.target.targetDisplay = "C:\\(1:1)";
  }
  ~WimWindowsUnderWine() override {
    SetEnvironmentVariableA("VREL_ENGINE_MODE", nullptr);
    // A double left running would hold the folder.
    for (int i = 0; i < 20 && wim::terminateProcessByName(real.processes, "ZeDadaviZezi.exe"); ++i) Sleep(50);
    real.files.removeTree(toolsFolder.substr(0, toolsFolder.size() - 1));
    real.files.removeTree(imageFolder);
  }
  void engineMode(const char* mode) { SetEnvironmentVariableA("VREL_ENGINE_MODE", mode); }
  static void click(ui::Window& w, const char* name) {
    SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(w, name)), BM_CLICK, 0, 0);
  }
  static void place(ui::Window& w) {
    SetWindowPos(reinterpret_cast<HWND>(w.nativeHandle()), nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    winetest::pumpUntil([] { return false; }, 300);
  }
  static void photograph(ui::Window& w, const char* name) {
    RedrawWindow(reinterpret_cast<HWND>(w.nativeHandle()), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE | RDW_ALLCHILDREN);
    winetest::pumpUntil([] { return false; }, 150);
    EXPECT_TRUE(winetest::saveWindowPicture(reinterpret_cast<HWND>(w.nativeHandle()),
                                            winetest::artifactFolder() + name));
  }
  static int percentOf(ui::Window& w) { return static_cast<int>(gbk::leadingNumber(w.control("percentLabel").text())); }
  double processorSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
  }

  win32::RealPlatform real;
  LaggingProcesses lagging;
  RecordingShell shell;
  platform::Platform os;
  ScriptedWindows windows;
  core::AppState state;
  core::Context ctx{os, windows, state, {}};
  core::Request request;
  std::string toolsFolder, imageFolder;
  std::vector<std::string> calls;
};

// A list view with no rows: the default boot target stays unmarked.
struct EmptyList : ui::WindowLogic {
  ui::WindowSpec spec_{"", 0, 0, 10, 10, false, {{"partitionList", ui::Kind::ListView, ""}}};
  const ui::WindowSpec& spec() const override { return spec_; }
};

TEST_F(WimWindowsUnderWine, WholeApplyThenSlowStartThenImmediateFailure) {
  // The partition list comes from a window of its own (the main window in the program).
  EmptyList listWindow;
  ui::Control* partitionList = nullptr;
  Harness listHarness(listWindow, [&](ui::Window& lw) {
    partitionList = &lw.control("partitionList");
    wim::PowerHooks hooks;
    hooks.restart = [&] { calls.push_back("restart"); };
    wim::RestoreWindow restore(ctx, *partitionList, request, hooks);
    Harness harness(restore, [&](ui::Window& w) {
      place(w);
      ASSERT_EQ(w.control("volumeCombo").count(), 1);
      EXPECT_EQ(w.control("volumeCombo").itemText(0), "1: Windows 7 旗舰版");
      photograph(w, "wim_restore_idle.bmp");
      // Neither format nor boot repair on this machine's drive C: (the prep tests run both).
      w.control("formatCombo").setSelection(2);
      w.control("addBootCheck").setChecked(false);

      // 1. A whole apply: live percent, then success, boot repair and the restart.
      engineMode("ok");
      click(w, "okButton");
      EXPECT_EQ(w.control("cancelButton").text(), "终  止(&X)");
      ASSERT_TRUE(winetest::pumpUntil([&] { return percentOf(w) >= 40; }, 15000))
          << w.control("engineLogBox").text();
      EXPECT_EQ(w.control("progressBar").position(), percentOf(w));
      photograph(w, "wim_restore_running.bmp");
      ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty() && calls.back() == "restart"; }, 15000))
          << w.control("engineLogBox").text();
      EXPECT_EQ(calls, std::vector<std::string>{"restart"});
      EXPECT_EQ(w.control("statusLabel").text(), "Imagex应用映像到磁盘完成！");
      EXPECT_EQ(w.control("cancelButton").text(), "取  消(&X)");
      EXPECT_TRUE(windows.boxes.empty());
      const std::string log = w.control("engineLogBox").text();
      EXPECT_NE(log.find("Successfully applied image."), std::string::npos);
      EXPECT_EQ(log.find("/apply"), std::string::npos) << "the shell echoes no command lines";

      // 2. The engine is missing from the process list for 1.5 s: still a success.
      calls.clear();
      lagging.hideEngineUntil = GetTickCount() + 1500;
      click(w, "okButton");
      ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty() && calls.back() == "restart"; }, 15000))
          << w.control("engineLogBox").text();
      EXPECT_TRUE(windows.boxes.empty());

      // 3. An engine that fails at once: the failure is reported promptly, with the log.
      engineMode("fail");
      calls.clear();
      const DWORD failStart = GetTickCount();
      click(w, "okButton");
      ASSERT_TRUE(winetest::pumpUntil([&] { return !windows.boxes.empty(); }, 15000));
      EXPECT_LT(GetTickCount() - failStart, 5000u);
      EXPECT_EQ(windows.boxes.back(), "Imagex应用映像到磁盘失败！");
      EXPECT_TRUE(calls.empty());
      const std::string failedLog = w.control("engineLogBox").text();
      EXPECT_EQ(winetest::readWholeFile("C:\\PzVrelErrorlog.log"), failedLog);
      EXPECT_NE(failedLog.find("[   0% ] Applying progress\r\n\r\n错误: 映像编号超出范围,此文件共有 1 个映像。\r\n"),
                std::string::npos)
          << failedLog;
      DeleteFileA("C:\\PzVrelErrorlog.log");
      EXPECT_TRUE(IsWindowVisible(reinterpret_cast<HWND>(win32::controlHandle(w, "okButton"))));
    });
    windows.runModal(harness, nullptr);
  });
  windows.runModal(listHarness, nullptr);
}

TEST_F(WimWindowsUnderWine, WholeCaptureAndOneStoppedByTheUser) {
  const std::string savePath = toolsFolder + "备份.wim";
  const std::string scratchFolder = wim::scratchFolderFor(savePath);
  wim::PowerHooks hooks;
  hooks.restart = [&] { calls.push_back("restart"); };
  request.mode = core::Mode::WimBackup;
  request.imagePath = savePath;
  wim::BackupWindow backup(ctx, request, "VrelPE Lite 一键备份还原", hooks);
  Harness harness(backup, [&](ui::Window& w) {
    place(w);
    photograph(w, "wim_backup_idle.bmp");

    // Stopped by the user: the engine is killed, its scratch file and the scratch
    // folder go, the window closes after the message.
    engineMode("hang");
    click(w, "okButton");
    ASSERT_TRUE(winetest::pumpUntil([&] { return percentOf(w) >= 10; }, 15000)) << w.control("engineLogBox").text();
    EXPECT_EQ(GetFileAttributesA(scratchFolder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD(FILE_ATTRIBUTE_DIRECTORY));
    photograph(w, "wim_backup_running.bmp");
    // The program's own processor time while the engine runs (a figure, not a limit).
    const double cpuBefore = processorSeconds();
    winetest::pumpUntil([] { return false; }, 3000);
    std::printf("capture running under Wine: program processor time %.2f%% of a core\n",
                100.0 * (processorSeconds() - cpuBefore) / 3.0);
    windows.answers = {ui::kAnswerYes};
    click(w, "cancelButton");
    ASSERT_TRUE(winetest::pumpUntil([&] { return windows.boxes.size() >= 2; }, 15000));
    EXPECT_EQ(windows.boxes[0], "Imagex正在备份,是否退出？");
    EXPECT_EQ(windows.boxes[1], "用户取消Imagex备份。");
    EXPECT_FALSE(wim::processExistsByName(real.processes, "ZeDadaviZezi.exe"));
    EXPECT_EQ(GetFileAttributesA((savePath + ".vrelpart").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(savePath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(scratchFolder.c_str()), INVALID_FILE_ATTRIBUTES);
  });
  windows.runModal(harness, nullptr);

  // A whole capture in a fresh window.
  windows.boxes.clear();
  wim::BackupWindow second(ctx, request, "VrelPE Lite 一键备份还原", hooks);
  Harness secondHarness(second, [&](ui::Window& w) {
    engineMode("ok");
    click(w, "okButton");
    ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty(); }, 15000)) << w.control("engineLogBox").text();
    EXPECT_EQ(calls, std::vector<std::string>{"restart"});
    EXPECT_EQ(w.control("percentLabel").text(), "100%");
    EXPECT_EQ(winetest::readWholeFile(savePath), "partial image");
    EXPECT_EQ(GetFileAttributesA(scratchFolder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(windows.boxes.empty());
  });
  windows.runModal(secondHarness, nullptr);
}

// The real engine, as the program carries it, over the drives tests/wine/run.sh maps:
// S: a tree (also captured by wimlib-imagex into W:\peer.wim), T: and U: empty
// folders to restore onto. run.sh compares T: and U: with S: and verifies the image
// the backup wrote with wimlib-imagex.
class RealEngineUnderWine : public WimWindowsUnderWine {
 protected:
  void SetUp() override {
    char prepared[8] = {};
    if (!GetEnvironmentVariableA("VREL_WIM_TREES", prepared, sizeof prepared))
      GTEST_SKIP() << "no trees prepared (tests/wine/run.sh makes them)";
    std::string carried = "Z:" VREL_CARRIED_DIR "\\ZeDadaviZezi.exe";
    for (char& c : carried)
      if (c == '/') c = '\\';
    ASSERT_TRUE(CopyFileA(carried.c_str(), (toolsFolder + "ZeDadaviZezi.exe").c_str(), FALSE)) << carried;
  }
  // Waits for a percentage strictly between 0 and 100 (the engine at work), then
  // photographs the window; the run goes on meanwhile.
  void photographMidRun(ui::Window& w, const char* picture) {
    ASSERT_TRUE(winetest::pumpUntil([&] { return percentOf(w) > 0 && percentOf(w) < 100; }, 60000))
        << w.control("statusLabel").text() << " | " << (windows.boxes.empty() ? "" : windows.boxes.back()) << " | "
        << w.control("engineLogBox").text();
    EXPECT_EQ(w.control("progressBar").position(), percentOf(w));
    photograph(w, picture);
  }
  // The engine's output as the program reads it: every line that mentions progress
  // has the form "[ NN% ] <verb> progress", optionally with an estimate (the first
  // follows the shell's prompt); the 100% line comes before the success lines; and
  // which library did the work is not the program's business.
  static void expectEngineLog(const std::string& log, const std::string& verb, const std::string& successLines) {
    int lines = 0;
    std::string::size_type at = 0;
    while ((at = log.find(" progress", at)) != std::string::npos) {
      const std::string::size_type start = log.rfind("\r\n", at) == std::string::npos ? 0 : log.rfind("\r\n", at) + 2;
      const std::string line = log.substr(start, log.find("\r\n", at) - start);
      const std::string::size_type marker = line.find("% ] " + verb + " progress");
      EXPECT_NE(marker, std::string::npos) << line;
      EXPECT_LT(line.find("[ "), marker) << line;
      ++lines;
      at += 9;
    }
    EXPECT_GE(lines, 3) << log;
    EXPECT_NE(log.find("[ 100% ] " + verb + " progress\r\n\r\n" + successLines + "\r\n\r\nTotal elapsed time: "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("wimlib"), std::string::npos) << log;
  }
  // Opens the restore window (over a partition list of its own) for image onto
  // target and runs body in it; the restart action is recorded in calls. The mapped
  // folders can be neither formatted nor made bootable: both are turned off.
  void inRestoreWindow(const std::string& image, const std::string& target, const std::string& display,
                       const std::function<void(ui::Window&)>& body) {
    request.mode = core::Mode::Restore;
    request.imagePath = image;
    request.target.targetDrive = target;
    request.target.targetDisplay = display;
    EmptyList listWindow;
    Harness listHarness(listWindow, [&](ui::Window& lw) {
      wim::PowerHooks hooks;
      hooks.restart = [&] { calls.push_back("restart"); };
      wim::RestoreWindow restore(ctx, lw.control("partitionList"), request, hooks);
      Harness harness(restore, [&](ui::Window& w) {
        w.control("formatCombo").setSelection(static_cast<int>(core::FormatChoice::None));
        w.control("addBootCheck").setChecked(false);
        body(w);
      });
      windows.runModal(harness, nullptr);
    });
    windows.runModal(listHarness, nullptr);
  }
};

TEST_F(RealEngineUnderWine, RestoresAnImageMadeByWimlibImagexOntoAMappedDrive) {
  inRestoreWindow("W:\\peer.wim", "T:\\", "T:\\(1:3)", [&](ui::Window& w) {
    place(w);
    // The real engine's information, read through the console as UTF-8.
    ASSERT_EQ(w.control("volumeCombo").count(), 1) << w.control("engineLogBox").text();
    EXPECT_EQ(w.control("volumeCombo").itemText(0), "1: 同一棵树");
    click(w, "okButton");
    photographMidRun(w, "wim_real_restore_running.bmp");
    ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty(); }, 120000)) << w.control("engineLogBox").text();
    EXPECT_EQ(calls, std::vector<std::string>{"restart"});
    EXPECT_EQ(w.control("statusLabel").text(), "Imagex应用映像到磁盘完成！");
    EXPECT_EQ(w.control("remainingLabel").text(), "剩余时间: 00:00:00");
    EXPECT_EQ(w.control("percentLabel").text(), "100%");
    EXPECT_TRUE(windows.boxes.empty());
    expectEngineLog(w.control("engineLogBox").text(), "Applying", "Successfully applied image.");
  });
}

TEST_F(RealEngineUnderWine, BacksUpAMappedDriveOntoItselfThenRestoresTheImageElsewhere) {
  // The image goes onto the partition it images: the engine must leave out its own
  // temporary folder (S:\ImagexTemp, with the marker file in it).
  const std::string savePath = "S:\\备份 回环.wim";
  request.mode = core::Mode::WimBackup;
  request.imagePath = savePath;
  request.target.targetDrive = "S:\\";
  request.target.targetDisplay = "S:\\(1:4)";
  wim::PowerHooks hooks;
  hooks.restart = [&] { calls.push_back("restart"); };

  // Stopped by the user mid-run: the engine is killed, nothing is left behind.
  {
    wim::BackupWindow backup(ctx, request, "VrelPE Lite 一键备份还原", hooks);
    Harness harness(backup, [&](ui::Window& w) {
      click(w, "okButton");
      ASSERT_TRUE(winetest::pumpUntil([&] { return percentOf(w) > 0; }, 60000)) << w.control("engineLogBox").text();
      windows.answers = {ui::kAnswerYes};
      click(w, "cancelButton");
      ASSERT_TRUE(winetest::pumpUntil([&] { return windows.boxes.size() >= 2; }, 30000));
      EXPECT_EQ(windows.boxes[1], "用户取消Imagex备份。");
      EXPECT_FALSE(wim::processExistsByName(real.processes, "ZeDadaviZezi.exe"));
      EXPECT_EQ(GetFileAttributesA((savePath + ".vrelpart").c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(GetFileAttributesA(savePath.c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(GetFileAttributesA("S:\\ImagexTemp"), INVALID_FILE_ATTRIBUTES);
    });
    windows.runModal(harness, nullptr);
  }

  // A whole backup, photographed mid-run.
  windows.boxes.clear();
  std::string imageName;
  {
    wim::BackupWindow backup(ctx, request, "VrelPE Lite 一键备份还原", hooks);
    Harness harness(backup, [&](ui::Window& w) {
      place(w);
      imageName = w.control("imageNameEdit").text();
      click(w, "okButton");
      photographMidRun(w, "wim_real_backup_running.bmp");
      ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty(); }, 300000)) << w.control("engineLogBox").text();
      EXPECT_EQ(calls, std::vector<std::string>{"restart"});
      EXPECT_TRUE(windows.boxes.empty()) << windows.boxes.front();
      EXPECT_EQ(w.control("percentLabel").text(), "100%");
      EXPECT_EQ(w.control("statusLabel").text(), "Imagex备份 S:\\(1:4) 完成！");
      expectEngineLog(w.control("engineLogBox").text(), "Capturing", "Successfully imaged S:\\");
      EXPECT_NE(GetFileAttributesA(savePath.c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(GetFileAttributesA((savePath + ".vrelpart").c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(GetFileAttributesA("S:\\ImagexTemp"), INVALID_FILE_ATTRIBUTES);
    });
    windows.runModal(harness, nullptr);
  }
  ASSERT_EQ(imageName.rfind("Win_Bak_", 0), 0u) << imageName;

  // Back onto U:, this time ending with the summary and the program's end.
  calls.clear();
  inRestoreWindow(savePath, "U:\\", "U:\\(1:5)", [&](ui::Window& w) {
    ASSERT_EQ(w.control("volumeCombo").count(), 1) << w.control("engineLogBox").text();
    EXPECT_EQ(w.control("volumeCombo").itemText(0), "1: " + imageName);
    click(w, "restartCheck");
    ASSERT_FALSE(w.control("restartCheck").checked());
    click(w, "okButton");
    ASSERT_TRUE(winetest::pumpUntil([&] { return shell.exits > 0; }, 120000)) << w.control("engineLogBox").text();
    EXPECT_TRUE(calls.empty());
    ASSERT_EQ(windows.boxes.size(), 1u);
    const std::string& summary = windows.boxes[0];
    EXPECT_EQ(summary.rfind("Imagex应用映像到磁盘完成！\r\n安装分区: U:\\(1:5)\r\n映像大小: ", 0), 0u) << summary;
    EXPECT_NE(summary.find("\r\n映像名称: 备份 回环.wim\r\n分卷编号: 1\r\n分卷名称: " + imageName), std::string::npos)
        << summary;
  });
}

// Through the real interpreter and the engine's own argument parsing: a variable's
// name between two "%" and a backslash before the closing quote arrive unchanged.
TEST_F(WimWindowsUnderWine, CaptureNameAndDescriptionArriveAsTyped) {
  const std::string argsFile = toolsFolder + "args.txt";
  SetEnvironmentVariableA("VREL_ENGINE_ARGS", argsFile.c_str());
  SetEnvironmentVariableA("VREL_NAME_PART", "expanded");
  const std::string name = "Win %VREL_NAME_PART% 10\\";
  const std::string description = "50% of %PATH% & %VREL_NAME_PART:~0,3%\\";
  wim::PowerHooks hooks;
  hooks.restart = [&] { calls.push_back("restart"); };
  request.mode = core::Mode::WimBackup;
  request.imagePath = toolsFolder + "named.wim";
  wim::BackupWindow backup(ctx, request, "VrelPE Lite 一键备份还原", hooks);
  Harness harness(backup, [&](ui::Window& w) {
    engineMode("ok");
    w.control("imageNameEdit").setText(name);
    w.control("descriptionEdit").setText(description);
    click(w, "okButton");
    ASSERT_TRUE(winetest::pumpUntil([&] { return !calls.empty(); }, 15000)) << w.control("engineLogBox").text();
  });
  windows.runModal(harness, nullptr);
  SetEnvironmentVariableA("VREL_ENGINE_ARGS", nullptr);
  SetEnvironmentVariableA("VREL_NAME_PART", nullptr);
  const std::vector<std::string> args = gbk::split(winetest::readWholeFile(argsFile), "\n");
  ASSERT_GE(args.size(), 6u) << winetest::readWholeFile(argsFile);
  EXPECT_EQ(args[2], request.imagePath);
  EXPECT_EQ(args[3], name);
  EXPECT_EQ(args[4], description);
  EXPECT_EQ(args[5], "/flags");
}

}  // namespace
