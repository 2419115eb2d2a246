// The image search and the GHO operations through the real Win32 binding, the real
// command interpreter and a test engine deployed under the GHO engine's name; then
// the one-key flow through the main window with the simulated lister and the
// carried engine's simulated build on a real disk image.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

#include "app/main_window.h"
#include "onekey/ghost_runs.h"
#include "onekey/install_list_window.h"
#include "onekey/iso_install.h"
#include "onekey/one_key.h"
#include "payload/payload.h"
#include "platform/win32/platform_win32.h"
#include "platform/win32/ui_win32.h"
#include "search/image_search.h"
#include "search/select_target.h"
#include "wim/engine_guard.h"
#include "wim/restore_window.h"
#include "tests/wine/wine_support.h"

namespace {

constexpr std::uint64_t kMB = 1048576;

class SimulatedWinPE : public win32::System {
 public:
  std::string windowsDirectory() override { return "X:\\Windows"; }
};

class RecordingShell : public platform::Shell {
 public:
  int urlsOpened = 0;  // the home page is the start-up's last step
  void openUrl(const std::string&) override { ++urlsOpened; }
  void exitProcess(int) override {}
};

// Only the drive the test maps: a search of every drive would walk the whole host.
class MappedDriveOnly : public win32::Volumes {
 public:
  std::string logicalDriveStrings() override { return std::string("M:\\") + '\0'; }
};

// Real windows; message boxes are recorded and answered Yes instead of waiting for a
// user, and file dialogs choose the next of `choices` (cancelled when none is left).
class ScriptedBoxes : public win32::WindowSystem {
 public:
  std::vector<std::pair<std::string, unsigned>> boxes;
  std::vector<std::string> choices;
  std::vector<std::string> dialogTitles;
  int messageBox(ui::Window*, std::string_view text, std::string_view, unsigned style) override {
    boxes.emplace_back(std::string(text), style);
    return (style & 0xF) == ui::kYesNo ? ui::kAnswerYes : ui::kAnswerOk;
  }
  std::optional<std::string> fileDialog(ui::Window*, const ui::FileDialogSpec& spec) override {
    dialogTitles.push_back(spec.title);
    if (choices.empty()) return std::nullopt;
    std::string chosen = choices.front();
    choices.erase(choices.begin());
    return chosen;
  }
  std::string last() const { return boxes.empty() ? std::string() : boxes.back().first; }
  // When set, the next modal window the program opens runs this inside its creation
  // (as a user would act in it) and is closed afterwards.
  std::function<void(ui::Window&)> inNextModal;
  void runModal(ui::WindowLogic& logic, ui::Window* owner) override {
    if (!inNextModal) return win32::WindowSystem::runModal(logic, owner);
    winetest::Harness harness(logic, std::exchange(inNextModal, nullptr));
    win32::WindowSystem::runModal(harness, owner);
  }
};

// Runs body inside the window's creation, then closes it.
using winetest::Harness;

bool writeBytes(const std::string& path, std::uint64_t size, bool sparse) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  if (sparse) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  } else {
    std::string bytes(size, 'g');
    DWORD written = 0;
    ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == size;
  }
  CloseHandle(h);
  return ok;
}

bool writeText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  std::fclose(f);
  return ok;
}

struct Fixture {
  SimulatedWinPE system;
  RecordingShell shell;
  win32::RealPlatform real{&system, &shell};
  MappedDriveOnly mapped;
  platform::Platform os{real.os.system, real.os.files, mapped, real.os.processes,
                        real.os.console, real.os.power, real.os.shell};
  ScriptedBoxes windows;
  core::AppState state;
  std::string lister = winetest::readWholeFile(winetest::programFolder() + "lister_double.exe");
  std::string engine = winetest::readWholeFile(winetest::programFolder() + "engine_double.exe");
  core::Context ctx{os, windows, state, [this](std::string_view name) -> std::string_view {
                     if (name == "pzdir.exe") return lister;
                     if (name == "GhostVrelLite.exe") return engine;
                     return payloadFor(name);
                   }};
  app::MainWindow main{ctx};
  onekey::Services& services = main.services();
  // What the one-key action hands the GHO runs: the path and the selected partition.
  core::Request request(core::Mode mode, const std::string& path) const {
    core::Request r;
    r.mode = mode;
    r.imagePath = path;
    r.target = state.target;
    return r;
  }
};

std::string lastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t.substr(t.find_last_of('\n') + 1);
}

TEST(GhostUnderWine, BackupCheckAndRestoreThroughTheInterpreterWithBlanksAndAmpersands) {
  Fixture f;
  ASSERT_FALSE(f.engine.empty());
  const std::string folder = winetest::programFolder() + "ghost flow & more\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string log = folder + "engine.log";
  DeleteFileA(log.c_str());
  SetEnvironmentVariableA("VREL_ENGINE_LOG", log.c_str());
  const std::string image = folder + "sys a&b.gho";
  const std::string saved = folder + "new backup & c.GHO";
  ASSERT_TRUE(writeBytes(image, kMB * 3 / 2, false));
  DeleteFileA(saved.c_str());

  Harness harness(f.main, [&](ui::Window& w) {
    // The program's own selection raises no event: record it as the user's would.
    ui::Control& list = w.control("partitionList");
    list.selectRow(0);
    search::selectTargetPartition(list, f.state);
    ASSERT_EQ(f.state.target.targetDisplay, "C:\\(1:1)");

    SetEnvironmentVariableA("VREL_ENGINE_WRITE", std::to_string(kMB * 5 / 2).c_str());
    onekey::ghostBackup(f.services, w, f.request(core::Mode::GhostBackup, saved));
    EXPECT_TRUE(w.visible());
    EXPECT_EQ(f.windows.last(), "Ghost备份磁盘完成！\r\n保存位置: new backup & c.GHO\r\n备份分区: C:\\(1:1)\r\n备份大小: 2.5 MB");
    // The backup's run, then the check of what it wrote.
    const std::string backupRuns = winetest::readWholeFile(log);
    EXPECT_NE(backupRuns.find(" -clone,mode=pdump,src=1:1,dst=\"" + saved + "\" -z9  -crcignore  -noide  -sure  -fx -BATCH"),
              std::string::npos)
        << backupRuns;
    EXPECT_NE(lastLine(backupRuns).find("   -CHKIMG,\"" + saved + "\" -sure  -fx -BATCH"), std::string::npos)
        << lastLine(backupRuns);

    SetEnvironmentVariableA("VREL_ENGINE_WRITE", nullptr);
    DeleteFileA(saved.c_str());
    onekey::ghostBackup(f.services, w, f.request(core::Mode::GhostBackup, saved));
    EXPECT_EQ(f.windows.last(), "Ghost备份磁盘错误！\r\n错误信息:\r\n备份文件 " + saved + " 没有生成或为空。");

    onekey::checkGhostImage(f.services, w, image);
    EXPECT_EQ(f.windows.last(), "经检查 sys a&b.gho 镜像文件非常完整！");
    EXPECT_NE(lastLine(winetest::readWholeFile(log)).find("   -CHKIMG,\"" + image + "\" -sure  -fx -BATCH"),
              std::string::npos)
        << lastLine(winetest::readWholeFile(log));

    onekey::ghostRestore(f.services, w, f.request(core::Mode::Restore, image));
    EXPECT_EQ(f.windows.last(), "Ghost应用映像到磁盘完成！\r\n映像名称: sys a&b.gho\r\n安装分区: C:\\(1:1)\r\n映像大小: 1.5 MB");
    EXPECT_NE(lastLine(winetest::readWholeFile(log))
                  .find(" -clone,mode=pload,src=\"" + image + "\":1,dst=1:1  -crcignore  -noide -sure -fx -BATCH"),
              std::string::npos)
        << lastLine(winetest::readWholeFile(log));

    const std::string complaint = folder + "complaint.txt";
    ASSERT_TRUE(writeText(complaint, "Abort: 分区已锁定\r\n"));
    SetEnvironmentVariableA("VREL_ENGINE_SAY", complaint.c_str());
    onekey::ghostRestore(f.services, w, f.request(core::Mode::Restore, image));
    EXPECT_EQ(f.windows.last(), "Ghost应用映像错误！\r\n错误信息:\r\nAbort: 分区已锁定\r\n");
    onekey::checkGhostImage(f.services, w, image);
    EXPECT_EQ(f.windows.last(), "sys a&b.gho 镜像文件不能通过完整性检查！");
    SetEnvironmentVariableA("VREL_ENGINE_SAY", nullptr);
    const std::string runs = winetest::readWholeFile(log);
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 7) << "every run reached the engine whole, once";
  });
  f.windows.runModal(harness, nullptr);
}

TEST(IsoLettersUnderWine, TheDriveListHoldsDrivesThatExistAndLettersMappedOntoFolders) {
  win32::Volumes volumes;
  EXPECT_TRUE(onekey::isDriveLetterInUse(volumes, "C"));
  EXPECT_TRUE(onekey::isDriveLetterInUse(volumes, "m"));
  EXPECT_FALSE(onekey::isDriveLetterInUse(volumes, "Q"));
  // The ISO mounter's fallback maps its letter with DefineDosDevice.
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  ASSERT_TRUE(DefineDosDeviceA(0, "Q:", folder));
  EXPECT_TRUE(onekey::isDriveLetterInUse(volumes, "Q"));
  DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr);
  EXPECT_FALSE(onekey::isDriveLetterInUse(volumes, "Q"));
}

// The mapped drive M: (tests/wine/run.sh links it to a folder of the build tree).
void makeSearchTree() {
  const char* folders[] = {"M:\\a", "M:\\a\\b", "M:\\a\\b\\c", "M:\\.hidden", "M:\\镜像"};
  for (const char* folder : folders) CreateDirectoryA(folder, nullptr);
  const std::pair<const char*, std::uint64_t> files[] = {
      {"M:\\root.WIM", 500 * kMB},         {"M:\\a\\one.wim", 3 * 1024 * kMB},
      {"M:\\a\\b\\two.Wim", 10 * kMB},    {"M:\\a\\b\\c\\three.wim", 700 * kMB},
      {"M:\\.hidden\\skip.wim", 200 * kMB}, {"M:\\镜像\\系统 备份.GHO", 60 * kMB},
      {"M:\\a\\notes.txt", 1},
  };
  for (const auto& [path, size] : files) writeBytes(path, size, true);
}

TEST(SearchUnderWine, SearchBoxListsTheHitsOfTheMappedDriveInTheRealListBox) {
  Fixture f;
  makeSearchTree();
  Harness harness(f.main, [&](ui::Window& w) {
    HWND main = reinterpret_cast<HWND>(w.nativeHandle());
    SetWindowPos(main, nullptr, 8, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(w, "modeButton")), BM_CLICK, 0, 0);
    w.control("patternCombo").setSelection(2);  // *.WIM
    ui::Control& results = w.control("searchResultList");
    const int hits = search::searchImages(f.os, f.windows,
                                          {results, w.control("depthEdit"), w.control("patternCombo"),
                                           w.control("searchButton")});
    EXPECT_EQ(hits, 4);
    std::vector<std::string> listed;
    for (int i = 0; i < results.count(); ++i) listed.push_back(results.itemText(i));
    EXPECT_EQ(listed, (std::vector<std::string>{"M:\\root.WIM", "M:\\.hidden\\skip.wim", "M:\\a\\one.wim",
                                                "M:\\a\\b\\two.Wim", "搜索3层目录完成,共搜索到4个*.WIM文件。"}))
        << "a dot folder is searched here; only the ISO walk skips it";
    EXPECT_TRUE(w.control("searchButton").enabled());

    ui::Control& combo = w.control("imagePathCombo");
    search::scanImagesAtStartup(f.os, f.windows, combo, f.state);
    std::vector<std::string> offered;
    for (int i = 0; i < combo.count(); ++i) offered.push_back(combo.itemText(i));
    EXPECT_EQ(offered, (std::vector<std::string>{"M:\\镜像\\系统 备份.GHO", "M:\\root.WIM", "M:\\.hidden\\skip.wim",
                                                 "M:\\a\\one.wim"}));
    EXPECT_EQ(f.state.defaultImage, "M:\\镜像\\系统 备份.GHO");
    EXPECT_EQ(combo.selection(), 0);

    // A click on a hit makes it the chosen image.
    results.setSelection(3);
    search::pickSearchResult(w.control("restoreRadio"), results, combo, hits);
    EXPECT_EQ(combo.count(), 5);
    EXPECT_EQ(combo.itemText(combo.selection()), "M:\\a\\b\\two.Wim");
    winetest::pumpUntil([] { return false; }, 500);
    EXPECT_TRUE(winetest::saveWindowPicture(main, winetest::artifactFolder() + "main_after_search.bmp"));

    // The install-file list over the main window, as an ISO with these files shows it.
    onekey::InstallListWindow list(f.services, f.main.oneKeyControls(), f.request(core::Mode::Restore, "M:\\w.iso"),
                                   {"M:\\a\\one.wim", "M:\\a\\b\\two.Wim", "M:\\root.WIM", "M:\\镜像\\系统 备份.GHO"});
    Harness listHarness(list, [&](ui::Window& lw) {
      ui::Control& rows = lw.control("installFileList");
      ASSERT_EQ(rows.rowCount(), 2);
      EXPECT_EQ(rows.cell(0, 0), "M:\\a\\one.wim");
      EXPECT_EQ(rows.cell(0, 1), "3072 MB");
      EXPECT_EQ(rows.cell(1, 1), "500 MB");
      winetest::pumpUntil([] { return false; }, 500);
      EXPECT_TRUE(winetest::saveWindowPicture(reinterpret_cast<HWND>(lw.nativeHandle()),
                                              winetest::artifactFolder() + "install_list.bmp"));
    });
    f.windows.runModal(listHarness, &w);
  });
  f.windows.runModal(harness, nullptr);
}

// The one-key button with current installation media: an ESD and a split set go to
// the restore window, which runs a stand-in engine that records its command line.
TEST(WimUnderWine, OneKeyInstallsAnEsdAndASplitSetThroughTheRestoreWindow) {
  Fixture f;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string tools = std::string(temp) + "vrel-onekey-" + std::to_string(GetCurrentProcessId());
  const std::string media = "Z:\\tmp\\vrel-onekey-" + std::to_string(GetCurrentProcessId());
  const std::string record = tools + "\\apply-line.txt";
  ASSERT_TRUE(CreateDirectoryA(tools.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(media.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((media + "\\sources").c_str(), nullptr));
  ASSERT_TRUE(CopyFileA((winetest::programFolder() + "wim_engine_double.exe").c_str(),
                        (tools + "\\ZeDadaviZezi.exe").c_str(), FALSE));
  for (const char* name : {"install.esd", "install.swm", "install2.swm", "install3.swm"})
    ASSERT_TRUE(writeBytes(media + "\\sources\\" + name, 3 * kMB / 2, true)) << name;
  SetEnvironmentVariableA("VREL_ENGINE_RECORD", record.c_str());
  SetEnvironmentVariableA("VREL_ENGINE_MODE", "ok");

  std::vector<std::string> statuses, lines;
  Harness harness(f.main, [&](ui::Window& w) {
    // After the start-up, which deployed the carried tools.
    f.state.tools.enginePath = tools + "\\ZeDadaviZezi.exe";
    onekey::MainControls& c = f.main.oneKeyControls();
    c.restoreRadio.setChecked(true);
    c.partitionList.addRow("C:\\", 0);
    c.partitionList.setCell(0, 1, "1:1");
    c.partitionList.selectRow(0);
    f.state.target = core::Target{};
    f.state.target.targetDrive = "C:\\";
    f.state.target.targetIndex = "1:1";
    f.state.target.targetPartitionType = "主分区,MBR";
    f.state.target.targetDisplay = "C:\\(1:1)";
    f.state.target.targetFileSystem = "NTFS";  // as the stand-in lister lists 1:1
    f.state.target.targetTotal = "100.00GB";
    f.state.target.targetIndexUsable = true;
    for (const char* name : {"install.esd", "install.swm"}) {
      DeleteFileA(record.c_str());
      c.imagePathCombo.setSelection(c.imagePathCombo.addItem(media + "\\sources\\" + name));
      f.windows.inNextModal = [&, name](ui::Window& restore) {
        // Neither a format nor boot repair of this machine's C:, and no restart after it.
        restore.control("formatCombo").setSelection(static_cast<int>(core::FormatChoice::None));
        restore.control("addBootCheck").setChecked(false);
        restore.control("restartCheck").setChecked(false);
        winetest::pumpUntil([] { return false; }, 300);
        EXPECT_TRUE(winetest::saveWindowPicture(reinterpret_cast<HWND>(restore.nativeHandle()),
                                                winetest::artifactFolder() + "wim_restore_" + name + ".bmp"));
        SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(restore, "okButton")), BM_CLICK, 0, 0);
        winetest::pumpUntil([&] { return restore.control("statusLabel").text() == "Imagex应用映像到磁盘完成！"; }, 20000);
        statuses.push_back(restore.control("statusLabel").text());
        EXPECT_EQ(statuses.back(), "Imagex应用映像到磁盘完成！") << restore.control("engineLogBox").text();
      };
      SendMessageA(reinterpret_cast<HWND>(win32::controlHandle(w, "mainOkButton")), BM_CLICK, 0, 0);
      lines.push_back(winetest::readWholeFile(record));
      EXPECT_TRUE(IsWindowVisible(reinterpret_cast<HWND>(w.nativeHandle()))) << "the main window comes back";
    }
  });
  f.windows.runModal(harness, nullptr);
  SetEnvironmentVariableA("VREL_ENGINE_RECORD", nullptr);
  SetEnvironmentVariableA("VREL_ENGINE_MODE", nullptr);
  f.real.os.files.removeTree(media);
  for (int i = 0; i < 20 && wim::terminateProcessByName(f.real.os.processes, "ZeDadaviZezi.exe"); ++i) Sleep(50);
  f.real.os.files.removeTree(tools);

  EXPECT_EQ(statuses, (std::vector<std::string>{"Imagex应用映像到磁盘完成！", "Imagex应用映像到磁盘完成！"}));
  // The outcome boxes; the split set's size is that of its three parts.
  ASSERT_EQ(f.windows.boxes.size(), 2u) << f.windows.last();
  EXPECT_EQ(f.windows.boxes[0].first.substr(0, f.windows.boxes[0].first.find("\r\n已用时间")),
            "Imagex应用映像到磁盘完成！\r\n安装分区: C:\\(1:1)\r\n映像大小: 1.5 MB");
  EXPECT_EQ(f.windows.boxes[1].first.substr(0, f.windows.boxes[1].first.find("\r\n已用时间")),
            "Imagex应用映像到磁盘完成！\r\n安装分区: C:\\(1:1)\r\n映像大小: 4.5 MB");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "/apply\n" + media + "\\sources\\install.esd\n1\nC:\n");
  EXPECT_EQ(lines[1], "/apply\n" + media + "\\sources\\install.swm\n1\nC:\n/ref\n" + media +
                          "\\sources\\install*.swm\n");
}

}  // namespace

namespace {

// Runs `body` once from the thread's message loop as soon as `ready()` holds: from
// there the test reaches the window only as a user's input would, through messages
// to its controls. (Start-up serves messages while its tools run, so the timer may
// fire before the window is complete; ready() tells.)
struct Pending {
  std::function<void()>* body = nullptr;
  std::function<bool()> ready;
} pending;

void runFromMessageLoop(std::function<void()>& body, std::function<bool()> ready) {
  pending = {&body, std::move(ready)};
  SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
    if (!pending.body || !pending.ready()) return;
    KillTimer(nullptr, id);
    (*std::exchange(pending.body, nullptr))();
  });
}

// The program's main window among this thread's windows.
HWND mainWindowOfThisThread() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM out) {
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (std::string(cls) != "VrelPELiteWindow" || !IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string listCell(HWND list, int row, int column) {
  char buf[256] = {};
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buf;
  item.cchTextMax = sizeof buf;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return buf;
}

// The row whose number column reads `designator`, selected as a click selects it;
// -1 when no row has it.
int selectRowOf(HWND list, const std::string& designator) {
  const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    if (listCell(list, row, 1) != designator) continue;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    return row;
  }
  return -1;
}

// What a helper thread saw of the engine's own progress window while a run went on.
struct ProgressSighting {
  std::string picture;  // where the photograph goes
  bool seen = false;
  bool photographed = false;
  std::string title, action, percent, remaining, stop;
  int barPosition = -1;
};

std::string dialogText(HWND window, int id) {
  char buf[512] = {};
  if (HWND item = GetDlgItem(window, id)) GetWindowTextA(item, buf, sizeof buf);
  return buf;
}

// Waits for the window, lets the run get far enough for a time estimate, then reads
// its texts and photographs it.
DWORD WINAPI watchEngineWindow(void* parameter) {
  auto& sight = *static_cast<ProgressSighting*>(parameter);
  HWND window = nullptr;
  for (int i = 0; i < 1200 && !window; ++i) {
    window = FindWindowA("GhostVrelLiteProgress", nullptr);
    if (!window) Sleep(50);
  }
  if (!window) return 0;
  sight.seen = true;
  // Found while it may still be creating its controls: only the remaining time's
  // label with a clock in it is an estimate.
  const DWORD start = GetTickCount();
  auto estimated = [&] {
    const std::string remaining = dialogText(window, 107);
    return remaining.rfind("剩余时间: ", 0) == 0 && remaining.find("--") == std::string::npos;
  };
  while (IsWindow(window) && GetTickCount() - start < 15000 && !estimated()) Sleep(100);
  Sleep(400);  // one more refresh of the window's texts
  if (!IsWindow(window)) return 0;
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  sight.title = title;
  sight.action = dialogText(window, 100);
  sight.percent = dialogText(window, 104);
  sight.remaining = dialogText(window, 107);
  sight.stop = dialogText(window, 108);
  sight.barPosition = static_cast<int>(SendMessageA(GetDlgItem(window, 103), PBM_GETPOS, 0, 0));
  sight.photographed = winetest::saveWindowPicture(window, sight.picture) && IsWindow(window);
  return 0;
}

}  // namespace

// The whole flow through the program's main window, on a disk image that
// tests/wine/run.sh made with sfdisk, mkntfs and ntfscp (partition 1 holds files,
// partition 2 is larger and empty): the list comes from the simulated lister over
// that image, the carried engine's simulated build does the work, and the test only
// selects rows, types, clicks and answers the program's questions. run.sh then checks
// the restored partition 2 with ntfsfix and ntfscat.
TEST(GhostUnderWine, OneKeyBackupCheckAndRestoreOfADiskImagePartitionThroughTheMainWindow) {
  char disks[1024] = {};
  if (!GetEnvironmentVariableA("VREL_E2E_DISKS", disks, sizeof disks)) GTEST_SKIP() << "no disk image";
  SetEnvironmentVariableA("VREL_DISKS", disks);
  Fixture f;
  f.lister = winetest::readWholeFile(winetest::programFolder() + "simulated\\pzdir.exe");
  f.engine = winetest::readWholeFile(winetest::programFolder() + "simulated\\GhostVrelLite.exe");
  ASSERT_FALSE(f.lister.empty());
  ASSERT_FALSE(f.engine.empty());
  const std::string folder = "M:\\一键 备份\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string image = folder + "demo & backup.GHO";
  DeleteFileA(image.c_str());
  // The operation log beside the program (this test program): started afresh.
  const std::string logPath = winetest::programFolder() + "VrelPELite.log";
  DeleteFileA(logPath.c_str());
  ProgressSighting sight;
  sight.picture = winetest::artifactFolder() + "ghost_engine_progress.bmp";

  std::function<void()> body = [&] {
    HWND mainHwnd = mainWindowOfThisThread();
    // However the body ends, the window goes and its modal loop with it.
    struct CloseAtEnd {
      HWND hwnd;
      ~CloseAtEnd() { hwnd ? DestroyWindow(hwnd) : (PostQuitMessage(1), TRUE); }
    } closeAtEnd{mainHwnd};
    ui::Window* window = win32::windowFromHandle(reinterpret_cast<std::uintptr_t>(mainHwnd));
    ASSERT_NE(window, nullptr);
    ui::Window& w = *window;
    auto handle = [&](const char* name) { return reinterpret_cast<HWND>(win32::controlHandle(w, name)); };
    auto click = [&](const char* name) { SendMessageA(handle(name), BM_CLICK, 0, 0); };
    HWND list = handle("partitionList");

    // The rows are the disk image's two partitions, as the lister reads them.
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(listCell(list, 0, 1), "1:1");
    EXPECT_EQ(listCell(list, 0, 3), "NTFS");
    EXPECT_EQ(listCell(list, 1, 1), "1:2");

    // Back up 1:1 with one key, while a helper photographs the engine's window.
    click("ghostBackupRadio");
    ASSERT_GE(selectRowOf(list, "1:1"), 0);
    SetWindowTextA(handle("savePathEdit"), image.c_str());
    SetEnvironmentVariableA("VREL_DISK_KB_PER_SECOND", "2048");  // about 7 s for the 14 MB
    HANDLE watcher = CreateThread(nullptr, 0, watchEngineWindow, &sight, 0, nullptr);
    click("mainOkButton");
    SetEnvironmentVariableA("VREL_DISK_KB_PER_SECOND", nullptr);
    if (watcher) {
      // It gives up on its own (about a minute without a window); `sight` must outlive it.
      WaitForSingleObject(watcher, INFINITE);
      CloseHandle(watcher);
    }
    ASSERT_GE(f.windows.boxes.size(), 2u);
    EXPECT_EQ(f.windows.boxes[f.windows.boxes.size() - 2].first, "是否将 (1:1) 备份到 " + image + " ？");
    EXPECT_EQ(f.windows.last().rfind("Ghost备份磁盘完成！\r\n保存位置: demo & backup.GHO\r\n备份分区: (1:1)", 0), 0u)
        << f.windows.last();
    EXPECT_TRUE(IsWindowVisible(mainHwnd)) << "the main window comes back after the run";
    // The backup was checked by the engine before the summary, and logged.
    const std::string log = winetest::readWholeFile(logPath);
    EXPECT_EQ(log.rfind("==== GHO 备份\r\n开始: ", 0), 0u) << log;
    EXPECT_NE(log.find("\r\n映像: " + image + "\r\n目标: 1:1 主分区,MBR NTFS 0.02GB\r\n选项: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n结果: 成功\r\n  Ghost备份磁盘完成！\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  映像已通过完整性检查。\r\n\r\n"), std::string::npos) << log;
    writeText(winetest::artifactFolder() + "operation_log.txt", log);

    // The advanced mode's check button; its file dialog picks the new image.
    click("modeButton");
    f.windows.choices = {image};
    click("checkGhostButton");
    EXPECT_EQ(f.windows.last(), "经检查 demo & backup.GHO 镜像文件非常完整！");

    // Restore onto 1:2: the image chosen with the browse button, the row clicked.
    click("restoreRadio");
    ASSERT_GE(selectRowOf(list, "1:2"), 0);
    f.windows.choices = {image};
    click("browseButton");
    HWND combo = handle("imagePathCombo");
    const LRESULT chosen = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    ASSERT_GE(chosen, 0);
    click("mainOkButton");
    ASSERT_GE(f.windows.boxes.size(), 2u);
    EXPECT_EQ(f.windows.boxes[f.windows.boxes.size() - 2].first, "是否将 " + image + " 还原到 (1:2) ？");
    EXPECT_EQ(f.windows.last().rfind("Ghost应用映像到磁盘完成！\r\n映像名称: demo & backup.GHO\r\n安装分区: (1:2)", 0), 0u)
        << f.windows.last();
  };
  runFromMessageLoop(body, [&] { return f.shell.urlsOpened > 0; });
  f.windows.runModal(f.main, nullptr);
  SetEnvironmentVariableA("VREL_DISKS", nullptr);

  // The engine's own window was up during the backup, with its texts.
  EXPECT_TRUE(sight.seen) << "no engine progress window appeared";
  EXPECT_TRUE(sight.photographed);
  EXPECT_EQ(sight.title, "GhostVrelLite - 备份分区");
  EXPECT_EQ(sight.action, "正在把分区备份为映像文件,请稍候…");
  EXPECT_EQ(sight.stop, "停止(&S)");
  EXPECT_GT(sight.barPosition, 0) << sight.percent;
  EXPECT_LT(sight.barPosition, 1000) << sight.percent;
  EXPECT_EQ(sight.remaining.find("--"), std::string::npos) << sight.remaining;
}
