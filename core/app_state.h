// Program-wide state: created empty at process start, passed to whoever needs it.
#pragma once

#include <map>
#include <string>

namespace core {

struct ToolPaths {
  std::string toolsFolder;  // always ends with a backslash
  std::string ghostEnginePath;
  std::string enginePath;
  // The x86-64 WIM engine, written only for a 32-bit program on a 64-bit host (that
  // host's wimgapi.dll is 64-bit); empty otherwise.
  std::string engine64Path;
  std::string isoToolPath;
  std::string booticePath;
  std::string bcdbootPath;
  std::string listerPath;
};

// The EFI system partition of the restore target's disk (GPT only).
struct EspState {
  std::string searchedFor;   // the targetDrive the search was made for; empty: none made
  bool diskKnown = false;    // the target's disk could be told
  bool found = false;        // that disk has an ESP
  std::string volumeName;    // \\?\Volume{GUID}\ of the ESP
  std::string root;          // its drive root (S:\), empty when it has none
  bool mountedHere = false;  // the program lent it that letter and takes it back
  bool used = false;         // boot repair wrote to it
};

// What the disk lister found risky on a partition.
struct VolumeRisks {
  bool bitLocker = false;   // the boot sector is BitLocker's: the sectors are encrypted
  bool hibernated = false;  // a hiberfil.sys holds a hibernation image
  bool dirty = false;       // NTFS marked as needing a check
  bool any() const { return bitLocker || hibernated || dirty; }
};

// A partition row of the partition list, as selectTargetPartition copies it.
struct Target {
  std::string targetDrive;          // C:\ (the restore window makes its copy C:)
  std::string targetIndex;          // disk:partition, the engines' designator
  std::string targetPartitionType;  // 主分区,MBR ...
  std::string targetDisplay;        // C:\(1:1)
  std::string targetFileSystem;     // NTFS ..., as the list showed it
  std::string targetTotal;          // 59.99GB ..., as the list showed it
  // False when the row's index text is not disk:partition (a dynamic volume row
  // such as "|D:"): it must never reach an engine's command line.
  bool targetIndexUsable = false;
  VolumeRisks risks;  // from the listing the row came from
};

struct AppState {
  ToolPaths tools;
  Target target;             // the row last selected in the partition list
  std::map<std::string, VolumeRisks> listedRisks;  // the last listing's, by disk:partition
  std::string defaultImage;  // the image the start-up search offers first
  EspState esp;
  bool formatBusy = false;  // a FormatEx call is running
};

}  // namespace core
