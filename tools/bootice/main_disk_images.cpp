// The boot-record writer over the disk images named in VREL_DISKS: the Linux build,
// and the simulated WinPE's Windows build. Disk N is the N-th image, /DEVICE=N:M its
// partition M; drive letters name no image and are refused, so a simulated run can
// never reach the machine's own disks. The shipped Windows build is main_win32.cpp.
#include <string>
#include <vector>

#include "tools/bootice/disk_set_backend.h"
#include "tools/common/console_out.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::unique_ptr<disk::DiskSet> disks = disk::environmentDiskSet();
  bootice::DiskSetBackend backend(*disks);
  toolio::ConsoleOut out;
  return bootice::runBootice(args, backend, out);
}
