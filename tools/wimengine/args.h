// The WIM engine's command line (ImageX syntax):
//   /info  "file.wim"
//   /apply "file.wim" N target [/ref "folder\\name*.swm"]...
//   /capture source "dest.wim" "name" ["description"] [/flags "EDITION"]
//            [/compress maximum|fast|none] [/temp folder]
// The operation switch comes first, then its positional arguments, then switches in
// any order and letter case. Positional arguments are taken by count, so a Linux path
// that starts with '/' is never mistaken for a switch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wimengine {

enum class Operation { Info, Apply, Capture };
enum class Compression { None, Fast, Maximum };

struct Command {
  Operation operation = Operation::Info;
  std::string wimPath;       // the file read (info, apply) or written (capture)
  std::uint32_t index = 0;   // apply: 1-based image number
  std::string target;        // apply: where the image goes
  std::string source;        // capture: what is imaged
  std::string name;          // capture
  std::string description;   // capture
  std::string flags;         // capture: edition text; blank means none
  Compression compression = Compression::Maximum;
  std::string tempDir;       // capture: empty when not given
  bool verify = false;       // /verify or /check: ask the library to check what it reads
  // apply: /ref patterns naming the other parts of a split set (the name may hold * and ?)
  std::vector<std::string> refPatterns;
  // apply: the other parts of the split set, in part order; found by the engine, not typed
  std::vector<std::string> otherParts;
};

struct ParseResult {
  bool ok = false;
  Command command;
  std::string error;  // GBK text for the user when !ok; never echoes an argument
};

// args excludes the program name.
ParseResult parseCommandLine(const std::vector<std::string>& args);

// Reads an image number: decimal digits only, 1 to 2^32-1. Returns 0 when invalid.
std::uint32_t parseImageIndex(const std::string& text);

// The usage lines printed after an argument error (GBK).
std::vector<std::string> usageLines();

}  // namespace wimengine
