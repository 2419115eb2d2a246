// The real lister over a GPT disk image whose ESP was made by sfdisk and mkfs.vfat:
// the row it yields is what lets the program find the ESP when the system does not
// report the partition's GPT type.
#include <gtest/gtest.h>

#include <cstdlib>

#include "disks/partition_inventory.h"
#include "prep/esp.h"
#include "tests/prep/prep_fixture.h"
#include "tests/support/gbk_text.h"
#include "tests/tools/common/disk_image.h"

namespace {

TEST(EspFromTheLister, GptImageWithAnEspMadeBySfdiskAndMkfsVfat) {
  testdisk::ScratchFolder folder;
  const std::string disk = testdisk::makeImage(folder, "gpt.img", 80, "label: gpt\\n,34M,U\\n,,L\\n");
  testdisk::putVolume(disk, 2048, 34 << 11, "mkfs.vfat -F 32 -s 1 -n ESP %s");
  const std::string out = testdisk::run("VREL_DISKS='" + disk + "' '" VREL_LISTER "' -tavrin");

  preptest::World p;
  p.gptDiskWithEsp();
  p.w.volumes.volumes[0].gptType.clear();  // the system tells nothing: only the lister's kind can
  ui::ControlSpec spec{"partitionList", ui::Kind::ListView};
  spec.columns.resize(6);
  fake::Control list{spec};
  disks::CellColourRegistry colours;
  p.w.processes.answer("pzdir.exe", out);
  disks::fillPartitionList(p.w.os, "X:\\pzdir.exe", list, colours);
  ASSERT_GE(list.rowCount(), 2) << out;
  EXPECT_EQ(list.cell(0, 1), "1:1");
  EXPECT_GBK_EQ("EFI分区,GPT", list.cell(0, 2));

  fake::Control combo{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}};
  prep::fillBootTargetCombo(p.ctx, p.target, list, combo);
  EXPECT_TRUE(p.state.esp.found);
  EXPECT_GBK_EQ("V:\\ [默认推荐]", combo.text());
}

}  // namespace
