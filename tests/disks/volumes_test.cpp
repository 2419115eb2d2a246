#include "disks/volumes.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"

namespace {

using Texts = std::vector<std::string>;
using Row = std::pair<const char*, const char*>;  // drive cell, index cell

TEST(DriveRoots, ModesAndOrdering) {
  fake::World w;
  w.volumes.drives = {{"C:\\", 3}, {"D:\\", 5}, {"E:\\", 2}, {"F:\\", 3}, {"G:\\", 5}, {"N:\\", 4}, {"X:\\", 6}};
  const std::pair<int, Texts> cases[] = {
      {0, {"C:\\", "F:\\", "D:\\", "G:\\", "E:\\", "N:\\", "X:\\"}}, {1, {"C:\\", "F:\\"}}, {2, {"D:\\", "G:\\"}},
      {3, {"E:\\"}}, {4, {"N:\\", "X:\\"}}, {9, {"N:\\", "X:\\"}},
  };
  for (const auto& [mode, want] : cases) {
    Texts roots = {"stale"};
    EXPECT_EQ(disks::driveRoots(w.os, roots, mode), static_cast<int>(want.size()));
    EXPECT_EQ(roots, want) << "mode " << mode;
  }
}

TEST(DefaultBootTarget, Cases) {
  struct Case {
    const char* name;
    const char* target;
    std::vector<Row> rows;
    int selected;        // -1: the combo box is left alone
    const char* marked;  // the selected item's text
  };
  const Case cases[] = {
      {"second disk: key 2:1", "D:\\", {{"C:\\", "1:1"}, {"F:\\", "1:2"}, {"E:\\", "2:1"}, {"D:\\", "2:2"}}, 2, "E:\\ [默认推荐]"},
      {"the target is its own boot partition", "C:\\", {{"C:\\", "1:1"}, {"F:\\", "1:2"}}, 0, "C:\\ [默认推荐]"},
      {"11:1 listed first is another disk", "F:\\", {{"D:\\", "11:1"}, {"C:\\", "1:1"}}, 0, "C:\\ [默认推荐]"},
      {"1:10 and 21:1 are neither disk 1's first", "C:\\", {{"E:\\", "1:10"}, {"D:\\", "21:1"}, {"F:\\", "1:1"}}, 3,
       "F:\\ [默认推荐]"},
      {"only look-alikes: nothing marked", "D:\\", {{"E:\\", "12:1"}, {"F:\\", "2:11"}}, -1, nullptr},
      {"disk unknown: -1:1 matches nothing", "Z:\\", {{"C:\\", "1:1"}}, -1, nullptr},
      {"empty target", "", {{"C:\\", "1:1"}}, -1, nullptr},
      {"boot partition on X:, never in the combo box", "C:\\", {{"X:\\", "1:1"}, {"C:\\", "1:2"}}, -1, nullptr},
      {"boot partition without a letter", "C:\\", {{"", "1:1"}, {"C:\\", "1:2"}}, -1, nullptr},
      {"empty list", "C:\\", {}, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::World w;
    w.volumes.deviceNumbers = {{"\\\\.\\C:", 0}, {"\\\\.\\D:", 1}, {"\\\\.\\F:", 0}};
    fake::Control list{ui::ControlSpec{"partitionList", ui::Kind::ListView}};
    for (const auto& [drive, index] : c.rows) list.setCell(list.addRow(drive, 1), 1, index);
    ui::ControlSpec comboSpec{"bootTargetCombo", ui::Kind::DropDownList};
    comboSpec.items = {"C:\\", "D:\\", "E:\\", "F:\\"};
    fake::Control combo{comboSpec};
    std::string target = c.target;
    disks::markDefaultBootTarget(w.os, list, target, combo);
    EXPECT_EQ(combo.selection(), c.selected);
    for (int i = 0; i < combo.count(); ++i) {
      if (i == c.selected) continue;
      EXPECT_EQ(combo.itemText(i), comboSpec.items[i]);
    }
    if (c.marked) {
      EXPECT_GBK_EQ(c.marked, combo.text());
    }
    if (!c.rows.empty() && *c.target) {
      EXPECT_EQ(target.size(), 2u) << "the target is rewritten to its C: form";
    }
  }
}

}  // namespace
