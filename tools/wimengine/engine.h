// The engine's work independent of the WIM library: it parses the command line,
// drives a backend, and prints what the program reads back (progress lines, the
// success lines, the /info block) or a Chinese error line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/common/scratch_file.h"
#include "tools/wimengine/args.h"
#include "tools/wimengine/errors.h"
#include "tools/wimengine/progress.h"
#include "tools/wimengine/split_set.h"

namespace wimengine {

struct WimSummary {
  std::uint32_t imageCount = 0;
  std::string compression;  // "LZX", "XPRESS", "LZMS" or "None"
  std::uint32_t partNumber = 1;
  std::uint32_t totalParts = 1;
  std::uint32_t bootIndex = 0;
  std::string guid;  // printable form
  std::string xmlUtf8;
};

struct CaptureRequest {
  std::string source;
  std::string wimPath;  // the file to write: the destination's scratch file
  std::string name;
  std::string description;
  std::string flags;
  Compression compression = Compression::Maximum;
  std::string tempDir;  // empty: the library's default
};

// The WIM library and the files around it. A capture writes a scratch file beside
// its destination and renames it when complete (removeFile, replaceFile).
class Backend : public toolio::FileMoves, public PartFiles {
 public:
  // Each gives what failed, or nothing; the library's and the system's codes are
  // turned into the engine's ErrorKind here, where they are met.
  virtual Failure readInfo(const std::string& wimPath, WimSummary& summary) = 0;
  // Must refuse an index beyond the file's image count with indexOutOfRange. For a
  // split set the command's otherParts name every other part, found and checked.
  virtual Failure apply(const Command& command, toolio::Progress& progress) = 0;
  virtual Failure capture(const CaptureRequest& request, toolio::Progress& progress) = 0;
  // Reads every resource of a finished image back and compares its hash.
  virtual Failure verifyImage(const std::string& wimPath) = 0;

  virtual bool isDirectory(const std::string& path) = 0;
  virtual bool fileExists(const std::string& path) = 0;
  // A device, a pipe or another file that is neither a regular file nor a folder (on
  // Windows also the device names such as NUL and CON): never read as a WIM, never
  // replaced by one.
  virtual bool isSpecialFile(const std::string& path) = 0;
  virtual std::int64_t nowMs() = 0;
  // Arguments as the console shows them (GBK on Windows) and as UTF-8 for /info.
  virtual std::string toConsoleText(const std::string& argument) { return argument; }
  virtual std::string toUtf8(const std::string& argument) { return argument; }
};

// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong, 3 a
// capture wrote its image but the image failed the read-back check (it is kept).
inline constexpr int kExitWrittenImageDamaged = 3;
int runEngine(const std::vector<std::string>& args, Backend& backend, toolio::LineSink& out);

}  // namespace wimengine
