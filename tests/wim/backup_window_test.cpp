#include "wim/backup_window.h"

#include <gtest/gtest.h>

#include <algorithm>


#include "platform/gbk.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/support/layout.h"
#include "tests/wim/wim_data.h"
#include "wim/engine_guard.h"

namespace {

using W = wim::BackupWindow;

using wimtest::readData;

constexpr unsigned long kEnginePid = 5000;
const std::string kEnd = "\r\nVrelPE: engine finished\r\n";

class BackupTest : public ::testing::Test {
 protected:
  BackupTest() {
    state.tools.enginePath = "X:\\Temp\\\\ZeDadaviZezi.exe";
    state.tools.isoToolPath = "X:\\Temp\\\\ISO.exe";
    target.targetDrive = "C:\\";
    target.targetDisplay = "C:\\(1:1)";
    w.files.addDir("E:\\");
    hooks.restart = [this] { calls.push_back("restart"); };
    hooks.shutDown = [this] { calls.push_back("shutdown"); };
  }
  void open(const std::string& savePath = "E:\\备份\\bak.wim") {
    core::Request request;
    request.mode = core::Mode::WimBackup;
    request.imagePath = savePath;
    request.target = target;
    logic = std::make_unique<W>(ctx, request, "VrelPE Lite 一键备份还原", hooks);
    window = &ui.create(*logic);
  }
  fake::Control& c(std::string_view name) { return window->get(name); }
  void tick(const char* timer = wim::kFinishTimer) {
    ASSERT_TRUE(window->timerRunning(timer)) << "timer " << timer << " is stopped";
    window->fireTimer(timer);
  }
  // Our engine is the shell's child.
  void engineRuns() { w.processes.running.push_back({kEnginePid, "ZeDadaviZezi.exe", w.console.pid}); }
  void engineEnds() {
    auto& r = w.processes.running;
    r.erase(std::remove_if(r.begin(), r.end(), [](auto& e) { return e.pid == kEnginePid; }), r.end());
  }
  // The engine writes its scratch file, then (on success) renames it.
  void runToEnd(const std::string& output, bool writesImage) {
    window->click("okButton");
    engineRuns();
    tick();
    w.files.addFile("E:\\备份\\bak.wim.vrelpart", "partial");
    w.console.deliver(output);
    if (writesImage) {
      w.files.deleteFile("E:\\备份\\bak.wim.vrelpart");
      w.files.addFile("E:\\备份\\bak.wim", std::string(2 * 1048576 + 1048576 / 4, 'i'));
    }
    engineEnds();
    w.console.deliver(kEnd);
    tick();
  }

  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  core::Target target;
  wim::PowerHooks hooks;
  std::vector<std::string> calls;
  std::unique_ptr<W> logic;
  fake::Window* window = nullptr;
};

TEST_F(BackupTest, Defaults) {
  open();
  EXPECT_GBK_EQ("本映像卷由VrelPE Lite 一键备份还原于2017-07-03 14:05:09生成。", c("descriptionEdit").text());
  EXPECT_GBK_EQ("Win_Bak_2017-07-03 14:05:09", c("imageNameEdit").text());
  EXPECT_GBK_EQ("备份分区:C:\\(1:1)", c("sourceLabel").text());
  EXPECT_GBK_EQ("保存路径:E:\\备份\\bak.wim", c("destinationLabel").text());
  EXPECT_GBK_EQ("最高压缩", c("compressionCombo").text());
  EXPECT_EQ(c("systemFlagCombo").text(), "    ");
  EXPECT_EQ(logic->compressionSwitch(), " /compress Maximum");
  const ui::WindowSpec& spec = logic->spec();
  EXPECT_EQ(std::vector<int>({spec.x, spec.y, spec.w, spec.h}), std::vector<int>({50, 50, 467, 400}));
}

// The window's table as the user is to see it, timers included.
TEST_F(BackupTest, ControlTableAsLaidOut) {
  using K = ui::Kind;
  open();
  const ui::WindowSpec& spec = logic->spec();
  EXPECT_GBK_EQ("Vevido Ziruzo", spec.caption);
  layouttest::expectControls(spec, {
                                       {"iconPicture", K::Picture, "", 16, 8, 48, 48},
                                       {"prompt", K::Label, "程序将执行备份操作,您确定吗？", 80, 16, 184, 16},
                                       {"sourceLabel", K::Label, "", 80, 40, 184, 16},
                                       {"destinationLabel", K::Label, "", 80, 64, 328, 16},
                                       {"nameCaption", K::Label, "映像名称:", 80, 90, 56, 16},
                                       {"imageNameEdit", K::Edit, "", 136, 88, 312, 20},
                                       {"compressionCaption", K::Label, "压缩率:", 92, 120, 48, 16},
                                       {"compressionCombo", K::DropDownList, "", 136, 120, 88, 20},
                                       {"flagCaption", K::Label, "系统标志:", 256, 120, 64, 16},
                                       {"systemFlagCombo", K::DropDownList, "", 312, 118, 136, 20},
                                       {"descriptionCaption", K::Label, "备  注:", 90, 152, 48, 16},
                                       {"descriptionEdit", K::MultiLineEdit, "", 136, 152, 312, 96},
                                       {"progressCaption", K::Label, "备份进度:", 16, 256, 64, 16},
                                       {"percentLabel", K::Label, "  0%", 72, 256, 96, 16},
                                       {"elapsedLabel", K::Label, "已用时间: 00:00:00", 168, 256, 120, 16},
                                       {"remainingLabel", K::Label, "剩余时间: 00:00:00", 312, 256, 136, 16},
                                       {"progressBar", K::ProgressBar, "", 16, 280, 432, 24},
                                       {"statusLabel", K::Label, "", 16, 312, 240, 24},
                                       {"okButton", K::Button, "确  定(&C)", 256, 328, 88, 32},
                                       {"cancelButton", K::Button, "取  消(&X)", 360, 328, 88, 32},
                                       {"restartCheck", K::CheckBox, "完成后重启", 16, 336, 88, 16},
                                       {"shutdownCheck", K::CheckBox, "完成后关机", 112, 336, 88, 16},
                                       {"engineLogBox", K::MultiLineEdit, "", -8, 432, 472, 240},
                                   });
  layouttest::expectItems(spec, "compressionCombo", {"不压缩", "快速压缩", "最高压缩"}, 2);
  layouttest::expectItems(spec, "systemFlagCombo",
                          {"    ", "HomeBasic", "HomePremium", "Starter", "Ultimate", "Business", "Enterprise",
                           "ServerDatacenter", "ServerEnterprise", "ServerStandard", "Windows PE"},
                          0);
  layouttest::expectFlag(spec, ui::kChecked, {"restartCheck"});
  layouttest::expectFlag(spec, ui::kHidden, {});
  layouttest::expectTimers(spec, {{"finishTimer", 500}, {"progressTimer", 50}, {"clockTimer", 1000}});
}

TEST_F(BackupTest, CommandLinesByteForByte) {
  open();
  const struct {
    int compression;
    int flag;
    const char* line;
  } cases[] = {
      {2, 0,
       "X:\\Temp\\\\ZeDadaviZezi.exe /capture C:\\ \"E:\\备份\\bak.wim\" \"Win_Bak_2017-07-03 14:05:09\"  "
       "\"本映像卷由VrelPE Lite 一键备份还原于2017-07-03 14:05:09生成。\" /flags \"    \" /compress Maximum "
       "/temp E:\\ImagexTemp"},
      {0, 4,
       "X:\\Temp\\\\ZeDadaviZezi.exe /capture C:\\ \"E:\\备份\\bak.wim\" \"Win_Bak_2017-07-03 14:05:09\"  "
       "\"本映像卷由VrelPE Lite 一键备份还原于2017-07-03 14:05:09生成。\" /flags \"Ultimate\" /compress none "
       "/temp E:\\ImagexTemp"},
      {1, 10,
       "X:\\Temp\\\\ZeDadaviZezi.exe /capture C:\\ \"E:\\备份\\bak.wim\" \"Win_Bak_2017-07-03 14:05:09\"  "
       "\"本映像卷由VrelPE Lite 一键备份还原于2017-07-03 14:05:09生成。\" /flags \"Windows PE\" /compress fast "
       "/temp E:\\ImagexTemp"},
  };
  for (const auto& k : cases) {
    w.console.input.clear();
    window->selectItem("compressionCombo", k.compression);
    window->selectItem("systemFlagCombo", k.flag);
    logic->startWimCapture();
    EXPECT_GBK_EQ("@" + std::string(k.line) + " & echo. & echo VrelPE: engine finished\r\n",
                  w.console.input);
    w.console.close();
    logic->pollCaptureFinished();  // the shell is gone: back to idle
  }
}

// A quote or a line break in the name or the description would end the argument or
// the command line inside the interpreter.
TEST_F(BackupTest, NameAndDescriptionCannotBreakTheLine) {
  EXPECT_EQ(wim::captureCommandLine({"e.exe", "C:\\", "E:\\b.wim", "a\"b", "x\r\ny\nz\"& del", "    ",
                                     " /compress fast"}),
            "e.exe /capture C:\\ \"E:\\b.wim\" \"a'b\"  \"x y z'& del\" /flags \"    \" /compress fast "
            "/temp E:\\ImagexTemp");
  open();
  c("imageNameEdit").setText("");
  logic->startWimCapture();
  EXPECT_NE(w.console.input.find("\" \"  \""), std::string::npos) << "an empty name is one blank";
}

// By the engine's argument rules a backslash before the closing quote makes it a
// quote of the text; the interpreter replaces %NAME% even inside quotes. Each "%"
// stands outside the quotes ("a"%"b" is the one argument a%b), so no variable name
// lies between two of them, and backslashes before a quote that ends are doubled.
TEST_F(BackupTest, NameAndDescriptionReachTheEngineAsTyped) {
  const struct {
    const char* name;
    const char* description;
    const char* quoted;  // what stands between /capture C:\ "E:\b.wim" and /flags
  } cases[] = {
      {"Win\\", "D:\\dir\\", "\"Win\\\\\"  \"D:\\dir\\\\\""},
      {"%PATH%", "50% of %USERNAME%", "\"\"%\"PATH\"%\"\"  \"50\"%\" of \"%\"USERNAME\"%\"\""},
      {"a\\%b", "C:\\d\\ 50%\\", "\"a\\\\\"%\"b\"  \"C:\\d\\ 50\"%\"\\\\\""},
      {"a\\\\", "\\", "\"a\\\\\\\\\"  \"\\\\\""},
      // 癨 ends with the byte of a backslash, which is no backslash.
      {"系统癨", "a\\b", "\"系统癨\"  \"a\\b\""},
  };
  for (const auto& k : cases) {
    EXPECT_GBK_EQ(std::string("e.exe /capture C:\\ \"E:\\b.wim\" ") + k.quoted + " /flags \"    \" /compress fast /temp E:\\ImagexTemp",
                  wim::captureCommandLine({"e.exe", "C:\\", "E:\\b.wim", k.name, k.description, "    ", " /compress fast"}))
        << gbktest::toUtf8(k.name);
  }
}

TEST_F(BackupTest, ScratchFolderAndMarker) {
  open();
  window->click("okButton");
  EXPECT_TRUE(w.files.isDirectory("E:\\ImagexTemp"));
  EXPECT_GBK_EQ("Imagex备份缓存目录,请勿删除。",
                w.files.contentOf("E:\\ImagexTemp\\Imagex备份缓存目录,请勿删除。"));
  EXPECT_GBK_EQ("正在备份磁盘C:\\(1:1)...", c("statusLabel").text());
  EXPECT_EQ(c("elapsedLabel").text(), "已用时间:00:00:00");
  for (auto name : {"imageNameEdit", "compressionCombo", "systemFlagCombo", "descriptionEdit"})
    EXPECT_FALSE(c(name).enabled()) << name;
  engineRuns();
  tick();
  engineEnds();
  w.console.deliver(kEnd);
  tick();
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));

  // An existing folder is reused as it is, and removed at the end all the same.
  w.files.addDir("E:\\ImagexTemp");
  w.files.writes.clear();
  window->click("okButton");
  EXPECT_TRUE(w.files.writes.empty());
  w.console.deliver(kEnd);
  tick();
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
}

TEST_F(BackupTest, SucceededWithSummary) {
  open();
  c("restartCheck").checked_ = false;
  runToEnd(readData("capture_run.txt"), true);
  EXPECT_TRUE(calls.empty());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("Imagex备份磁盘完成！\r\n\r\n备份分区: C:\\(1:1)\r\n\r\n映像大小: 2.25 MB\r\n\r\n保存位置: "
                "E:\\备份\\bak.wim\r\n\r\n大       小: 2 MB\r\n\r\n备份日期: 2017-07-03 14:05:09",
                ui.boxes[0].text);
  EXPECT_GBK_EQ("Imagex备份 C:\\(1:1) 完成！", c("statusLabel").text());
  EXPECT_EQ(c("remainingLabel").text(), "剩余时间:00:00:00");
  EXPECT_EQ(c("percentLabel").text(), "100%");
  EXPECT_EQ(c("progressBar").position(), 100);
  EXPECT_EQ(w.shell.exits, std::vector<int>{0});
  // The capture's block in the operation log, written before the program ends.
  const std::string log = w.files.contentOf("U:\\VrelPE\\VrelPELite.log");
  EXPECT_EQ(log.rfind("==== WIM 捕获\r\n开始: 2017-07-03 14:05:09\r\n结束: 2017-07-03 14:05:09\r\n映像: E:\\备份\\bak.wim\r\n", 0),
            0u) << log;
  const std::string tail = "结果: 成功\r\n  Imagex备份 C:\\(1:1) 完成！\r\n\r\n";
  EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << log;
}

TEST_F(BackupTest, BothPowerBoxesTickedRestartWins) {
  open();
  window->click("shutdownCheck");
  EXPECT_TRUE(c("restartCheck").checked() && c("shutdownCheck").checked());
  runToEnd(readData("capture_run.txt"), true);
  EXPECT_EQ(calls, std::vector<std::string>{"restart"});
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(BackupTest, FailureDeletesOnlyWhatThisCaptureMade) {
  const std::string failure = "[   0% ] Capturing progress\r\n\r\n错误: 磁盘空间不足。\r\n";
  // The engine's scratch file goes with the failed run.
  open();
  runToEnd(failure, false);
  EXPECT_GBK_EQ("Imagex备份失败。", c("statusLabel").text());
  EXPECT_GBK_EQ("Imagex备份失败。", ui.boxes.at(0).text);
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim.vrelpart"));
  EXPECT_FALSE(window->closed());
  EXPECT_TRUE(c("okButton").visible());
  EXPECT_TRUE(c("imageNameEdit").enabled());

  // An older backup under the chosen name survives a failed capture.
  w.files.addFile("E:\\备份\\bak.wim", "older backup");
  runToEnd(failure, false);
  EXPECT_EQ(w.files.contentOf("E:\\备份\\bak.wim"), "older backup");
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim.vrelpart"));
}

// The engine wrote the whole image and its read-back failed: the image stays, named
// as damaged, in the box and in the log. The same line from a run that left no image
// (or only its scratch file) keeps nothing.
TEST_F(BackupTest, AnImageThatFailsTheEnginesReadBackIsKeptAndNamedDamaged) {
  const std::string damaged =
      "[ 100% ] Capturing progress\r\n\r\n错误: 映像文件已写完,但读回检查没有通过,映像已损坏,不能用来还原！"
      "损坏的映像文件已保留,请重新备份。(代码 28)\r\n";
  const std::string expected =
      "Imagex备份失败。\r\n备份映像 E:\\备份\\bak.wim 已损坏,不能通过完整性检查,不能用来还原！映像文件已保留,请重新备份。";
  for (bool olderExisted : {false, true}) {
    w.files.deleteFile("E:\\备份\\bak.wim");
    if (olderExisted) w.files.addFile("E:\\备份\\bak.wim", "older backup");
    ui.boxes.clear();
    open();
    runToEnd(damaged, true);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ(expected, ui.boxes[0].text);
    EXPECT_EQ(ui.boxes[0].style, ui::kIconStop | ui::kTaskModal);
    EXPECT_GBK_EQ("Imagex备份失败。", c("statusLabel").text());
    EXPECT_EQ(w.files.contentOf("E:\\备份\\bak.wim").size(), 2u * 1048576 + 1048576 / 4);
    EXPECT_TRUE(calls.empty()) << "no power action after a failure";
    const std::string log = w.files.contentOf("U:\\VrelPE\\VrelPELite.log");
    EXPECT_NE(log.find("结果: 失败\r\n  Imagex备份失败。\r\n  备份映像 E:\\备份\\bak.wim 已损坏,"), std::string::npos) << log;
  }
  w.files.deleteFile("E:\\备份\\bak.wim");
  ui.boxes.clear();
  open();
  window->click("okButton");
  w.files.addFile("E:\\备份\\bak.wim.vrelpart", "partial");
  w.console.deliver(damaged + kEnd);
  tick();
  EXPECT_GBK_EQ("Imagex备份失败。", ui.boxes.at(0).text);
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim.vrelpart"));
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim"));
}

TEST_F(BackupTest, NewDestinationLeftByAFailedEngineIsRemoved) {
  open();
  window->click("okButton");
  w.files.addFile("E:\\备份\\bak.wim", "partial");
  w.console.deliver("错误: 无法读取要备份的文件(拒绝访问或文件正被使用)。(代码 47)" + kEnd);
  tick();
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim"));
}

TEST_F(BackupTest, StopButtonKillsTheEngineAndCleansUp) {
  open();
  window->click("okButton");
  engineRuns();
  tick();
  w.files.addFile("E:\\备份\\bak.wim.vrelpart", std::string(1000, 'p'));
  ui.answers = {ui::kAnswerNo};
  window->click("cancelButton");
  EXPECT_GBK_EQ("Imagex正在备份,是否退出？", ui.boxes.at(0).text);
  EXPECT_FALSE(logic->captureCancelled());
  ui.answers = {ui::kAnswerYes};
  window->click("cancelButton");
  EXPECT_TRUE(logic->captureCancelled());
  EXPECT_EQ(w.processes.terminated, std::vector<unsigned long>{kEnginePid});
  w.console.deliver(kEnd);
  tick();
  EXPECT_GBK_EQ("用户取消Imagex备份。", ui.boxes.back().text);
  EXPECT_TRUE(window->closed());
  EXPECT_FALSE(w.files.hasFile("E:\\备份\\bak.wim.vrelpart"));
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
}

// A capture that finished just before Yes to the stop question is a finished capture:
// its image is kept and shown as made, not reported as cancelled.
TEST_F(BackupTest, AYesAfterTheCaptureFinishedKeepsItsImage) {
  open();
  c("restartCheck").checked_ = false;
  window->click("okButton");
  engineRuns();
  tick();
  w.console.deliver(readData("capture_run.txt"));
  w.files.addFile("E:\\备份\\bak.wim", std::string(1048576, 'i'));
  engineEnds();
  ui.answers = {ui::kAnswerYes};
  window->click("cancelButton");
  EXPECT_FALSE(logic->captureCancelled());
  w.console.deliver(kEnd);
  tick();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Imagex正在备份,是否退出？", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[1].text.rfind("Imagex备份磁盘完成！", 0), 0u) << gbktest::toUtf8(ui.boxes[1].text);
  EXPECT_TRUE(w.files.hasFile("E:\\备份\\bak.wim"));
  EXPECT_TRUE(w.processes.terminated.empty());
}

// The success line may lie beyond the log box's 30000 bytes when the engine goes on
// printing: the capture still succeeded, and its image stays.
TEST_F(BackupTest, SuccessLinePastTheBoxCapKeepsTheImage) {
  std::string trailer;
  while (trailer.size() < 31000) trailer += "Writing metadata: \\Windows\\System32\\drivers\\etc\r\n";
  open();
  c("restartCheck").checked_ = false;
  window->click("okButton");
  engineRuns();
  tick();
  const std::string output = readData("capture_run.txt") + "\r\n" + trailer;
  for (std::size_t at = 0; at < output.size(); at += 260) w.console.deliver(output.substr(at, 260));
  w.files.addFile("E:\\备份\\bak.wim", std::string(1048576, 'i'));
  ui.processPendingMessages();
  ASSERT_EQ(c("engineLogBox").text().find("Successfully imaged"), std::string::npos);
  engineEnds();
  w.console.deliver(kEnd);
  tick();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("Imagex备份磁盘完成！", 0), 0u) << gbktest::toUtf8(ui.boxes[0].text);
  EXPECT_TRUE(w.files.hasFile("E:\\备份\\bak.wim"));
}

// The command interpreter takes at most 8191 characters: a pasted description that
// makes the line longer would never run, and is refused before the scratch folder or
// the shell. A double-byte character counts once, as the interpreter counts it.
TEST_F(BackupTest, ADescriptionTooLongForTheInterpreterIsRefused) {
  open();
  c("descriptionEdit").setText(std::string(9000, 'x'));
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("命令行长达 9180 个字符,超出了命令解释器能执行的 8191 个字符,无法备份。\r\n请缩短映像名称或备注后再试。",
                ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, ui::kIconStop | ui::kTaskModal);
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
  EXPECT_TRUE(c("okButton").visible() && c("descriptionEdit").enabled());

  std::string chinese;
  for (int i = 0; i < 4100; ++i) chinese += "备";
  c("descriptionEdit").setText(chinese);
  window->click("okButton");
  EXPECT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(w.console.opens.size(), 1u);
}

// No engine ever appears and the shell sits idle: the capture ends as a failure.
TEST_F(BackupTest, AShellThatNeverStartsTheEngineEndsTheCapture) {
  open();
  window->click("okButton");
  for (int i = 0; i < 100 && window->timerRunning(wim::kFinishTimer); ++i) tick();
  EXPECT_FALSE(window->timerRunning(wim::kFinishTimer));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("Imagex备份失败。\r\n命令解释器没有启动 ZeDadaviZezi.exe,没有生成映像文件。", ui.boxes[0].text);
  EXPECT_GBK_EQ("Imagex备份失败。", c("statusLabel").text());
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
}

TEST_F(BackupTest, CaptureGuardNamesTheRealEngine) {
  open();
  engineRuns();
  ui.answers = {ui::kAnswerNo};
  window->click("okButton");
  EXPECT_GBK_EQ("检测到有其他ZeDadaviZezi.exe正在运行,是否终止？\r\n注意:如果不终止其他ZeDadaviZezi.exe,"
                "可能会影响系统备份。",
                ui.boxes.at(0).text);
  EXPECT_TRUE(w.console.opens.empty());
}

TEST_F(BackupTest, APartitionWithoutALetterIsRefusedBeforeAnythingStarts) {
  target.targetDrive = "";
  target.targetDisplay = "(2:4)";
  open();
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("所选分区 (2:4) 没有盘符,Imagex无法备份该分区！\r\n请先为它分配盘符。", ui.boxes[0].text);
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
  EXPECT_TRUE(c("okButton").visible());
}

// The guard against another engine is the window's own check and is asked first; the
// program's refusal follows it and still comes before anything is created or run.
TEST_F(BackupTest, TheEngineGuardComesBeforeTheProgramsRefusal) {
  target.targetDrive = "";
  target.targetDisplay = "(2:4)";
  open();
  engineRuns();
  ui.answers = {ui::kAnswerNo};
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("检测到有其他ZeDadaviZezi.exe正在运行,是否终止？\r\n注意:如果不终止其他ZeDadaviZezi.exe,"
                "可能会影响系统备份。",
                ui.boxes[0].text);
  ui.boxes.clear();
  ui.answers = {ui::kAnswerYes};
  window->click("okButton");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("所选分区 (2:4) 没有盘符,Imagex无法备份该分区！\r\n请先为它分配盘符。", ui.boxes[1].text);
  EXPECT_TRUE(w.console.opens.empty());
  EXPECT_FALSE(w.files.exists("E:\\ImagexTemp"));
}

TEST_F(BackupTest, CaptureProgressLosesItsBlanks) {
  open();
  window->click("okButton");
  w.console.deliver("[  5% ] Capturing progress\r\n[ 1 2% ] Capturing progress: 0:16 mins remaining\r\n");
  tick(wim::kProgressTimer);
  EXPECT_EQ(c("percentLabel").text(), "12%");
  EXPECT_EQ(c("progressBar").position(), 12);
}

}  // namespace
