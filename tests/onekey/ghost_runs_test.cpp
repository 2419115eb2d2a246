#include <gtest/gtest.h>

#include "onekey/ghost_runs.h"

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/onekey/onekey_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using namespace onekeytest;

TEST(GhostCommandLines, EveryBlankInPlace) {
  EXPECT_EQ(onekey::restoreCommandLine(kEngine, "D:\\sys.gho", "1:2"),
            "X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pload,src=\"D:\\sys.gho\":1,dst=1:2  -crcignore  -noide -sure -fx "
            "-BATCH");
  EXPECT_EQ(onekey::backupCommandLine(kEngine, "1:1", "D:\\my backups\\c.GHO"),
            "X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pdump,src=1:1,dst=\"D:\\my backups\\c.GHO\" -z9  -crcignore  "
            "-noide  -sure  -fx -BATCH ");
  EXPECT_EQ(onekey::checkCommandLine(kEngine, "D:\\a & b.gho"),
            "X:\\Temp\\\\GhostVrelLite.exe   -CHKIMG,\"D:\\a & b.gho\" -sure  -fx -BATCH ");
}

TEST(GhostOutcome, OnlyAStartedSilentRunSucceeds) {
  const std::tuple<platform::CapturedRun, bool, std::string> cases[] = {
      {{true, ""}, true, ""},
      {{true, " "}, false, " "},
      {{true, "\r\n"}, false, "\r\n"},
      {{true, "Abort: 36000\r\n"}, false, "Abort: 36000\r\n"},
      {{false, ""}, false, "无法启动命令解释器 cmd.exe,Ghost没有运行。"},
      {{true, "", 1}, false, "Ghost没有正常结束(退出代码 1),也没有报告原因,可能被强行终止。"},
      {{true, "", 3221225786u}, false, "Ghost没有正常结束(退出代码 3221225786),也没有报告原因,可能被强行终止。"},
      {{true, "Abort: 36000\r\n", 5}, false, "Abort: 36000\r\n"},
  };
  for (const auto& [run, ok, text] : cases) {
    const onekey::GhostOutcome outcome = onekey::judgeGhostRun(run);
    EXPECT_EQ(outcome.succeeded, ok) << run.output;
    EXPECT_EQ(outcome.errorText, text);
  }
}

TEST_F(OneKeyTest, RestoreOfASmallLetterGhoImageRunsTheEngineWithTheMainWindowHidden) {
  w.files.addSizedFile("D:\\sys.gho", kMB * 3 / 2);
  chooseImage("D:\\sys.gho");
  selectRow(0);
  press();
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_EQ(w.processes.captured[0], engineRun(onekey::restoreCommandLine(kEngine, "D:\\sys.gho", "1:1")));
  EXPECT_EQ(mainVisibleDuringRuns, std::vector<bool>{false});
  EXPECT_TRUE(main->visible());
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("是否将 D:\\sys.gho 还原到 C:\\(1:1) ？", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2044u);
  EXPECT_GBK_EQ("Ghost应用映像到磁盘完成！\r\n映像名称: sys.gho\r\n安装分区: C:\\(1:1)\r\n映像大小: 1.5 MB", ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2040u);
}

// A restore whose NTFS could not be grown: the data is all there, the notice is shown.
TEST(GhostOutcome, OnlyNoticeLinesAreASuccessWithThatNotice) {
  const std::string notice = "提示: 分区已还原,但未能把 NTFS 扩展到整个分区(错误 87)。";
  struct Case {
    std::string output;
    bool ok;
    std::string notice;
  };
  const Case cases[] = {
      {notice + "\r\n", true, notice},
      {notice + "\r\n" + notice + "\r\n", true, notice + "\r\n" + notice},
      {notice, false, ""},
      {notice + "\r\n错误: 写入目标分区失败。\r\n", false, ""},
      {"错误: 写入目标分区失败。\r\n" + notice + "\r\n", false, ""},
      {"\r\n" + notice + "\r\n", false, ""},
      {" 提示: x\r\n", false, ""},
  };
  for (const Case& c : cases) {
    const onekey::GhostOutcome outcome = onekey::judgeGhostRun({true, c.output});
    EXPECT_EQ(outcome.succeeded, c.ok) << c.output;
    EXPECT_EQ(outcome.notice, c.notice);
    EXPECT_EQ(outcome.errorText, c.ok ? "" : c.output);
  }
}

TEST_F(OneKeyTest, ARestoreWithANoticeIsASuccessThatShowsIt) {
  w.files.addSizedFile("D:\\sys.gho", kMB);
  w.processes.answer("GhostVrelLite", "提示: 分区已还原,但未能把 NTFS 扩展到整个分区(错误 87)。\r\n");
  chooseImage("D:\\sys.gho");
  selectRow(0);
  press();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ(
      "Ghost应用映像到磁盘完成！\r\n映像名称: sys.gho\r\n安装分区: C:\\(1:1)\r\n映像大小: 1 MB\r\n"
      "提示: 分区已还原,但未能把 NTFS 扩展到整个分区(错误 87)。",
      ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2040u);
}

TEST_F(OneKeyTest, EngineOutputIsShownAsTheErrorAndADeclinedQuestionRunsNothing) {
  w.files.addFile("D:\\sys.GHO", "x");
  chooseImage("D:\\sys.GHO");
  selectRow(0);
  ui.answers = {ui::kAnswerNo};
  press();
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(ui.boxes.size(), 1u);
  w.processes.answer("GhostVrelLite", "\r\n");
  press();
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_GBK_EQ("Ghost应用映像错误！\r\n错误信息:\r\n\r\n", ui.boxes[2].text);
  EXPECT_EQ(ui.boxes[2].style, 0x2010u);
}

TEST_F(OneKeyTest, BackupSucceedsOnlyWithAnImageFileAfterTheRun) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.GHO");
  selectRow(0);
  w.processes.onRun = [this](const std::string&) {
    mainVisibleDuringRuns.push_back(main->visible());
    w.files.addSizedFile("D:\\bak\\c.GHO", 1024 * kMB);
  };
  press();
  ASSERT_EQ(w.processes.captured.size(), 2u) << "the backup, then its check";
  EXPECT_EQ(w.processes.captured[0], engineRun(onekey::backupCommandLine(kEngine, "1:1", "D:\\bak\\c.GHO")));
  EXPECT_EQ(w.processes.captured[1],
            "cmd.exe /c X:\\Temp\\\\GhostVrelLite.exe   -CHKIMG,\"D:\\bak\\c.GHO\" -sure  -fx -BATCH ");
  EXPECT_EQ(mainVisibleDuringRuns, (std::vector<bool>{false, false}));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("是否将 C:\\(1:1) 备份到 D:\\bak\\c.GHO ？", ui.boxes[0].text);
  EXPECT_GBK_EQ("Ghost备份磁盘完成！\r\n保存位置: c.GHO\r\n备份分区: C:\\(1:1)\r\n备份大小: 1024 MB", ui.boxes[1].text);

  // The engine said nothing but left no file, or an empty one: no backup exists.
  w.files.deleteFile("D:\\bak\\c.GHO");
  for (bool leavesEmptyFile : {false, true}) {
    ui.boxes.clear();
    w.processes.onRun = [&](const std::string&) {
      if (leavesEmptyFile) w.files.addFile("D:\\bak\\c.GHO");
    };
    press();
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n备份文件 D:\\bak\\c.GHO 没有生成或为空。", ui.boxes[1].text);
    EXPECT_EQ(ui.boxes[1].style, 0x2010u);
    EXPECT_FALSE(w.files.hasFile("D:\\bak\\c.GHO")) << "no empty image is left behind";
  }
}

// Over an older image of that name, a silent run that left the file as it was (same
// size, same time) wrote no backup: the user must not take the old image for a new
// one. The old file is kept.
TEST_F(OneKeyTest, BackupOverAnOlderImageMustChangeIt) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.GHO");
  selectRow(0);
  w.files.addSizedFile("D:\\bak\\c.GHO", 700 * kMB);
  press();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n备份文件 D:\\bak\\c.GHO 没有被改写(大小和修改时间与备份前相同),"
                "Ghost没有保存新的映像。原有文件保留未动。",
                ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2010u);
  EXPECT_EQ(w.files.fileSize("D:\\bak\\c.GHO"), 700 * kMB);

  // Rewritten, even to the same size: a new backup.
  ui.boxes.clear();
  w.processes.onRun = [this](const std::string&) { w.files.addSizedFile("D:\\bak\\c.GHO", 700 * kMB); };
  press();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost备份磁盘完成！\r\n保存位置: c.GHO\r\n备份分区: C:\\(1:1)\r\n备份大小: 700 MB", ui.boxes[1].text);
}

// A restore ended from outside says nothing: its exit code tells, and the user hears
// that the partition is only partly restored.
TEST_F(OneKeyTest, ASilentRestoreEndedFromOutsideIsAFailure) {
  w.processes.answer("GhostVrelLite", "", true, 1);
  w.files.addSizedFile("D:\\sys.gho", 3 * kMB);
  chooseImage("D:\\sys.gho");
  selectRow(0);
  press();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost应用映像错误！\r\n错误信息:\r\nGhost没有正常结束(退出代码 1),也没有报告原因,可能被强行终止。\r\n"
                "C:\\(1:1) 只还原了一部分,不能使用,请重新还原。",
                ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2010u);
}

// A silent run that leaves the engine's scratch file was cut short: an older image of
// that name is still there, but it is not this backup.
TEST_F(OneKeyTest, ABackupCutShortIsAFailureAndItsScratchFilesGo) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.GHO");
  selectRow(0);
  for (bool olderImage : {true, false}) {
    SCOPED_TRACE(olderImage);
    ui.boxes.clear();
    // Ended from outside (exit code 1) with an older image; silent with 0 without one.
    w.processes.rules.clear();
    if (olderImage) w.processes.answer("GhostVrelLite", "", true, 1);
    if (olderImage) w.files.addSizedFile("D:\\bak\\c.GHO", 700 * kMB);
    w.processes.onRun = [this](const std::string&) {
      w.files.addSizedFile("D:\\bak\\c.GHO.vrelpart", 300 * kMB);
      w.files.addSizedFile("D:\\bak\\c.GHO.002.vrelpart", 10 * kMB);
    };
    press();
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_GBK_EQ(olderImage ? "Ghost备份磁盘错误！\r\n错误信息:\r\nGhost没有完成备份(引擎中途被终止),未完成的文件 "
                               "D:\\bak\\c.GHO.vrelpart 已删除。原有的 D:\\bak\\c.GHO 没有改动。"
                             : "Ghost备份磁盘错误！\r\n错误信息:\r\nGhost没有完成备份(引擎中途被终止),未完成的文件 "
                               "D:\\bak\\c.GHO.vrelpart 已删除。",
                  ui.boxes[1].text);
    EXPECT_EQ(ui.boxes[1].style, 0x2010u);
    EXPECT_FALSE(w.files.hasFile("D:\\bak\\c.GHO.vrelpart"));
    EXPECT_FALSE(w.files.hasFile("D:\\bak\\c.GHO.002.vrelpart"));
    EXPECT_EQ(w.files.hasFile("D:\\bak\\c.GHO"), olderImage) << "the older image is kept";
    w.files.deleteFile("D:\\bak\\c.GHO");
  }
}

TEST_F(OneKeyTest, AnInterpreterThatNeverStartedFailsEveryOperation) {
  w.processes.answer("GhostVrelLite", "", false);
  w.files.addFile("D:\\sys.gho", "x");
  chooseImage("D:\\sys.gho");
  selectRow(0);
  press();
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\b.gho");
  w.files.addSizedFile("D:\\b.gho", 900 * kMB);  // an older file of that name proves nothing
  press();
  onekey::checkGhostImage(services, *main, "D:\\sys.gho");
  ASSERT_EQ(ui.boxes.size(), 5u);
  EXPECT_GBK_EQ("Ghost应用映像错误！\r\n错误信息:\r\n无法启动命令解释器 cmd.exe,Ghost没有运行。", ui.boxes[1].text);
  EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n无法启动命令解释器 cmd.exe,Ghost没有运行。", ui.boxes[3].text);
  EXPECT_GBK_EQ("sys.gho 镜像文件未能检查：无法启动命令解释器 cmd.exe,Ghost没有运行。", ui.boxes[4].text);
  for (int i : {1, 3, 4}) EXPECT_EQ(ui.boxes[i].style, 0x2010u);
  EXPECT_TRUE(w.files.hasFile("D:\\b.gho")) << "a file the backup did not create is kept";
}

// The check's image path reaches the interpreter like the others.
TEST_F(OneKeyTest, ImageCheckRefusesAPathTheInterpreterWouldRewrite) {
  onekey::checkGhostImage(services, *main, "D:\\%Temp%\\a.gho");
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(mainVisibleDuringRuns, std::vector<bool>{});
  EXPECT_TRUE(main->visible());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("映像文件 D:\\%Temp%\\a.gho 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！",
                ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2030u);

  ui.boxes.clear();
  onekey::checkGhostImage(services, *main, "D:\\50%\\%a%.gho");
  EXPECT_EQ(w.processes.captured, std::vector<std::string>{
                                      "cmd.exe /c X:\\Temp\\\\GhostVrelLite.exe   -CHKIMG,\"D:\\50%\\%a%.gho\" -sure  -fx -BATCH "});
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"经检查 %a%.gho 镜像文件非常完整！"});
}

TEST_F(OneKeyTest, ImageCheckReportsPassOrFailWithoutTheEngineText) {
  onekey::checkGhostImage(services, *main, "D:\\my images\\a&b.gho");
  w.processes.answer("CHKIMG", "Image is corrupt\r\n");
  onekey::checkGhostImage(services, *main, "D:\\bad.gho");
  EXPECT_EQ(w.processes.captured.at(0), engineRun(onekey::checkCommandLine(kEngine, "D:\\my images\\a&b.gho")));
  EXPECT_EQ(mainVisibleDuringRuns, (std::vector<bool>{false, false}));
  EXPECT_TRUE(main->visible());
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("经检查 a&b.gho 镜像文件非常完整！", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2040u);
  EXPECT_GBK_EQ("bad.gho 镜像文件不能通过完整性检查！", ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2010u);
}

// A check ended from outside (silent, exit code not 0) read only part of the image:
// neither the check on its own nor the one after a backup may call it sound.
TEST_F(OneKeyTest, ACheckEndedFromOutsideIsNeverCalledSound) {
  w.processes.answer("CHKIMG", "", true, 0xC000013A);
  onekey::checkGhostImage(services, *main, "D:\\sys.gho");
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.gho");
  selectRow(0);
  w.processes.onRun = [this](const std::string& line) {
    if (line.find("pdump") != std::string::npos) w.files.addSizedFile("D:\\bak\\c.gho", 700 * kMB);
  };
  press();
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_GBK_EQ("sys.gho 镜像文件未能检查完：Ghost没有正常结束(退出代码 3221225786),也没有报告原因,可能被强行终止。",
                ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);
  EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n备份映像 D:\\bak\\c.gho 未能检查完：Ghost没有正常结束(退出代码 "
                "3221225786),也没有报告原因,可能被强行终止。映像文件已保留,请另行检查。",
                ui.boxes[2].text);
  EXPECT_EQ(ui.boxes[2].style, 0x2010u);
  EXPECT_TRUE(w.files.hasFile("D:\\bak\\c.gho"));
}

// Every GHO backup is read back by the engine's image check before the summary.
TEST_F(OneKeyTest, BackupIsCheckedAndADamagedImageIsAFailureThatKeepsTheImage) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.gho");
  selectRow(0);
  w.processes.onRun = [this](const std::string& line) {
    if (line.find("pdump") != std::string::npos) w.files.addSizedFile("D:\\bak\\c.gho", 700 * kMB);
  };
  w.processes.answer("CHKIMG", "Image file is corrupt (CRC mismatch in block 12)\r\n");
  press();
  ASSERT_EQ(w.processes.captured.size(), 2u);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n备份映像 D:\\bak\\c.gho 已损坏,不能通过完整性检查,不能用来还原！"
                "映像文件已保留,请重新备份。\r\nImage file is corrupt (CRC mismatch in block 12)\r\n",
                ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2010u);
  EXPECT_TRUE(w.files.hasFile("D:\\bak\\c.gho")) << "kept for the user to inspect";
  EXPECT_TRUE(main->visible());

  // A check that cannot start proves nothing either.
  ui.boxes.clear();
  w.processes.rules.clear();
  w.processes.answer("CHKIMG", "", false);
  press();
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost备份磁盘错误！\r\n错误信息:\r\n备份映像 D:\\bak\\c.gho 未能检查：无法启动命令解释器 cmd.exe,Ghost没有运行。",
                ui.boxes[1].text);
}

// The engine's notes on the partition it backed up (a state the user was asked about)
// end the summary, as a restore's do; the backup is still checked.
TEST_F(OneKeyTest, ABackupWithTheEnginesNoteIsASuccessThatShowsIt) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.gho");
  selectRow(0);
  w.processes.onRun = [this](const std::string& line) {
    if (line.find("pdump") != std::string::npos) w.files.addSizedFile("D:\\bak\\c.gho", 700 * kMB);
  };
  w.processes.answer("pdump", "提示: 该分区的NTFS被标记为需要检查,空间位图可能与文件不符,映像可能漏掉数据;"
                              "建议运行 chkdsk /f 后重新备份。\r\n");
  press();
  ASSERT_EQ(w.processes.captured.size(), 2u) << "the backup, then its check";
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("Ghost备份磁盘完成！\r\n保存位置: c.gho\r\n备份分区: C:\\(1:1)\r\n备份大小: 700 MB\r\n"
                "提示: 该分区的NTFS被标记为需要检查,空间位图可能与文件不符,映像可能漏掉数据;建议运行 chkdsk /f 后重新备份。",
                ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2040u);
}

TEST_F(OneKeyTest, TheConfigurationKeyTurnsTheCheckOff) {
  struct Case {
    const char* value;  // nullptr: no configuration file
    bool checked;
  };
  const Case cases[] = {{nullptr, true}, {"1", true}, {"", true}, {"0", false}, {" 0 ", false}};
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\c.gho");
  selectRow(0);
  w.processes.onRun = [this](const std::string&) { w.files.addSizedFile("D:\\c.gho", 5 * kMB); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "no file");
    w.processes.captured.clear();
    ui.boxes.clear();
    w.files.files.erase("x:\\windows\\vrelpelite.ini");
    w.files.ini.clear();
    if (c.value) {
      w.files.addFile("X:\\Windows\\VrelPELite.ini", "[Config]");
      w.files.ini["x:\\windows\\vrelpelite.ini"]["Config/CheckImage"] = c.value;
    }
    press();
    EXPECT_EQ(w.processes.captured.size(), c.checked ? 2u : 1u);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_GBK_EQ("Ghost备份磁盘完成！\r\n保存位置: c.gho\r\n备份分区: C:\\(1:1)\r\n备份大小: 5 MB", ui.boxes[1].text);
  }
}

// One block per run in the log beside the program; a log that cannot be written
// changes nothing the user sees.
TEST_F(OneKeyTest, EachGhostRunAppendsItsBlockToTheLog) {
  w.files.addSizedFile("D:\\sys.gho", 3 * kMB);
  chooseImage("D:\\sys.gho");
  selectRow(0);
  main->get("partitionList").setCell(0, 3, "NTFS");
  main->get("partitionList").setCell(0, 4, "40.00GB");
  selectRow(0);
  press();
  w.processes.answer("pload", "ABORT: 10030, Partition too small\r\n");
  press();
  const std::string log = w.files.contentOf("U:\\VrelPE\\VrelPELite.log");
  const std::string head =
            "==== GHO 还原\r\n"
            "开始: 2017-07-03 14:05:09\r\n"
            "结束: 2017-07-03 14:05:09\r\n"
            "映像: D:\\sys.gho\r\n"
            "目标: 1:1 主分区,MBR NTFS 40.00GB C:\\\r\n"
            "选项: X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pload,src=\"D:\\sys.gho\":1,dst=1:1  -crcignore  -noide -sure -fx -BATCH\r\n"
            "用时: 00:00:00\r\n";
  EXPECT_EQ(log,
            head +
            "结果: 成功\r\n"
            "  Ghost应用映像到磁盘完成！\r\n"
            "  映像名称: sys.gho\r\n"
            "  安装分区: C:\\(1:1)\r\n"
            "  映像大小: 3 MB\r\n"
            "\r\n" +
            head +
            "结果: 失败\r\n"
            "  Ghost应用映像错误！\r\n"
            "引擎消息:\r\n"
            "  ABORT: 10030, Partition too small\r\n"
            "\r\n");

  // Neither the program's folder nor the temporary folder can be written.
  w.files.unwritable = {"u:\\vrelpe\\vrelpelite.log", "x:\\temp\\vrelpelite.log"};
  ui.boxes.clear();
  onekey::checkGhostImage(services, *main, "D:\\sys.gho");
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"经检查 sys.gho 镜像文件非常完整！"});
  EXPECT_EQ(w.files.contentOf("U:\\VrelPE\\VrelPELite.log"), log);
}

}  // namespace

namespace {

using namespace onekeytest;

// The lister is asked again just before the engine: a disk plugged in meanwhile
// that took the chosen number stops the restore, and the list is filled anew.
TEST_F(OneKeyTest, ARestoreOntoAPartitionThatChangedRunsNothingAndRefreshesTheList) {
  w.files.addSizedFile("D:\\sys.gho", kMB * 3 / 2);
  std::vector<core::ListedPartition> now{{"C:\\", "1:1", "主分区,MBR", "", ""}};
  int listings = 0, refreshes = 0;
  services.partitionsNow = [&] {
    ++listings;
    return now;
  };
  services.refreshPartitions = [&] { ++refreshes; };
  chooseImage("D:\\sys.gho");
  selectRow(0);

  now[0].fileSystem = "FAT32";  // a USB stick now answers as disk 1
  press();
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(listings, 1);
  EXPECT_EQ(refreshes, 1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("所选分区 C:\\(1:1) 已发生变化(可能插入或拔出了磁盘),分区列表已刷新,请重新选择要还原的分区！",
                ui.boxes[0].text);

  now[0].fileSystem = "";
  ui.boxes.clear();
  press();
  EXPECT_EQ(refreshes, 1);
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_EQ(w.processes.captured[0], engineRun(onekey::restoreCommandLine(kEngine, "D:\\sys.gho", "1:1")));
}

}  // namespace
