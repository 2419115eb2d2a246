#include "prep/boot_repair.h"

#include <gtest/gtest.h>

#include "prep/esp.h"
#include "tests/prep/prep_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using Texts = std::vector<std::string>;
using prep::BootCommand;
using prep::WindowsGeneration;

const std::string kB1 = std::string("cmd.exe /c ") + preptest::kBootice + " /DEVICE=C:\\ /mbr /install  /type=nt60  /quiet";
const std::string kB2 = std::string("cmd.exe /c ") + preptest::kBootice + " /DEVICE=C:\\ /pbr /install  /type=bootmgr  /quiet";
const std::string kB3 = std::string("cmd.exe /c ") + preptest::kBootice + " /DEVICE=C:\\ /partitions /activate /quiet";
const std::string kB4 = std::string("cmd.exe /c ") + preptest::kBootice + " /DEVICE=C:\\ /mbr /install  /type=nt52  /quiet";
const std::string kB5 = std::string("cmd.exe /c ") + preptest::kBootice + " /DEVICE=C:\\ /pbr /install  /type=ntldr  /quiet";
const std::string kC1 = std::string("cmd.exe /c ") + preptest::kBcdboot + " C:\\Windows /s C:\\  /l zh-cn ";

class BootRepair : public ::testing::Test, public preptest::World {
 protected:
  fake::Control status{ui::ControlSpec{"statusLabel", ui::Kind::Label}};
  fake::Control combo{[] {
    ui::ControlSpec s{"bootTargetCombo", ui::Kind::DropDownList};
    s.items = {"C:\\ [默认推荐]", "D:\\"};
    s.initialSelection = 0;
    return s;
  }()};

  void SetUp() override {
    combo.setSelection(0);
    w.processes.answer("bcdboot.exe", "Boot files successfully created.");
  }
  void repair() { prep::repairBoot(ctx, target, status, combo); }
};

TEST(BootRepairTexts, ProductVersionPicksTheFirstTranslationOrTheDefaultKey) {
  fake::World w;
  w.files.addFile("C:\\a.exe");
  w.files.versions[fake::pathKey("C:\\a.exe")] = {{{0x0409, 0x04B0}, {0x0804, 0x03A8}},
                                                  {{"\\StringFileInfo\\040904b0\\ProductVersion", "10.0.19041.1"},
                                                   {"\\StringFileInfo\\080403a8\\ProductVersion", "wrong"}}};
  w.files.addFile("C:\\b.exe");
  w.files.versions[fake::pathKey("C:\\b.exe")] = {{}, {{"\\StringFileInfo\\040904E4\\ProductVersion", "6.1.7601"}}};
  w.files.addFile("C:\\c.exe");
  w.files.versions[fake::pathKey("C:\\c.exe")] = {{{0x0409, 0x04B0}}, {}};
  w.files.addFile("C:\\plain.exe");
  EXPECT_EQ(prep::productVersionOf(w.os, "C:\\a.exe"), "10.0.19041.1");
  EXPECT_EQ(prep::productVersionOf(w.os, "C:\\b.exe"), "6.1.7601");
  EXPECT_EQ(prep::productVersionOf(w.os, "C:\\c.exe"), "") << "no ProductVersion string";
  EXPECT_EQ(prep::productVersionOf(w.os, "C:\\plain.exe"), "") << "no resource";
  EXPECT_EQ(prep::productVersionOf(w.os, "C:\\missing.exe"), "");
}

TEST(BootRepairTexts, GenerationsGptAndSuccessWords) {
  const std::pair<const char*, WindowsGeneration> versions[] = {
      {"10.0.22621.1", WindowsGeneration::Ten}, {"6.1.7601", WindowsGeneration::Six},
      {"6.3.9600", WindowsGeneration::Six},     {"6.0", WindowsGeneration::Six},
      {"5.1.2600", WindowsGeneration::Five},    {"5.2.3790", WindowsGeneration::Five},
      {"11", WindowsGeneration::Unknown},       {"4.0", WindowsGeneration::Unknown},
      {"1", WindowsGeneration::Unknown},        {"", WindowsGeneration::Unknown},
  };
  for (const auto& [version, want] : versions) EXPECT_EQ(prep::windowsGenerationOf(version), want) << version;

  const std::pair<const char*, bool> styles[] = {
      {"主分区,GPT", true}, {"逻辑分区,gpt", true}, {"EFI分区,Gpt", true}, {"主分区,MBR", false}, {"逻辑分区", false}, {"", false}};
  for (const auto& [text, gpt] : styles) EXPECT_EQ(prep::isGptText(text), gpt) << gbktest::toUtf8(text);

  const std::pair<const char*, bool> outputs[] = {
      {"Boot files successfully created.\r\n", true},
      {"BOOT FILES SUCCESSFULLY CREATED", true},
      {"引导文件已成功创建。", true},
      {"Failure when attempting to copy boot files.", false},
      {"success", false},
      {"", false},
  };
  for (const auto& [text, ok] : outputs) EXPECT_EQ(prep::bcdbootSucceeded(text), ok) << gbktest::toUtf8(text);
}

TEST(BootRepairTexts, CommandLinesByteForByte) {
  core::ToolPaths tools;
  tools.booticePath = "T\\\\bootice.exe";
  tools.bcdbootPath = "T\\\\bcdboot.exe";
  const std::pair<BootCommand, const char*> lines[] = {
      {BootCommand::MbrForBootmgr, "T\\\\bootice.exe /DEVICE=E:\\ /mbr /install  /type=nt60  /quiet"},
      {BootCommand::PbrForBootmgr, "T\\\\bootice.exe /DEVICE=E:\\ /pbr /install  /type=bootmgr  /quiet"},
      {BootCommand::ActivatePartition, "T\\\\bootice.exe /DEVICE=E:\\ /partitions /activate /quiet"},
      {BootCommand::MbrForNtldr, "T\\\\bootice.exe /DEVICE=E:\\ /mbr /install  /type=nt52  /quiet"},
      {BootCommand::PbrForNtldr, "T\\\\bootice.exe /DEVICE=E:\\ /pbr /install  /type=ntldr  /quiet"},
      {BootCommand::BcdbootBios, "T\\\\bcdboot.exe D:\\Windows /s E:\\  /l zh-cn "},
      {BootCommand::BcdbootAllFirmware, "T\\\\bcdboot.exe D:\\Windows /s E:\\ /f all /l zh-cn "},
  };
  for (const auto& [which, want] : lines) EXPECT_EQ(prep::bootCommandLine(tools, which, "D", "E:\\"), want);

  const std::tuple<WindowsGeneration, bool, const char*> batches[] = {
      {WindowsGeneration::Ten, false, "T\\\\bcdboot.exe D:\\Windows /S E:\\ /l zh-cn \r\ndel yd.cmd"},
      {WindowsGeneration::Ten, true, "T\\\\bcdboot.exe D:\\Windows /S E:\\ /f  all /l zh-cn \r\ndel yd.cmd"},
      {WindowsGeneration::Six, false, "T\\\\bcdboot.exe D:\\Windows /S E:\\ /l zh-cn \r\ndel yd.cmd"},
      {WindowsGeneration::Six, true, "T\\\\bcdboot.exe D:\\Windows /S E:\\ /f all /l zh-cn \r\ndel yd.cmd"},
  };
  for (const auto& [generation, gpt, want] : batches)
    EXPECT_EQ(prep::retryBatchText(tools, "D", "E:\\", generation, gpt), want) << gpt;

  fake::World w;
  for (const auto& [dir, path] : {std::pair<const char*, const char*>{"X:\\Windows", "X:\\Windows\\\\yd.cmd"},
                                  {"X:\\Windows\\", "X:\\Windows\\\\yd.cmd"}}) {
    w.system.windowsDir = dir;
    EXPECT_EQ(prep::retryBatchPath(w.os), path);
  }
}

TEST_F(BootRepair, DecisionTable) {
  struct Case {
    const char* version;  // nullptr: no interpreter file at all
    const char* partitionType;
    Texts commands;
    const char* status;
    int boxes;
  };
  const Case cases[] = {
      {"10.0.19041.1", "主分区,MBR", {kB1, kB2, kB3, kC1}, "创建引导成功！", 0},
      {"6.1.7601", "逻辑分区", {kB1, kB2, kB3, kC1}, "创建引导成功！", 0},
      {"5.1.2600", "主分区,MBR", {kB4, kB5, kB3}, "创建引导成功！", 0},
      {"5.2.3790", "主分区,GPT", {kB4, kB5, kB3}, "创建引导成功！", 0},
      {"11.0", "主分区,MBR", {}, "未知Windows版本！", 1},
      {"4.0", "主分区,MBR", {}, "未知Windows版本！", 1},
      {"", "主分区,MBR", {}, "未知Windows版本！", 1},
      {nullptr, "主分区,MBR", {}, "正在添加引导......", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version ? c.version : "no interpreter");
    preptest::World fresh;
    w.files = fresh.w.files;
    w.processes.captured.clear();
    ui.boxes.clear();
    target.targetPartitionType = c.partitionType;
    if (c.version) restoredWindows(c.version);
    repair();
    EXPECT_EQ(w.processes.captured, c.commands);
    EXPECT_GBK_EQ(c.status, status.text());
    ASSERT_EQ(static_cast<int>(ui.boxes.size()), c.boxes);
    if (c.boxes) {
      EXPECT_GBK_EQ("未知Windows版本！", ui.boxes[0].text);
      EXPECT_EQ(ui.boxes[0].style, 0x2010u);
    }
  }
}

TEST_F(BootRepair, GptRunsOnlyC2OnTheEspAndMarksItUsed) {
  restoredWindows("10.0.22000.1");
  gptDiskWithEsp();
  ui::ControlSpec partitionsSpec{"partitionList", ui::Kind::ListView};
  fake::Control partitions{partitionsSpec};
  combo.clearItems();
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  ASSERT_GBK_EQ("V:\\ [默认推荐]", combo.text());
  repair();
  EXPECT_EQ(w.processes.captured,
            Texts{std::string("cmd.exe /c ") + preptest::kBcdboot + " C:\\Windows /s V:\\ /f all /l zh-cn "});
  EXPECT_GBK_EQ("创建引导成功！", status.text());
  EXPECT_TRUE(state.esp.used);
}

TEST_F(BootRepair, OldBootStoreGoesEvenWhenNothingElseRuns) {
  w.files.addFile("C:\\Boot\\BCD", "old");
  repair();  // no interpreter: nothing else happens
  EXPECT_FALSE(w.files.hasFile("C:\\Boot\\BCD"));
  EXPECT_TRUE(w.processes.captured.empty());
}

TEST_F(BootRepair, FailedBcdbootOffersTheBatchRetry) {
  for (int answer : {ui::kAnswerNo, ui::kAnswerYes}) {
    SCOPED_TRACE(answer);
    preptest::World fresh;
    w.files = fresh.w.files;
    w.processes = fake::Processes();
    ui.boxes.clear();
    restoredWindows("10.0.19041.1");
    w.processes.answer("bcdboot.exe", "Failure when attempting to copy boot files.\r\n");
    ui.answers = {answer};
    repair();
    EXPECT_GBK_EQ("创建引导失败！", status.text());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("创建引导失败,是否使用批处理模式重试？\r\n错误信息:\r\nFailure when attempting to copy boot files.\r\n",
                  ui.boxes[0].text);
    EXPECT_GBK_EQ("提示", ui.boxes[0].title);
    EXPECT_EQ(ui.boxes[0].style, 0x2014u);
    const std::string batch = "X:\\Windows\\\\yd.cmd";
    if (answer == ui::kAnswerNo) {
      EXPECT_FALSE(w.files.hasFile(batch));
      EXPECT_TRUE(w.processes.waited.empty());
    } else {
      EXPECT_EQ(w.files.contentOf(batch), std::string(preptest::kBcdboot) + " C:\\Windows /S C:\\ /l zh-cn \r\ndel yd.cmd");
      EXPECT_EQ(w.processes.waited, Texts{batch});
    }
  }
}

TEST_F(BootRepair, MissingBcdbootShowsTheQuestionWithNothingAfterTheHeading) {
  restoredWindows("6.1.7601");
  w.processes.rules.clear();
  w.processes.answer("bcdboot.exe", "", false);
  ui.answers = {ui::kAnswerNo};
  repair();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("创建引导失败,是否使用批处理模式重试？\r\n错误信息:\r\n", ui.boxes[0].text);
}

TEST_F(BootRepair, RefusesWithoutABootTargetAndChangesNothing) {
  restoredWindows("10.0.19041.1");
  w.files.addFile("C:\\Boot\\BCD", "old");
  combo.setSelection(-1);
  repair();
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_TRUE(w.files.hasFile("C:\\Boot\\BCD"));
  EXPECT_GBK_EQ("创建引导失败！", status.text());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);
  EXPECT_NE(ui.boxes[0].text.find("选择"), std::string::npos) << gbktest::toUtf8(ui.boxes[0].text);
}

TEST_F(BootRepair, GptDiskWithoutEspIsRefusedBeforeAnythingIsWritten) {
  restoredWindows("10.0.19041.1");
  gptDiskWithEsp();
  w.volumes.volumes.erase(w.volumes.volumes.begin());  // no ESP on disk 1
  w.files.addFile("C:\\Boot\\BCD", "old");
  repair();
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_TRUE(w.files.hasFile("C:\\Boot\\BCD"));
  EXPECT_GBK_EQ("创建引导失败！", status.text());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("EFI"), std::string::npos);
  EXPECT_NE(ui.boxes[0].text.find("C:\\(1:2)"), std::string::npos) << "names the restored partition";
}

TEST_F(BootRepair, NonEspChoiceOnGptAsksOnce) {
  for (int answer : {ui::kAnswerNo, ui::kAnswerYes}) {
    SCOPED_TRACE(answer);
    w.processes.captured.clear();
    ui.boxes.clear();
    restoredWindows("10.0.19041.1");
    gptDiskWithEsp();
    combo.setSelection(1);  // D:\, not the ESP
    ui.answers = {answer};
    repair();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].style, 0x2034u);
    if (answer == ui::kAnswerNo) {
      EXPECT_TRUE(w.processes.captured.empty());
      EXPECT_GBK_EQ("已取消添加引导！", status.text());
    } else {
      EXPECT_EQ(w.processes.captured,
                Texts{std::string("cmd.exe /c ") + preptest::kBcdboot + " C:\\Windows /s D:\\ /f all /l zh-cn "});
      EXPECT_GBK_EQ("创建引导成功！", status.text());
    }
  }
}

// Windows 6 on a GPT disk takes the UEFI branch as Windows 10 does, and the batch
// retry of a failed run is the GPT batch of its generation.
TEST_F(BootRepair, BothBcdbootGenerationsOnGptAndTheirRetryBatch) {
  const std::pair<const char*, const char*> cases[] = {
      {"6.1.7601", "X:\\Temp\\\\bcdboot.exe C:\\Windows /S V:\\ /f all /l zh-cn \r\ndel yd.cmd"},
      {"10.0.19041.1", "X:\\Temp\\\\bcdboot.exe C:\\Windows /S V:\\ /f  all /l zh-cn \r\ndel yd.cmd"},
  };
  for (const auto& [version, batch] : cases) {
    SCOPED_TRACE(version);
    preptest::World fresh;
    w.files = fresh.w.files;
    w.processes = fake::Processes();
    w.volumes.drives = fresh.w.volumes.drives;  // the ESP's lent letter goes back
    state.esp = core::EspState();
    ui.boxes.clear();
    restoredWindows(version);
    gptDiskWithEsp();
    fake::Control partitions{ui::ControlSpec{"partitionList", ui::Kind::ListView}};
    combo.clearItems();
    prep::fillBootTargetCombo(ctx, target, partitions, combo);
    w.processes.answer("bcdboot.exe", "Failure when attempting to copy boot files.\r\n");
    ui.answers = {ui::kAnswerYes};
    repair();
    EXPECT_EQ(w.processes.captured, Texts{"cmd.exe /c X:\\Temp\\\\bcdboot.exe C:\\Windows /s V:\\ /f all /l zh-cn "});
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_GBK_EQ("创建引导失败,是否使用批处理模式重试？\r\n错误信息:\r\nFailure when attempting to copy boot files.\r\n",
                  ui.boxes[0].text);
    EXPECT_EQ(w.files.contentOf("X:\\Windows\\\\yd.cmd"), batch);
    EXPECT_EQ(w.processes.waited, Texts{"X:\\Windows\\\\yd.cmd"});
  }
}

// A batch left by an earlier run names another target: when the new one cannot be
// written, the old one is removed and nothing is run.
TEST_F(BootRepair, AStaleBatchIsNeverRun) {
  restoredWindows("10.0.19041.1");
  const std::string batch = "X:\\Windows\\\\yd.cmd";
  w.files.addFile(batch, "bcdboot D:\\Windows /S D:\\ /l zh-cn \r\ndel yd.cmd");
  w.files.unwritable.insert(fake::pathKey(batch));
  w.processes.rules.clear();
  w.processes.answer("bcdboot.exe", "Failure when attempting to copy boot files.\r\n");
  ui.answers = {ui::kAnswerYes};
  repair();
  EXPECT_TRUE(w.processes.waited.empty());
  EXPECT_FALSE(w.files.hasFile(batch));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_GBK_EQ("无法写入批处理文件 X:\\Windows\\\\yd.cmd ！", ui.boxes[1].text);
  EXPECT_EQ(ui.boxes[1].style, 0x2010u);
}

}  // namespace
