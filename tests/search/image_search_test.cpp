#include "search/image_search.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"

namespace {

constexpr std::uint64_t kMB = 1048576;

ui::ControlSpec listSpec(const char* name, ui::Kind kind = ui::Kind::ListBox) { return {name, kind, ""}; }

// C:\r.wim and one WIM file on each of the three levels below it.
void addFourLevels(fake::Files& files) {
  files.addFile("C:\\r.wim");
  files.addDir("C:\\a");
  files.addFile("C:\\a\\l1.wim");
  files.addDir("C:\\a\\b");
  files.addFile("C:\\a\\b\\l2.wim");
  files.addDir("C:\\a\\b\\c");
  files.addFile("C:\\a\\b\\c\\l3.wim");
}

class ImageSearchTest : public ::testing::Test {
 protected:
  std::vector<std::string> walk(const std::string& root, const std::string& pattern, int depth) {
    std::vector<std::string> found;
    search::walkDirectory(w.files, ui, root, [&](const std::string& p, const std::string& s) { found.push_back(p + s); },
                          pattern, depth);
    return found;
  }
  std::vector<std::string> items(const fake::Control& c) { return c.items; }

  fake::World w;
  fake::WindowSystem ui;
};

TEST_F(ImageSearchTest, DepthLimitsTheFoldersBelowTheRoot) {
  addFourLevels(w.files);
  const std::vector<std::string> root = {"C:\\r.wim"};
  const std::vector<std::string> one = {"C:\\r.wim", "C:\\a\\l1.wim"};
  const std::vector<std::string> two = {"C:\\r.wim", "C:\\a\\l1.wim", "C:\\a\\b\\l2.wim"};
  const std::vector<std::string> all = {"C:\\r.wim", "C:\\a\\l1.wim", "C:\\a\\b\\l2.wim", "C:\\a\\b\\c\\l3.wim"};
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"-1", all}, {"0", root}, {"1", root}, {"-2", root}, {"2", one},   {"2.9", one},
      {"3", two},  {"4", all},  {"x", root}, {"", root},   {"3abc", two}, {"1e300", all},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(walk("C:\\", "*.WIM", search::depthFromText(text)), expected) << "depth " << text;
  // Text that is not a number reads as 0, even text the C runtime parses as NaN.
  for (const char* text : {"x", "nan", "NAN(1)", "-nan"}) EXPECT_EQ(search::depthFromText(text), 0) << text;
}

TEST_F(ImageSearchTest, FilesComeBeforeSubFoldersDepthFirstAndEveryFolderPumps) {
  w.files.addDir("C:\\a");
  w.files.addDir("C:\\a\\b");
  w.files.addDir("C:\\c");
  w.files.addFile("C:\\z.gho");
  w.files.addFile("C:\\a\\x.gho");
  w.files.addFile("C:\\a\\b\\y.gho");
  w.files.addFile("C:\\c\\w.gho");
  w.files.addDir("C:\\d.gho");  // a folder matching the pattern is no hit
  EXPECT_EQ(walk("C:", "*.gho", -1),
            (std::vector<std::string>{"C:\\z.gho", "C:\\a\\x.gho", "C:\\a\\b\\y.gho", "C:\\c\\w.gho"}));
  EXPECT_EQ(ui.pumps, 5) << "root, a, a\\b, c, d.gho";
}

// Records the search controls' state whenever messages are processed mid-search.
class WatchingWindowSystem : public fake::WindowSystem {
 public:
  std::function<void()> onPump;
  void processPendingMessages() override {
    fake::WindowSystem::processPendingMessages();
    if (onPump) onPump();
  }
};

class SearchBoxTest : public ::testing::Test {
 protected:
  SearchBoxTest() {
    patterns.items = {"*.GHO", "*.ISO", "*.WIM", "*.SWM"};
    patterns.setSelection(2);
    depth.setText("3");
  }
  int run() { return search::searchImages(w.os, ui, {results, depth, patterns, button}); }

  fake::World w;
  WatchingWindowSystem ui;
  fake::Control results{listSpec("searchResultList")};
  fake::Control depth{{"depthEdit", ui::Kind::Edit, "3"}};
  fake::Control patterns{listSpec("patternCombo", ui::Kind::DropDownList)};
  fake::Control button{{"searchButton", ui::Kind::Button, "搜 索"}};
};

TEST_F(SearchBoxTest, TwelveHitsEndWithTheSummaryLine) {
  w.volumes.drives = {{"C:\\", 3}};
  w.files.addDir("C:\\imgs");
  for (int i = 0; i < 12; ++i) w.files.addFile("C:\\imgs\\w" + std::to_string(i) + ".wim");
  bool allDisabled = true;
  int pumpsSeen = 0;
  ui.onPump = [&] {
    ++pumpsSeen;
    allDisabled = allDisabled && !results.enabled() && !depth.enabled() && !patterns.enabled() && !button.enabled();
    EXPECT_GBK_EQ("正在搜索文件，请稍候.....", results.itemText(0));
  };
  EXPECT_EQ(run(), 12);
  EXPECT_GT(pumpsSeen, 0);
  EXPECT_TRUE(allDisabled);
  ASSERT_EQ(results.count(), 13);
  EXPECT_EQ(results.itemText(0), "C:\\imgs\\w0.wim");
  EXPECT_GBK_EQ("搜索3层目录完成,共搜索到12个*.WIM文件。", results.itemText(12));
  EXPECT_TRUE(results.enabled() && depth.enabled() && patterns.enabled() && button.enabled());
}

// What the user types into the depth box is the depth the walk goes to.
TEST_F(SearchBoxTest, TheTypedDepthReachesTheWalk) {
  w.volumes.drives = {{"C:\\", 3}};
  addFourLevels(w.files);
  const std::pair<const char*, int> cases[] = {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"-1", 4}, {"nan", 1}};
  for (const auto& [text, hits] : cases) {
    depth.setText(text);
    EXPECT_EQ(run(), hits) << "depth " << text;
    EXPECT_GBK_EQ(std::string("搜索") + text + "层目录完成,共搜索到" + std::to_string(hits) + "个*.WIM文件。",
                  results.itemText(hits));
  }
}

TEST_F(SearchBoxTest, NoHitGivesTheFiveHintEntries) {
  w.volumes.drives = {{"C:\\", 3}};
  w.files.addFile("C:\\a.gho");
  results.addItem("old");
  EXPECT_EQ(run(), 0);
  const std::vector<std::string> hints = {"经过搜索，未发现 *.WIM 映像文件。", "", "可能原因如下：",
                                          "1、设定的目录层数过小。", "2、硬盘中不存在 *.WIM 映像文件。"};
  ASSERT_EQ(results.count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_GBK_EQ(hints[i], results.itemText(i)) << i;
}

TEST_F(SearchBoxTest, DrivesInKindOrderAndShortNameMatchesDropped) {
  w.volumes.drives = {{"C:\\", 2}, {"D:\\", 5}, {"E:\\", 3}};
  w.files.addFile("C:\\usb.GHO");
  w.files.addFile("D:\\cd.gho");
  w.files.addFile("E:\\disk.Gho");
  w.files.addFile("E:\\x.ghost");
  w.files.shortNames[fake::pathKey("E:\\x.ghost")] = "X~1.GHO";
  patterns.setSelection(0);
  depth.setText("abc");  // not a number: the roots only
  EXPECT_EQ(run(), 3);
  EXPECT_EQ(results.items, (std::vector<std::string>{"E:\\disk.Gho", "D:\\cd.gho", "C:\\usb.GHO",
                                                      std::string("搜索abc层目录完成,共搜索到3个*.GHO文件。")}));
}

TEST_F(ImageSearchTest, StartupScanOffersImagesAboveFiftyMegabytesTwoLevelsDeep) {
  w.volumes.drives = {{"C:\\", 3}, {"D:\\", 3}};
  w.files.addSizedFile("C:\\exact.gho", 50 * kMB);
  w.files.addSizedFile("C:\\above.gho", 50 * kMB + 1);
  w.files.addDir("C:\\sub");
  w.files.addSizedFile("C:\\sub\\win.iso", 4000 * kMB);
  w.files.addSizedFile("C:\\sub\\install.wim", 3000 * kMB);
  w.files.addDir("C:\\sub\\deeper");
  w.files.addSizedFile("C:\\sub\\deeper\\far.gho", 900 * kMB);
  w.files.addSizedFile("C:\\big.txt", 900 * kMB);
  w.files.addSizedFile("D:\\d.wim", 60 * kMB);
  fake::Control combo{listSpec("imagePathCombo", ui::Kind::ComboBox)};
  combo.addItem("stale");
  core::AppState state;
  search::scanImagesAtStartup(w.os, ui, combo, state);
  EXPECT_EQ(items(combo),
            (std::vector<std::string>{"C:\\above.gho", "C:\\sub\\install.wim", "C:\\sub\\win.iso", "D:\\d.wim"}));
  EXPECT_EQ(state.defaultImage, "C:\\above.gho");
  EXPECT_EQ(combo.text(), "C:\\above.gho");
}

TEST(DefaultImage, GhoBeforeInstallWimElseTheFirstEntry) {
  const std::tuple<std::vector<std::string>, const char*, int> cases[] = {
      {{"D:\\sources\\install.wim", "E:\\sys.Gho"}, "E:\\sys.Gho", 1},
      {{"D:\\a.iso", "D:\\sources\\INSTALL.WIM"}, "D:\\sources\\INSTALL.WIM", 0},
      {{"D:\\a.iso", "D:\\b.wim"}, "", 0},
      {{}, "", -1},
  };
  for (const auto& [entries, chosen, selected] : cases) {
    fake::World w;
    fake::WindowSystem ui;
    w.files.addDir("D:\\sources");
    for (const std::string& e : entries) w.files.addSizedFile(e, 100 * kMB);
    w.volumes.drives = {{"D:\\", 3}, {"E:\\", 3}};
    fake::Control combo{listSpec("imagePathCombo", ui::Kind::ComboBox)};
    core::AppState state;
    search::scanImagesAtStartup(w.os, ui, combo, state);
    EXPECT_EQ(state.defaultImage, chosen);
    EXPECT_EQ(combo.selection(), selected) << chosen;
  }
}

TEST(PickSearchResult, OnlyHitsBecomeTheImageAndOnlyWhenRestoring) {
  fake::Control radio{{"restoreRadio", ui::Kind::RadioButton, ""}};
  fake::Control results{listSpec("searchResultList")};
  fake::Control combo{listSpec("imagePathCombo", ui::Kind::ComboBox)};
  results.items = {"D:\\a.GHO", "E:\\b.gho", "搜索3层目录完成,共搜索到2个*.GHO文件。"};
  combo.items = {"D:\\a.GHO.old", "e:\\B.GHO"};
  auto click = [&](int index) {
    results.caret = index;
    search::pickSearchResult(radio, results, combo, 2);
  };
  click(0);  // backup mode: nothing
  EXPECT_EQ(combo.count(), 2);
  EXPECT_EQ(combo.selection(), -1);
  radio.setChecked(true);
  click(0);  // an item that only begins with the path is another file
  EXPECT_EQ(combo.count(), 3);
  EXPECT_EQ(combo.text(), "D:\\a.GHO");
  click(1);  // the same file in other letter case is selected, not added
  EXPECT_EQ(combo.count(), 3);
  EXPECT_EQ(combo.selection(), 1);
  click(2);  // the summary line is no image
  EXPECT_EQ(combo.count(), 3);
  EXPECT_EQ(combo.selection(), 1);
}

TEST_F(ImageSearchTest, FindFilesIntoHasNoDepthLimitAndSkipsDotFolders) {
  w.files.addFile("Z:\\top.GHO");
  w.files.addDir("Z:\\.hidden");
  w.files.addFile("Z:\\.hidden\\skip.gho");
  w.files.addDir("Z:\\a");
  w.files.addDir("Z:\\a\\b");
  w.files.addDir("Z:\\a\\b\\c");
  w.files.addDir("Z:\\a\\b\\c\\d");
  w.files.addFile("Z:\\a\\b\\c\\d\\deep.gho");
  w.files.addFile("Z:\\a\\b\\note.txt");
  fake::Control list{listSpec("isoContentList")};
  search::findFilesInto(w.files, ui, "Z:", list, "*.Gho");
  EXPECT_EQ(items(list), (std::vector<std::string>{"Z:\\top.GHO", "Z:\\a\\b\\c\\d\\deep.gho"}));

  fake::Control names{listSpec("names")};
  fake::Control label{{"label", ui::Kind::Label, ""}};
  search::findFilesInto(w.files, ui, "Z:\\", names, "*.*", std::string("DEEP"), &label, false);
  EXPECT_EQ(items(names), std::vector<std::string>{"deep.gho"});
  EXPECT_EQ(label.text(), "Z:\\a\\b\\c\\d\\deep.gho") << "the label shows the last file looked at";
  EXPECT_EQ(label.repaints, 3) << "top.GHO, note.txt, deep.gho; never the dot folder's file";
}

}  // namespace
