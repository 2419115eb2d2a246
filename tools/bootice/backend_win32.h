// The Windows backend: /DEVICE names a volume by its drive letter (C:\, C: or C),
// or a partition as N:M (disk N = PhysicalDrive(N-1)). The volume's disk and
// partition come from the system; the disk is written through \\.\PhysicalDriveN.
#pragma once

#include "tools/bootice/bootice.h"

namespace bootice {

class Win32Backend : public Backend {
 public:
  std::unique_ptr<Target> open(const std::string& device, Report& failure) override;
};

}  // namespace bootice
