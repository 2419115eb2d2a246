#include <gtest/gtest.h>

#include "onekey/ghost_runs.h"
#include "onekey/install_list_window.h"
#include "onekey/one_key.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"

namespace {

constexpr std::uint64_t kMB = 1048576;
constexpr char kEngine[] = "X:\\Temp\\\\GhostVrelLite.exe";
constexpr char kIsoTool[] = "X:\\Temp\\\\ISO.exe";

// The main window's controls that the one-key action uses, as the main window names them.
class MainDouble : public ui::WindowLogic {
 public:
  const ui::WindowSpec& spec() const override {
    using ui::Kind;
    static const ui::WindowSpec s{
        "main", 0, 0, 476, 424, true,
        {{"restoreRadio", Kind::RadioButton, "", 0, 0, 1, 1, ui::kChecked | ui::kFirstInGroup},
         {"ghostBackupRadio", Kind::RadioButton},
         {"wimBackupRadio", Kind::RadioButton},
         {"imagePathCombo", Kind::ComboBox},
         {"savePathEdit", Kind::Edit},
         {"partitionList", Kind::ListView, "", 0, 0, 1, 1, ui::kNone, "", {}, {{"盘符"}, {"序号"}}},
         {"isoContentList", Kind::ListBox},
         {"patternCombo", Kind::DropDownList},
         {"browseButton", Kind::Button},
         {"mainExitButton", Kind::Button},
         {"mainOkButton", Kind::Button},
         {"modeButton", Kind::Button},
         {"searchButton", Kind::Button},
         {"checkGhostButton", Kind::Button},
         {"searchResultList", Kind::ListBox},
         {"depthEdit", Kind::Edit},
         {"redEnvelopeButton", Kind::Button},
         {"homePageCheck", Kind::CheckBox}}};
    return s;
  }
};

class RecordingWim : public onekey::WimWindows {
 public:
  struct Call {
    std::string what;  // "restore:<imagePath>" or "backup:<savePath>"
    bool ownerVisible;
    const ui::Control* partitionList = nullptr;  // restore: the list the boot target comes from
  };
  explicit RecordingWim(core::AppState& state) : state_(state) {}
  std::vector<Call> calls;
  void openRestoreProgress(ui::Window& owner, const ui::Control& partitionList) override {
    calls.push_back({"restore:" + state_.imagePath, owner.visible(), &partitionList});
  }
  void openBackupProgress(ui::Window& owner, const std::string& savePath) override {
    calls.push_back({"backup:" + savePath, owner.visible()});
  }

 private:
  core::AppState& state_;
};

class GhostTest : public ::testing::Test {
 protected:
  GhostTest() {
    state.tools.ghostEnginePath = kEngine;
    state.tools.isoToolPath = kIsoTool;
    main = &ui.create(mainLogic);
    w.processes.onRun = [this](const std::string&) { mainVisibleDuringRuns.push_back(main->visible()); };
    fake::Control& list = main->get("partitionList");
    for (const char* row : {"C:\\|1:1", "D:\\|1:2", "|1:3", "E:\\||E:"}) {
      const std::string text = row;
      const std::size_t bar = text.find('|');
      const int r = list.addRow(text.substr(0, bar), 0);
      list.setCell(r, 1, text.substr(bar + 1));
    }
  }
  void selectRow(int row) {
    fake::Control& list = main->get("partitionList");
    list.selectedRow_ = row;
    state.targetDrive = list.cell(row, 0);
    state.targetIndex = list.cell(row, 1);
    state.targetDisplay = state.targetDrive + "(" + state.targetIndex + ")";
    state.targetIndexUsable = state.targetIndex.find('|') == std::string::npos && !state.targetIndex.empty();
  }
  void chooseImage(const std::string& path) {
    fake::Control& combo = main->get("imagePathCombo");
    combo.setSelection(combo.addItem(path));
  }
  void press() {
    onekey::MainControls c = onekey::MainControls::of(*main);
    onekey::OneKeyAction(services, c);
  }
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> texts;
    for (const fake::Box& b : ui.boxes) texts.push_back(b.text);
    return texts;
  }
  std::string engineRun(const std::string& line) { return "cmd.exe /c " + line; }

  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  RecordingWim wim{state};
  onekey::Services services{w.os, ui, state, wim};
  MainDouble mainLogic;
  fake::Window* main = nullptr;
  std::vector<bool> mainVisibleDuringRuns;
};

TEST(GhostCommandLines, EveryBlankInPlace) {
  EXPECT_EQ(onekey::restoreCommandLine(kEngine, "D:\\sys.gho", "1:2"),
            "X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pload,src=\"D:\\sys.gho\":1,dst=1:2  -crcignore  -noide -sure -fx "
            "-BATCH");
  EXPECT_EQ(onekey::backupCommandLine(kEngine, "1:1", "D:\\my backups\\c.GHO"),
            "X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pdump,src=1:1,dst=\"D:\\my backups\\c.GHO\" -z9  -crcignore  "
            "-noide  -sure  -fx -BATCH ");
  EXPECT_EQ(onekey::checkCommandLine(kEngine, "D:\\a & b.gho"),
            "X:\\Temp\\\\GhostVrelLite.exe   -CHKIMG,\"D:\\a & b.gho\" -sure  -fx -BATCH ");
  EXPECT_EQ(onekey::isoMountCommandLine(kIsoTool, "W", "D:\\iso|s\\win 10.iso"),
            "X:\\Temp\\\\ISO.exe /D:W /I:\"D:\\iso|s\\win 10.iso\"");
}

TEST(GhostOutcome, OnlyAStartedSilentRunSucceeds) {
  const std::tuple<platform::CapturedRun, bool, std::string> cases[] = {
      {{true, ""}, true, ""},
      {{true, " "}, false, " "},
      {{true, "\r\n"}, false, "\r\n"},
      {{true, "Abort: 36000\r\n"}, false, "Abort: 36000\r\n"},
      {{false, ""}, false, onekey::kInterpreterNotStarted},
  };
  for (const auto& [run, ok, text] : cases) {
    const onekey::GhostOutcome outcome = onekey::judgeGhostRun(run);
    EXPECT_EQ(outcome.succeeded, ok) << run.output;
    EXPECT_EQ(outcome.errorText, text);
  }
}

TEST_F(GhostTest, ChecksRunInOrderAndOnlyTheFirstFaultIsReported) {
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
      {"wimBackupRadio", "", "D:\\50%\\100%.wim", 0, false,
       "保存路径 D:\\50%\\100%.wim 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"},
      {"restoreRadio", "D:\\%USERNAME%.gho", "", 0, true,
       "映像文件 D:\\%USERNAME%.gho 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"},
  };
  for (const Case& k : cases) {
    ui.boxes.clear();
    main->get("imagePathCombo").clearItems();
    main->click(k.radio);
    if (*k.image) chooseImage(k.image);
    main->get("savePathEdit").setText(k.save);
    main->get("partitionList").selectedRow_ = k.row;
    if (k.fileExists) w.files.addFile(k.image);
    press();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{k.message}) << k.radio << " " << k.image;
    EXPECT_EQ(ui.boxes.at(0).style, 0x2030u);
  }
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_TRUE(wim.calls.empty());
  EXPECT_GT(main->get("partitionList").focusCount, 0);
}

TEST_F(GhostTest, ATypedButUnchosenPathCountsAsNoImage) {
  main->get("imagePathCombo").setText("D:\\typed.gho");
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"请选择映像文件！"});
}

TEST_F(GhostTest, RestoreOfASmallLetterGhoImageRunsTheEngineWithTheMainWindowHidden) {
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

TEST_F(GhostTest, EngineOutputIsShownAsTheErrorAndADeclinedQuestionRunsNothing) {
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

TEST_F(GhostTest, EngineOperationsOnAnUnusableOrSelfHoldingPartitionAreRefusedBeforeAnythingRuns) {
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

TEST_F(GhostTest, BackupSucceedsOnlyWithAnImageFileAfterTheRun) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\bak\\c.GHO");
  selectRow(0);
  w.processes.onRun = [this](const std::string&) {
    mainVisibleDuringRuns.push_back(main->visible());
    w.files.addSizedFile("D:\\bak\\c.GHO", 1024 * kMB);
  };
  press();
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_EQ(w.processes.captured[0], engineRun(onekey::backupCommandLine(kEngine, "1:1", "D:\\bak\\c.GHO")));
  EXPECT_EQ(mainVisibleDuringRuns, std::vector<bool>{false});
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

TEST_F(GhostTest, AnInterpreterThatNeverStartedFailsEveryOperation) {
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
  EXPECT_GBK_EQ(std::string("Ghost应用映像错误！\r\n错误信息:\r\n") + onekey::kInterpreterNotStarted, ui.boxes[1].text);
  EXPECT_GBK_EQ(std::string("Ghost备份磁盘错误！\r\n错误信息:\r\n") + onekey::kInterpreterNotStarted, ui.boxes[3].text);
  EXPECT_GBK_EQ(std::string("sys.gho 镜像文件未能检查：") + onekey::kInterpreterNotStarted, ui.boxes[4].text);
  for (int i : {1, 3, 4}) EXPECT_EQ(ui.boxes[i].style, 0x2010u);
  EXPECT_TRUE(w.files.hasFile("D:\\b.gho")) << "a file the backup did not create is kept";
}

TEST_F(GhostTest, ImageCheckReportsPassOrFailWithoutTheEngineText) {
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

TEST_F(GhostTest, WimRestoreAndWimBackupOpenTheProgressWindowsWithTheMainWindowHidden) {
  w.files.addFile("D:\\win.Wim", "x");
  chooseImage("D:\\win.Wim");
  selectRow(0);
  press();
  main->click("wimBackupRadio");
  main->get("savePathEdit").setText("D:\\c.wim");
  press();
  ASSERT_EQ(wim.calls.size(), 2u);
  EXPECT_EQ(wim.calls[0].what, "restore:D:\\win.Wim");
  EXPECT_EQ(wim.calls[0].partitionList, &main->get("partitionList"));
  EXPECT_EQ(wim.calls[1].what, "backup:D:\\c.wim");
  EXPECT_FALSE(wim.calls[0].ownerVisible || wim.calls[1].ownerVisible);
  EXPECT_TRUE(main->visible());
  EXPECT_TRUE(ui.boxes.empty()) << "the progress windows ask their own questions";
}

class IsoTest : public GhostTest {
 protected:
  IsoTest() {
    w.files.addSizedFile("D:\\win.iso", 4000 * kMB);
    w.files.currentDirectory = "D:\\";
    chooseImage("D:\\win.iso");
    selectRow(0);
    for (const char* letter : {"C", "D", "X"}) inUse(letter);
  }
  void inUse(const std::string& letter) { w.files.addFile(letter + ":\\nul"); }
  // What the mounter puts on the drive when it mounts.
  void mountsAs(std::vector<std::pair<std::string, std::uint64_t>> files) {
    w.processes.onRun = [this, files](const std::string& line) {
      mainVisibleDuringRuns.push_back(main->visible());
      if (line.find("ISO.exe") == std::string::npos) return;
      locked = !main->get("mainOkButton").enabled() && !main->get("savePathEdit").enabled() &&
               main->get("redEnvelopeButton").enabled() && main->get("homePageCheck").enabled();
      const std::string letter = line.substr(line.find("/D:") + 3, 1);
      for (const auto& [path, size] : files) {
        const std::string full = letter + path;
        const std::size_t slash = full.find_last_of('\\');
        if (slash > 2) w.files.addDir(full.substr(0, slash));
        w.files.addSizedFile(full, size);
      }
    };
  }
  bool locked = false;
};

TEST_F(IsoTest, MountLetterIsTheFirstFreeOfZYWAB) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "Z"}, {{"Z"}, "Y"}, {{"Z", "Y"}, "W"}, {{"Z", "Y", "W"}, "A"}, {{"Z", "Y", "W", "A"}, "B"},
  };
  for (const auto& [used, letter] : cases) {
    fake::Files files;
    for (const std::string& l : used) files.addFile(l + ":\\nul");
    EXPECT_EQ(onekey::chooseIsoMountLetter(files), letter);
  }
}

TEST_F(IsoTest, AllFiveLettersInUseStopsBeforeMounting) {
  for (const char* letter : {"Z", "Y", "W", "A", "B"}) inUse(letter);
  state.isoMountLetter = "B";
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"检测到系统盘符异常,部分功能将无法正常使用！"});
  EXPECT_TRUE(w.processes.captured.empty());
}

TEST_F(IsoTest, AnIsoOnTheTargetPartitionIsRefusedBeforeMounting) {
  mountsAs({{":\\sys.GHO", 200 * kMB}});
  for (const char* iso : {"D:\\win.iso", "d:\\win.iso"}) {
    ui.boxes.clear();
    main->get("imagePathCombo").clearItems();
    chooseImage(iso);
    selectRow(1);
    press();
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"ISO镜像文件 " + std::string(iso) +
                                       " 位于要还原的分区 D:\\(1:2) 上,不能安装到该分区！"});
    EXPECT_EQ(ui.boxes.at(0).style, 0x2030u);
  }
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_TRUE(wim.calls.empty());
  EXPECT_TRUE(main->get("mainOkButton").enabled());
}

TEST_F(IsoTest, AnIsoOfTwentyMegabytesOrLessIsRefused) {
  for (const auto& [size, mounted] : {std::pair{20 * kMB, false}, std::pair{20 * kMB + 1, true}}) {
    w.processes.captured.clear();
    ui.boxes.clear();
    w.files.addSizedFile("D:\\win.iso", size);
    press();
    EXPECT_EQ(!w.processes.captured.empty(), mounted) << size;
    if (!mounted) {
      EXPECT_EQ(boxTexts(), std::vector<std::string>{"无效的ISO镜像文件,请选择正确的ISO镜像文件！"});
    }
  }
}

TEST_F(IsoTest, ASetupMediumGoesStraightToItsInstallWim) {
  inUse("Z");
  inUse("Y");
  mountsAs({{":\\sources\\boot.wim", 300 * kMB}, {":\\sources\\install.wim", 3000 * kMB}});
  press();
  EXPECT_EQ(w.processes.captured.at(0), "cmd.exe /c X:\\Temp\\\\ISO.exe /D:W /I:\"D:\\win.iso\"");
  EXPECT_TRUE(locked);
  EXPECT_EQ(state.isoMountLetter, "W");
  EXPECT_EQ(state.isoImageCandidates, (std::vector<std::string>{"W:\\sources\\boot.wim", "W:\\sources\\install.wim"}));
  ASSERT_EQ(wim.calls.size(), 1u);
  EXPECT_EQ(wim.calls[0].what, "restore:W:\\sources\\install.wim");
  EXPECT_EQ(wim.calls[0].partitionList, &main->get("partitionList"));
  EXPECT_TRUE(wim.calls[0].ownerVisible);
  EXPECT_TRUE(main->get("mainOkButton").enabled());
  EXPECT_EQ(ui.windows.size(), 1u) << "no install-file list";
}

TEST_F(IsoTest, AnIsoWithNothingToInstallSaysSoAndLeavesTheControlsEnabled) {
  mountsAs({{":\\readme.txt", 1}});
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"错误或不支持的Windows安装镜像,请选择正确的Windows安装镜像！"});
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);
  EXPECT_TRUE(locked);
  EXPECT_TRUE(main->get("mainOkButton").enabled() && main->get("depthEdit").enabled());
}

TEST_F(IsoTest, ASingleLargeGhoIsInstalledAtOnceAndTheMainWindowIsUsableAfterwards) {
  mountsAs({{":\\sys.GHO", 200 * kMB}});
  fake::Window* list = nullptr;
  ui.scriptModal([&](fake::Window& window) {
    list = &window;
    window.requestClose();
  });
  press();
  ASSERT_EQ(ui.windows.size(), 2u);
  EXPECT_EQ(list, nullptr) << "the list closed itself: the user never had to click";
  ASSERT_EQ(w.processes.captured.size(), 2u);
  EXPECT_EQ(w.processes.captured[1], engineRun(onekey::restoreCommandLine(kEngine, "Z:\\sys.GHO", "1:1")));
  EXPECT_EQ(state.imagePath, "Z:\\sys.GHO");
  EXPECT_TRUE(main->visible());
  EXPECT_TRUE(main->get("mainOkButton").enabled());
  EXPECT_GBK_EQ("Ghost应用映像到磁盘完成！\r\n映像名称: sys.GHO\r\n安装分区: C:\\(1:1)\r\n映像大小: 200 MB",
                ui.boxes.back().text);
}

class InstallListTest : public GhostTest {
 protected:
  // Opens the list; user acts while it is up. Returns whether the window closed
  // itself (during creation, or after what the user did).
  bool open(std::function<void(fake::Window&)> user = {}) {
    bool closedItself = true;
    ui.scriptModal([&](fake::Window& window) {
      if (user) user(window);
      closedItself = window.closed();
      if (!closedItself) window.requestClose();  // the user leaves by the caption button
    });
    onekey::MainControls controls = onekey::MainControls::of(*main);
    onekey::InstallListWindow logic(services, controls);
    ui.runModal(logic, main);
    ui.discardScripts();  // the script of a list that closed itself during creation
    return closedItself;
  }
};

TEST_F(InstallListTest, LayoutFitsTheWindowAndListsOnlyCandidatesAboveOneHundredMegabytes) {
  w.files.addSizedFile("Z:\\a.gho", 100 * kMB);
  w.files.addSizedFile("Z:\\b.gho", 100 * kMB + 5242);  // 100.004999 MB rounds to 100
  w.files.addSizedFile("Z:\\c.wim", 100 * kMB + 10486);
  w.files.addSizedFile("Z:\\d.wim", 3 * 1024 * kMB);
  state.isoImageCandidates = {"Z:\\a.gho", "Z:\\b.gho", "Z:\\c.wim", "Z:\\missing.wim", "Z:\\d.wim"};
  EXPECT_FALSE(open());
  fake::Window& window = *ui.windows.back();
  const ui::WindowSpec& spec = window.spec;
  EXPECT_GBK_EQ("安装文件列表", spec.caption);
  EXPECT_EQ(std::make_tuple(spec.x, spec.y, spec.w, spec.h), std::make_tuple(50, 50, 373, 266));
  for (const ui::ControlSpec& c : spec.controls) {
    if (c.parent.empty()) EXPECT_TRUE(c.x + c.w <= 373 - 8 && c.y + c.h <= 266 - 30) << c.name;
    else EXPECT_TRUE(c.x + c.w <= 352 && c.y + c.h <= 176) << c.name << " leaves its group";
  }
  fake::Control& list = window.get("installFileList");
  ASSERT_EQ(list.spec.columns.size(), 2u);
  EXPECT_FALSE(list.spec.columns[0].alignRight);
  EXPECT_TRUE(list.spec.columns[1].alignRight);
  ASSERT_EQ(list.rowCount(), 2);
  EXPECT_EQ(list.cell(0, 0), "Z:\\c.wim");
  EXPECT_EQ(list.cell(0, 1), "100.01 MB");
  EXPECT_EQ(list.cell(1, 1), "3072 MB");
  EXPECT_TRUE(w.processes.captured.empty() && wim.calls.empty()) << "two rows: the user chooses";
}

TEST_F(InstallListTest, TheChosenRowIsInstalledByItsKind) {
  w.files.addSizedFile("Z:\\sources\\install.wim", 3000 * kMB);
  w.files.addSizedFile("Z:\\x.gho.bak", 300 * kMB);
  w.files.addSizedFile("Z:\\sys.gho", 300 * kMB);
  state.isoImageCandidates = {"Z:\\sources\\install.wim", "Z:\\x.gho.bak", "Z:\\sys.gho"};
  selectRow(0);

  bool stayed = false;
  open([&](fake::Window& window) {
    window.click("installOkButton");
    stayed = !window.closed();
  });
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"请选择要安装的文件。"});
  EXPECT_TRUE(stayed) << "no choice made: the list stays";

  ui.boxes.clear();
  EXPECT_TRUE(open([](fake::Window& window) {
    window.get("installFileList").selectRow(0);
    window.click("installOkButton");
  }));
  ASSERT_EQ(wim.calls.size(), 1u);
  EXPECT_EQ(wim.calls[0].what, "restore:Z:\\sources\\install.wim");
  EXPECT_EQ(wim.calls[0].partitionList, &main->get("partitionList"));
  EXPECT_FALSE(wim.calls[0].ownerVisible);
  EXPECT_TRUE(main->visible());

  EXPECT_TRUE(open([](fake::Window& window) {
    window.get("installFileList").selectRow(1);
    window.click("installOkButton");
  }));
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"不支持 x.gho.bak 映像安装到 C:\\(1:1)。"});

  ui.boxes.clear();
  ui.answers = {ui::kAnswerNo};
  bool stillOpen = false;
  EXPECT_TRUE(open([&](fake::Window& window) {
    window.get("installFileList").selectRow(2);
    window.click("installOkButton");
    stillOpen = !window.closed() && window.visible();  // declined: the user may choose again
    window.click("installExitButton");
  }));
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(w.processes.captured.empty());
}

TEST_F(InstallListTest, NothingOrOnlyAnUnsupportedFileClosesTheList) {
  EXPECT_TRUE(open());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"未搜索到可安装的文件。"});
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);

  ui.boxes.clear();
  w.files.addSizedFile("Z:\\x.gho.bak", 300 * kMB);
  state.isoImageCandidates = {"Z:\\x.gho.bak"};
  EXPECT_TRUE(open());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"不支持的ISO光盘镜像。"});
}

TEST_F(InstallListTest, AnUnusableTargetRefusesTheImmediateInstall) {
  w.files.addSizedFile("Z:\\sys.gho", 300 * kMB);
  state.isoImageCandidates = {"Z:\\sys.gho"};
  selectRow(3);
  bool visible = false;
  EXPECT_FALSE(open([&](fake::Window& window) { visible = window.visible(); }));
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法还原该分区！"});
  EXPECT_TRUE(visible) << "the list stays for another choice or the exit button";
}

}  // namespace
