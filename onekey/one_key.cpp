#include "onekey/one_key.h"

#include "onekey/ghost_runs.h"
#include "onekey/install_list_window.h"
#include "platform/gbk.h"
#include "runner/command_runner.h"
#include "search/image_search.h"
#include "search/paths.h"

namespace onekey {

// The command interpreter replaces %NAME% by the variable's value even inside quotes
// (a caret does not stop it there), so a path with two "%" may reach the engine as
// another file: a backup written elsewhere, a restore read from elsewhere.
static constexpr char kPercentRefusal[] =
    " 含有两个“%”,命令解释器会把其间的文字当作环境变量替换掉。请改用不含“%”的路径！";

bool interpreterMayRewrite(const std::string& path) {
  const std::size_t first = path.find('%');  // below 0x40: never a GBK trail byte
  return first != std::string::npos && path.find('%', first + 1) != std::string::npos;
}

MainControls MainControls::of(ui::Window& w) {
  return {w,
          w.control("restoreRadio"),
          w.control("ghostBackupRadio"),
          w.control("wimBackupRadio"),
          w.control("imagePathCombo"),
          w.control("savePathEdit"),
          w.control("partitionList"),
          w.control("isoContentList"),
          w.control("patternCombo"),
          w.control("browseButton"),
          w.control("mainExitButton"),
          w.control("mainOkButton"),
          w.control("modeButton"),
          w.control("searchButton"),
          w.control("checkGhostButton"),
          w.control("searchResultList"),
          w.control("depthEdit")};
}

static void setMainControlsEnabled(MainControls& c, bool on) {
  ui::Control* const controls[] = {&c.restoreRadio,   &c.ghostBackupRadio, &c.wimBackupRadio, &c.imagePathCombo,
                                   &c.patternCombo,   &c.partitionList,    &c.browseButton,   &c.mainExitButton,
                                   &c.mainOkButton,   &c.modeButton,       &c.searchButton,   &c.checkGhostButton,
                                   &c.searchResultList, &c.depthEdit,      &c.savePathEdit};
  for (ui::Control* control : controls) control->setEnabled(on);
}

void lockMainControls(MainControls& c) { setMainControlsEnabled(c, false); }
void unlockMainControls(MainControls& c) { setMainControlsEnabled(c, true); }

bool isDriveLetterInUse(platform::FileSystem& files, const std::string& letter) {
  // A search only: the device name makes other path checks answer yes for any letter.
  bool found = false;
  files.enumerate(letter.substr(0, 1) + ":\\nul", [&](const platform::DirEntry&) { found = true; });
  return found;
}

std::string chooseIsoMountLetter(platform::FileSystem& files) {
  for (const char* letter : {"Z", "Y", "W", "A", "B"})
    if (!isDriveLetterInUse(files, letter)) return letter;
  return {};
}

std::string isoMountCommandLine(const std::string& isoToolPath, const std::string& letter,
                                const std::string& fullIsoPath) {
  // Quoted: a blank, "&" or "|" in the ISO's path must reach the mounter as one word.
  return isoToolPath + " /D:" + letter + " /I:\"" + fullIsoPath + "\"";
}

// Whether a row of the partition list is selected; the focus goes there first so the
// user sees where to choose.
static bool partitionChosen(MainControls& c) {
  c.partitionList.focus();
  return c.partitionList.selectedRow() >= 0;
}

static void openWimRestore(Services& s, MainControls& c, const std::string& image) {
  c.window.setVisible(false);
  s.state.imagePath = image;
  s.wim.openRestoreProgress(c.window, c.partitionList);
  c.window.setVisible(true);
}

static void restoreMode(Services& s, MainControls& c) {
  const int selected = c.imagePathCombo.selection();
  const std::string image = selected >= 0 ? c.imagePathCombo.itemText(selected) : std::string();
  if (image.empty()) {
    showBox(s, &c.window, "请选择映像文件！", kWarningBox);
    return;
  }
  if (!partitionChosen(c)) {
    showBox(s, &c.window, "请选择要还原的分区！", kWarningBox);
    return;
  }
  if (!s.os.files.exists(image)) {
    showBox(s, &c.window, "映像文件不存在！", kWarningBox);
    return;
  }
  if (interpreterMayRewrite(image)) {
    showBox(s, &c.window, "映像文件 " + image + kPercentRefusal, kWarningBox);
    return;
  }
  const std::string kind = gbk::toUpperAscii(search::extensionOf(image));
  if (kind == ".GHO") ghostRestore(s, c.window, image);
  else if (kind == ".WIM") openWimRestore(s, c, image);
  else if (kind == ".ISO") mountAndInstallIso(s, c, image);
  else showBox(s, &c.window, "不支持安装的映像格式！", kWarningBox);
}

void mountAndInstallIso(Services& s, MainControls& c, const std::string& isoPath) {
  // Every image found is read from the ISO while the target is written: an ISO on the
  // target partition would be overwritten (or formatted away) by its own install.
  if (onTargetDrive(s.os.files, isoPath, s.state.targetDrive)) {
    showBox(s, &c.window,
            "ISO镜像文件 " + isoPath + " 位于要还原的分区 " + s.state.targetDisplay + " 上,不能安装到该分区！",
            kWarningBox);
    return;
  }
  const std::string letter = chooseIsoMountLetter(s.os.files);
  if (letter.empty()) {
    // Going on would search a drive that does not hold this ISO (the previous mount,
    // or none) and offer its images as this ISO's.
    showBox(s, &c.window, "检测到系统盘符异常,部分功能将无法正常使用！", kErrorBox);
    return;
  }
  s.state.isoMountLetter = letter;
  if (static_cast<double>(search::fileSizeOf(s.os.files, isoPath)) / 1048576.0 - 20.0 <= 0.0000001) {
    showBox(s, &c.window, "无效的ISO镜像文件,请选择正确的ISO镜像文件！", kWarningBox);
    return;
  }
  c.isoContentList.clearItems();
  lockMainControls(c);
  s.state.isoImageCandidates.clear();
  // What the mounter prints is not judged: a failed mount shows up as an empty search.
  runner::runCapturedRun(s.os, isoMountCommandLine(s.state.tools.isoToolPath, letter, s.os.files.fullPath(isoPath)));
  const std::string root = letter + ":\\";
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Gho");
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Wim");
  if (c.isoContentList.count() == 0) {
    unlockMainControls(c);
    showBox(s, &c.window, "错误或不支持的Windows安装镜像,请选择正确的Windows安装镜像！", kErrorBox);
    return;
  }
  for (int i = 0; i < c.isoContentList.count(); ++i) s.state.isoImageCandidates.push_back(c.isoContentList.itemText(i));
  const std::string installWim = letter + ":\\sources\\install.wim";
  unlockMainControls(c);
  // A Windows setup medium: boot.wim and install.wim, and only install.wim installs.
  if (s.state.isoImageCandidates.size() == 2 && s.os.files.exists(installWim)) {
    s.state.imagePath = installWim;
    s.wim.openRestoreProgress(c.window, c.partitionList);
    return;
  }
  InstallListWindow installList(s, c);
  s.ui.runModal(installList, &c.window);
}

// The save path is typed by the user and reaches the engine's command line inside
// double quotes: a quote of its own would end them early and let "&" or "|" run as
// commands. No file name holds one, so such a path is refused.
static bool savePathQuotable(Services& s, MainControls& c, const std::string& save) {
  if (gbk::contains(save, "\"")) {
    showBox(s, &c.window, "保存路径 " + save + " 含有双引号,不是有效的文件路径！", kWarningBox);
    return false;
  }
  if (interpreterMayRewrite(save)) {
    showBox(s, &c.window, "保存路径 " + save + kPercentRefusal, kWarningBox);
    return false;
  }
  return true;
}

static void ghostBackupMode(Services& s, MainControls& c) {
  const std::string save = c.savePathEdit.text();
  if (save.empty()) {
    showBox(s, &c.window, "请输入保存Gho映像文件路径！", kWarningBox);
    return;
  }
  if (!savePathQuotable(s, c, save)) return;
  if (!partitionChosen(c)) {
    showBox(s, &c.window, "请选择要备份的分区！", kWarningBox);
    return;
  }
  ghostBackup(s, c.window, save);
}

static void wimBackupMode(Services& s, MainControls& c) {
  const std::string save = c.savePathEdit.text();
  if (save.empty()) {
    showBox(s, &c.window, "请输入保存Imagex映像文件路径！", kWarningBox);
    return;
  }
  if (!savePathQuotable(s, c, save)) return;
  if (!partitionChosen(c)) {
    showBox(s, &c.window, "请选择要备份的分区！", kWarningBox);
    return;
  }
  c.window.setVisible(false);
  s.wim.openBackupProgress(c.window, save);
  c.window.setVisible(true);
}

void OneKeyAction(Services& s, MainControls& c) {
  if (c.restoreRadio.checked()) restoreMode(s, c);
  else if (c.ghostBackupRadio.checked()) ghostBackupMode(s, c);
  else if (c.wimBackupRadio.checked()) wimBackupMode(s, c);
}

}  // namespace onekey
