#include "prep/esp.h"

#include <gtest/gtest.h>

#include "tests/prep/prep_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using Texts = std::vector<std::string>;

struct Row {
  const char* drive;
  const char* index;
  const char* kind;
};

class EspTarget : public ::testing::Test, public preptest::World {
 protected:
  fake::Control partitions{ui::ControlSpec{"partitionList", ui::Kind::ListView}};
  fake::Control combo{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}};

  void rows(std::initializer_list<Row> list) {
    for (const Row& r : list) {
      const int row = partitions.addRow(r.drive, 1);
      partitions.setCell(row, 1, r.index);
      partitions.setCell(row, 2, r.kind);
    }
  }
  Texts items() const { return combo.items; }
};

TEST_F(EspTarget, GptEspGetsAFreeLetterAndTheRecommendation) {
  gptDiskWithEsp();
  w.volumes.drives.emplace_back("V:\\", 5);  // V: taken by a CD-ROM
  // The default rule alone would recommend D:\, the first partition of disk 1.
  w.volumes.volumes[0].partitionNumber = 2;
  w.volumes.volumes[1].partitionNumber = 3;
  w.volumes.deviceNumbers["\\\\.\\D:"] = 0;
  rows({{"D:\\", "1:1", "Recovery分区,GPT"}, {"", "1:2", "EFI分区,GPT"}, {"C:\\", "1:3", "主分区,GPT"}});
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  EXPECT_EQ(w.volumes.mounts, Texts{std::string("U:\\=") + preptest::kEspVolume});
  EXPECT_EQ(items(), (Texts{"C:\\", "D:\\", "U:\\ [默认推荐]"}));
  EXPECT_EQ(combo.selection(), 2);
  EXPECT_EQ(target.targetDrive, "C:");
  EXPECT_TRUE(state.esp.mountedHere);
}

TEST_F(EspTarget, FoundByListerKindOrByPartitionType) {
  struct Case {
    const char* name;
    const char* espType;   // GPT type of the ESP's volume
    const char* listKind;  // kind of row 1:1 in the partition list
    bool found;
  };
  const Case cases[] = {
      {"both", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI分区,GPT", true},
      {"type only", "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "Unknown分区,GPT", true},
      {"lister kind only (lower case type)", "ebd0a0a2-b9e5-4433-87c4-68b6b72699c7", "efi分区,GPT", true},
      {"neither", "EBD0A0A2-B9E5-4433-87C4-68B6B72699C7", "主分区,GPT", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    preptest::World fresh;
    fresh.gptDiskWithEsp();
    fresh.w.volumes.volumes[0].gptType = c.espType;
    fake::Control list{ui::ControlSpec{"partitionList", ui::Kind::ListView}};
    list.setCell(list.addRow("", 3), 1, "1:1");
    list.setCell(0, 2, c.listKind);
    fake::Control box{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}};
    prep::fillBootTargetCombo(fresh.ctx, fresh.target, list, box);
    EXPECT_EQ(fresh.state.esp.found, c.found);
    EXPECT_EQ(fresh.w.volumes.mounts.size(), c.found ? 1u : 0u);
    EXPECT_EQ(box.count(), c.found ? 3 : 2);
  }
}

TEST_F(EspTarget, EspOnAnotherDiskIsNotTaken) {
  gptDiskWithEsp();
  w.volumes.volumes[0].deviceNumber = 1;
  rows({{"", "2:1", "EFI分区,GPT"}, {"C:\\", "1:2", "主分区,GPT"}});
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  EXPECT_TRUE(w.volumes.mounts.empty());
  EXPECT_TRUE(state.esp.diskKnown);
  EXPECT_FALSE(state.esp.found);
}

TEST_F(EspTarget, EspWithALetterAlreadyIsRecommendedAndNotTakenBack) {
  gptDiskWithEsp();
  w.volumes.volumes[0].root = "D:\\";
  w.volumes.deviceNumbers["\\\\.\\D:"] = 0;
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  EXPECT_TRUE(w.volumes.mounts.empty());
  EXPECT_EQ(items(), (Texts{"C:\\", "D:\\ [默认推荐]"}));
  prep::releaseEspLetter(w.os, state);
  EXPECT_TRUE(w.volumes.unmounts.empty()) << "the letter was not ours";
}

TEST_F(EspTarget, MbrTargetIsLeftToTheDefaultRule) {
  gptDiskWithEsp();
  target.targetPartitionType = "主分区,MBR";
  rows({{"C:\\", "1:1", "主分区,MBR"}});
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  EXPECT_TRUE(w.volumes.mounts.empty());
  EXPECT_EQ(items(), (Texts{"C:\\ [默认推荐]", "D:\\"}));
}

TEST_F(EspTarget, LentLetterGoesBackAtWindowCloseUnlessUsed) {
  gptDiskWithEsp();
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  ASSERT_EQ(state.esp.root, "V:\\");
  prep::releaseUnusedEspLetter(w.os, state);
  EXPECT_EQ(w.volumes.unmounts, Texts{"V:\\"});
  EXPECT_EQ(w.volumes.driveType("V:\\"), 1u) << "the drive is gone";

  // Opened again: lent again; used by boot repair, it stays until the program ends.
  combo.clearItems();
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  state.esp.used = true;
  prep::releaseUnusedEspLetter(w.os, state);
  EXPECT_EQ(w.volumes.unmounts.size(), 1u);
  prep::releaseEspLetter(w.os, state);
  EXPECT_EQ(w.volumes.unmounts, (Texts{"V:\\", "V:\\"}));
  prep::releaseEspLetter(w.os, state);
  EXPECT_EQ(w.volumes.unmounts.size(), 2u) << "taken back once";
}

TEST_F(EspTarget, FailedMountLeavesTheComboAlone) {
  gptDiskWithEsp();
  w.volumes.failMount = true;
  rows({{"C:\\", "1:1", "主分区,GPT"}});
  prep::fillBootTargetCombo(ctx, target, partitions, combo);
  EXPECT_FALSE(state.esp.mountedHere);
  EXPECT_EQ(items(), (Texts{"C:\\ [默认推荐]", "D:\\"}));
  prep::releaseEspLetter(w.os, state);
  EXPECT_TRUE(w.volumes.unmounts.empty());
}

}  // namespace
