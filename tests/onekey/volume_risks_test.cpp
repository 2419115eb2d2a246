// The questions before touching a partition in a risky state, and the refusal of the
// partition the running WinPE started from.
#include <gtest/gtest.h>

#include "tests/onekey/onekey_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using namespace onekeytest;

constexpr char kBitLockerRestore[] =
    "分区 C:\\(1:1) 是BitLocker加密卷。\r\n还原会用映像替换整个加密卷,卷中现有的数据将全部丢失。\r\n是否继续？";
constexpr char kBitLockerBackup[] =
    "分区 C:\\(1:1) 是BitLocker加密卷。\r\n备份只能逐个扇区复制加密的数据:映像与分区一样大,"
    "且只能原样还原成加密卷,要用原来的密钥才能打开。\r\n是否继续？";
constexpr char kHibernated[] =
    "分区 C:\\(1:1) 上的Windows处于休眠或快速启动状态。\r\n不格式化就在其上应用映像或写入引导文件,"
    "旧的Windows从休眠恢复时可能使这些改动丢失。\r\n"
    "建议先启动该Windows并完全关机(关闭快速启动),或在还原时格式化该分区。\r\n是否继续？";
constexpr char kDirty[] =
    "分区 C:\\(1:1) 的NTFS文件系统被标记为需要检查。\r\n它的空间位图可能与文件不符,"
    "只备份已用块的映像可能漏掉数据。\r\n建议先对该分区运行 chkdsk /f 再备份。\r\n是否继续？";

class VolumeRiskTest : public OneKeyTest {
 protected:
  void riskyRow(bool bitLocker, bool hibernated, bool dirty) {
    state.listedRisks["1:1"] = {bitLocker, hibernated, dirty};
    selectRow(0);
  }
};

// Which questions each operation raises, in their order; the box warns and asks Yes/No.
TEST_F(VolumeRiskTest, EachOperationAsksAboutTheRisksThatConcernIt) {
  w.files.addFile("D:\\sys.gho", "x");
  w.files.addFile("D:\\win.wim", "x");
  struct Case {
    const char* radio;
    const char* path;
    std::vector<std::string> questions;  // then the operation's own question (GHO) or window (WIM)
  };
  const Case cases[] = {
      // A GHO restore replaces the file system, hibernation image and dirty flag with it.
      {"restoreRadio", "D:\\sys.gho", {kBitLockerRestore}},
      {"restoreRadio", "D:\\win.wim", {kBitLockerRestore, kHibernated}},
      {"ghostBackupRadio", "D:\\new.gho", {kBitLockerBackup, kDirty}},
      // The WIM engine reads files, not the allocation bitmap.
      {"wimBackupRadio", "D:\\new.wim", {kBitLockerBackup}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.radio) + " " + k.path);
    ui.boxes.clear();
    main->click(k.radio);
    if (std::string(k.radio) == "restoreRadio") chooseImage(k.path);
    else main->get("savePathEdit").setText(k.path);
    riskyRow(true, true, true);
    ui.answers = std::deque<int>(k.questions.size(), ui::kAnswerYes);
    ui.answers.push_back(ui::kAnswerNo);  // the GHO run's own question: No, nothing runs
    ui.scriptModal([](fake::Window& window) { window.close(); });
    press();
    std::vector<std::string> texts = boxTexts();
    ASSERT_GE(texts.size(), k.questions.size());
    for (std::size_t i = 0; i < k.questions.size(); ++i) {
      EXPECT_GBK_EQ(k.questions[i], texts[i]);
      EXPECT_EQ(ui.boxes[i].style, 0x2034u) << "Yes/No with the warning icon";
    }
    ui.discardScripts();
  }
}

TEST_F(VolumeRiskTest, NoStopsBeforeAnythingRunsOrOpens) {
  w.files.addFile("D:\\win.wim", "x");
  chooseImage("D:\\win.wim");
  for (int declined = 0; declined < 2; ++declined) {
    ui.boxes.clear();
    riskyRow(true, true, false);
    ui.answers.clear();
    for (int i = 0; i < declined; ++i) ui.answers.push_back(ui::kAnswerYes);
    ui.answers.push_back(ui::kAnswerNo);
    const std::size_t windowsBefore = ui.windows.size();
    press();
    EXPECT_EQ(ui.boxes.size(), static_cast<std::size_t>(declined + 1)) << "no question after the No";
    EXPECT_EQ(ui.windows.size(), windowsBefore) << "no restore window";
  }
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\new.gho");
  riskyRow(false, false, true);
  ui.boxes.clear();
  ui.answers = {ui::kAnswerNo};
  press();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ(kDirty, ui.boxes[0].text);
  EXPECT_TRUE(w.processes.captured.empty()) << "the engine never ran";
  EXPECT_FALSE(w.files.hasFile("D:\\new.gho"));
  EXPECT_TRUE(main->visible());
}

TEST_F(VolumeRiskTest, YesGoesOnToTheRun) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\new.gho");
  riskyRow(false, false, true);
  w.processes.onRun = [this](const std::string&) { w.files.addFile("D:\\new.gho", "image"); };
  ui.answers = {ui::kAnswerYes, ui::kAnswerYes};
  press();
  ASSERT_FALSE(w.processes.captured.empty());
  EXPECT_EQ(w.processes.captured[0], engineRun(std::string(kEngine) +
                                               " -clone,mode=pdump,src=1:1,dst=\"D:\\new.gho\" -z9  "
                                               "-crcignore  -noide  -sure  -fx -BATCH "));
  EXPECT_GBK_EQ(kDirty, ui.boxes.at(0).text);
  EXPECT_GBK_EQ("是否将 C:\\(1:1) 备份到 D:\\new.gho ？", ui.boxes.at(1).text);
}

TEST_F(VolumeRiskTest, APartitionWithoutRisksAsksNothingMore) {
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("D:\\new.gho");
  state.listedRisks["1:2"] = {true, true, true};  // another partition's
  selectRow(0);
  ui.answers = {ui::kAnswerNo};
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"是否将 C:\\(1:1) 备份到 D:\\new.gho ？"});
}

TEST_F(VolumeRiskTest, RestoresOntoTheWinpeBootPartitionAreRefusedBackupsAreNot) {
  w.volumes.drives = {{"C:\\", 3}, {"D:\\", 2}};
  w.files.addFile("D:\\sources\\boot.wim", "x");
  w.files.addFile("D:\\bootmgr", "x");
  w.files.addFile("C:\\img\\sys.gho", "x");
  w.files.addFile("C:\\img\\win.wim", "x");
  const char* refusal = "所选分区 D:\\(1:2) 存放着当前运行的WinPE的启动文件,还原、格式化或写入引导都会毁掉它,"
                        "不能对该分区操作！\r\n请选择其他分区。";
  for (const char* image : {"C:\\img\\sys.gho", "C:\\img\\win.wim"}) {
    ui.boxes.clear();
    chooseImage(image);
    selectRow(1);
    press();
    EXPECT_EQ(boxTexts(), std::vector<std::string>{refusal}) << image;
    EXPECT_EQ(ui.boxes.at(0).style, 0x2010u);
  }
  EXPECT_TRUE(w.processes.captured.empty());

  // A boot.wim without a boot manager is an image like any other; C: has neither.
  w.files.files.erase("d:\\bootmgr");
  ui.boxes.clear();
  ui.answers = {ui::kAnswerNo};
  chooseImage("C:\\img\\sys.gho");
  selectRow(1);
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"是否将 C:\\img\\sys.gho 还原到 D:\\(1:2) ？"});

  // Backing the medium up only reads it.
  w.files.addFile("D:\\efi\\microsoft\\boot\\bcd", "x");
  main->click("ghostBackupRadio");
  main->get("savePathEdit").setText("C:\\img\\pe.gho");
  ui.boxes.clear();
  ui.answers = {ui::kAnswerNo};
  selectRow(1);
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"是否将 D:\\(1:2) 备份到 C:\\img\\pe.gho ？"});
}

}  // namespace
