#include "wim/restore_window.h"

#include <gtest/gtest.h>

#include <thread>


#include "platform/gbk.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/support/layout.h"
#include "tests/wim/wim_data.h"
#include "wim/engine_guard.h"

namespace {

using W = wim::RestoreWindow;

using wimtest::readData;

constexpr unsigned long kShellPid = 4242;
constexpr unsigned long kEnginePid = 5000;

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() {
    w.volumes.drives = {{"C:\\", 3}, {"D:\\", 3}, {"X:\\", 3}, {"E:\\", 2}};
    state.tools.enginePath = "X:\\Temp\\\\ZeDadaviZezi.exe";
    state.tools.isoToolPath = "X:\\Temp\\\\ISO.exe";
    state.tools.booticePath = "X:\\Temp\\\\bootice.exe";
    state.tools.bcdbootPath = "X:\\Temp\\\\bcdboot.exe";
    request.target.targetDrive = "C:\\";
    request.target.targetIndex = "1:1";
    request.target.targetDisplay = "C:\\(1:1)";
    request.target.targetPartitionType = "主分区,MBR";
    request.imagePath = "D:\\images\\win7.wim";
    partitions.addRow("C:\\", 0);
    partitions.setCell(0, 1, "1:1");
    w.volumes.deviceNumbers["\\\\.\\C:"] = 0;
    w.processes.answer("/info", readData("info_two_images.txt"));
    w.processes.answer("bcdboot.exe", "Boot files successfully created.");
    w.files.addFile("D:\\images\\win7.wim", std::string(3 * 1048576 + 5242, 'x'));
    w.files.addRestoredWindows('C', "10.0.19041.1");
    w.processes.running = {{4, "System"}, {kShellPid, "cmd.exe"}};
    hooks.restart = [this] { calls.push_back("restart"); };
    hooks.shutDown = [this] { calls.push_back("shutdown"); };
    // Boot repair's configuration run names the boot target it writes to.
    w.processes.onRun = [this](const std::string& line) {
      if (line.find("bcdboot.exe") != std::string::npos) calls.push_back("bcdboot" + line.substr(line.find(" C:\\W")));
    };
  }
  // Opens the window; the format step is skipped unless a test chooses one.
  void open(bool format = false) {
    logic = std::make_unique<W>(ctx, partitions, request, hooks);
    window = &ui.create(*logic);
    if (!format && !window->closed()) window->selectItem("formatCombo", 2);
  }
  fake::Control& c(std::string_view name) { return window->get(name); }
  // Our engine is the shell's child; a copy started elsewhere has another parent.
  void engineStarts() { w.processes.running.push_back({kEnginePid, "zedadavizezi.EXE", w.console.pid}); }
  void engineEnds() {
    auto& r = w.processes.running;
    r.erase(std::remove_if(r.begin(), r.end(), [](auto& e) { return e.pid == kEnginePid; }), r.end());
  }
  void shellPrints(std::string_view text) { w.console.deliver(text); }
  // As the reader hands the output on: in pieces of at most 260 bytes.
  void shellPrintsInPieces(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); at += 260) w.console.deliver(text.substr(at, 260));
  }
  void shellEnds() { shellPrints("\r\n" + std::string(wim::kEndMarker) + "\r\n"); }
  // Started, seen by a check, printed a whole apply and left the process list; the
  // shell's end marker is still to come.
  void appliedAndGone() {
    window->click("okButton");
    engineStarts();
    tick();
    shellPrints(readData("apply_run.txt"));
    engineEnds();
  }
  const std::vector<std::string> kBootThenRestart{"bcdboot C:\\Windows /s C:\\  /l zh-cn ", "restart"};
  void tick(const char* timer = wim::kFinishTimer) {
    ASSERT_TRUE(window->timerRunning(timer)) << "timer " << timer << " is stopped";
    window->fireTimer(timer);
  }
  // Start, run to the end with the given output, and poll once more.
  void runToEnd(std::string_view output) {
    window->click("okButton");
    engineStarts();
    tick();
    shellPrints(output);
    engineEnds();
    shellPrints("\r\nVrelPE: engine finished\r\n");
    tick();
  }

  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  fake::Control partitions{{"partitionList", ui::Kind::ListView}};
  core::Request request;
  wim::PowerHooks hooks;
  std::vector<std::string> calls;
  std::unique_ptr<W> logic;
  fake::Window* window = nullptr;
};

TEST_F(RestoreTest, OpeningFillsTheChoices) {
  open(true);
  EXPECT_GBK_EQ("还原分区:C:\\(1:1)", c("targetLabel").text());
  EXPECT_GBK_EQ("映像文件:D:\\images\\win7.wim", c("imageLabel").text());
  EXPECT_EQ(c("bootTargetCombo").items, (std::vector<std::string>{"C:\\ [默认推荐]", "D:\\"}));
  EXPECT_EQ(c("bootTargetCombo").selection(), 0);
  EXPECT_EQ(logic->request().target.targetDrive, "C:");
  ASSERT_EQ(c("volumeCombo").count(), 2);
  EXPECT_EQ(c("volumeCombo").selection(), 1);
  EXPECT_EQ(logic->request().imageIndex, 2);
  window->selectItem("volumeCombo", 0);
  EXPECT_EQ(logic->request().imageIndex, 1);
  EXPECT_GBK_EQ("自动 NTFS", c("formatCombo").text());
  EXPECT_TRUE(c("addBootCheck").checked());
  EXPECT_TRUE(c("restartCheck").checked());
  EXPECT_FALSE(c("shutdownCheck").checked());
  for (const char* t : {wim::kFinishTimer, wim::kProgressTimer, wim::kClockTimer}) EXPECT_FALSE(window->timerRunning(t));
}

TEST_F(RestoreTest, LayoutAsTheTableGivesIt) {
  const ui::WindowSpec& spec = W(ctx, partitions, request, hooks).spec();
  EXPECT_GBK_EQ("Vevido Ziruzo", spec.caption);
  EXPECT_EQ(std::vector<int>({spec.x, spec.y, spec.w, spec.h}), std::vector<int>({50, 50, 467, 297}));
  for (const ui::ControlSpec& control : spec.controls) {
    if (control.name == "engineLogBox") EXPECT_GE(control.y, spec.h);
    else EXPECT_LE(control.x + control.w, spec.w - 8) << control.name;
  }
}

// The window's table as the user is to see it, timers included.
TEST_F(RestoreTest, ControlTableAsLaidOut) {
  using K = ui::Kind;
  const ui::WindowSpec& spec = W(ctx, partitions, request, hooks).spec();
  layouttest::expectControls(spec, {
                                       {"iconPicture", K::Picture, "", 16, 8, 48, 48},
                                       {"prompt", K::Label, "程序将执行还原操作,您确定吗？", 80, 16, 184, 16},
                                       {"targetLabel", K::Label, "", 80, 40, 184, 16},
                                       {"imageLabel", K::Label, "", 80, 64, 328, 16},
                                       {"volumeCaption", K::Label, "分卷名称:", 80, 90, 56, 16},
                                       {"volumeCombo", K::DropDownList, "", 136, 88, 312, 20},
                                       {"formatCaption", K::Label, "格 式 化:", 80, 118, 69, 24},
                                       {"formatCombo", K::DropDownList, "", 136, 120, 93, 20},
                                       {"addBootCheck", K::CheckBox, "添加引导:", 256, 123, 80, 16},
                                       {"bootTargetCombo", K::DropDownList, "", 336, 120, 113, 20},
                                       {"progressCaption", K::Label, "安装进度:", 16, 152, 64, 16},
                                       {"percentLabel", K::Label, "  0%", 72, 152, 104, 16},
                                       {"elapsedLabel", K::Label, "已用时间: 00:00:00", 168, 152, 120, 16},
                                       {"remainingLabel", K::Label, "剩余时间: 00:00:00", 312, 152, 136, 16},
                                       {"progressBar", K::ProgressBar, "", 16, 176, 432, 24},
                                       {"statusLabel", K::Label, "", 16, 208, 240, 24},
                                       {"okButton", K::Button, "确  定(&C)", 256, 224, 88, 32},
                                       {"cancelButton", K::Button, "取  消(&X)", 360, 224, 88, 32},
                                       {"restartCheck", K::CheckBox, "完成后重启", 16, 240, 88, 16},
                                       {"shutdownCheck", K::CheckBox, "完成后关机", 112, 240, 88, 16},
                                       {"engineLogBox", K::MultiLineEdit, "", 0, 344, 472, 240},
                                   });
  layouttest::expectItems(spec, "formatCombo", {"手动 Format", "自动 NTFS", "跳过 None"}, 1);
  layouttest::expectFlag(spec, ui::kChecked, {"addBootCheck", "restartCheck"});
  layouttest::expectFlag(spec, ui::kHidden, {});
  layouttest::expectTimers(spec, {{"finishTimer", 500}, {"progressTimer", 50}, {"clockTimer", 1000}});
}

TEST_F(RestoreTest, NoVolumesAndNoClosesTheWindow) {
  w.processes.rules.clear();
  ui.answers = {ui::kAnswerNo};
  open();
  EXPECT_TRUE(window->closed());
}

TEST_F(RestoreTest, PowerCheckBoxesExcludeEachOther) {
  open();
  window->click("shutdownCheck");
  EXPECT_TRUE(c("shutdownCheck").checked());
  EXPECT_FALSE(c("restartCheck").checked());
  window->click("restartCheck");
  EXPECT_FALSE(c("shutdownCheck").checked());
  window->click("restartCheck");
  EXPECT_FALSE(c("restartCheck").checked() || c("shutdownCheck").checked());
  window->click("addBootCheck");
  EXPECT_FALSE(c("bootTargetCombo").enabled());
  window->click("addBootCheck");
  EXPECT_TRUE(c("bootTargetCombo").enabled());
}

TEST_F(RestoreTest, StartSendsTheCommandLineAndArmsTheTimers) {
  open();
  window->click("okButton");
  EXPECT_GBK_EQ("X:\\Temp\\\\ZeDadaviZezi.exe /apply \"D:\\images\\win7.wim\" 2 C:",
                wim::applyCommandLine(state.tools.enginePath, "D:\\images\\win7.wim", 2, "C:"));
  EXPECT_GBK_EQ("@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"D:\\images\\win7.wim\" 2 C: & echo. & "
                "echo VrelPE: engine finished\r\n",
                w.console.input);
  EXPECT_EQ(w.console.opens.at(0).first, "cmd.exe");
  EXPECT_TRUE(window->timerRunning(wim::kFinishTimer));
  EXPECT_TRUE(window->timerRunning(wim::kProgressTimer));
  EXPECT_TRUE(window->timerRunning(wim::kClockTimer));
  EXPECT_GBK_EQ("终  止(&X)", c("cancelButton").text());
  EXPECT_FALSE(c("okButton").visible());
  for (auto name : {"volumeCombo", "formatCombo", "bootTargetCombo", "addBootCheck"})
    EXPECT_FALSE(c(name).enabled()) << name;
  EXPECT_GBK_EQ("剩余时间:正在计算", c("remainingLabel").text());
  EXPECT_GBK_EQ("正在应用映像到C:\\(1:1)...", c("statusLabel").text());
}

// A WIM and an ESD keep the line as it was; a split set names its other parts.
TEST_F(RestoreTest, TheApplyLineForWimEsdAndSplitSets) {
  w.files.addDir("E:\\sources");
  for (const char* name : {"install.esd", "install.swm", "install2.swm", "install3.swm"})
    w.files.addFile(std::string("E:\\sources\\") + name, std::string(1048576, 'x'));
  const std::pair<const char*, const char*> cases[] = {
      {"D:\\images\\win7.wim",
       "@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"D:\\images\\win7.wim\" 2 C: & echo. & echo VrelPE: engine finished\r\n"},
      {"E:\\sources\\install.esd",
       "@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"E:\\sources\\install.esd\" 2 C: & echo. & echo VrelPE: engine finished\r\n"},
      {"E:\\sources\\install.swm",
       "@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"E:\\sources\\install.swm\" 2 C: /ref \"E:\\sources\\install*.swm\" & echo. & "
       "echo VrelPE: engine finished\r\n"},
  };
  for (const auto& [image, line] : cases) {
    request.imagePath = image;
    w.console.input.clear();  // the console holds a lock: emptied, not replaced
    open();
    window->click("okButton");
    EXPECT_GBK_EQ(line, w.console.input) << image;
  }
}

TEST_F(RestoreTest, LiveProgressFromTheRecordedRun) {
  open();
  window->click("okButton");
  engineStarts();
  const std::string run = readData("apply_run.txt");
  const std::size_t cut = run.find("[  82% ]");
  shellPrints(run.substr(0, cut));
  tick(wim::kProgressTimer);
  EXPECT_EQ(c("percentLabel").text(), " 77%");
  EXPECT_EQ(c("progressBar").position(), 77);
  EXPECT_GBK_EQ("剩余时间:  0:01 mins ", c("remainingLabel").text());
  tick(wim::kClockTimer);
  tick(wim::kClockTimer);
  EXPECT_GBK_EQ("已用时间: 00:00:02", c("elapsedLabel").text());
}

// An engine that is slow to appear (a cold USB stick) is still starting, not finished:
// nothing is judged, the controls stay locked and a second start is impossible.
TEST_F(RestoreTest, SlowStartIsNotTheEnd) {
  open();
  window->click("okButton");
  for (int i = 0; i < 6; ++i) tick();
  EXPECT_GBK_EQ("终  止(&X)", c("cancelButton").text());
  EXPECT_FALSE(c("okButton").visible());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(w.files.hasFile("C:\\PzVrelErrorlog.log"));
  engineStarts();
  tick();
  shellPrints(readData("apply_run.txt"));
  engineEnds();
  shellPrints("\r\nVrelPE: engine finished\r\n");
  tick();
  EXPECT_EQ(calls, (std::vector<std::string>{"bcdboot C:\\Windows /s C:\\  /l zh-cn ", "restart"}));
}

// An engine that fails at once (never seen) ends the run as soon as the shell says so.
TEST_F(RestoreTest, ImmediateFailureEndsPromptlyWithTheLog) {
  open();
  window->click("okButton");
  const std::string output = readData("apply_failure_index.txt") + "\r\nVrelPE: engine finished\r\n";
  shellPrints(output);
  tick();
  EXPECT_GBK_EQ("Imagex应用映像到磁盘失败！", c("statusLabel").text());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("Imagex应用映像到磁盘失败！", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);
  EXPECT_EQ(w.files.contentOf("C:\\PzVrelErrorlog.log"), output);
  const std::string log = w.files.contentOf("U:\\VrelPE\\VrelPELite.log");
  EXPECT_EQ(log.rfind("==== WIM 应用\r\n开始: ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\n结果: 失败\r\n  Imagex应用映像到磁盘失败！\r\n引擎消息:\r\n  "), std::string::npos) << log;
  EXPECT_NE(log.find("  VrelPE: engine finished\r\n\r\n"), std::string::npos) << log;
  EXPECT_TRUE(c("okButton").visible());
  EXPECT_GBK_EQ("取  消(&X)", c("cancelButton").text());
  EXPECT_EQ(w.console.closes, 1);
  for (const char* t : {wim::kFinishTimer, wim::kProgressTimer, wim::kClockTimer}) EXPECT_FALSE(window->timerRunning(t));
  EXPECT_FALSE(window->closed());
  // The user may confirm again: a new shell, an empty box.
  window->click("okButton");
  EXPECT_EQ(w.console.opens.size(), 2u);
  EXPECT_EQ(c("engineLogBox").text(), "");
}

TEST_F(RestoreTest, EngineSeenThenGoneEndsWithoutTheMarker) {
  open();
  appliedAndGone();
  tick();  // its last lines may still be in the pipe
  EXPECT_TRUE(calls.empty());
  tick();
  EXPECT_EQ(calls, (std::vector<std::string>{"bcdboot C:\\Windows /s C:\\  /l zh-cn ", "restart"}));
}

TEST_F(RestoreTest, SuccessOutcomes) {
  const struct {
    bool restart, shutdown, addBoot;
    std::vector<std::string> calls;
    bool summary;
  } cases[] = {
      {true, false, true, {"bcdboot C:\\Windows /s C:\\  /l zh-cn ", "restart"}, false},
      {false, true, true, {"bcdboot C:\\Windows /s C:\\  /l zh-cn ", "shutdown"}, false},
      {false, false, false, {}, true},
  };
  for (const auto& o : cases) {
    calls.clear();
    ui.boxes.clear();
    w.shell.exits.clear();
    w.processes.captured.clear();
    open();
    c("restartCheck").checked_ = o.restart;
    c("shutdownCheck").checked_ = o.shutdown;
    c("addBootCheck").checked_ = o.addBoot;
    runToEnd(readData("apply_run.txt"));
    EXPECT_EQ(calls, o.calls);
    // The parse never saw the 100% line (the success lines came with it): still 100%.
    EXPECT_EQ(c("percentLabel").text(), "100%");
    EXPECT_EQ(c("progressBar").position(), 100);
    EXPECT_GBK_EQ("Imagex应用映像到磁盘完成！", c("statusLabel").text());
    EXPECT_EQ(ui.boxes.size(), o.summary ? 1u : 0u);
    if (!o.summary) continue;
    EXPECT_GBK_EQ("Imagex应用映像到磁盘完成！\r\n安装分区: C:\\(1:1)\r\n映像大小: 3 MB\r\n已用时间: 00:00:00\r\n"
                  "映像名称: win7.wim\r\n分卷编号: 2\r\n分卷名称: 数据 二",
                  ui.boxes[0].text);
    EXPECT_EQ(ui.boxes[0].style, 0x2040u);
    EXPECT_EQ(w.processes.captured.back(), "cmd.exe /c X:\\Temp\\\\ISO.exe /q");
    EXPECT_EQ(w.shell.exits, std::vector<int>{0});
  }
}

// The entry the user picks names the image that is applied, also when an image of
// the file has no name.
TEST_F(RestoreTest, TheChosenEntryIsTheImageApplied) {
  w.processes.rules.clear();
  w.processes.answer("/info",
                     "Image Count: 3\r\n<WIM>\r\n  <IMAGE INDEX=\"1\">\r\n    <NAME>Sys</NAME>\r\n  </IMAGE>\r\n"
                     "  <IMAGE INDEX=\"2\">\r\n    <TOTALBYTES>3</TOTALBYTES>\r\n  </IMAGE>\r\n"
                     "  <IMAGE INDEX=\"3\">\r\n    <NAME>Data</NAME>\r\n  </IMAGE>\r\n</WIM>\r\n");
  open();
  ASSERT_EQ(c("volumeCombo").count(), 3);
  EXPECT_GBK_EQ("2: [未命名]", c("volumeCombo").itemText(1));
  EXPECT_EQ(c("volumeCombo").text(), "3: Data");
  window->selectItem("volumeCombo", 1);
  window->click("okButton");
  EXPECT_GBK_EQ("@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"D:\\images\\win7.wim\" 2 C: & echo. & "
                "echo VrelPE: engine finished\r\n",
                w.console.input);
}

// A copy of the engine that is not the shell's child (an earlier run, another window)
// neither holds our run open nor is the one the stop button freezes and ends.
TEST_F(RestoreTest, ACopyOfTheEngineElsewhereIsNotOurs) {
  // Started after ours, listed first (before it, the guard would offer to end it).
  auto startWithAnotherCopy = [this] {
    auto& r = w.processes.running;
    r.erase(std::remove_if(r.begin(), r.end(), [](auto& e) { return e.pid == 6000; }), r.end());
    open();
    window->click("okButton");
    r.insert(r.begin(), {6000, "ZeDadaviZezi.exe", 1234});
    engineStarts();
    tick();
  };
  startWithAnotherCopy();
  ui.answers = {ui::kAnswerNo};
  window->click("cancelButton");
  EXPECT_EQ(w.processes.suspended,
            (std::vector<std::pair<unsigned long, bool>>{{kEnginePid, true}, {kEnginePid, false}}));
  shellPrints(readData("apply_run.txt"));
  engineEnds();
  shellEnds();
  tick();
  EXPECT_EQ(calls, kBootThenRestart);
  EXPECT_TRUE(w.processes.terminated.empty());

  // Stopped: ours is ended, the other copy runs on.
  calls.clear();
  ui.boxes.clear();
  startWithAnotherCopy();
  ui.answers = {ui::kAnswerYes};
  window->click("cancelButton");
  EXPECT_EQ(w.processes.terminated, std::vector<unsigned long>{kEnginePid});
  ASSERT_EQ(w.processes.running.front().pid, 6000u);
  shellEnds();
  tick();
  EXPECT_GBK_EQ("取消Imagex应用映像到磁盘！", ui.boxes.back().text);
}

// A shell that has taken the line but runs no engine and prints no end (a line the
// interpreter refused) ends the run as a failure once it has stayed idle.
TEST_F(RestoreTest, AShellThatNeverStartsTheEngineEndsTheRun) {
  open();
  window->click("okButton");
  shellPrints("命令行太长。\r\n");
  int ticks = 0;
  while (window->timerRunning(wim::kFinishTimer) && ticks < 100) {
    tick();
    ++ticks;
  }
  EXPECT_GT(ticks, 6) << "a slow start is not the end";
  EXPECT_LT(ticks, 100);
  EXPECT_GBK_EQ("Imagex应用映像到磁盘失败！", c("statusLabel").text());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("Imagex应用映像到磁盘失败！\r\n命令解释器没有启动 ZeDadaviZezi.exe,映像没有应用到磁盘。", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, ui::kIconStop | ui::kTaskModal);
  EXPECT_EQ(w.files.contentOf("C:\\PzVrelErrorlog.log"), "命令行太长。\r\n");
  EXPECT_FALSE(w.console.open_);
  EXPECT_TRUE(c("okButton").visible());
}

// A line longer than the command interpreter takes (8191 characters) would never run:
// it is refused before anything is formatted or started.
TEST_F(RestoreTest, AnImagePathTooLongForTheInterpreterIsRefused) {
  request.imagePath = "D:\\" + std::string(8200, 'a') + ".wim";
  w.files.addFile(request.imagePath, "x");
  open(true);
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("命令行长达 8287 个字符,超出了命令解释器能执行的 8191 个字符,映像无法还原。\r\n"
                "请把映像文件移到路径较短的文件夹后再试。",
                ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, ui::kIconStop | ui::kTaskModal);
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_TRUE(w.volumes.formats.empty() && w.volumes.formatDialogs.empty());
}

// The console reader runs on a thread of its own: it must not touch the window's
// controls, which belong to the user-interface thread.
TEST_F(RestoreTest, OutputFromTheReaderThreadWhileTheTimersRun) {
  open();
  window->click("okButton");
  engineStarts();
  const std::string run = readData("apply_run.txt");
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < run.size(); at += 7) pieces.push_back(run.substr(at, 7));
  std::thread reader = w.console.deliverOnThread(pieces);
  for (int i = 0; i < 200; ++i) {
    tick(wim::kProgressTimer);
    ui.processPendingMessages();
  }
  reader.join();
  engineEnds();
  shellEnds();
  tick();
  EXPECT_EQ(calls, kBootThenRestart);
}

// The log box keeps only the last 30000 bytes: an engine that goes on printing after
// its success line still succeeded, even with the success word cut in two by the reads.
TEST_F(RestoreTest, SuccessLinePastTheBoxCapStillCounts) {
  std::string trailer;
  while (trailer.size() < 31000) trailer += "Verifying: C:\\Windows\\WinSxS\\x86_microsoft-windows-file.dll\r\n";
  const std::string run = readData("apply_run.txt");
  for (bool split : {false, true}) {
    SCOPED_TRACE(split ? "the word split across two reads at the cap" : "the line far behind");
    calls.clear();
    open();
    window->click("okButton");
    engineStarts();
    tick();
    if (split) {
      // The box is nearly full; the first read ends inside the word, the second would
      // overflow the box, which starts over with the word's second half.
      shellPrints(std::string(30000 - 20, 'p'));
      shellPrints("\r\nSuccessf");
      shellPrints("ully applied image.\r\n");
    } else {
      shellPrintsInPieces(run + "\r\n" + trailer);
    }
    ui.processPendingMessages();
    ASSERT_EQ(gbk::toUpperAscii(c("engineLogBox").text()).find("SUCCESSFULLY"), std::string::npos)
        << "the box no longer holds the word";
    engineEnds();
    shellEnds();
    tick();
    EXPECT_EQ(calls, kBootThenRestart);
    EXPECT_GBK_EQ("Imagex应用映像到磁盘完成！", c("statusLabel").text());
    EXPECT_TRUE(ui.boxes.empty());
    engineEnds();
  }
}

TEST_F(RestoreTest, StopButtonAsksWithTheEngineFrozen) {
  open();
  window->click("okButton");
  engineStarts();
  tick();
  ui.answers = {ui::kAnswerNo};
  window->click("cancelButton");
  EXPECT_GBK_EQ("Imagex正在操作,是否终止？", ui.boxes.at(0).text);
  EXPECT_EQ(w.processes.suspended,
            (std::vector<std::pair<unsigned long, bool>>{{kEnginePid, true}, {kEnginePid, false}}));
  EXPECT_TRUE(w.processes.terminated.empty());
  EXPECT_TRUE(window->timerRunning(wim::kClockTimer));

  // Closing through the title bar is the same question; Yes stops the engine.
  ui.answers = {ui::kAnswerYes};
  EXPECT_FALSE(window->requestClose());
  EXPECT_EQ(w.processes.terminated, std::vector<unsigned long>{kEnginePid});
  EXPECT_TRUE(logic->applyCancelled());
  EXPECT_FALSE(window->closed());
  shellPrints("\r\nVrelPE: engine finished\r\n");
  tick();
  EXPECT_GBK_EQ("取消Imagex应用映像到磁盘！", ui.boxes.back().text);
  EXPECT_TRUE(window->closed());
  EXPECT_EQ(c("progressBar").position(), 0);
  EXPECT_TRUE(calls.empty());
}

// The engine may finish just before the stop question is answered: a run that ended by
// itself is judged as it ended, whatever the answer (here Yes), and boot repair follows.
TEST_F(RestoreTest, AYesAfterTheEngineFinishedIsNotACancel) {
  const struct {
    const char* when;
    bool seenByAPoll, markerArrived;
  } cases[] = {
      {"gone before the question, its end marker through", true, true},
      {"gone before the question, its end marker on its way", true, false},
      {"ran and ended between two checks", false, true},
      {"ran and ended between two checks, its end marker on its way", false, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.when);
    calls.clear();
    ui.boxes.clear();
    w.processes.terminated.clear();
    open();
    window->click("okButton");
    engineStarts();
    if (k.seenByAPoll) tick();
    shellPrints(readData("apply_run.txt"));
    engineEnds();
    if (k.markerArrived) shellEnds();
    ui.answers = {ui::kAnswerYes};
    window->click("cancelButton");
    EXPECT_FALSE(logic->applyCancelled());
    EXPECT_TRUE(w.console.open_) << "the shell is left to print its end";
    EXPECT_TRUE(window->timerRunning(wim::kClockTimer));
    if (!k.markerArrived) shellEnds();
    tick();
    EXPECT_EQ(calls, kBootThenRestart);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("Imagex正在操作,是否终止？", ui.boxes[0].text);
    EXPECT_TRUE(w.processes.terminated.empty());
  }
}

// Frozen while asked, the engine ends the moment it is resumed: nothing is left to stop.
TEST_F(RestoreTest, AnEngineThatEndsAsTheQuestionCloses) {
  open();
  window->click("okButton");
  engineStarts();
  tick();
  shellPrints(readData("apply_run.txt"));
  // Ends as it is resumed (after the answer is taken): the last pair on the record.
  w.processes.onSuspend = [this](unsigned long, bool suspended) {
    if (!suspended) engineEnds();
  };
  ui.answers = {ui::kAnswerYes};
  window->click("cancelButton");
  EXPECT_FALSE(logic->applyCancelled());
  EXPECT_TRUE(w.processes.terminated.empty());
  shellEnds();
  tick();
  EXPECT_EQ(calls, kBootThenRestart);
}

// The box runs its window's timers: a run judged while the question was up leaves the
// window idle, and No does not start its clock again.
TEST_F(RestoreTest, ARunJudgedWhileAskingStaysJudged) {
  for (const int answer : {ui::kAnswerNo, ui::kAnswerYes}) {
    SCOPED_TRACE(answer);
    calls.clear();
    ui.boxes.clear();
    open();
    appliedAndGone();
    ui.whileAsking = [this] {
      shellEnds();
      tick();
    };
    ui.answers = {answer};
    window->click("cancelButton");
    EXPECT_EQ(calls, kBootThenRestart);
    EXPECT_FALSE(logic->applyCancelled());
    for (const char* timer : {wim::kClockTimer, wim::kFinishTimer, wim::kProgressTimer})
      EXPECT_FALSE(window->timerRunning(timer)) << timer;
    EXPECT_FALSE(w.console.open_);
  }
}

// Stopped before the engine has appeared: the shell is ended so it never starts.
TEST_F(RestoreTest, StopBeforeTheEngineAppears) {
  open();
  window->click("okButton");
  ui.answers = {ui::kAnswerYes};
  window->click("cancelButton");
  EXPECT_FALSE(w.console.open_);
  tick();
  EXPECT_TRUE(window->closed());
  EXPECT_GBK_EQ("取消Imagex应用映像到磁盘！", ui.boxes.back().text);
}

TEST_F(RestoreTest, IdleStopButtonCloses) {
  open();
  window->click("cancelButton");
  EXPECT_TRUE(window->closed());
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RestoreTest, LeftoverEngineIsOfferedForTermination) {
  open();
  engineStarts();
  w.processes.running.push_back({5001, "ZeDadaviZezi.exe"});
  ui.answers = {ui::kAnswerNo};
  window->click("okButton");
  EXPECT_GBK_EQ("检测到有其他Imagex.exe正在运行,是否终止？\r\n注意:如果不终止其他Imagex.exe,可能会影响Imagex还原。", ui.boxes.at(0).text);
  EXPECT_TRUE(w.console.opens.empty());
  ui.answers = {ui::kAnswerYes};
  window->click("okButton");
  // One copy ended; the start goes on.
  EXPECT_EQ(w.processes.terminated, std::vector<unsigned long>{kEnginePid});
  EXPECT_EQ(w.console.opens.size(), 1u);
}

// Formatting the partition that holds the image would destroy it before it is read:
// with a format chosen nothing is formatted or applied. Without one ("跳过 None") the
// image is applied onto its own partition like anywhere else. A relative path counts
// where the engine would find it.
TEST_F(RestoreTest, RefusesToFormatTheImagesOwnPartition) {
  w.files.currentDirectory = "C:\\work";
  w.files.addFile("C:\\work\\images\\win7.wim", "x");
  for (const char* image : {"c:\\images\\win7.wim", "images\\win7.wim"}) {
    for (int format : {0, 1}) {
      SCOPED_TRACE(std::string(image) + " format " + std::to_string(format));
      ui.boxes.clear();
      request.imagePath = image;
      open(true);
      window->selectItem("formatCombo", format);
      window->click("okButton");
      ASSERT_EQ(ui.boxes.size(), 1u);
      EXPECT_GBK_EQ("映像文件位于要还原的分区上,格式化该分区会毁掉映像文件本身。\r\n"
                    "请在“格 式 化”中选择“跳过 None”,或选择其他分区,或先把映像文件复制到其他分区。",
                    ui.boxes[0].text);
      EXPECT_EQ(ui.boxes[0].style, 0x2010u);
      EXPECT_TRUE(w.console.opens.empty());
      EXPECT_TRUE(w.volumes.formats.empty() && w.volumes.formatDialogs.empty());
      EXPECT_TRUE(c("okButton").visible() && c("okButton").enabled());
    }
  }
  ui.boxes.clear();
  request.imagePath = "images\\win7.wim";
  open(true);
  window->selectItem("formatCombo", 2);
  window->click("okButton");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(w.volumes.formats.empty() && w.volumes.formatDialogs.empty());
  ASSERT_EQ(w.console.opens.size(), 1u);
  EXPECT_GBK_EQ("@X:\\Temp\\\\ZeDadaviZezi.exe /apply \"images\\win7.wim\" 2 C: & echo. & echo VrelPE: engine finished\r\n",
                w.console.input);
}

// A partition without a letter: nothing is formatted, applied or repaired.
TEST_F(RestoreTest, RefusesAPartitionWithoutALetter) {
  request.target.targetDrive = "";
  request.target.targetDisplay = "(1:3)";
  open(true);
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("所选分区 (1:3) 没有盘符,Imagex无法还原该分区！\r\n请先为它分配盘符。", ui.boxes[0].text);
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_TRUE(w.volumes.formats.empty());
  EXPECT_FALSE(window->timerRunning(wim::kFinishTimer));
  EXPECT_TRUE(c("okButton").visible() && c("okButton").enabled());
}

// The guard against another engine is the window's own check and is asked first; the
// program's refusals follow it, before the format question and anything it does.
TEST_F(RestoreTest, TheEngineGuardComesBeforeTheProgramsRefusals) {
  w.files.addFile("C:\\images\\win7.wim", "x");
  const std::pair<const char*, const char*> refused[] = {
      {"", "所选分区 (1:3) 没有盘符,Imagex无法还原该分区！\r\n请先为它分配盘符。"},
      {"C:\\", "映像文件位于要还原的分区上,格式化该分区会毁掉映像文件本身。\r\n"
               "请在“格 式 化”中选择“跳过 None”,或选择其他分区,或先把映像文件复制到其他分区。"},
  };
  for (const auto& [drive, text] : refused) {
    SCOPED_TRACE(drive);
    request.target.targetDrive = drive;
    request.target.targetDisplay = *drive ? "C:\\(1:1)" : "(1:3)";
    request.imagePath = "C:\\images\\win7.wim";
    open(true);
    engineStarts();
    ui.boxes.clear();
    ui.answers = {ui::kAnswerNo};
    window->click("okButton");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("检测到有其他Imagex.exe正在运行,是否终止？\r\n注意:如果不终止其他Imagex.exe,可能会影响Imagex还原。",
                  ui.boxes[0].text);
    ui.boxes.clear();
    ui.answers = {ui::kAnswerYes};
    window->click("okButton");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_GBK_EQ(text, ui.boxes[1].text);
    EXPECT_TRUE(w.console.opens.empty());
    EXPECT_TRUE(w.volumes.formats.empty());
    engineEnds();
  }
}

// The choice in formatCombo travels with the request to the format step, which
// starts the apply once the target is formatted.
TEST_F(RestoreTest, TheChosenFormatRunsBeforeTheApply) {
  open(true);
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("分区 C:\\(1:1) 的数据将被删除,是否继续？", ui.boxes[0].text);
  ASSERT_EQ(w.volumes.formats.size(), 1u);
  EXPECT_EQ(w.volumes.formats[0].root, "C:\\");
  EXPECT_EQ(w.console.opens.size(), 1u);
  EXPECT_EQ(logic->request().options.format, core::FormatChoice::AutoNtfs);
}

// A letter lent to the EFI system partition of a GPT target goes back when the window
// closes without boot repair having used it.
TEST_F(RestoreTest, TheLentEspLetterGoesBackWhenTheWindowCloses) {
  request.target.targetPartitionType = "主分区,GPT";
  w.volumes.volumes = {{"\\\\?\\Volume{e5}\\", 0, 1, true, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", ""}};
  ui.scriptModal([](fake::Window& window) { window.click("cancelButton"); });
  wim::restoreProgressWindow(ctx, nullptr, partitions, request, hooks);
  ASSERT_EQ(w.volumes.mounts.size(), 1u);
  EXPECT_EQ(w.volumes.unmounts, std::vector<std::string>{"V:\\"});
  EXPECT_FALSE(state.esp.mountedHere);
}

// The partition chosen in the main window is listed again when OK is pressed: one
// that changed meanwhile is neither formatted nor applied to, and the list is refilled.
TEST_F(RestoreTest, APartitionThatChangedBeforeOkIsNeitherFormattedNorApplied) {
  std::vector<core::ListedPartition> now{{"C:\\", "1:1", "主分区,MBR", "", ""}};
  int refreshes = 0;
  ctx.partitionsNow = [&] { return now; };
  ctx.refreshPartitions = [&] { ++refreshes; };
  now[0].total = "7.50GB";
  open(true);
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("所选分区 C:\\(1:1) 已发生变化(可能插入或拔出了磁盘),分区列表已刷新,请重新选择要还原的分区！",
                ui.boxes[0].text);
  EXPECT_TRUE(w.volumes.formats.empty());
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_EQ(refreshes, 1);

  now[0].total = "";
  ui.boxes.clear();
  window->click("okButton");
  EXPECT_EQ(w.volumes.formats.size(), 1u);
  EXPECT_EQ(w.console.opens.size(), 1u);
  EXPECT_EQ(refreshes, 1);
}

}  // namespace
