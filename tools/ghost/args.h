// The engine's command line, in the console syntax of the classic imaging tools:
//   -clone,mode=pload,src="D:\sys.gho":1,dst=1:2  -crcignore -noide -sure -fx -BATCH
//   -clone,mode=pdump,src=1:2,dst="D:\bak.gho" -z9 ...
//   -CHKIMG,"D:\sys.gho" -sure -fx -BATCH     (the path may also come unquoted)
// Switches are case-insensitive. The line is parsed as one text, not as argv, because
// the quotes matter: they delimit a path that may hold commas, colons and blanks.
#pragma once

#include <string>
#include <string_view>

namespace ghost {

enum class Mode { Restore, Backup, Check };

struct Command {
  Mode mode = Mode::Check;
  std::string imagePath;      // the image read (restore, check) or written (backup)
  unsigned imagePartition = 1;  // restore: which stored partition (":1")
  std::string partition;      // disk:partition designator, e.g. "1:2"
  int level = 0;              // -z1..-z9; 0 = none given (fast default)
  bool crcIgnore = false;
  bool batch = false;
  bool sure = false;
};

struct ParseResult {
  bool ok = false;
  Command command;
  std::string error;  // one GBK line when !ok
};

// `line` is the command line after the program's own name (UTF-8 or GBK bytes).
ParseResult parseCommandLine(std::string_view line);

}  // namespace ghost
