#include "disks/partition_inventory.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"

namespace {

const std::string kLister = "X:\\Temp\\\\pzdir.exe";

ui::ControlSpec partitionListSpec() {
  ui::ControlSpec spec{"partitionList", ui::Kind::ListView};
  spec.columns.resize(6);
  return spec;
}

struct Inventory {
  // C: holds Windows; D: CD-ROM, E: removable, N: network, R: RAM disk, others fixed.
  Inventory(const std::string& listerOutput) {
    w.volumes.drives = {{"C:\\", 3}, {"D:\\", 5}, {"E:\\", 2}, {"F:\\", 3}, {"G:\\", 3},
                        {"H:\\", 3}, {"K:\\", 3}, {"N:\\", 4}, {"R:\\", 6}};
    w.files.addFile("C:\\Windows\\System32\\cmd.exe", "MZ");
    w.processes.answer("pzdir.exe", listerOutput);
    disks::fillPartitionList(w.os, kLister, list, colours);
  }
  bool isRed(int row) const {
    for (int column = 0; column < 6; ++column) {
      auto colour = colours.colourOf(list, row, column);
      if (!colour || colour->text != 0x0000FFu || colour->background != 0xFFFFFFu) return false;
    }
    return true;
  }
  fake::World w;
  fake::Control list{partitionListSpec()};
  disks::CellColourRegistry colours;
};

TEST(PartitionInventory, ListerLines) {
  struct Case {
    const char* line;     // TAB-separated, without CR LF
    const char* cells[6];  // nullptr = not checked (a malformed line's leftovers)
    int icon;
    bool red;
  };
  const Case cases[] = {
      {"1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7", {"C:\\", "1:1", "主分区,MBR", "NTFS", "100.00GB", "50.00GB"}, 0, false},
      {"1:2\tF:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7", {"F:\\", "1:2", "主分区,MBR", "NTFS", "100.00GB", "50.00GB"}, 1, false},
      {"1:5\tG:\t40.00GB\t1.00GB\tLogical\tNTFS\t\tMBR\t7", {"G:\\", "1:5", "逻辑分区", "NTFS", "40.00GB", "1.00GB"}, 1, false},
      {"1:6\tG:\t40.00GB\t1.00GB\tLogical\tNTFS\t\tGPT\t7", {"G:\\", "1:6", "逻辑分区,GPT", "NTFS", "40.00GB", "1.00GB"}, 1, false},
      {"1:7\tG:\t40.00GB\t1.00GB\tLogical\tNTFS\t\t\t7", {"G:\\", "1:7", "逻辑分区", "NTFS", "40.00GB", "1.00GB"}, 1, false},
      {"1:8\tG:\t40.00GB\t1.00GB\tLOGICAL\tNTFS\t\tmbr\t7", {"G:\\", "1:8", "逻辑分区", "NTFS", "40.00GB", "1.00GB"}, 1, false},
      {"2:1\tK:\t0.50GB\t0.40GB\tprimary\tFAT32\tEFI\tGPT\t0", {"K:\\", "2:1", "主分区,GPT", "FAT32", "0.50GB", "0.40GB"}, 1, false},
      {"2:2\tK:\t10.00GB\t9.00GB\tHidden\tNTFS\t\tGPT\t0", {"K:\\", "2:2", "Hidden分区,GPT", "NTFS", "10.00GB", "9.00GB"}, 1, false},
      // No letter; a dynamic volume with one ("|" + letter, no style).
      {"1:3\t\t0.50GB\t0.40GB\tPrimary\tNTFS\t\tMBR\t0", {"", "1:3", "主分区,MBR", "NTFS", "0.50GB", "0.40GB"}, 3, true},
      {"  \tH:\t20.00GB\t10.00GB\tDynamic\tNTFS\tData", {"H:\\", "|H:", "Dynamic分区,", "NTFS", "20.00GB", "10.00GB"}, 1, false},
      {"3:1\tE:\t8.00GB\tunknown\tPrimary\tFAT32\t\tMBR\t1", {"E:\\", "3:1", "主分区,MBR", "FAT32", "8.00GB", "unknown"}, 2, false},
      // Spaces go everywhere; a label whose character ends in the byte of "|".
      {" 1:9\tF:\t30.00 GB\t1.00GB\tPrimary\tNew FS\tMy Label\tM BR\t3", {"F:\\", "1:9", "主分区,MBR", "NewFS", "30.00GB", "1.00GB"}, 1, false},
      {"1:10\tF:\t30.00GB\t1.00GB\tPrimary\tNTFS\t億億\tMBR\t3", {"F:\\", "1:10", "主分区,MBR", "NTFS", "30.00GB", "1.00GB"}, 1, false},
      // Below 0.2 is red; 0.2 and anything within 1e-7 of it is not.
      {"4:1\tK:\t0.10GB\t0.05GB\tPrimary\tFAT\t\tMBR\t0", {"K:\\", "4:1", nullptr, nullptr, "0.10GB", "0.05GB"}, 1, true},
      {"4:2\tK:\t0.20GB\t0.05GB\tPrimary\tFAT\t\tMBR\t0", {"K:\\", "4:2", nullptr, nullptr, "0.20GB", "0.05GB"}, 1, false},
      {"4:3\tK:\t0.199999999GB\t0.05GB\tPrimary\tFAT\t\tMBR\t0", {"K:\\", "4:3", nullptr, "FAT", "0.199999999GB", "0.05GB"}, 1, false},
      {"4:4\tK:\t0.19GB\t0.05GB\tPrimary\tFAT\t\tMBR\t0", {"K:\\", "4:4", nullptr, nullptr, "0.19GB", nullptr}, 1, true},
      // Drive types other than fixed and removable.
      {"5:1\tD:\t4.00GB\t0.00GB\tPrimary\tCDFS\t\tMBR\t0", {"D:\\", "5:1", nullptr, "CDFS", nullptr, nullptr}, 3, true},
      {"5:2\tN:\t4.00GB\t1.00GB\tPrimary\tNTFS\t\tMBR\t0", {"N:\\", "5:2", nullptr, nullptr, nullptr, nullptr}, 3, true},
      {"5:3\tR:\t4.00GB\t1.00GB\tPrimary\tNTFS\t\tMBR\t0", {"R:\\", "5:3", nullptr, nullptr, nullptr, nullptr}, 3, true},
      // Missing fields: the row stays with empty sizes and is red; a letter needs a bar after it.
      {"6:1\tK:\t1.00GB", {"K:\\", "6:1", nullptr, nullptr, "", ""}, 1, true},
      {"6:2\tK:", {"", "6:2", nullptr, nullptr, "", ""}, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(gbktest::toUtf8(c.line));
    Inventory inv(std::string(c.line) + "\r\n");
    ASSERT_EQ(inv.list.rowCount(), 1);
    for (int column = 0; column < 6; ++column) {
      if (!c.cells[column]) continue;
      EXPECT_GBK_EQ(c.cells[column], inv.list.cell(0, column)) << "column " << column;
    }
    EXPECT_EQ(inv.list.rowIcon(0), c.icon);
    EXPECT_EQ(inv.isRed(0), c.red);
  }
}

TEST(PartitionInventory, RunsTheListerAndKeepsOnlyPartitionLinesInOrder) {
  Inventory inv("Disk  Part\tLetter\r\n"
                "\r\n"
                "  \t\t20.00GB\t10.00GB\tDynamic\tNTFS\tData\r\n"  // dynamic volume without a letter
                "2:1\tF:\t10.00GB\t5.00GB\tPrimary\tNTFS\t\tMBR\t0\r\n"
                "1:2\r\n"                                          // no bar: the first field is "1"
                "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7");  // no final CR LF
  EXPECT_EQ(inv.w.processes.captured, std::vector<std::string>{"cmd.exe /c \"" + kLister + "\" -tavrin"});
  ASSERT_EQ(inv.list.rowCount(), 2);
  EXPECT_EQ(inv.list.cell(0, 1), "2:1");
  EXPECT_EQ(inv.list.cell(1, 1), "1:1");

  // A lister that cannot run empties the list and its red cells.
  inv.list.rows[0].cells[0] = "stale";
  inv.colours.setCellColours(inv.list, 0, 0, 0x0000FFu, 0xFFFFFFu);
  inv.w.processes.rules.clear();
  inv.w.processes.answer("pzdir.exe", "", /*started=*/false);
  disks::fillPartitionList(inv.w.os, kLister, inv.list, inv.colours);
  EXPECT_EQ(inv.list.rowCount(), 0);
  EXPECT_TRUE(inv.colours.cellsOf(inv.list).empty());
}

// The lister writes what it could not read on the same console: those lines are
// handed back for the user, never taken for partitions.
TEST(PartitionInventory, WhatTheListerCouldNotReadIsHandedBack) {
  fake::World w;
  w.volumes.drives = {{"C:\\", 3}};
  w.processes.answer("pzdir.exe",
                     "磁盘 1： 无法读取磁盘扇区 0。\r\n"
                     "2:1\tC:\t10.00GB\t5.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
                     "  \r\n"
                     "磁盘 3： 无法打开磁盘 \\\\.\\PhysicalDrive2： 设备未就绪。\r\n");
  fake::Control list{partitionListSpec()};
  disks::CellColourRegistry colours;
  const std::vector<std::string> said = disks::fillPartitionList(w.os, kLister, list, colours);
  ASSERT_EQ(list.rowCount(), 1);
  EXPECT_EQ(list.cell(0, 1), "2:1");
  EXPECT_EQ(said, (std::vector<std::string>{"磁盘 1： 无法读取磁盘扇区 0。",
                                            "磁盘 3： 无法打开磁盘 \\\\.\\PhysicalDrive2： 设备未就绪。"}));
  w.processes.rules.clear();
  w.processes.answer("pzdir.exe", "2:1\tC:\t10.00GB\t5.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n");
  EXPECT_TRUE(disks::fillPartitionList(w.os, kLister, list, colours).empty());
}

// The lister's tenth field: risks by disk:partition, "BitLocker" for a locked volume's
// RAW; the nine fields before it read as before.
TEST(PartitionInventory, RisksAfterTheTypeNumber) {
  Inventory inv("1:1\tC:\t40.00GB\t10.00GB\tPrimary\tNTFS\tSystem\tMBR\t7\tHibernated,Dirty\r\n"
                "1:2\t\t20.00GB\tunknown\tPrimary\tRAW\t\tMBR\t7\tBitLocker\r\n"
                "1:3\tF:\t20.00GB\t5.00GB\tLogical\tNTFS\tBitLocker\tMBR\t7\r\n"
                "1:4\tG:\t20.00GB\t5.00GB\tLogical\tNTFS\tData\tMBR\t7\tDirty,Unknown\r\n"
                "2:1\tH:\t8.00GB\t1.00GB\tPrimary\tNTFS\t\tGPT\t0\tBitLocker\r\n"
                "  \tK:\t2.00GB\t1.00GB\tDynamic\tNTFS\tDirty\r\n");
  std::map<std::string, core::VolumeRisks> risks = {{"9:9", {true, true, true}}};
  disks::fillPartitionList(inv.w.os, kLister, inv.list, inv.colours, &risks);
  ASSERT_EQ(inv.list.rowCount(), 6);
  const char* const fileSystems[] = {"NTFS", "BitLocker", "NTFS", "NTFS", "NTFS", "NTFS"};
  const char* const kinds[] = {"主分区,MBR", "主分区,MBR", "逻辑分区", "逻辑分区", "主分区,GPT"};
  for (int row = 0; row < 6; ++row) EXPECT_EQ(inv.list.cell(row, 3), fileSystems[row]) << row;
  for (int row = 0; row < 5; ++row) EXPECT_GBK_EQ(kinds[row], inv.list.cell(row, 2)) << row;
  auto flags = [&](const std::string& index) {
    auto found = risks.find(index);
    if (found == risks.end()) return std::string("none");
    return std::string(found->second.bitLocker ? "B" : "") + (found->second.hibernated ? "H" : "") +
           (found->second.dirty ? "D" : "");
  };
  EXPECT_EQ(risks.size(), 3u) << "the earlier listing's entries are gone";
  EXPECT_EQ(flags("1:1"), "HD");
  EXPECT_EQ(flags("1:2"), "B");
  EXPECT_EQ(flags("1:3"), "none") << "a label is not a risk";
  EXPECT_EQ(flags("1:4"), "none") << "a field with a word the program does not know is not one";
  EXPECT_EQ(flags("2:1"), "B") << "an unlocked volume keeps the file system the system reports";
  EXPECT_EQ(flags("|K:"), "none") << "a dynamic volume's line ends with its label";
}

TEST(CellColours, EntriesAreAddedOverwrittenAndRemoved) {
  fake::Control list{partitionListSpec()};
  list.backgroundColour_ = 0xF0F0F0;
  disks::CellColourRegistry registry;
  EXPECT_FALSE(registry.colourOf(list, 0, 0)) << "a list never coloured draws by default";

  registry.setCellColours(list, 0, 0, 0x000000, 0xF0F0F0);  // the list's own colours: no entry
  EXPECT_TRUE(registry.cellsOf(list).empty());
  registry.setCellColours(list, 2, 3, 0x0000FFu, 0xFFFFFFu);
  registry.setCellColours(list, 2, 3, 0x00FF00, 0xFFFFFFu);
  ASSERT_EQ(registry.cellsOf(list).size(), 1u);
  EXPECT_EQ(list.colours(2, 3)->text, 0x00FF00u);
  registry.setCellColours(list, 4, 1, 0x0000FFu, 0xFFFFFFu, /*useGivenBackground=*/false);
  EXPECT_EQ(list.colours(4, 1)->background, 0xF0F0F0u);

  registry.setCellColours(list, 2, 3, 0x000000, 0xF0F0F0);  // back to the list's own: removed
  EXPECT_EQ(registry.cellsOf(list).size(), 1u);
  EXPECT_EQ(list.colours(2, 3)->text, 0x000000u);
  EXPECT_EQ(list.repaints, 5) << "every call repaints";
}

}  // namespace
