#include <gtest/gtest.h>

#include "onekey/ghost_runs.h"
#include "onekey/iso_install.h"

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/onekey/onekey_fixture.h"
#include "tests/support/gbk_text.h"

namespace {

using namespace onekeytest;

TEST(IsoMountLine, TheFullPathIsQuoted) {
  EXPECT_EQ(onekey::isoMountCommandLine(kIsoTool, "W", "D:\\iso|s\\win 10.iso"),
            "X:\\Temp\\\\ISO.exe /D:W /I:\"D:\\iso|s\\win 10.iso\"");
}

class IsoTest : public OneKeyTest {
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
      locked = lockedAsDuringARun();
      const std::string letter = line.substr(line.find("/D:") + 3, 1);
      for (const auto& [path, size] : files) {
        const std::string full = letter + path;
        const std::size_t slash = full.find_last_of('\\');
        if (slash > 2) w.files.addDir(full.substr(0, slash));
        w.files.addSizedFile(full, size);
      }
    };
  }
  // The fifteen controls the mount and search lock, by name; the two others stay usable.
  static constexpr const char* kLockedDuringARun[] = {
      "restoreRadio",  "ghostBackupRadio", "wimBackupRadio", "imagePathCombo", "patternCombo",
      "partitionList", "browseButton",     "mainExitButton", "mainOkButton",   "modeButton",
      "searchButton",  "checkGhostButton", "searchResultList", "depthEdit",    "savePathEdit"};
  bool lockedAsDuringARun() {
    for (const char* name : kLockedDuringARun)
      if (main->get(name).enabled()) return false;
    return main->get("redEnvelopeButton").enabled() && main->get("homePageCheck").enabled();
  }
  bool allUnlocked() {
    for (const char* name : kLockedDuringARun)
      if (!main->get(name).enabled()) return false;
    return true;
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
  EXPECT_EQ(ui.windows.size(), 1u);
  EXPECT_TRUE(allUnlocked());
  // The mount letter and the size are asked about first.
  ui.boxes.clear();
  w.files.addSizedFile("D:\\win.iso", 20 * kMB);
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"无效的ISO镜像文件,请选择正确的ISO镜像文件！"});
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
  std::vector<Opened> opened;
  bool okEnabledInWindow = false;
  ui.scriptModal([&](fake::Window& window) {
    okEnabledInWindow = allUnlocked();
    opened.push_back({window.caption(), window.get("targetLabel").text(), window.get("imageLabel").text(),
                      main->visible()});
    window.click("cancelButton");
  });
  press();
  EXPECT_EQ(w.processes.captured.at(0), "cmd.exe /c X:\\Temp\\\\ISO.exe /D:W /I:\"D:\\win.iso\"");
  EXPECT_TRUE(locked);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_GBK_EQ("映像文件:W:\\sources\\install.wim", opened[0].image);
  EXPECT_GBK_EQ("还原分区:C:\\(1:1)", opened[0].target);
  EXPECT_TRUE(opened[0].mainVisible);
  EXPECT_TRUE(okEnabledInWindow) << "the controls are unlocked before the window opens";
  EXPECT_EQ(ui.windows.size(), 2u) << "the restore window, no install-file list";
}

// Only a medium of exactly two images, one of them \sources\install.wim, skips the
// list; the list shows the GHO files first, then the WIM files, each in walk order.
TEST_F(IsoTest, OtherwiseTheListOffersTheImagesGhoFirst) {
  const std::vector<std::pair<std::string, std::uint64_t>> media[] = {
      {{":\\sources\\boot.wim", 300 * kMB}, {":\\sources\\install.wim", 3000 * kMB}, {":\\sys.gho", 200 * kMB}},
      {{":\\sources\\boot.wim", 300 * kMB}, {":\\sources\\other.wim", 3000 * kMB}},
      {{":\\a.wim", 300 * kMB}, {":\\sub\\b.gho", 300 * kMB}, {":\\c.gho", 300 * kMB}},
  };
  const std::vector<std::string> rows[] = {
      {"Z:\\sys.gho", "Z:\\sources\\boot.wim", "Z:\\sources\\install.wim"},
      {"Z:\\sources\\boot.wim", "Z:\\sources\\other.wim"},
      {"Z:\\c.gho", "Z:\\sub\\b.gho", "Z:\\a.wim"},
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // The previous medium leaves the drive.
    const std::string z = fake::pathKey("Z:\\");
    for (auto f = w.files.files.begin(); f != w.files.files.end();) f = f->first.rfind(z, 0) == 0 ? w.files.files.erase(f) : std::next(f);
    for (auto d = w.files.dirs.begin(); d != w.files.dirs.end();) d = d->rfind(z, 0) == 0 ? w.files.dirs.erase(d) : std::next(d);
    mountsAs(media[i]);
    std::vector<std::string> listed;
    std::string caption;
    ui.scriptModal([&](fake::Window& window) {
      caption = window.caption();
      const fake::Control& list = window.get("installFileList");
      for (int r = 0; r < list.rowCount(); ++r) listed.push_back(list.cell(r, 0));
      window.click("installExitButton");
    });
    press();
    EXPECT_GBK_EQ("安装文件列表", caption);
    EXPECT_EQ(listed, rows[i]);
  }
}

TEST_F(IsoTest, AnIsoWithNothingToInstallSaysSoAndLeavesTheControlsEnabled) {
  mountsAs({{":\\readme.txt", 1}});
  press();
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"错误或不支持的Windows安装镜像,请选择正确的Windows安装镜像！"});
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);
  EXPECT_TRUE(locked);
  EXPECT_TRUE(allUnlocked());
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
  EXPECT_TRUE(main->visible());
  EXPECT_TRUE(allUnlocked());
  EXPECT_GBK_EQ("Ghost应用映像到磁盘完成！\r\n映像名称: sys.GHO\r\n安装分区: C:\\(1:1)\r\n映像大小: 200 MB",
                ui.boxes.back().text);
}

}  // namespace
