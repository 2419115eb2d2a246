// The real lister over disk images made by sfdisk, mkntfs and mkfs.vfat, its output
// read by the program's own partition list: kinds, sizes, free space and red rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "disks/partition_inventory.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/tools/common/disk_image.h"

namespace {

using testdisk::run;

struct ListerRun {
  std::string out, err;
  int status = 0;
};

ListerRun runLister(const std::string& disks) {
  testdisk::ScratchFolder folder;
  std::string command = "VREL_DISKS='" + disks + "' '" VREL_LISTER "' -tavrin >'" + folder.file("out") + "' 2>'" +
                        folder.file("err") + "'";
  ListerRun r;
  r.status = std::system(command.c_str());
  auto out = testdisk::readFile(folder.file("out")), err = testdisk::readFile(folder.file("err"));
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

TEST(ListerOutput, ReadByThePartitionList) {
  testdisk::ScratchFolder folder;
  // Disk 1, MBR: NTFS and FAT32 primaries, a FAT16 logical and an unformatted one.
  const std::string mbr = testdisk::makeImage(folder, "mbr.img", 160,
                                              "label: dos\\n,40M,7\\n,40M,c\\n,,5\\n,20M,e\\n,8M,7\\n");
  testdisk::putVolume(mbr, 2048, 40 << 11, "mkntfs -F -Q -q -L System %s");
  run("head -c 5000000 /dev/urandom > '" + folder.file("big.bin") + "'");
  testdisk::putVolume(mbr, 2048 + (40 << 11), 40 << 11, "mkfs.vfat -F 32 -s 1 %s && mcopy -i %s '" +
                                                            folder.file("big.bin") + "' ::big.bin");
  // Disk 2, GPT: ESP, MSR, basic data (NTFS), recovery.
  const std::string gpt = testdisk::makeImage(
      folder, "gpt.img", 128,
      "label: gpt\\n,40M,U\\n,16M,E3C9E316-0B5C-4DB8-817D-F92DF00215AE\\n,56M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n"
      ",,DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\\n");
  testdisk::putVolume(gpt, 2048, 40 << 11, "mkfs.vfat -F 32 -s 1 -n ESP %s");
  testdisk::putVolume(gpt, 2048 + (56 << 11), 56 << 11, "mkntfs -F -Q -q -L Data %s");
  // The first logical's offset comes from the table: format it through its window.
  testdisk::putVolume(mbr, testdisk::partitionStart(mbr, 5), 20 << 11, "mkfs.vfat -F 16 %s");
  // Disk 3: both GPT headers broken.
  const std::string broken = testdisk::makeImage(folder, "broken.img", 8, "label: gpt\\n,,L\\n");
  run("printf 'XXXX' | dd of='" + broken + "' bs=1 seek=512 conv=notrunc status=none");
  run("printf 'XXXX' | dd of='" + broken + "' bs=1 seek=$((8*1024*1024-512)) conv=notrunc status=none");

  ListerRun r = runLister(mbr + ":" + gpt + ":" + broken);
  EXPECT_NE(r.status, 0) << "a disk could not be read";
  EXPECT_NE(r.err.find("磁盘 3"), std::string::npos) << gbktest::toUtf8(r.err);

  fake::World w;
  ui::ControlSpec spec{"partitionList", ui::Kind::ListView};
  spec.columns.resize(6);
  fake::Control list{spec};
  disks::CellColourRegistry colours;
  // The program captures stderr with stdout: the diagnostic must not become a row.
  w.processes.answer("pzdir.exe", r.out + r.err);
  disks::fillPartitionList(w.os, "X:\\pzdir.exe", list, colours);

  struct Row {
    const char* cells[6];  // nullptr: checked elsewhere
  };
  const Row rows[] = {
      {{"", "1:1", "主分区,MBR", "NTFS", "0.04GB", nullptr}},
      {{"", "1:2", "主分区,MBR", "FAT32", "0.04GB", nullptr}},
      {{"", "1:3", "逻辑分区", "FAT16", "0.02GB", nullptr}},
      {{"", "1:4", "逻辑分区", "RAW", "0.01GB", "unknown"}},
      {{"", "2:1", "EFI分区,GPT", "FAT32", "0.04GB", nullptr}},
      {{"", "2:2", "MSR分区,GPT", "RAW", "0.02GB", "unknown"}},
      {{"", "2:3", "主分区,GPT", "NTFS", "0.05GB", nullptr}},
      {{"", "2:4", "Recovery分区,GPT", "RAW", nullptr, "unknown"}},
  };
  ASSERT_EQ(list.rowCount(), 8) << gbktest::toUtf8(r.out + r.err);
  for (int i = 0; i < 8; ++i) {
    for (int column = 0; column < 6; ++column) {
      if (!rows[i].cells[column]) continue;
      EXPECT_GBK_EQ(rows[i].cells[column], list.cell(i, column)) << "row " << i << " column " << column;
    }
    // No letters here, so every row is red, as a partition without a letter is.
    EXPECT_TRUE(colours.colourOf(list, i, 0)) << "row " << i;
  }
  // Free space as the file systems' own checkers count it.
  auto volumeFile = [&](const std::string& disk, std::uint64_t start, std::uint64_t sectors) {
    std::string file = folder.file("extracted.img");
    run("dd if='" + disk + "' of='" + file + "' bs=512 skip=" + std::to_string(start) + " count=" +
        std::to_string(sectors) + " status=none");
    return file;
  };
  auto gigabytes = [](double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2lfGB", bytes / 1073741824.0);
    return std::string(text);
  };
  auto field = [](const std::string& text, const char* key) {
    std::size_t at = text.find(key);
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + std::strlen(key)));
  };
  std::string info = run("ntfsinfo -m '" + volumeFile(mbr, 2048, 40 << 11) + "'");
  EXPECT_EQ(list.cell(0, 5), gigabytes(field(info, "Free Clusters:") * field(info, "Cluster Size:")));
  std::string check = run("fsck.vfat -n '" + volumeFile(mbr, 2048 + (40 << 11), 40 << 11) + "'");
  std::size_t slash = check.find('/', check.find("files, "));
  double used = std::stod(check.substr(check.find("files, ") + 7)), total = std::stod(check.substr(slash + 1));
  EXPECT_EQ(list.cell(1, 5), gigabytes((total - used) * 512));
  EXPECT_GE(used * 512, 5000000) << "the copied file is counted";

  // The lines themselves: CR LF ends, nothing else on stdout.
  EXPECT_EQ(r.out.find("\n"), r.out.find("\r\n") + 1);
  int lines = 0;
  for (std::size_t at = 0; (at = r.out.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, 8);
}

TEST(ListerOutput, NoDisksNoLinesAndUnknownSwitchesRefused) {
  ListerRun none = runLister("");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
  ListerRun bad = runLister("/nonexistent.img");
  EXPECT_NE(bad.status, 0);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.find(':'), std::string::npos) << gbktest::toUtf8(bad.err);
  int status = std::system("'" VREL_LISTER "' -x >/dev/null 2>&1");
  EXPECT_NE(status, 0);
}

}  // namespace
