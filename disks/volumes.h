// Facts about the mounted volumes: drive roots by kind, drive-type names, the
// physical disk of a volume, and the proposed partition for the boot files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/ui.h"

namespace disks {

// GetDriveTypeA results.
inline constexpr unsigned kDriveRemovable = 2;
inline constexpr unsigned kDriveFixed = 3;
inline constexpr unsigned kDriveRemote = 4;
inline constexpr unsigned kDriveCdRom = 5;
inline constexpr unsigned kDriveRamDisk = 6;

enum RootMode : int {
  kAllRoots = 0,        // fixed, then CD-ROM, then removable, then the rest
  kFixedRoots = 1,
  kCdRomRoots = 2,
  kRemovableRoots = 3,
  kOtherRoots = 4,      // remote, RAM disk, unknown, no root (any other mode too)
};

// Replaces roots by the drive roots (C:\ ...) of the mode, each kind in the
// platform's order; returns their count.
int driveRoots(platform::Platform& os, std::vector<std::string>& roots, int mode);

// The drive roots that hold a WinPE's boot files (\sources\boot.wim beside a boot
// manager: \bootmgr, \boot\bcd or \efi\microsoft\boot\bcd), the running WinPE's
// own medium among them; the drive of the Windows directory (X:) is not one.
std::vector<std::string> winpeBootRoots(platform::Platform& os);

// "硬盘驱动器", "可移动驱动器", ... for a letter text such as C: or a root such as C:\.
std::string driveTypeName(platform::Platform& os, std::string_view letter);

// The lister's disk number (physical drive number + 1) of the volume, -1 when the
// volume does not tell. Rewrites drive to its two-character form (C:\ becomes C:);
// an empty drive stays empty.
int diskNumberOf(platform::Platform& os, std::string& drive);

// True when the list-view cell contains the text, ASCII letter case ignored.
bool cellContains(const ui::Control& list, int row, int column, std::string_view text);

inline constexpr char kRecommendedSuffix[] = " [默认推荐]";

// Finds the first partition (disk:1, whole text) of targetDrive's disk in the
// partition list and selects
// and marks its root in the combo box of drive roots. Rewrites targetDrive like
// diskNumberOf. Leaves the combo box alone when nothing fits.
void markDefaultBootTarget(platform::Platform& os, const ui::Control& partitionList,
                           std::string& targetDrive, ui::Control& rootCombo);

}  // namespace disks
