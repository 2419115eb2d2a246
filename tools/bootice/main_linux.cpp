// The Linux build: disk N is the N-th file of VREL_DISKS, /DEVICE=N:M its partition M.
#include <string>
#include <vector>

#include "tools/bootice/disk_set_backend.h"
#include "tools/common/console_out.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::unique_ptr<disk::DiskSet> disks = disk::imageDiskSet(disk::diskListFromEnvironment());
  bootice::DiskSetBackend backend(*disks);
  toolio::ConsoleOut out;
  return bootice::runBootice(args, backend, out);
}
