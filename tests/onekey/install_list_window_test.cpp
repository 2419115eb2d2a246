#include <gtest/gtest.h>

#include "onekey/install_list_window.h"

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/onekey/onekey_fixture.h"
#include "tests/support/gbk_text.h"
#include "tests/support/layout.h"

namespace {

using namespace onekeytest;

class InstallListTest : public OneKeyTest {
 protected:
  // Opens the list of an ISO mounted for the selected partition; user acts while it
  // is up. Returns whether the window closed itself (during creation, or after what
  // the user did).
  bool open(std::function<void(fake::Window&)> user = {}) {
    bool closedItself = true;
    ui.scriptModal([&](fake::Window& window) {
      if (user) user(window);
      closedItself = window.closed();
      if (!closedItself) window.requestClose();  // the user leaves by the caption button
    });
    onekey::MainControls controls = controlsOf(*main);
    onekey::InstallListWindow logic(services, controls,
                                    onekey::requestOf(controls, core::Mode::Restore, state), candidates);
    ui.runModal(logic, main);
    ui.discardScripts();  // the script of a list that closed itself during creation
    return closedItself;
  }
  std::vector<std::string> candidates;
};

TEST_F(InstallListTest, LayoutFitsTheWindowAndListsOnlyCandidatesAboveOneHundredMegabytes) {
  w.files.addSizedFile("Z:\\a.gho", 100 * kMB);
  w.files.addSizedFile("Z:\\b.gho", 100 * kMB + 5242);  // 100.004999 MB rounds to 100
  w.files.addSizedFile("Z:\\c.wim", 100 * kMB + 10486);
  w.files.addSizedFile("Z:\\d.wim", 3 * 1024 * kMB);
  candidates = {"Z:\\a.gho", "Z:\\b.gho", "Z:\\c.wim", "Z:\\missing.wim", "Z:\\d.wim"};
  EXPECT_FALSE(open());
  fake::Window& window = *ui.windows.back();
  const ui::WindowSpec& spec = window.spec;
  EXPECT_GBK_EQ("安装文件列表", spec.caption);
  layouttest::expectControls(spec, {
                                       {"installGroup", ui::Kind::GroupBox, "请选择安装文件:", 8, 8, 352, 176},
                                       {"installFileList", ui::Kind::ListView, "", 8, 24, 336, 144, "installGroup"},
                                       {"installOkButton", ui::Kind::Button, "确  定(&Y)", 160, 192, 96, 32},
                                       {"installExitButton", ui::Kind::Button, "退  出(&X)", 264, 192, 96, 32},
                                   });
  EXPECT_EQ(std::make_tuple(spec.x, spec.y, spec.w, spec.h), std::make_tuple(50, 50, 373, 266));
  for (const ui::ControlSpec& c : spec.controls) {
    if (c.parent.empty()) EXPECT_TRUE(c.x + c.w <= 373 - 8 && c.y + c.h <= 266 - 30) << c.name;
    else EXPECT_TRUE(c.x + c.w <= 352 && c.y + c.h <= 176) << c.name << " leaves its group";
  }
  fake::Control& list = window.get("installFileList");
  ASSERT_EQ(list.spec.columns.size(), 2u);
  EXPECT_GBK_EQ("文件名", list.spec.columns[0].text);
  EXPECT_EQ(list.spec.columns[0].width, 240);
  EXPECT_FALSE(list.spec.columns[0].alignRight);
  EXPECT_GBK_EQ("大小", list.spec.columns[1].text);
  EXPECT_EQ(list.spec.columns[1].width, 80);
  EXPECT_TRUE(list.spec.columns[1].alignRight);
  ASSERT_EQ(list.rowCount(), 2);
  EXPECT_EQ(list.cell(0, 0), "Z:\\c.wim");
  EXPECT_EQ(list.cell(0, 1), "100.01 MB");
  EXPECT_EQ(list.cell(1, 1), "3072 MB");
  EXPECT_TRUE(w.processes.captured.empty()) << "two rows: the user chooses";
  EXPECT_EQ(ui.windows.size(), 2u);
}

TEST_F(InstallListTest, TheChosenRowIsInstalledByItsKind) {
  w.files.addSizedFile("Z:\\sources\\install.wim", 3000 * kMB);
  w.files.addSizedFile("Z:\\x.gho.bak", 300 * kMB);
  w.files.addSizedFile("Z:\\sys.gho", 300 * kMB);
  candidates = {"Z:\\sources\\install.wim", "Z:\\x.gho.bak", "Z:\\sys.gho"};
  selectRow(0);

  bool stayed = false;
  open([&](fake::Window& window) {
    window.click("installOkButton");
    stayed = !window.closed();
  });
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"请选择要安装的文件。"});
  EXPECT_TRUE(stayed) << "no choice made: the list stays";

  ui.boxes.clear();
  std::vector<Opened> opened;
  bool listVisible = true;
  EXPECT_TRUE(open([&](fake::Window& window) {
    window.get("installFileList").selectRow(0);
    // While the WIM window is up, neither the list nor the main window shows.
    ui.scriptModal([&](fake::Window& restore) {
      listVisible = window.visible();
      opened.push_back({restore.caption(), restore.get("targetLabel").text(), restore.get("imageLabel").text(),
                        main->visible()});
      restore.click("cancelButton");
    });
    window.click("installOkButton");
  }));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_GBK_EQ("映像文件:Z:\\sources\\install.wim", opened[0].image);
  EXPECT_GBK_EQ("还原分区:C:\\(1:1)", opened[0].target);
  EXPECT_FALSE(opened[0].mainVisible);
  EXPECT_FALSE(listVisible);
  EXPECT_TRUE(main->visible());
  w.processes.captured.clear();  // the restore window's image listing

  EXPECT_TRUE(open([](fake::Window& window) {
    window.get("installFileList").selectRow(1);
    window.click("installOkButton");
  }));
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"不支持 x.gho.bak 映像安装到 C:\\(1:1)。"});

  ui.boxes.clear();
  ui.answers = {ui::kAnswerNo};
  bool stillOpen = false;
  EXPECT_TRUE(open([&](fake::Window& window) {
    window.get("installFileList").selectRow(2);
    window.click("installOkButton");
    stillOpen = !window.closed() && window.visible();  // declined: the user may choose again
    window.click("installExitButton");
  }));
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(w.processes.captured.empty());
}

TEST_F(InstallListTest, NothingOrOnlyAnUnsupportedFileClosesTheList) {
  EXPECT_TRUE(open());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"未搜索到可安装的文件。"});
  EXPECT_EQ(ui.boxes[0].style, 0x2010u);

  ui.boxes.clear();
  w.files.addSizedFile("Z:\\x.gho.bak", 300 * kMB);
  candidates = {"Z:\\x.gho.bak"};
  EXPECT_TRUE(open());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"不支持的ISO光盘镜像。"});
}

TEST_F(InstallListTest, AnUnusableTargetRefusesTheImmediateInstall) {
  w.files.addSizedFile("Z:\\sys.gho", 300 * kMB);
  candidates = {"Z:\\sys.gho"};
  selectRow(3);
  bool visible = false;
  EXPECT_FALSE(open([&](fake::Window& window) { visible = window.visible(); }));
  EXPECT_TRUE(w.processes.captured.empty());
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"所选分区 E:\\(|E:) 没有磁盘:分区形式的序号,Ghost无法还原该分区！"});
  EXPECT_TRUE(visible) << "the list stays for another choice or the exit button";
}

// The candidates' paths reach the interpreter too: the engine's, the restore window's.
TEST_F(InstallListTest, ACandidateWhosePathTheInterpreterWouldRewriteIsRefused) {
  w.files.addSizedFile("Z:\\%PATH%\\sys.gho", 300 * kMB);
  w.files.addSizedFile("Z:\\%USERNAME%\\install.wim", 300 * kMB);
  w.files.addSizedFile("Z:\\%none%\\sys.gho", 300 * kMB);
  candidates = {"Z:\\%PATH%\\sys.gho"};
  selectRow(0);
  bool visible = false;
  EXPECT_FALSE(open([&](fake::Window& window) { visible = window.visible(); }));
  EXPECT_TRUE(visible) << "the list stays for another choice or the exit button";
  EXPECT_EQ(boxTexts(), std::vector<std::string>{"映像文件 Z:\\%PATH%\\sys.gho 含有两个“%”,"
                                                 "命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！"});

  ui.boxes.clear();
  candidates = {"Z:\\%USERNAME%\\install.wim", "Z:\\%none%\\sys.gho"};
  EXPECT_TRUE(open([](fake::Window& window) {
    window.click("installOkButton");  // the list's own check comes first
    window.get("installFileList").selectRow(0);
    window.click("installOkButton");
    window.get("installFileList").selectRow(1);
    window.click("installOkButton");
  }));
  ASSERT_EQ(ui.boxes.size(), 4u);
  EXPECT_GBK_EQ("请选择要安装的文件。", ui.boxes[0].text);
  EXPECT_GBK_EQ("映像文件 Z:\\%USERNAME%\\install.wim 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！",
                ui.boxes[1].text);
  EXPECT_GBK_EQ("是否将 Z:\\%none%\\sys.gho 还原到 C:\\(1:1) ？", ui.boxes[2].text);
  EXPECT_EQ(w.processes.captured, std::vector<std::string>{
                                      "cmd.exe /c X:\\Temp\\\\GhostVrelLite.exe -clone,mode=pload,src=\"Z:\\%none%\\sys.gho\":1,"
                                      "dst=1:1  -crcignore  -noide -sure -fx -BATCH"});
}

}  // namespace
