#include "prep/format.h"

#include <gtest/gtest.h>

#include "tests/prep/prep_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using Texts = std::vector<std::string>;

// The restore window's controls in their idle state.
class FormatStep : public ::testing::Test, public preptest::World {
 protected:
  fake::Control volume{ui::ControlSpec{"volumeCombo", ui::Kind::DropDownList}};
  fake::Control format{[] {
    ui::ControlSpec s{"formatCombo", ui::Kind::DropDownList};
    s.items = {"手动 Format", "自动 NTFS", "跳过 None"};
    return s;
  }()};
  fake::Control bootTarget{[] {
    ui::ControlSpec s{"bootTargetCombo", ui::Kind::DropDownList};
    s.items = {"C:\\ [默认推荐]"};
    return s;
  }()};
  fake::Control addBoot{ui::ControlSpec{"addBootCheck", ui::Kind::CheckBox}};
  fake::Control ok{ui::ControlSpec{"okButton", ui::Kind::Button}};
  fake::Control cancel{ui::ControlSpec{"cancelButton", ui::Kind::Button}};
  fake::Control status{ui::ControlSpec{"statusLabel", ui::Kind::Label}};
  prep::RestoreControls controls{nullptr, volume, format, bootTarget, addBoot, ok, cancel, status};
  int applies = 0;

  void SetUp() override {
    format.setSelection(1);
    bootTarget.setSelection(0);
    addBoot.setChecked(true);
  }
  // The window reads the combo box into the request when its OK button is pressed.
  void confirm(core::FormatChoice choice) {
    format.setSelection(static_cast<int>(choice));
    request.options.format = choice;
    prep::formatStep(ctx, request, controls, [this] { ++applies; });
  }
  std::vector<bool> enabledStates() const {
    return {volume.enabled(), format.enabled(), bootTarget.enabled(), addBoot.enabled(), ok.enabled(), cancel.enabled()};
  }
  const std::vector<bool> allEnabled = std::vector<bool>(6, true);
  const std::vector<bool> allLocked = std::vector<bool>(6, false);
};

TEST_F(FormatStep, AutoNtfsAnsweredNoLeavesEverythingAsItWas) {
  ui.answers = {ui::kAnswerNo};
  confirm(core::FormatChoice::AutoNtfs);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("分区 C:\\(1:2) 的数据将被删除,是否继续？", ui.boxes[0].text);
  EXPECT_EQ(ui.boxes[0].style, 0x2034u);
  EXPECT_EQ(enabledStates(), allEnabled);
  EXPECT_EQ(applies, 0);
  EXPECT_TRUE(w.volumes.formats.empty());
  EXPECT_EQ(status.text(), "");
}

TEST_F(FormatStep, NoneStartsTheApplyAtOnceWithoutTheFormattingText) {
  confirm(core::FormatChoice::None);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(applies, 1);
  EXPECT_EQ(enabledStates(), allLocked);
  EXPECT_EQ(status.text(), "");
  EXPECT_TRUE(w.volumes.formats.empty());
}

TEST_F(FormatStep, AutoNtfsThroughTheFormatLibrary) {
  int pumpsBefore = ui.pumps;
  confirm(core::FormatChoice::AutoNtfs);
  EXPECT_EQ(applies, 1);
  EXPECT_GBK_EQ("正在格式化....", status.text());
  EXPECT_EQ(enabledStates(), allLocked);
  EXPECT_EQ(ui.pumps, pumpsBefore + 1) << "messages are served once before the library runs";
  ASSERT_EQ(w.volumes.formats.size(), 1u);
  const auto& call = w.volumes.formats[0];
  EXPECT_EQ(call.root, "C:\\");
  EXPECT_EQ(call.fileSystem, "NTFS");
  EXPECT_GBK_EQ("本地磁盘", call.label);
  EXPECT_EQ(call.mediaType, 12);
  EXPECT_TRUE(call.quick);
  EXPECT_EQ(call.clusterSize, 0u);
}

TEST_F(FormatStep, FailedFormatsUnlockAndReport) {
  struct Case {
    const char* name;
    bool libraryMissing;
    std::vector<fake::Volumes::FormatReport> reports;
    bool tickedAddBoot;
  };
  const Case cases[] = {
      {"done with a false flag", false, {{0, 10}, {11, 0}}, true},
      {"no report at all", false, {}, false},
      {"never reports its end", false, {{0, 10}, {0, 90}}, false},
      {"library cannot be loaded", true, {{11, 1}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui.boxes.clear();
    applies = 0;
    w.volumes.formatLibraryMissing = c.libraryMissing;
    w.volumes.formatReports = c.reports;
    addBoot.setChecked(c.tickedAddBoot);
    confirm(core::FormatChoice::AutoNtfs);
    EXPECT_EQ(applies, 0);
    EXPECT_GBK_EQ("格式化 C:\\(1:2) 失败！", status.text());
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_GBK_EQ("格式化 C:\\(1:2) 失败,请重试！", ui.boxes[1].text);
    EXPECT_EQ(ui.boxes[1].style, 0x2010u);
    EXPECT_TRUE(cancel.enabled());
    EXPECT_TRUE(ok.enabled());
    EXPECT_EQ(bootTarget.enabled(), c.tickedAddBoot);
    EXPECT_FALSE(state.formatBusy);
  }
}

TEST_F(FormatStep, SixtyFourBitHostRunsTheQuotedMarkToolFromTheTempFolder) {
  w.system.wow64 = true;
  w.system.tempDir = "X:\\Documents and Settings\\Temp";
  w.processes.answer("MARK.exe", "Format success.\r\n");
  confirm(core::FormatChoice::AutoNtfs);
  EXPECT_EQ(applies, 1);
  const std::string mark = "X:\\Documents and Settings\\Temp\\\\MARK.exe";
  EXPECT_EQ(w.files.contentOf(mark), "MZ-mark-bytes");
  EXPECT_EQ(w.processes.captured, Texts{"cmd.exe /c \"" + mark + "\" C:"});
  EXPECT_TRUE(w.volumes.formats.empty());

  // Written once: a second format runs the file already there.
  w.files.writes.clear();
  confirm(core::FormatChoice::AutoNtfs);
  EXPECT_TRUE(w.files.writes.empty());
}

TEST_F(FormatStep, MarkToolOutcomeIsTheWordSuccessWithItsDot) {
  w.system.wow64 = true;
  const std::pair<const char*, bool> outputs[] = {
      {"Format success.\r\n", true},
      {"FORMAT SUCCESS.", true},
      {"FormatEx was unable to complete successfully.", false},
      {"", false},
  };
  for (const auto& [output, ok] : outputs) {
    w.processes.rules.clear();
    w.processes.answer("MARK.exe", output);
    EXPECT_EQ(prep::formatWithMarkTool(ctx, "D:\\"), ok) << output;
    EXPECT_EQ(w.processes.captured.back(), "cmd.exe /c \"X:\\Temp\\\\MARK.exe\" D:");
  }
}

TEST_F(FormatStep, ManualFormatOpensTheDialogAndAppliesWhateverHappened) {
  target.targetDrive = "e:";
  confirm(core::FormatChoice::Manual);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(w.volumes.formatDialogs, (std::vector<std::vector<unsigned>>{{4, 0xFFFF, 1}}));
  EXPECT_GBK_EQ("正在格式化....", status.text());
  EXPECT_EQ(applies, 1);
}

// The image's own partition is refused by the restore window before its format step.
TEST_F(FormatStep, NeverFormatsTheRunningSystem) {
  struct Case {
    const char* targetDrive;
    core::FormatChoice choice;
  };
  const Case cases[] = {{"X:", core::FormatChoice::AutoNtfs}, {"x:", core::FormatChoice::Manual}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.targetDrive);
    ui.boxes.clear();
    target.targetDrive = c.targetDrive;
    target.targetDisplay = std::string(c.targetDrive) + "\\(1:1)";
    confirm(c.choice);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("分区 " + target.targetDisplay + " 是正在运行的系统所在的分区,不能格式化！", ui.boxes[0].text);
    EXPECT_EQ(applies, 0);
    EXPECT_TRUE(w.volumes.formats.empty());
    EXPECT_TRUE(w.volumes.formatDialogs.empty());
    EXPECT_EQ(enabledStates(), allEnabled);
  }
  // Skipping the format stays possible: nothing is erased.
  confirm(core::FormatChoice::None);
  EXPECT_EQ(applies, 1);
}

TEST_F(FormatStep, MissingBootTargetIsAskedForBeforeAnything) {
  bootTarget.setSelection(-1);
  confirm(core::FormatChoice::None);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(applies, 0);
  EXPECT_EQ(enabledStates(), allEnabled);
  addBoot.setChecked(false);
  confirm(core::FormatChoice::None);
  EXPECT_EQ(applies, 1) << "no boot repair: no boot target needed";
}

TEST(FormatVolumeEx, NormalisesFileSystemClusterSizeLabelAndRoot) {
  struct Case {
    std::optional<std::string> fs;
    std::optional<unsigned long> cluster;
    const char* drive;
    const char* wantFs;
    unsigned long wantCluster;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, "C:\\", "NTFS", 0},
      {std::string("ntfs"), 4096ul, "C:", "NTFS", 4096},
      {std::string("exFAT"), 8192ul, "D:\\", "NTFS", 0},
      {std::string("FAT32"), 512ul, "E", "FAT32", 512},
      {std::string("fat32"), 1000ul, "F:\\x", "NTFS", 0},
      {std::string("NTFS"), 2048ul, "G:\\", "NTFS", 2048},
  };
  for (const Case& c : cases) {
    fake::World w;
    core::AppState state;
    EXPECT_TRUE(prep::formatVolumeEx(w.os, state, c.drive, c.fs, std::nullopt, c.cluster));
    ASSERT_EQ(w.volumes.formats.size(), 1u);
    EXPECT_EQ(w.volumes.formats[0].fileSystem, c.wantFs) << c.drive;
    EXPECT_EQ(w.volumes.formats[0].clusterSize, c.wantCluster) << c.drive;
    EXPECT_EQ(w.volumes.formats[0].root, std::string(1, c.drive[0]) + ":\\");
    EXPECT_GBK_EQ("本地磁盘", w.volumes.formats[0].label);
  }
}

TEST(FormatVolumeEx, BusyGuardProgressAndTheGoOnAnswer) {
  fake::World w;
  core::AppState state;
  state.formatBusy = true;
  EXPECT_FALSE(prep::formatVolumeEx(w.os, state, "C:\\"));
  EXPECT_TRUE(w.volumes.formats.empty());
  EXPECT_TRUE(state.formatBusy) << "a refused call leaves the running one's flag";

  state.formatBusy = false;
  w.volumes.formatReports = {{0, 30}, {14, 0}, {0, 70}, {11, 1}};
  std::vector<int> seen;
  EXPECT_TRUE(prep::formatVolumeEx(w.os, state, "C:\\", std::nullopt, std::string("Data"), std::nullopt, false,
                                   [&](int p) { seen.push_back(p); }));
  EXPECT_EQ(seen, (std::vector<int>{30, 70, 100}));
  EXPECT_EQ(w.volumes.callbackAnswers, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(w.volumes.formats[0].label, "Data");
  EXPECT_FALSE(w.volumes.formats[0].quick);
  EXPECT_FALSE(state.formatBusy);
}

TEST(RestoreControls, UnlockEnablesTheBootTargetOnlyWithAddBootTicked) {
  for (bool ticked : {true, false}) {
    fake::Control c0{ui::ControlSpec{"volumeCombo", ui::Kind::DropDownList}}, c1{ui::ControlSpec{"formatCombo", ui::Kind::DropDownList}},
        c2{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}}, c3{ui::ControlSpec{"addBootCheck", ui::Kind::CheckBox}},
        c4{ui::ControlSpec{"okButton", ui::Kind::Button}}, c5{ui::ControlSpec{"cancelButton", ui::Kind::Button}},
        label{ui::ControlSpec{"statusLabel", ui::Kind::Label}};
    prep::RestoreControls controls{nullptr, c0, c1, c2, c3, c4, c5, label};
    c3.setChecked(ticked);
    prep::lockRestoreControls(controls);
    for (fake::Control* c : {&c0, &c1, &c2, &c3, &c4, &c5}) EXPECT_FALSE(c->enabled()) << c->spec.name;
    prep::unlockRestoreControls(controls);
    for (fake::Control* c : {&c0, &c1, &c3, &c4, &c5}) EXPECT_TRUE(c->enabled()) << c->spec.name;
    EXPECT_EQ(c2.enabled(), ticked);
  }
}

}  // namespace
