// The main window through the real Win32 binding: the partition list filled by the
// lister's stand-in, red rows drawn by custom draw, both modes photographed.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/main_window.h"
#include "payload/payload.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_ui.h"
#include "tests/wine/wine_support.h"

namespace {

class SimulatedWinPE : public win32::System {
 public:
  std::string windowsDirectory() override { return "X:\\Windows"; }
};

// Records instead of opening a browser or ending the test program.
class RecordingShell : public platform::Shell {
 public:
  std::vector<std::string> opened;
  int exits = 0;
  void openUrl(const std::string& address) override { opened.push_back(address); }
  void exitProcess(int) override { ++exits; }
};

class Harness : public ui::WindowLogic {
 public:
  Harness(app::MainWindow& main, std::function<void(ui::Window&)> body) : main_(main), body_(std::move(body)) {}
  const ui::WindowSpec& spec() const override { return main_.spec(); }
  void onCreated(ui::Window& w) override {
    main_.onCreated(w);
    body_(w);
    w.close();
  }
  void onEvent(ui::Window& w, std::string_view c, ui::Event e) override { main_.onEvent(w, c, e); }
  void onTimer(ui::Window& w, int id) override { main_.onTimer(w, id); }

 private:
  app::MainWindow& main_;
  std::function<void(ui::Window&)> body_;
};

// The row's cells from the second column on: the first holds the row's icon, whose
// colours would count as red.
RECT rowTextRect(HWND list, int row) {
  RECT r = {};
  r.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
  RECT second = {};
  second.top = 1;
  second.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&second));
  r.left = second.left;
  return r;
}

TEST(MainWindowUnderWine, PartitionListColoursAndBothModes) {
  SimulatedWinPE system;
  RecordingShell shell;
  win32::RealPlatform real(&system, &shell);
  platform::Platform& os = real.os;
  win32::WindowSystem windows;
  core::AppState state;
  const std::string listerDouble = winetest::readWholeFile(winetest::programFolder() + "lister_double.exe");
  ASSERT_FALSE(listerDouble.empty());
  core::Context ctx{os, windows, state, [&](std::string_view name) -> std::string_view {
                     if (name == "pzdir.exe") return listerDouble;
                     return payloadFor(name);
                   }};
  app::MainWindow main(ctx);
  Harness harness(main, [&](ui::Window& w) {
    ui::Control& list = w.control("partitionList");
    HWND listHwnd = reinterpret_cast<HWND>(win32::controlHandle(w, "partitionList"));
    ASSERT_EQ(list.rowCount(), 6);
    EXPECT_EQ(list.cell(0, 0), "C:\\");
    EXPECT_EQ(list.cell(0, 1), "1:1");
    EXPECT_EQ(list.cell(0, 2), "主分区,MBR");
    EXPECT_EQ(list.cell(0, 3), "NTFS");
    EXPECT_EQ(list.cell(0, 4), "100.00GB");
    EXPECT_EQ(list.cell(0, 5), "50.00GB");
    EXPECT_EQ(list.rowIcon(0), 0) << "C: holds Windows (\\windows\\system32\\cmd.exe)";
    EXPECT_EQ(list.cell(1, 0), "");
    EXPECT_EQ(list.rowIcon(1), 3);
    EXPECT_EQ(list.cell(5, 1), "|E:");
    EXPECT_EQ(shell.opened.size(), 1u);
    ui::Control& status = w.control("statusBar");
    EXPECT_TRUE(status.visible());
    EXPECT_EQ(status.count(), 2);
    EXPECT_EQ(status.itemText(0), "Ver:1.0.0");
    RECT sb, client;
    GetWindowRect(reinterpret_cast<HWND>(win32::controlHandle(w, "statusBar")), &sb);
    GetClientRect(reinterpret_cast<HWND>(w.nativeHandle()), &client);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(w.nativeHandle()), reinterpret_cast<POINT*>(&sb), 2);
    EXPECT_GE(sb.bottom, client.bottom - 2) << "the status bar sits at the bottom of the window";

    winetest::pumpUntil([] { return false; }, 800);
    RedrawWindow(listHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    winetest::pumpUntil([] { return false; }, 200);
    EXPECT_EQ(winetest::redPixels(listHwnd, rowTextRect(listHwnd, 0)), 0) << "a usable partition is drawn in black";
    EXPECT_GT(winetest::redPixels(listHwnd, rowTextRect(listHwnd, 1)), 10) << "a partition without a letter is red";

    HWND main = reinterpret_cast<HWND>(w.nativeHandle());
    EXPECT_EQ(w.width(), 476);
    // The virtual screen is 1024 wide: the centred window would leave it when widened,
    // and the screen grab cannot reach beyond its edge.
    SetWindowPos(main, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    winetest::pumpUntil([] { return false; }, 300);
    EXPECT_TRUE(winetest::saveWindowPicture(main, winetest::artifactFolder() + "main_simple.bmp"));
    SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(w, "modeButton")), BM_CLICK, 0, 0);
    winetest::pumpUntil([] { return false; }, 1000);
    EXPECT_EQ(w.width(), 758);
    EXPECT_EQ(w.control("modeButton").text(), "简  洁(&A)");
    EXPECT_TRUE(w.control("checkGhostButton").visible());
    EXPECT_TRUE(winetest::saveWindowPicture(main, winetest::artifactFolder() + "main_advanced.bmp"));
    // Row selection through the real list view reaches the selected-partition texts.
    list.selectRow(0);
    winetest::pumpUntil([] { return false; }, 100);
    EXPECT_EQ(state.targetIndex, "1:1");
    EXPECT_EQ(state.targetDisplay, "C:\\(1:1)");
  });
  windows.runModal(harness, nullptr);
}

}  // namespace
