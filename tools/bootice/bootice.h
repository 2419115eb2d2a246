// The boot-record writer's work independent of the OS: it parses the command line,
// finds the disk and partition /DEVICE names through a backend, and writes or checks
// the boot records, printing one GBK line about the outcome (report.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/bootice/report.h"
#include "tools/common/disk.h"

namespace bootice {

// What /DEVICE names, opened for reading and writing.
class Target {
 public:
  virtual ~Target() = default;
  virtual disk::Device& disk() = 0;
  // The partition's number on that disk, in the numbering of disk::readLayout.
  virtual int partitionNumber() const = 0;
  // Takes the volume for exclusive use until the target is closed; false when
  // something else holds it open.
  virtual bool lockVolume() = 0;
  // Tells the system that the partition table on the disk changed.
  virtual void tableChanged() {}
};

class Backend {
 public:
  virtual ~Backend() = default;
  // The target /DEVICE names, or nullptr and why not.
  virtual std::unique_ptr<Target> open(const std::string& device, Report& failure) = 0;
};

// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
int runBootice(const std::vector<std::string>& args, Backend& backend, toolio::LineSink& out);

}  // namespace bootice
