// bcdboot.exe: hands its arguments, exactly as typed, to the running system's own
// boot-configuration tool in the system directory (never found through the search
// path, so it cannot start itself), lets its output through and returns its exit
// code. Where that tool is missing it says so without the words the program takes
// for success ("successfully", "成功").
#pragma once

#include <string>
#include <string_view>

#include "tools/common/console_out.h"

namespace bcdboot {

// System directory (with or without a trailing backslash) + "\bcdboot.exe".
std::u16string systemToolPath(std::u16string_view systemDirectory);
// The child's command line: the tool's path quoted, then the arguments unchanged.
std::u16string childCommandLine(std::u16string_view toolPath, std::u16string_view arguments);

// Where the system's tool lies as this process must name it: the system directory,
// or for a 32-bit process on a 64-bit host (WOW64) "<Windows>\Sysnative", the
// documented alias of the native System32, which would otherwise be redirected to
// SysWOW64 (where there is no bcdboot). Empty when it cannot be told.
class Backend;
std::u16string nativeSystemDirectory(Backend& backend);

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::u16string systemDirectory() = 0;
  virtual std::u16string windowsDirectory() = 0;
  // A 32-bit process on a 64-bit host.
  virtual bool isWow64() = 0;
  virtual bool fileExists(const std::u16string& path) = 0;
  // True when path is this very program (same file), or when this program was
  // itself started by the launcher: either way running it would recurse.
  virtual bool wouldRecurse(const std::u16string& path) = 0;
  // Runs the tool with the given command line, its output going where ours goes.
  // Returns its exit code, or -1 when it could not be started.
  virtual long run(const std::u16string& path, const std::u16string& commandLine) = 0;
};

int runLauncher(std::u16string_view arguments, Backend& backend, toolio::LineSink& out);

}  // namespace bcdboot
