// The carried tools: file names in the tools folder and their place in ToolPaths.
#pragma once

#include <string>

#include "core/app_state.h"

namespace core {

struct CarriedTool {
  const char* fileName;
  std::string ToolPaths::*path;  // where deployment records its full path
  const char* role;
};

// In deployment order.
inline constexpr CarriedTool kDeployed[] = {
    {"GhostVrelLite.exe", &ToolPaths::ghostEnginePath, "GHO disk-imaging engine"},
    {"ZeDadaviZezi.exe", &ToolPaths::enginePath, "WIM engine"},
    {"ISO.exe", &ToolPaths::isoToolPath, "ISO mounter"},
    {"bootice.exe", &ToolPaths::booticePath, "boot-record tool"},
    {"bcdboot.exe", &ToolPaths::bcdbootPath, "boot-configuration tool"},
    {"pzdir.exe", &ToolPaths::listerPath, "disk and partition lister"},
};

// The 32-bit program also carries the x86-64 WIM engine under this name. On a 64-bit
// host it is written as ZeDadaviZezi.exe into the tools folder's x64 subfolder: the
// engine guard and the messages know the engine by its file name.
inline constexpr char kEngine64Payload[] = "ZeDadaviZezi64.exe";
inline constexpr char kEngine64Folder[] = "x64";

// The engines write a file under its name with this suffix and rename it only when it
// is complete: one left after a run means the run was cut short.
inline constexpr char kEngineScratchSuffix[] = ".vrelpart";

}  // namespace core
