// Every line the boot-record writer prints about an operation, success or failure:
// one vocabulary, its Chinese texts in one table (report.cpp).
#pragma once

#include <string>

namespace bootice {

enum class Result {
  None,  // nothing to say yet: the operation goes on
  // finding /DEVICE
  NoDevice,
  NotAHardDisk,
  NeedsAdministrator,
  Unopenable,
  SpansDisks,
  NotOnHardDisk,
  WholeDiskVolume,
  DiskOfVolumeUnopenable,
  UnknownDevice,
  LetterOnImages,
  UnknownDeviceOnImages,
  DiskUnopenable,
  LayoutUnreadable,
  PartitionNotFound,
  // writing sector 0
  WriteFailed,
  ReadBackFailed,
  ReadBackDiffers,
  NoTable,
  // /mbr /install
  GptHasNoMbr,
  MbrUnreadable,
  MbrWritten,
  // /partitions /activate
  GptHasNoActive,
  LogicalCannotBeActive,
  TableUnreadable,
  Activated,
  // /pbr /install
  PbrUnreadable,
  PbrBlank,
  PbrNoMark,
  PbrLoadsIt,
  PbrLoadsOther,
  PbrForeign,
};

struct Report {
  Result result = Result::None;
  std::string device;      // as the user named it (GBK)
  std::string fileSystem;  // of the partition's boot sector, "未知" when unknown
  std::string loader;      // the loader asked for: BOOTMGR or NTLDR
  std::string other;       // the loader the boot sector names instead
  std::string detail;      // the disk layer's own words
  int disk = 0;            // DiskUnopenable
  unsigned long code = 0;  // Unopenable: the system's error code

  bool ok() const;
};

Report report(Result result, std::string device = {});

// The GBK line, e.g. "已将 C:\ 设为活动分区。".
std::string lineOf(const Report& report);

}  // namespace bootice
