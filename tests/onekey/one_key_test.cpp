#include <gtest/gtest.h>

#include "onekey/one_key.h"

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/onekey/onekey_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using namespace onekeytest;

TEST_F(OneKeyTest, ChecksRunInOrderAndOnlyTheFirstFaultIsReported) {
  struct Case {
    const char* radio;
    const char* image;  // chosen in the combo box; empty = none
    const char* save;
    int row;
    bool fileExists;
    const char* message;
  };
  const Case cases[] = {
      {"restoreRadio", "", "", -1, false, "请选择映像文件！"},
      {"restoreRadio", "D:\\a.gho", "", -1, false, "请选择要还原的分区！"},
      {"restoreRadio", "D:\\a.gho", "", 0, false, "映像文件不存在！"},
      {"restoreRadio", "D:\\a.txt", "", 0, true, "不支持安装的映像格式！"},
      {"restoreRadio", "D:\\noext", "", 0, true, "不支持安装的映像格式！"},
      {"ghostBackupRadio", "", "", -1, false, "请输入保存Gho映像文件路径！"},
      {"ghostBackupRadio", "", "D:\\b.gho", -1, false, "请选择要备份的分区！"},
      {"wimBackupRadio", "", "", -1, false, "请输入保存Imagex映像文件路径！"},
      {"wimBackupRadio", "", "D:\\b.wim", -1, false, "请选择要备份的分区！"},
      // A quote in the typed save path would end the command line's quotes early.
      {"ghostBackupRadio", "", "D:\\b.gho\" & del /q C:\\* & \"", 0, false,
       "保存路径 D:\\b.gho\" & del /q C:\\* & \" 含有双引号,不是有效的文件路径！"},
      {"wimBackupRadio", "", "\"D:\\b.wim\"", 0, false, "保存路径 \"D:\\b.wim\" 含有双引号,不是有效的文件路径！"},
      // %NAME% would be replaced by the interpreter; one "%" alone is left as it is.
      {"ghostBackupRadio", "", "D:\\%TEMP%.gho", 0, false,
       "保存路径 D:\\%TEMP%.gho 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"},
      {"wimBackupRadio", "", "D:\\%cd%\\100%.wim", 0, false,
       "保存路径 D:\\%cd%\\100%.wim 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"},
      {"restoreRadio", "D:\\%USERNAME%.gho", "", 0, true,
       "映像文件 D:\\%USERNAME%.gho 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"},
      // The program's own refusals come after the choices the user has not made yet.
      {"ghostBackupRadio", "", "D:\\%TEMP%\\\"b.gho", -1, false, "请选择要备份的分区！"},
      {"restoreRadio", "D:\\%a%.txt", "", 0, true, "不支持安装的映像格式！"},
  };
  for (const Case& k : cases) {
    ui.boxes.clear();
    main->get("imagePathCombo").clearItems();
    main->click(k.radio);
    if (*k.image) chooseImage(k.image);
    main->get("savePathEdit").setText(k.save);
    main->get("partitionList").selectedRow_ = -1;
    if (k.row >= 0) selectRow(k.row);
    if (k.fileExists) w.files.addFile(k.image);
    press();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{k.message}) << k.radio << " " << k.image;
    EXPECT_EQ(ui.boxes.at(0).style, 0x2030u);
  }
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(ui.windows.size(), 1u) << "no progress window opened";
}

// Where no variable of that name exists the interpreter leaves the text alone.
TEST_F(OneKeyTest, PercentSignsThatNameNoVariableReachTheEngine) {
  w.files.addFile("D:\\50%\\%nosuch%.gho", "x");
  chooseImage("D:\\50%\\%nosuch%.gho");
  selectRow(0);
  press();
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\%TEMPS%\\b.gho");
  w.processes.onRun = [this](const std::string&) { w.files.addFile("D:\\%TEMPS%\\b.gho", "image"); };
  press();
  ASSERT_EQ(w.processes.captured.size(), 3u) << gbktest::toUtf8(boxTexts().at(0));
  EXPECT_EQ(w.processes.captured[0], "cmd.exe /c X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pload,src=\"D:\\50%\\%nosuch%.gho\":1,dst=1:1  "
                                     "-crcignore  -noide -sure -fx -BATCH");
  EXPECT_EQ(w.processes.captured[1], "cmd.exe /c X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pdump,src=1:1,dst=\"D:\\%TEMPS%\\b.gho\" -z9  "
                                     "-crcignore  -noide  -sure  -fx -BATCH ");
}

TEST_F(OneKeyTest, ATypedButUnchosenPathCountsAsNoImageAndLeavesTheFocusWhereItIs) {
  main->get("imagePathCombo").setText("D:\\typed.gho");
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"请选择映像文件！"});
  EXPECT_EQ(main->get("partitionList").focusCount, 0);
  // With an image the focus goes to the partition list, before its question is asked.
  chooseImage("D:\\typed.gho");
  press();
  EXPECT_EQ(boxTexts().back(), "请选择要还原的分区！");
  EXPECT_EQ(main->get("partitionList").focusCount, 1);
}

TEST_F(OneKeyTest, EngineOperationsOnAnUnusableOrSelfHoldingPartitionAreRefusedBeforeAnythingRuns) {
  struct Case {
    const char* radio;
    const char* path;
    int row;
    const char* message;
  };
  w.files.addFile("D:\\sys.gho", "x");
  w.files.addFile("C:\\sys.gho", "x");
  w.files.currentDirectory = "D:\\work";
  const Case cases[] = {
      {"restoreRadio", "D:\\sys.gho", 3, "所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法还原该分区！"},
      {"restoreRadio", "d:\\sys.gho", 1, "映像文件位于要还原的分区 D:\\(1:2) 上,不能还原到该分区！"},
      {"ghostBackupRadio", "D:\\new.gho", 3, "所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法备份该分区！"},
      {"ghostBackupRadio", "D:\\new.gho", 1, "备份文件不能保存在要备份的分区 D:\\(1:2) 上！"},
      {"ghostBackupRadio", "relative.gho", 1, "备份文件不能保存在要备份的分区 D:\\(1:2) 上！"},
  };
  for (const Case& k : cases) {
    ui.boxes.clear();
    main->click(k.radio);
    if (std::string(k.radio) == "restoreRadio") chooseImage(k.path);
    else main->get("savePathEdit").setText(k.path);
    selectRow(k.row);
    press();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{k.message});
    EXPECT_EQ(ui.boxes.at(0).style, 0x2030u);
  }
  EXPECT_TRUE(w.processes.captured.empty());
}

TEST_F(OneKeyTest, WimRestoreAndWimBackupOpenTheProgressWindowsWithTheMainWindowHidden) {
  w.files.addFile("D:\\win.Wim", "x");
  chooseImage("D:\\win.Wim");
  selectRow(0);
  std::vector<Opened> opened;
  recordNextWimWindow(opened);
  press();
  main->click("wimBackupRadio");
  main->get("savePathEdit").setText("D:\\c.wim");
  recordNextWimWindow(opened);
  press();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_GBK_EQ("还原分区:C:\\(1:1)", opened[0].target);
  EXPECT_GBK_EQ("映像文件:D:\\win.Wim", opened[0].image);
  EXPECT_GBK_EQ("备份分区:C:\\(1:1)", opened[1].target);
  EXPECT_GBK_EQ("保存路径:D:\\c.wim", opened[1].image);
  EXPECT_FALSE(opened[0].mainVisible || opened[1].mainVisible);
  EXPECT_TRUE(main->visible());
  EXPECT_TRUE(ui.boxes.empty()) << "the progress windows ask their own questions";
  EXPECT_EQ(w.processes.captured, std::vector<std::string>{engineRun(std::string(kWimEngine) + " /info \"D:\\win.Wim\"")});
}

// The main window's selection is copied into the request when OK is pressed: a WIM
// window works on that copy (it makes the drive C: for the engine), never on the
// main window's own texts.
TEST_F(OneKeyTest, TheRestoreWindowWorksOnItsCopyOfTheTarget) {
  w.files.addFile("D:\\win.wim", "x");
  chooseImage("D:\\win.wim");
  selectRow(0);
  ui.scriptModal([](fake::Window& window) { window.click("cancelButton"); });
  press();
  EXPECT_EQ(state.target.targetDrive, "C:\\");
  EXPECT_EQ(state.target.targetDisplay, "C:\\(1:1)");
}

}  // namespace
