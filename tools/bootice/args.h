// The boot-record writer's command line (the BOOTICE switches the program uses):
//   /DEVICE=C:\ /mbr /install [/type=nt60|nt52] [/quiet]
//   /DEVICE=C:\ /pbr /install [/type=bootmgr|ntldr] [/quiet]
//   /DEVICE=C:\ /partitions /activate [/quiet]
// Switches in any order and letter case. The tool never asks anything, so /quiet
// is accepted and changes nothing.
#pragma once

#include <string>
#include <vector>

namespace bootice {

enum class Action { InstallMbr, InstallPbr, Activate };
enum class BootType { Nt60, Nt52, Bootmgr, Ntldr };

struct Command {
  Action action = Action::InstallMbr;
  std::string device;  // as given after /DEVICE=
  BootType type = BootType::Nt60;
  bool quiet = false;
};

struct ParseResult {
  bool ok = false;
  Command command;
  std::string error;  // GBK text for the user when !ok
};

// args excludes the program name.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// The usage lines printed after an argument error (GBK).
std::vector<std::string> usageLines();

// "BOOTMGR" or "NTLDR": the loader a /pbr type asks for.
const char* loaderName(BootType type);

}  // namespace bootice
