#include "app/main_window.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/gbk.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/support/layout.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    w.volumes.drives = {{"C:\\", 3}, {"D:\\", 3}};
    w.processes.answer("pzdir.exe",
                       "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
                       "1:2\tD:\t0.10GB\t0.05GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
                       "  \tH:\t20.00GB\t10.00GB\tDynamic\tNTFS\tData\r\n");
    window = &ui.create(logic);
    w.processes.captured.clear();
  }
  fake::Control& c(std::string_view name) { return window->get(name); }
  std::vector<std::string> exitRun() { return {"cmd.exe /c " + state.tools.isoToolPath + " /q"}; }

  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  app::MainWindow logic{ctx};
  fake::Window* window = nullptr;
};

// The window's table as the user is to see it.
TEST_F(MainWindowTest, ControlTableAsLaidOut) {
  using K = ui::Kind;
  const ui::WindowSpec& spec = logic.spec();
  layouttest::expectControls(
      spec, {
                {"restoreRadio", K::RadioButton, "还原分区(&R)", 16, 16, 104, 24},
                {"ghostBackupRadio", K::RadioButton, "备份分区(&Ghost)", 128, 16, 120, 24},
                {"wimBackupRadio", K::RadioButton, "备份分区(&Imagex)", 256, 16, 120, 24},
                {"imagePathGroup", K::GroupBox, "映像文件路径:", 16, 48, 440, 56},
                {"imagePathCombo", K::ComboBox, "", 8, 24, 352, 20, "imagePathGroup"},
                {"savePathEdit", K::Edit, "", 8, 24, 352, 20, "imagePathGroup"},
                {"browseButton", K::Button, "浏 览", 368, 21, 64, 24, "imagePathGroup"},
                {"partitionList", K::ListView, "", 16, 120, 440, 192},
                {"modeButton", K::Button, "高  级(&A)", 16, 328, 96, 32},
                {"redEnvelopeButton", K::Button, "点击领取红包", 152, 328, 80, 32},
                {"mainOkButton", K::Button, "确  定(&Y)", 256, 328, 96, 32},
                {"mainExitButton", K::Button, "退  出(&X)", 360, 328, 96, 32},
                {"statusBar", K::StatusBar, "", 0, 382, 469, 20},
                {"imageSearchGroup", K::GroupBox, "映像文件搜索", 480, 16, 264, 264},
                {"depthLabel", K::Label, "目录深度:", 8, 24, 72, 16, "imageSearchGroup"},
                {"depthEdit", K::Edit, "3", 64, 22, 40, 24, "imageSearchGroup"},
                {"patternCombo", K::DropDownList, "", 128, 24, 64, 20, "imageSearchGroup"},
                {"searchButton", K::Button, "搜 索", 200, 22, 56, 24, "imageSearchGroup"},
                {"searchResultList", K::ListBox, "", 8, 56, 248, 200, "imageSearchGroup"},
                {"homePageCheck", K::CheckBox, "支持作者,设定主页", 480, 296, 136, 24},
                {"checkGhostButton", K::Button, "检查Ghost完整性", 480, 328, 136, 32},
                {"isoContentList", K::ListBox, "", 584, 504, 248, 200},
            });
  EXPECT_GBK_EQ("VrelPE Lite 一键备份还原", spec.caption);
  layouttest::expectItems(spec, "patternCombo", {"*.GHO", "*.ISO", "*.WIM", "*.SWM", "*.ESD"}, 0);
  layouttest::expectItems(spec, "statusBar",
                          {"Ver:1.0.0", "支持安装所有(ISO)原版系统:WinXP/Vista/7/8/8.1/10/2003/2008/2008R2/2012/2012R2"},
                          -1);
  layouttest::expectFlag(spec, ui::kChecked, {"restoreRadio"});
  layouttest::expectFlag(spec, ui::kHidden, {"savePathEdit", "isoContentList"});
  const ui::ControlSpec& list = *layouttest::find(spec, "partitionList");
  const std::pair<const char*, int> columns[] = {{"盘符", 65}, {"序号", 50}, {"分区类型", 80},
                                                 {"格式", 50}, {"总大小", 80}, {"可用大小", 80}};
  ASSERT_EQ(list.columns.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_GBK_EQ(columns[i].first, list.columns[i].text) << i;
    EXPECT_EQ(list.columns[i].width, columns[i].second) << i;
  }
}

TEST_F(MainWindowTest, LayoutFitsItsModesAndGroups) {
  const ui::WindowSpec& spec = logic.spec();
  EXPECT_EQ(std::make_pair(spec.w, spec.h), std::make_pair(476, 424));
  std::map<std::string, const ui::ControlSpec*> byName;
  for (const ui::ControlSpec& control : spec.controls)
    EXPECT_TRUE(byName.emplace(control.name, &control).second) << "duplicate " << control.name;
  // Only these lie beyond the narrow window; the work list lies below both.
  const std::set<std::string> advanced = {"imageSearchGroup", "homePageCheck", "checkGhostButton"};
  for (const ui::ControlSpec& control : spec.controls) {
    const int right = control.x + control.w;
    if (!control.parent.empty()) {
      ASSERT_TRUE(byName.count(control.parent)) << control.name;
      const ui::ControlSpec& group = *byName[control.parent];
      EXPECT_EQ(group.kind, ui::Kind::GroupBox) << control.name;
      EXPECT_TRUE(right <= group.w && control.y + control.h <= group.h) << control.name << " leaves its group";
    } else if (control.name == "isoContentList") {
      EXPECT_GE(control.y, spec.h);
    } else if (advanced.count(control.name)) {
      EXPECT_TRUE(control.x >= 476 && right <= 758) << control.name;
    } else {
      EXPECT_LE(right, 476) << control.name;
    }
  }
}

TEST_F(MainWindowTest, CreationFillsThePartitionListAndRowsSetTheTarget) {
  EXPECT_EQ(w.shell.opened, std::vector<std::string>{"https://vrelpe.example.org/"});
  fake::Control& list = c("partitionList");
  ASSERT_EQ(list.rowCount(), 3);
  EXPECT_EQ(list.colours(1, 0)->text, 255u);
  window->selectRowOf("partitionList", 0);
  EXPECT_EQ(state.target.targetDisplay, "C:\\(1:1)");
  EXPECT_TRUE(state.target.targetIndexUsable);
  window->selectRowOf("partitionList", 2);
  EXPECT_EQ(state.target.targetIndex, "|H:");
  EXPECT_FALSE(state.target.targetIndexUsable);
}

// A disk the lister could not read has no rows: the status bar names it instead of
// the pane's own text, which comes back once every disk reads.
std::size_t listings(const fake::Processes& processes) {
  std::size_t n = 0;
  for (const std::string& line : processes.captured) n += line.find("pzdir.exe") != std::string::npos;
  return n;
}

// Windows renumbers disks as they come and go: the list is taken again once a burst of
// device events is over, and keeps the user's choice only while it shows it unchanged.
TEST_F(MainWindowTest, DeviceEventsListThePartitionsOnceAfterABurst) {
  fake::Control& list = c("partitionList");
  window->selectRowOf("partitionList", 1);
  for (int i = 0; i < 3; ++i) window->devicesChanged();
  EXPECT_EQ(listings(w.processes), 0u) << "nothing is listed inside the system's handler";
  ASSERT_TRUE(window->timerRunning("deviceRefreshTimer"));
  window->fireTimer("deviceRefreshTimer");
  EXPECT_EQ(listings(w.processes), 1u);
  EXPECT_FALSE(window->timerRunning("deviceRefreshTimer")) << "one listing for the burst";
  EXPECT_EQ(list.selectedRow(), 1);
  EXPECT_EQ(state.target.targetDisplay, "D:\\(1:2)");

  // Another disk took the number: 1:2 is now a FAT32 stick's partition.
  w.processes.rules[0].result.output =
      "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
      "1:2\tD:\t14.50GB\t14.00GB\tPrimary\tFAT32\t\tMBR\t7\r\n";
  window->devicesChanged();
  window->fireTimer("deviceRefreshTimer");
  EXPECT_EQ(listings(w.processes), 2u);
  ASSERT_EQ(list.rowCount(), 2);
  EXPECT_EQ(list.cell(1, 3), "FAT32");
  EXPECT_EQ(list.selectedRow(), -1);
  EXPECT_TRUE(state.target.targetIndex.empty());
  // Nothing chosen: nothing is chosen after.
  window->devicesChanged();
  window->fireTimer("deviceRefreshTimer");
  EXPECT_EQ(list.selectedRow(), -1);
  EXPECT_TRUE(state.target.targetIndex.empty());
}

TEST_F(MainWindowTest, DeviceEventsDuringARunAreListedWhenItEnds) {
  w.files.addSizedFile("C:\\sys.gho", 800ull << 20);
  c("imagePathCombo").addItem("C:\\sys.gho");
  c("imagePathCombo").setSelection(0);
  window->selectRowOf("partitionList", 1);
  bool timerDuringRun = true;
  std::size_t listedDuringRun = 0;
  w.processes.onRun = [&](const std::string& line) {
    if (line.find("GhostVrelLite.exe") == std::string::npos) return;
    window->devicesChanged();
    timerDuringRun = window->timerRunning("deviceRefreshTimer");
    listedDuringRun = listings(w.processes);
  };
  window->click("mainOkButton");
  ASSERT_NE(w.processes.captured.back().find("GhostVrelLite.exe -clone,mode=pload"), std::string::npos);
  EXPECT_FALSE(timerDuringRun) << "the list stays as it is while the engine runs";
  EXPECT_EQ(listedDuringRun, 1u) << "only the check before the restore";
  ASSERT_TRUE(window->timerRunning("deviceRefreshTimer"));
  window->fireTimer("deviceRefreshTimer");
  EXPECT_EQ(listings(w.processes), 2u);
  EXPECT_EQ(state.target.targetIndex, "1:2") << "the partition is still there as it was";
}

// The lister runs with the window's messages pumped: a device event during the start-up
// listing is listed once that one has ended, never inside it.
TEST(MainWindowStartup, ADeviceEventDuringTheStartupListingIsListedAfterIt) {
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  w.processes.answer("pzdir.exe", "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n");
  app::MainWindow logic{ctx};
  bool timerDuringListing = true;
  w.processes.onRun = [&](const std::string& line) {
    if (line.find("pzdir.exe") == std::string::npos) return;
    ui.windows.back()->devicesChanged();  // the window being created
    timerDuringListing = ui.windows.back()->timerRunning("deviceRefreshTimer");
  };
  fake::Window* window = &ui.create(logic);
  EXPECT_FALSE(timerDuringListing);
  ASSERT_TRUE(window->timerRunning("deviceRefreshTimer"));
  w.processes.onRun = nullptr;
  window->fireTimer("deviceRefreshTimer");
  EXPECT_EQ(listings(w.processes), 2u);
  EXPECT_EQ(window->get("partitionList").rowCount(), 1);
}

TEST(MainWindowStartup, TheStatusBarSaysWhichDisksTheListerCouldNotRead) {
  fake::World w;
  w.processes.answer("pzdir.exe",
                     "磁盘 2： 无法读取磁盘扇区 0。\r\n1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
                     "磁盘 3： 设备未就绪。\r\n");
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  app::MainWindow logic{ctx};
  fake::Window& window = ui.create(logic);
  EXPECT_EQ(window.get("partitionList").rowCount(), 1);
  EXPECT_GBK_EQ("磁盘 2： 无法读取磁盘扇区 0。  磁盘 3： 设备未就绪。", window.get("statusBar").itemText(1));
  EXPECT_EQ(window.get("statusBar").itemText(0), "Ver:1.0.0");

  fake::World quiet;
  quiet.processes.answer("pzdir.exe", "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n");
  core::Context ctx2{quiet.os, ui, state, {}};
  app::MainWindow logic2{ctx2};
  fake::Window& plain = ui.create(logic2);
  EXPECT_GBK_EQ("支持安装所有(ISO)原版系统:WinXP/Vista/7/8/8.1/10/2003/2008/2008R2/2012/2012R2",
                plain.get("statusBar").itemText(1));
}

TEST(MainWindowStartup, TheWindowTakesNoInputUntilTheStartupSequenceHasRun) {
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  app::MainWindow logic{ctx};
  std::vector<bool> inputWhileListing;
  w.processes.onRun = [&](const std::string&) { inputWhileListing.push_back(ui.windows.back()->acceptsInput); };
  fake::Window& window = ui.create(logic);
  EXPECT_EQ(inputWhileListing, std::vector<bool>{false}) << "the lister runs while messages are pumped";
  EXPECT_TRUE(window.acceptsInput);
}

TEST_F(MainWindowTest, SaveDialogsAppendTheExtensionOnlyWhenMissing) {
  const std::tuple<const char*, std::optional<std::string>, const char*> cases[] = {
      {"ghostBackupRadio", "C:\\img\\sys.gho", "C:\\img\\sys.gho"},
      {"ghostBackupRadio", "C:\\img\\sys", "C:\\img\\sys.GHO"},
      {"ghostBackupRadio", "C:\\备份\\系统", "C:\\备份\\系统.GHO"},
      {"wimBackupRadio", "C:\\img\\sys.wim.bak", "C:\\img\\sys.wim.bak.WIM"},
      {"wimBackupRadio", "C:\\img\\sys.Wim", "C:\\img\\sys.Wim"},
      {"wimBackupRadio", std::nullopt, "before"},  // cancelled: nothing changes
  };
  for (const auto& [radio, chosen, saved] : cases) {
    window->click(radio);
    c("savePathEdit").setText("before");
    ui.dialogAnswers.push_back(chosen);
    window->click("browseButton");
    EXPECT_GBK_EQ(saved, c("savePathEdit").text());
  }
  ASSERT_EQ(ui.dialogs.size(), 6u);
  const ui::FileDialogSpec& ghost = ui.dialogs[0];
  EXPECT_TRUE(ghost.save);
  EXPECT_GBK_EQ("请保存Gho映像文件:|*.Gho|Ghost映像(*.Gho)|*.Gho",
                ghost.title + "|" + ghost.initialName + "|" + ghost.filter);
  const ui::FileDialogSpec& wim = ui.dialogs[3];
  EXPECT_TRUE(wim.save);
  EXPECT_GBK_EQ("映像文件路径:|*.WIM|Imagex映像文件(*.WIM)|*.WIM", wim.title + "|" + wim.initialName + "|" + wim.filter);
}

TEST_F(MainWindowTest, RestoreBrowseSelectsTheChosenImageAddingItOnce) {
  fake::Control& combo = c("imagePathCombo");
  combo.addItem("D:\\a.GHO.old");
  combo.addItem("E:\\win.WIM");
  const std::tuple<std::optional<std::string>, int, const char*> steps[] = {
      {"E:\\WIN.wim", 2, "E:\\win.WIM"},  // the same file, other letter case
      {"D:\\a.GHO", 3, "D:\\a.GHO"},      // a longer name beginning with it is another file
      {"D:\\a.GHO", 3, "D:\\a.GHO"},      // chosen twice, listed once
      {std::nullopt, 3, "D:\\a.GHO"},     // cancelled
  };
  for (const auto& [chosen, count, selected] : steps) {
    ui.dialogAnswers.push_back(chosen);
    window->click("browseButton");
    EXPECT_EQ(combo.count(), count);
    EXPECT_EQ(combo.text(), selected);
  }
  const ui::FileDialogSpec& open = ui.dialogs.at(0);
  EXPECT_FALSE(open.save);
  EXPECT_GBK_EQ("映像文件路径:|*.GHO|映像文件(*.GHO;*.WIM;*.ISO)|*.GHO;*.WIM;*.ISO|Windows安装映像(*.ESD;*.SWM)|*.ESD;*.SWM",
                open.title + "|" + open.initialName + "|" + open.filter);
}

TEST_F(MainWindowTest, ModeButtonTogglesWidthAndCaption) {
  window->setSize(476, 400);
  window->click("modeButton");
  EXPECT_EQ(std::make_pair(window->width(), window->height()), std::make_pair(758, 400));
  EXPECT_GBK_EQ("简  洁(&A)", c("modeButton").text());
  window->click("modeButton");
  EXPECT_EQ(window->width(), 476);
  EXPECT_GBK_EQ("高  级(&A)", c("modeButton").text());
}

TEST_F(MainWindowTest, HomePageOptionIsNeverLeftCheckedAndTheButtonOpensThePage) {
  for (int i = 0; i < 2; ++i) {
    window->click("homePageCheck");
    EXPECT_FALSE(c("homePageCheck").checked());
  }
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_TRUE(gbk::startsWith(ui.boxes[1].text, "暂不开放此选项,如有需要请联系作者"));
  EXPECT_GBK_EQ("提示", ui.boxes[1].title);
  EXPECT_EQ(ui.boxes[1].style, 0x2030u);
  window->click("redEnvelopeButton");
  EXPECT_EQ(w.shell.opened, (std::vector<std::string>{"https://vrelpe.example.org/", "https://vrelpe.example.org/"}));
}

TEST_F(MainWindowTest, CloseAsksAndOnlyYesLeavesThroughTheProgramExit) {
  window->setCaption("我的PE");
  ui.answers = {ui::kAnswerNo, ui::kAnswerYes};
  EXPECT_FALSE(window->requestClose());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("是否退出我的PE？", ui.boxes[0].text);
  EXPECT_GBK_EQ("提示", ui.boxes[0].title);
  EXPECT_EQ(ui.boxes[0].style, 0x2044u);
  EXPECT_TRUE(w.shell.exits.empty() && w.processes.captured.empty());

  window->requestClose();
  EXPECT_EQ(w.processes.captured, exitRun());
  EXPECT_EQ(w.shell.exits, std::vector<int>{0});

  // The exit button does not ask.
  window->click("mainExitButton");
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(w.shell.exits, (std::vector<int>{0, 0}));
}

}  // namespace

namespace {

// The main window's buttons reach the image search, the one-key action and the image check.
TEST(MainWindowWiring, StartupScanSearchOneKeyRestoreAndImageCheck) {
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, {}};
  w.volumes.drives = {{"C:\\", 3}, {"D:\\", 3}};
  w.processes.answer("pzdir.exe", "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n");
  w.files.addDir("D:\\img");
  w.files.addSizedFile("D:\\img\\install.wim", 3000ull << 20);
  w.files.addSizedFile("D:\\sys.gho", 800ull << 20);
  app::MainWindow logic{ctx};
  fake::Window& window = ui.create(logic);
  fake::Control& combo = window.get("imagePathCombo");
  EXPECT_EQ(combo.items, (std::vector<std::string>{"D:\\sys.gho", "D:\\img\\install.wim"}));
  EXPECT_EQ(combo.text(), "D:\\sys.gho");

  window.get("patternCombo").setSelection(2);
  window.click("searchButton");
  fake::Control& results = window.get("searchResultList");
  ASSERT_EQ(results.count(), 2);
  EXPECT_GBK_EQ("搜索3层目录完成,共搜索到1个*.WIM文件。", results.itemText(1));
  window.selectItem("searchResultList", 1);  // the summary is no image
  EXPECT_EQ(combo.text(), "D:\\sys.gho");
  window.selectItem("searchResultList", 0);
  EXPECT_EQ(combo.text(), "D:\\img\\install.wim");

  combo.setSelection(0);
  window.selectRowOf("partitionList", 0);
  w.processes.captured.clear();
  window.click("mainOkButton");
  // The lister is asked again first: the row chosen is still what it was.
  ASSERT_EQ(w.processes.captured.size(), 2u);
  EXPECT_NE(w.processes.captured[0].find("pzdir.exe\" -tavrin"), std::string::npos);
  EXPECT_NE(w.processes.captured[1].find("GhostVrelLite.exe -clone,mode=pload,src=\"D:\\sys.gho\":1,dst=1:1"),
            std::string::npos);
  EXPECT_GBK_EQ("Ghost应用映像到磁盘完成！\r\n映像名称: sys.gho\r\n安装分区: C:\\(1:1)\r\n映像大小: 800 MB",
                ui.boxes.back().text);

  ui.dialogAnswers = {std::nullopt, std::string("D:\\sys.gho")};
  window.click("checkGhostButton");  // cancelled: nothing runs
  EXPECT_EQ(w.processes.captured.size(), 2u);
  window.click("checkGhostButton");
  ASSERT_EQ(w.processes.captured.size(), 3u);
  EXPECT_NE(w.processes.captured[2].find("   -CHKIMG,\"D:\\sys.gho\" -sure  -fx -BATCH "), std::string::npos);
  EXPECT_GBK_EQ("请选择Gho映像文件:", ui.dialogs.back().title);

  // A stick plugged in meanwhile now answers as disk 1: the restore stops, the list
  // shows the disks as they are and nothing stays chosen.
  w.processes.rules[0].result.output = "1:1\tF:\t14.50GB\t14.00GB\tPrimary\tFAT32\t\tMBR\t7\r\n";
  window.selectRowOf("partitionList", 0);
  w.processes.captured.clear();
  ui.boxes.clear();
  window.click("mainOkButton");
  ASSERT_EQ(w.processes.captured.size(), 2u) << "the check's listing and the refill, no engine";
  EXPECT_EQ(w.processes.captured[0], w.processes.captured[1]);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("所选分区 C:\\(1:1) 已发生变化(可能插入或拔出了磁盘),分区列表已刷新,请重新选择要还原的分区！",
                ui.boxes[0].text);
  fake::Control& list = window.get("partitionList");
  ASSERT_EQ(list.rowCount(), 1);
  EXPECT_EQ(list.cell(0, 3), "FAT32");
  EXPECT_TRUE(state.target.targetIndex.empty());
}

}  // namespace
