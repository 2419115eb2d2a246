// The main window through the real Win32 binding: the partition list filled by the
// lister's stand-in, red rows drawn by custom draw, both modes photographed.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <cstdio>

#include "app/main_window.h"
#include "payload/payload.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"
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

// The main window with one more timer: the test body runs from it, once the window
// has been created and takes input, as the user's first click would.
class Harness : public ui::WindowLogic {
 public:
  Harness(app::MainWindow& main, std::function<void(ui::Window&)> body)
      : main_(main), spec_(main.spec()), body_(std::move(body)) {
    spec_.timers.push_back({"testBody", 10});
  }
  const ui::WindowSpec& spec() const override { return spec_; }
  std::vector<ui::Handler> handlers() override {
    std::vector<ui::Handler> all = main_.handlers();
    all.push_back({"testBody", ui::Event::Timer, [this] {
                     window_->stopTimer("testBody");
                     enabledAtFirstEvent = IsWindowEnabled(reinterpret_cast<HWND>(window_->nativeHandle())) != 0;
                     body_(*window_);
                     window_->close();
                   }});
    return all;
  }
  void onCreated(ui::Window& w) override {
    window_ = &w;
    main_.onCreated(w);
    enabledWhileCreating = IsWindowEnabled(reinterpret_cast<HWND>(w.nativeHandle())) != 0;
    visibleWhileCreating = IsWindowVisible(reinterpret_cast<HWND>(w.nativeHandle())) != 0;
    w.startTimer("testBody");
  }
  bool enabledWhileCreating = true, visibleWhileCreating = false, enabledAtFirstEvent = false;

 private:
  app::MainWindow& main_;
  ui::WindowSpec spec_;
  std::function<void(ui::Window&)> body_;
  ui::Window* window_ = nullptr;
};

bool insideClientArea(ui::Window& w, const char* control) {
  RECT r, client;
  GetWindowRect(reinterpret_cast<HWND>(win32::controlHandle(w, control)), &r);
  GetClientRect(reinterpret_cast<HWND>(w.nativeHandle()), &client);
  MapWindowPoints(nullptr, reinterpret_cast<HWND>(w.nativeHandle()), reinterpret_cast<POINT*>(&r), 2);
  return r.left >= client.left && r.right <= client.right && r.top >= client.top && r.bottom <= client.bottom;
}

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
    EXPECT_FALSE(insideClientArea(w, "checkGhostButton")) << "the simple mode hides the advanced controls";
    // The virtual screen is 1024 wide: the centred window would leave it when widened,
    // and the screen grab cannot reach beyond its edge.
    SetWindowPos(main, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    winetest::pumpUntil([] { return false; }, 300);
    EXPECT_TRUE(winetest::saveWindowPicture(main, winetest::artifactFolder() + "main_simple.bmp"));
    SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(w, "modeButton")), BM_CLICK, 0, 0);
    winetest::pumpUntil([] { return false; }, 1000);
    EXPECT_EQ(w.width(), 758);
    EXPECT_EQ(w.control("modeButton").text(), "简  洁(&A)");
    EXPECT_TRUE(insideClientArea(w, "checkGhostButton")) << "the advanced mode shows them";
    EXPECT_TRUE(winetest::saveWindowPicture(main, winetest::artifactFolder() + "main_advanced.bmp"));
    // The program's own selection raises no event; the user's click does.
    list.selectRow(4);
    winetest::pumpUntil([] { return false; }, 100);
    EXPECT_EQ(list.selectedRow(), 4);
    EXPECT_EQ(state.target.targetIndex, "");
    RECT row = rowTextRect(listHwnd, 0);
    const LPARAM at = MAKELPARAM(row.left + 4, (row.top + row.bottom) / 2);
    SendMessageA(listHwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(listHwnd, WM_LBUTTONUP, 0, at);
    winetest::pumpUntil([&] { return !state.target.targetIndex.empty(); }, 1000);
    EXPECT_EQ(list.selectedRow(), 0);
    EXPECT_EQ(state.target.targetIndex, "1:1");
    EXPECT_EQ(state.target.targetDisplay, "C:\\(1:1)");

    // The system's device broadcast: the list is taken again shortly after, not inside
    // the handler, and the partition chosen, unchanged, stays chosen.
    list.deleteRow(5);
    ASSERT_EQ(list.rowCount(), 5);
    EXPECT_EQ(SendMessageA(main, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    EXPECT_EQ(SendMessageA(main, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), TRUE);
    EXPECT_EQ(list.rowCount(), 5) << "nothing is listed while the system waits";
    winetest::pumpUntil([&] { return list.rowCount() == 6; }, 5000);
    EXPECT_EQ(list.rowCount(), 6) << "the lister ran again";
    EXPECT_EQ(list.cell(5, 1), "|E:");
    EXPECT_EQ(list.selectedRow(), 0);
    EXPECT_EQ(state.target.targetIndex, "1:1");
  });
  windows.runModal(harness, nullptr);
  EXPECT_TRUE(harness.visibleWhileCreating) << "the window shows while the start-up sequence runs";
  EXPECT_FALSE(harness.enabledWhileCreating) << "but takes no input until it has finished";
  EXPECT_TRUE(harness.enabledAtFirstEvent);
}

}  // namespace
