// Program-wide state: created empty at process start, passed to whoever needs it.
#pragma once

#include <string>
#include <vector>

namespace core {

struct ToolPaths {
  std::string toolsFolder;  // always ends with a backslash
  std::string ghostEnginePath;
  std::string enginePath;
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

struct AppState {
  ToolPaths tools;

  // The partition row the user selected in the partition list.
  std::string targetDrive;          // C:\ (the restore window rewrites it to C:)
  std::string targetIndex;          // disk:partition, the engines' designator
  std::string targetPartitionType;  // 主分区,MBR ...
  std::string targetDisplay;        // C:\(1:1)
  // False when the selected row's index text is not disk:partition (a dynamic
  // volume row such as "|D:"): it must never reach an engine's command line.
  bool targetIndexUsable = false;

  std::string imagePath;
  int imageIndex = 1;
  std::string defaultImage;
  std::string isoMountLetter;
  std::vector<std::string> isoImageCandidates;
  std::vector<std::string> fixedDriveRoots;

  EspState esp;
  bool formatBusy = false;  // a FormatEx call is running
};

}  // namespace core
