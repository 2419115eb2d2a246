#include "disks/volumes.h"

#include "platform/gbk.h"

namespace disks {

int driveRoots(platform::Platform& os, std::vector<std::string>& roots, int mode) {
  std::vector<std::string> fixed, cdrom, removable, other;
  std::vector<std::string> pieces = gbk::split(os.volumes.logicalDriveStrings(), std::string_view("\0", 1));
  for (const std::string& root : pieces) {
    if (root.empty()) continue;  // the terminating zero, or a buffer cut short
    switch (os.volumes.driveType(root)) {
      case kDriveRemovable: removable.push_back(root); break;
      case kDriveFixed: fixed.push_back(root); break;
      case kDriveCdRom: cdrom.push_back(root); break;
      default: other.push_back(root); break;
    }
  }
  roots.clear();
  auto append = [&roots](const std::vector<std::string>& kind) { roots.insert(roots.end(), kind.begin(), kind.end()); };
  switch (mode) {
    case kAllRoots:
      append(fixed);
      append(cdrom);
      append(removable);
      append(other);
      break;
    case kFixedRoots: append(fixed); break;
    case kCdRomRoots: append(cdrom); break;
    case kRemovableRoots: append(removable); break;
    default: append(other); break;
  }
  return static_cast<int>(roots.size());
}

std::vector<std::string> winpeBootRoots(platform::Platform& os) {
  const std::string windows = os.system.windowsDirectory();
  std::vector<std::string> found;
  for (const std::string& root : gbk::split(os.volumes.logicalDriveStrings(), std::string_view("\0", 1))) {
    if (root.size() < 2 || (windows.size() >= 2 && gbk::equalsIgnoreCase(root.substr(0, 2), windows.substr(0, 2))))
      continue;
    if (!os.files.exists(root + "sources\\boot.wim")) continue;
    for (const char* manager : {"bootmgr", "boot\\bcd", "efi\\microsoft\\boot\\bcd"}) {
      if (os.files.exists(root + manager)) {
        found.push_back(root);
        break;
      }
    }
  }
  return found;
}

std::string driveTypeName(platform::Platform& os, std::string_view letter) {
  std::string root(letter);
  // GetDriveTypeA wants a root; a bare "C:" would name the drive's current directory.
  if (!gbk::endsWithBackslash(root)) root += '\\';
  switch (os.volumes.driveType(root)) {
    case kDriveRemovable: return "可移动驱动器";
    case kDriveFixed: return "硬盘驱动器";
    case kDriveRemote: return "网络驱动器";
    case kDriveCdRom: return "光盘驱动器";
    case kDriveRamDisk: return "RAM驱动器";
    default: return "未知驱动器";
  }
}

int diskNumberOf(platform::Platform& os, std::string& drive) {
  // Without a letter there is no volume to ask; ":" alone would only mislead later readers.
  if (drive.empty()) return -1;
  drive = drive.substr(0, gbk::charLength(drive, 0)) + ":";
  std::optional<unsigned long> device = os.volumes.storageDeviceNumber("\\\\.\\" + drive);
  if (!device) return -1;
  return static_cast<int>(*device) + 1;
}

bool cellContains(const ui::Control& list, int row, int column, std::string_view text) {
  return gbk::contains(list.cell(row, column), text, true);
}

void markDefaultBootTarget(platform::Platform& os, const ui::Control& partitionList,
                           std::string& targetDrive, ui::Control& rootCombo) {
  const int rows = partitionList.rowCount();
  if (rows == 0) return;
  // The lister numbers disks like the storage stack, plus one: "2:1" is the first
  // partition of PhysicalDrive1.
  const std::string key = std::to_string(diskNumberOf(os, targetDrive)) + ":1";
  std::string bootRoot;
  bool found = false;
  for (int row = 0; row < rows && !found; ++row) {
    // The whole disk:partition text must match: "2:1" is contained in "12:1" and
    // "2:10", which lie elsewhere, and a boot target on the wrong disk cannot boot.
    if (partitionList.cell(row, 1) != key) continue;
    bootRoot = partitionList.cell(row, 0);
    found = true;
  }
  // A first partition without a letter is in no combo box; an empty prefix would
  // match and mark whichever root comes first.
  if (!found || bootRoot.empty()) return;
  const int item = rootCombo.selectByPrefix(bootRoot);
  if (item < 0) return;
  rootCombo.setItemText(item, rootCombo.itemText(item) + kRecommendedSuffix);
  rootCombo.setSelection(item);  // rewriting an item's text may drop the selection
}

}  // namespace disks
