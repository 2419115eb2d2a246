#include "app/startup.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "wim/engine_run.h"

namespace {

// A window with just the status bar the start-up sequence writes to.
class BareMain : public ui::WindowLogic {
 public:
  BareMain() {
    spec_.caption = "built-in";
    spec_.controls.push_back(ui::ControlSpec{"statusBar", ui::Kind::StatusBar, "", 0, 0, 0, 0, 0, "",
                                             {"Ver:1.0.0", "welcome"}});
  }
  const ui::WindowSpec& spec() const override { return spec_; }
  ui::WindowSpec spec_;
};

class StartupTest : public ::testing::Test {
 protected:
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{w.os, ui, state, [](std::string_view name) { return name; }};
  BareMain logic;
  fake::Window& window = ui.create(logic);
  
  app::StartupSteps steps{[this] { w.journal.push_back("images"); }, [this] { w.journal.push_back("partitions"); }};
};

TEST_F(StartupTest, WinPECheckUpperCasesTheDriveLetter) {
  for (const char* dir : {"X:\\Windows", "x:\\windows", "X:\\"}) {
    w.system.windowsDir = dir;
    EXPECT_TRUE(app::isWinPE(w.os)) << dir;
  }
  for (const char* dir : {"C:\\Windows", "Y:\\X"}) {
    w.system.windowsDir = dir;
    EXPECT_FALSE(app::isWinPE(w.os)) << dir;
  }
}

TEST_F(StartupTest, OutsideWinPEOnlyTheMessageIsShownAndNothingIsWritten) {
  w.system.windowsDir = "C:\\Windows";
  EXPECT_FALSE(app::runStartup(ctx, window, window.get("statusBar"), steps));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_GBK_EQ("本软件只可在WinPE环境下使用！\r\n\r\n请复制软件至U盘,在WinPE中运行。(支持GHO/WIM/ISO快速装机)",
                ui.boxes[0].text);
  EXPECT_GBK_EQ("提示", ui.boxes[0].title);
  EXPECT_EQ(ui.boxes[0].style, 0x30u | 0x2000u);
  EXPECT_EQ(w.shell.exits, std::vector<int>{0});
  EXPECT_TRUE(w.files.writes.empty());
  EXPECT_TRUE(w.files.dirs.empty());
  EXPECT_EQ(w.journal, std::vector<std::string>{"exitProcess:0"}) << "nothing else happens";
  EXPECT_TRUE(w.shell.opened.empty());
  EXPECT_TRUE(w.processes.captured.empty()) << "the exit path through the ISO mounter is not taken";
}

TEST_F(StartupTest, ToolsFolderRule) {
  struct Case {
    const char* temp;
    const char* folder;
    bool create;
  };
  const Case cases[] = {
      {"X:\\Temp\\", "X:\\Temp\\", false},
      {"X:\\Temp", "X:\\Temp\\", false},
      {"X:\\Documents and Settings\\Local Settings\\Temp\\", "X:\\Windows\\\\Vrel\\", true},
      {"X:\\my-temp\\", "X:\\Windows\\\\Vrel\\", true},
      {"X:\\a-b c\\", "X:\\Windows\\\\Vrel\\", true},
  };
  for (const Case& c : cases) {
    auto choice = app::chooseToolsFolder(c.temp, "X:\\Windows\\");
    EXPECT_EQ(choice.folder, c.folder) << c.temp;
    EXPECT_EQ(choice.needsCreate, c.create) << c.temp;
  }
}

// The x86-64 WIM engine is written only for a 64-bit host, under the engine's own name
// in a folder of its own; a 64-bit build carries none.
TEST_F(StartupTest, TheSixtyFourBitEngineIsWrittenOnlyForASixtyFourBitHost) {
  w.system.tempDir = "X:\\Temp\\";
  app::deployTools(ctx);
  EXPECT_EQ(w.files.writes.size(), 6u);
  EXPECT_EQ(state.tools.engine64Path, "");

  w.system.wow64 = true;
  w.files.writes.clear();
  app::deployTools(ctx);
  ASSERT_EQ(w.files.writes.size(), 7u);
  EXPECT_EQ(w.files.writes.back(), "X:\\Temp\\\\x64\\ZeDadaviZezi.exe");
  EXPECT_EQ(state.tools.engine64Path, "X:\\Temp\\\\x64\\ZeDadaviZezi.exe");
  EXPECT_TRUE(w.files.isDirectory("X:\\Temp\\x64"));
  EXPECT_EQ(w.files.contentOf(state.tools.engine64Path), "ZeDadaviZezi64.exe") << "the x86-64 build's bytes";

  core::Context without64{w.os, ui, state, [](std::string_view name) {
                            return name == "ZeDadaviZezi64.exe" ? std::string_view() : name;
                          }};
  w.files.writes.clear();
  app::deployTools(without64);
  EXPECT_EQ(w.files.writes.size(), 6u);
  EXPECT_EQ(state.tools.engine64Path, "") << "the program's own engine is started";
}

TEST_F(StartupTest, DeploysSixToolsWithDoubledBackslashesInOrder) {
  w.system.tempDir = "X:\\Users\\Default Temp\\";
  app::deployTools(ctx);
  EXPECT_TRUE(w.files.isDirectory("X:\\Windows\\Vrel"));
  const core::ToolPaths& p = state.tools;
  EXPECT_EQ(p.toolsFolder, "X:\\Windows\\\\Vrel\\");
  EXPECT_EQ(p.ghostEnginePath, "X:\\Windows\\\\Vrel\\\\GhostVrelLite.exe");
  EXPECT_EQ(p.enginePath, "X:\\Windows\\\\Vrel\\\\ZeDadaviZezi.exe");
  EXPECT_EQ(p.isoToolPath, "X:\\Windows\\\\Vrel\\\\ISO.exe");
  EXPECT_EQ(p.booticePath, "X:\\Windows\\\\Vrel\\\\bootice.exe");
  EXPECT_EQ(p.bcdbootPath, "X:\\Windows\\\\Vrel\\\\bcdboot.exe");
  EXPECT_EQ(p.listerPath, "X:\\Windows\\\\Vrel\\\\pzdir.exe");
  const std::vector<std::string> want = {p.ghostEnginePath, p.enginePath, p.isoToolPath,
                                         p.booticePath, p.bcdbootPath, p.listerPath};
  EXPECT_EQ(w.files.writes, want);
  EXPECT_EQ(w.files.contentOf(p.listerPath), "pzdir.exe") << "the payload is written byte for byte";
}

TEST_F(StartupTest, EveryStartOverwritesTheTools) {
  w.files.addFile("X:\\Temp\\ISO.exe", "an older copy");
  app::deployTools(ctx);
  app::deployTools(ctx);
  EXPECT_EQ(w.files.writes.size(), 12u);
  EXPECT_EQ(w.files.contentOf("X:\\Temp\\ISO.exe"), "ISO.exe");
  EXPECT_TRUE(w.files.dirs.empty()) << "no subfolder for a plain temporary directory";
}

TEST_F(StartupTest, SequenceOrderIconAndHomePage) {
  w.files.addFile("X:\\Windows\\VrelPELite.ICO", std::string("\0\0\1\0\1\0", 6));
  w.files.addFile("X:\\Windows\\VrelPELite.ini", "[Config]");
  EXPECT_TRUE(app::runStartup(ctx, window, window.get("statusBar"), steps));
  // Tools first (the steps run them), the home page last.
  const std::vector<std::string> want = {
      "write:X:\\Temp\\\\GhostVrelLite.exe", "write:X:\\Temp\\\\ZeDadaviZezi.exe", "write:X:\\Temp\\\\ISO.exe",
      "write:X:\\Temp\\\\bootice.exe",       "write:X:\\Temp\\\\bcdboot.exe",      "write:X:\\Temp\\\\pzdir.exe",
      "images",                              "partitions",                         "read:X:\\Windows\\\\VrelPELite.ICO",
      "ini:Config/Name",                     "ini:Config/Ver",                     "ini:Config/Welcome",
      "url:https://vrelpe.example.org/"};
  EXPECT_EQ(w.journal, want);
  EXPECT_EQ(window.icon.size(), 6u);
  EXPECT_EQ(window.caption(), "built-in");
}

TEST_F(StartupTest, ConfigurationKeys) {
  const std::string ini = "X:\\Windows\\VrelPELite.ini";
  struct Case {
    std::map<std::string, std::string> keys;
    bool fileExists;
    const char* caption;
    const char* pane0;
    const char* pane1;
  };
  const Case cases[] = {
      {{{"Config/Name", "我的PE"}, {"Config/Ver", "V2"}, {"Config/Welcome", "你好"}}, true, "我的PE", "V2", "你好"},
      {{{"Config/Name", ""}, {"Config/Welcome", "只改欢迎"}}, true, "built-in", "Ver:1.0.0", "只改欢迎"},
      {{{"Config/Name", "ignored"}}, false, "built-in", "Ver:1.0.0", "welcome"},
      {{}, true, "built-in", "Ver:1.0.0", "welcome"},
  };
  for (const Case& c : cases) {
    fake::World world;
    fake::WindowSystem wui;
    core::AppState st;
    core::Context cx{world.os, wui, st, {}};
    BareMain l;
    fake::Window& win = wui.create(l);
    if (c.fileExists) world.files.addFile(ini, "[Config]");
    world.files.ini[fake::pathKey(ini)] = c.keys;
    app::runStartup(cx, win, win.get("statusBar"), {});
    EXPECT_GBK_EQ(c.caption, win.caption());
    EXPECT_GBK_EQ(c.pane0, win.get("statusBar").itemText(0));
    EXPECT_GBK_EQ(c.pane1, win.get("statusBar").itemText(1));
  }
}

TEST_F(StartupTest, ProgramExitAlwaysAsksTheIsoMounterToQuitFirst) {
  app::deployTools(ctx);
  wim::programExit(ctx);
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_EQ(w.processes.captured[0], "cmd.exe /c X:\\Temp\\\\ISO.exe /q");
  EXPECT_EQ(w.shell.exits, std::vector<int>{0});
}

TEST_F(StartupTest, ProgramExitTakesBackTheLetterLentToTheEfiSystemPartition) {
  w.volumes.volumes = {{"\\\\?\\Volume{esp}\\", 0, 1, true, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "V:\\"}};
  state.esp.root = "V:\\";
  state.esp.mountedHere = true;
  state.esp.used = true;
  wim::programExit(ctx);
  EXPECT_EQ(w.volumes.unmounts, std::vector<std::string>{"V:\\"});
  EXPECT_TRUE(w.volumes.volumes[0].root.empty());
}

}  // namespace
