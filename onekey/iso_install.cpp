#include "onekey/iso_install.h"

#include <vector>

#include "core/image_sets.h"
#include "core/message_box.h"
#include "platform/gbk.h"
#include "onekey/install_list_window.h"
#include "runner/command_runner.h"
#include "search/image_search.h"
#include "wim/restore_window.h"

namespace onekey {

bool isDriveLetterInUse(platform::Volumes& volumes, const std::string& letter) {
  // Not "<letter>:\nul": how a device name at the end of a path resolves changed
  // between Windows 10 and 11. The drive list is what the ISO mounter checks too.
  if (letter.empty()) return false;
  const char wanted = gbk::asciiUpper(letter[0]);
  for (const std::string& root : gbk::split(volumes.logicalDriveStrings(), std::string_view("\0", 1)))
    if (!root.empty() && gbk::asciiUpper(root[0]) == wanted) return true;
  return false;
}

std::string chooseIsoMountLetter(platform::Volumes& volumes) {
  for (const char* letter : {"Z", "Y", "W", "A", "B"})
    if (!isDriveLetterInUse(volumes, letter)) return letter;
  return {};
}

std::string isoMountCommandLine(const std::string& isoToolPath, const std::string& letter,
                                const std::string& fullIsoPath) {
  // Quoted: a blank, "&" or "|" in the ISO's path must reach the mounter as one word.
  return isoToolPath + " /D:" + letter + " /I:\"" + fullIsoPath + "\"";
}

void installFromIso(Services& s, MainControls& c, const core::Request& iso, const core::Facts& facts) {
  const std::string& letter = facts.isoMountLetter;
  c.isoContentList.clearItems();
  lockMainControls(c);
  // What the mounter prints is not judged: a failed mount shows up as an empty search.
  runner::runCaptured(s.os, isoMountCommandLine(s.state.tools.isoToolPath, letter, facts.imageFullPath));
  const std::string root = letter + ":\\";
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Gho");
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Wim");
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Esd");
  search::findFilesInto(s.os.files, s.ui, root, c.isoContentList, "*.Swm");
  if (c.isoContentList.count() == 0) {
    unlockMainControls(c);
    core::showBox(s.ui, &c.window, "错误或不支持的Windows安装镜像,请选择正确的Windows安装镜像！", core::kErrorBox);
    return;
  }
  std::vector<std::string> candidates;
  // A split set is one candidate: its first part.
  for (int i = 0; i < c.isoContentList.count(); ++i)
    if (!core::isLaterSplitPart(s.os.files, c.isoContentList.itemText(i)))
      candidates.push_back(c.isoContentList.itemText(i));
  unlockMainControls(c);
  // A Windows setup medium: boot.wim and the install image, and only the latter installs.
  std::string installImage;
  for (const char* name : {"install.wim", "install.esd", "install.swm"})
    if (installImage.empty() && s.os.files.exists(letter + ":\\sources\\" + name))
      installImage = letter + ":\\sources\\" + name;
  if (candidates.size() == 2 && !installImage.empty()) {
    core::Request wimRequest = iso;
    wimRequest.imagePath = installImage;
    wim::restoreProgressWindow(s, &c.window, c.partitionList, wimRequest, s.afterApply);
    return;
  }
  InstallListWindow installList(s, c, iso, std::move(candidates));
  s.ui.runModal(installList, &c.window);
}

}  // namespace onekey
