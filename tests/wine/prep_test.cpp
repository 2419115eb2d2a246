// Boot repair and format through the real Win32 platform: the command interpreter,
// version resources of built programs, the retry batch run by its path, and the
// format library that Wine does not have.
#include <gtest/gtest.h>

#include <windows.h>

#include "core/context.h"
#include "platform/win32/platform_win32.h"
#include "prep/boot_repair.h"
#include "prep/format.h"
#include "tests/fakes/fake_ui.h"
#include "tests/wine/wine_support.h"

namespace {

using Lines = std::vector<std::string>;

// The running system's Windows folder, played by a folder of the test.
class TestSystem : public win32::System {
 public:
  std::string windowsDir;
  std::string windowsDirectory() override { return windowsDir; }
};

// A window with nothing in it: the owner of the format step's boxes and dialog.
struct OwnerLogic : ui::WindowLogic {
  ui::WindowSpec table{"owner"};
  const ui::WindowSpec& spec() const override { return table; }
};

std::string freshFolder(const std::string& name) {
  const std::string folder = winetest::programFolder() + name + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const char* file : {"calls.log", "bcdboot.out", "yd.cmd"}) DeleteFileA((folder + file).c_str());
  return folder;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void writeText(const std::string& path, const std::string& text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

// Each recorded command line, with the program part before the first blank dropped.
Lines recordedArguments(const std::string& folder) {
  Lines out;
  std::string log = winetest::readWholeFile(folder + "calls.log");
  std::size_t start = 0;
  for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = log.substr(start, end - start);
    out.push_back(line.substr(line.find(' ')));
  }
  return out;
}

TEST(VersionResourceUnderWine, ProductVersionOfBuiltPrograms) {
  win32::RealPlatform p;
  const std::string folder = winetest::programFolder();
  EXPECT_EQ(prep::productVersionOf(p.os, folder + "version_10.exe"), "10.0.19041.1") << "named by the translation table";
  EXPECT_EQ(prep::productVersionOf(p.os, folder + "version_61.exe"), "6.1.7601.17514") << "the default key";
  EXPECT_EQ(prep::productVersionOf(p.os, folder + "test_child.exe"), "") << "no resource";
  EXPECT_EQ(prep::productVersionOf(p.os, folder + "missing.exe"), "");
}

// A system restored to R: (a folder of the test mapped by run.sh), with the boot
// tools replaced by doubles that record what they were asked.
class BootRepairUnderWine : public ::testing::Test {
 protected:
  TestSystem system;
  win32::RealPlatform real{&system};
  fake::WindowSystem ui;
  core::AppState state;
  core::Context ctx{real.os, ui, state, {}};
  core::Target target;
  fake::Control status{ui::ControlSpec{"statusLabel", ui::Kind::Label}};
  fake::Control combo{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}};
  std::string tools, windows;

  void SetUp() override {
    tools = freshFolder("boottools");
    windows = freshFolder("windir");
    system.windowsDir = windows.substr(0, windows.size() - 1);
    const std::string doubleExe = winetest::programFolder() + "boot_tool_double.exe";
    ASSERT_TRUE(CopyFileA(doubleExe.c_str(), (tools + "bootice.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(doubleExe.c_str(), (tools + "bcdboot.exe").c_str(), FALSE));
    // Deployment records each path with a doubled backslash before the name.
    state.tools.booticePath = tools + "\\bootice.exe";
    state.tools.bcdbootPath = tools + "\\bcdboot.exe";
    target.targetDrive = "R:";
    target.targetDisplay = "R:\\(2:1)";
    target.targetPartitionType = "主分区,MBR";
    combo.addItem("R:\\ [默认推荐]");
    combo.setSelection(0);
  }

  void restore(const char* versionProgram) {
    ASSERT_TRUE(exists("R:\\")) << "tests/wine/run.sh maps R:";
    CreateDirectoryA("R:\\Windows", nullptr);
    CreateDirectoryA("R:\\Windows\\System32", nullptr);
    const std::string from = winetest::programFolder() + versionProgram;
    ASSERT_TRUE(CopyFileA(from.c_str(), "R:\\Windows\\System32\\cmd.exe", FALSE));
  }
};

TEST_F(BootRepairUnderWine, Windows10OnMbrRunsBootRecordsThenBcdboot) {
  restore("version_10.exe");
  CreateDirectoryA("R:\\Boot", nullptr);
  writeText("R:\\Boot\\BCD", "old store");
  writeText(tools + "bcdboot.out", "Boot files successfully created.\r\n");
  prep::repairBoot(ctx, target, status, combo);
  EXPECT_EQ(recordedArguments(tools), (Lines{" /DEVICE=R:\\ /mbr /install  /type=nt60  /quiet",
                                             " /DEVICE=R:\\ /pbr /install  /type=bootmgr  /quiet",
                                             " /DEVICE=R:\\ /partitions /activate /quiet",
                                             " R:\\Windows /s R:\\  /l zh-cn "}));
  EXPECT_FALSE(exists("R:\\Boot\\BCD"));
  EXPECT_EQ(status.text(), "创建引导成功！");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(BootRepairUnderWine, Windows7RetryBatchIsWrittenRunAndWaitedFor) {
  restore("version_61.exe");
  writeText(tools + "bcdboot.out", "Failure when attempting to copy boot files.\r\n");
  ui.answers = {ui::kAnswerYes};
  prep::repairBoot(ctx, target, status, combo);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "创建引导失败,是否使用批处理模式重试？\r\n错误信息:\r\nFailure when attempting to copy boot files.\r\n");
  EXPECT_EQ(status.text(), "创建引导失败！");
  // Started from another folder, the batch's own "del yd.cmd" misses it and it stays.
  const std::string batch = windows + "\\yd.cmd";
  EXPECT_EQ(winetest::readWholeFile(batch), state.tools.bcdbootPath + " R:\\Windows /S R:\\ /l zh-cn \r\ndel yd.cmd");
  const Lines calls = recordedArguments(tools);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[3], " R:\\Windows /s R:\\  /l zh-cn ");
  EXPECT_EQ(calls[4], " R:\\Windows /S R:\\ /l zh-cn ") << "the batch ran before repairBoot returned";
}

TEST_F(BootRepairUnderWine, GptDiskWithoutEspIsRefusedWithNothingRun) {
  restore("version_10.exe");
  target.targetPartitionType = "主分区,GPT";
  prep::repairBoot(ctx, target, status, combo);
  EXPECT_TRUE(recordedArguments(tools).empty());
  EXPECT_EQ(status.text(), "创建引导失败！");
  ASSERT_EQ(ui.boxes.size(), 1u);
  // Wine tells R:'s disk and has no EFI system partition; a disk it could not tell
  // would lead to the question instead.
  EXPECT_NE(ui.boxes[0].text.find("EFI"), std::string::npos);
}

TEST(FormatUnderWine, MissingFormatLibraryIsAFailure) {
  win32::RealPlatform real;
  fake::WindowSystem ui;
  core::AppState state;
  core::Request request;
  request.target.targetDrive = "R:";
  request.target.targetDisplay = "R:\\(2:1)";
  request.imagePath = "C:\\images\\win.wim";
  core::Context ctx{real.os, ui, state, {}};
  EXPECT_FALSE(real.os.system.isWow64()) << "a 64-bit program runs natively";
  EXPECT_FALSE(prep::formatVolumeEx(real.os, state, "R:\\"));
  EXPECT_FALSE(state.formatBusy);
  // The media FormatEx is given comes from the drive's geometry: Wine's C: is a fixed disk.
  EXPECT_EQ(real.os.volumes.mediaType("C:\\"), 12);
  EXPECT_EQ(real.os.volumes.mediaType("Q:\\"), 0) << "no drive, no answer";

  fake::Control volume{ui::ControlSpec{"volumeCombo", ui::Kind::DropDownList}},
      format{ui::ControlSpec{"formatCombo", ui::Kind::DropDownList}},
      boot{ui::ControlSpec{"bootTargetCombo", ui::Kind::DropDownList}},
      addBoot{ui::ControlSpec{"addBootCheck", ui::Kind::CheckBox}}, ok{ui::ControlSpec{"okButton", ui::Kind::Button}},
      cancel{ui::ControlSpec{"cancelButton", ui::Kind::Button}}, status{ui::ControlSpec{"statusLabel", ui::Kind::Label}};
  format.items = {"手动 Format", "自动 NTFS", "跳过 None"};
  format.setSelection(1);
  request.options.format = core::FormatChoice::AutoNtfs;
  prep::RestoreControls controls{nullptr, volume, format, boot, addBoot, ok, cancel, status};
  int applies = 0;
  prep::formatStep(ctx, request, controls, [&] { ++applies; });
  EXPECT_EQ(applies, 0);
  EXPECT_EQ(status.text(), "格式化 R:\\(2:1) 失败！");
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].text, "格式化 R:\\(2:1) 失败,请重试！");
  EXPECT_TRUE(ok.enabled());

  // The manual choice goes through the shell's format dialog, which needs a real
  // owner window: without one it is never shown, and that is a failed format.
  ui.boxes.clear();
  format.setSelection(0);
  request.options.format = core::FormatChoice::Manual;
  prep::formatStep(ctx, request, controls, [&] { ++applies; });
  EXPECT_EQ(applies, 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "格式化 R:\\(2:1) 失败,请重试！");
  // Wine's dialog is a stub that answers "cannot be formatted" (SHFMT_NOFORMAT):
  // nothing was formatted, so nothing is applied either.
  HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(real.os.volumes.formatDialog(reinterpret_cast<std::uintptr_t>(owner), 17, 0xFFFF, 1), 0xFFFFFFFDu);
  OwnerLogic logic;
  fake::Window window(ui, logic, true);
  window.native = reinterpret_cast<std::uintptr_t>(owner);
  prep::RestoreControls owned{&window, volume, format, boot, addBoot, ok, cancel, status};
  ui.boxes.clear();
  prep::formatStep(ctx, request, owned, [&] { ++applies; });
  EXPECT_EQ(applies, 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "格式化 R:\\(2:1) 失败,请重试！");
  EXPECT_EQ(status.text(), "格式化 R:\\(2:1) 失败！");
  EXPECT_TRUE(ok.enabled()) << "the window stays usable";
  DestroyWindow(owner);
}

}  // namespace
