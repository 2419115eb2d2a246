// The ISO tool's work independent of the OS: its command line, the copy of the GHO
// and WIM files out of an image (the /X switch, and the mount fallback where the
// system cannot attach ISO files) and the record of what is mounted. What goes wrong
// is a Problem (problem.h).
//
//   ISO.exe /D:Z /I:"D:\win10.iso"    mount on Z: (the path may be unquoted too)
//   ISO.exe /q                        unmount everything this tool mounted
//   ISO.exe /X:"D:\out" /I:"a.iso"    copy the GHO and WIM files, folders kept
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/iso/extract.h"
#include "tools/iso/problem.h"
#include "tools/iso/volume.h"

namespace iso {

struct Request {
  enum class Kind { Invalid, Mount, Unmount, Extract, List } kind = Kind::Invalid;
  char letter = 0;     // upper case
  std::string image;   // as given, quotes removed
  std::string folder;  // /X target
};

// Parses what follows the program name. "/I:" takes a quoted path, or everything to
// the end of the line when it is not quoted (paths with blanks arrive unquoted).
Request parseRequest(std::string_view tail);

// One thing the tool has mounted, remembered until "/q" undoes it.
struct MountRecord {
  enum class Kind { VirtualDisk, CopiedFolder } kind = Kind::VirtualDisk;
  char letter = 0;
  std::string path;  // the ISO file (virtual disk) or the folder of copies
};
std::string formatMountRecords(const std::vector<MountRecord>& records);
std::vector<MountRecord> parseMountRecords(std::string_view text);


// What the OS provides. The Linux build offers the copy and the listing; mounting
// belongs to the Windows build.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual bool fileExists(const std::string& path) = 0;
  virtual std::unique_ptr<ImageSource> openImage(const std::string& path) = 0;
  // Creates the folder (and its parents) when missing; null when that fails.
  virtual std::unique_ptr<OutputTree> openFolder(const std::string& path) = 0;
  // Removes a folder tree this tool created earlier.
  virtual void removeTree(const std::string& path) { (void)path; }
  // Runs a copy of totalBytes; the Windows build shows its progress in a window.
  virtual void withProgress(std::uint64_t totalBytes, const std::function<void(toolio::Progress&)>& copy) {
    (void)totalBytes;
    toolio::NoProgress none;
    copy(none);
  }

  // Mounting: the system's own ISO attach first, then copies mapped to the letter.
  virtual bool letterInUse(char letter) { (void)letter; return false; }
  virtual bool attachIso(char letter, const std::string& image) {
    (void)letter;
    (void)image;
    return false;
  }
  // False when the system would not let go of the image (some program still has
  // its files open): the letter and the record stay.
  virtual bool detachIso(char letter, const std::string& image) {
    (void)letter;
    (void)image;
    return true;
  }
  // Candidate folders for the copies, best first (beside the ISO, then the
  // temporary folder); each must not exist yet.
  virtual std::vector<std::string> copyFolderCandidates(const std::string& image) {
    (void)image;
    return {};
  }
  virtual bool mapLetter(char letter, const std::string& folder) {
    (void)letter;
    (void)folder;
    return false;
  }
  virtual void unmapLetter(char letter, const std::string& folder) {
    (void)letter;
    (void)folder;
  }
  virtual bool canMount() { return false; }
  virtual std::string readMountRecords() { return {}; }
  virtual bool writeMountRecords(const std::string& text) {
    (void)text;
    return true;
  }
};

// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
int runIsoTool(std::string_view commandTail, Backend& backend, toolio::LineSink& out);

}  // namespace iso
