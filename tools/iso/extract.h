// Copying files out of an ISO tree into a folder: the GHO and WIM files, with their
// folders kept, so that \sources\install.wim keeps its path. Every name on the way is
// checked before anything is written, and a copy that fails leaves no file behind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/progress.h"
#include "tools/common/scratch_file.h"
#include "tools/iso/volume.h"

namespace iso {

// The target folder. Paths are relative, UTF-8, with '/' between components that
// have already been checked by safeComponent.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool write(const void* data, std::size_t length) = 0;
  // Moves forward over length zero bytes without writing them (a hole where the
  // file system allows it).
  virtual bool skipZeros(std::uint64_t length) = 0;
  // Copies length bytes of the image from offset on into the file, without passing
  // them through this process, where the system can (Linux: copy_file_range). False:
  // nothing was copied, the caller reads and writes them (and names any failure).
  virtual bool copyFrom(ImageSource& image, std::uint64_t offset, std::size_t length) {
    (void)image;
    (void)offset;
    (void)length;
    return false;
  }
  // Sets the final size and closes; false when the data did not reach the disk.
  virtual bool finish(std::uint64_t size) = 0;
};

// Files are written under scratch names and renamed when complete (removeFile and
// replaceFile take relative paths too).
class OutputTree : public toolio::FileMoves {
 public:
  virtual bool folderExists(const std::string& relative) = 0;
  virtual bool createFolder(const std::string& relative) = 0;
  virtual std::unique_ptr<OutputFile> createFile(const std::string& relative) = 0;
  virtual void removeFolder(const std::string& relative) = 0;  // only when empty
  // Free bytes on the target's volume, or UINT64_MAX when unknown.
  virtual std::uint64_t freeBytes() { return UINT64_MAX; }
};

// A name that is safe to create inside the target on Windows and Linux alike: no
// separators, no "." or "..", no drive colon (or NTFS stream), no control or
// reserved characters, not a device name such as CON or NUL.
bool safeComponent(std::string_view name);

bool isImageFileName(std::string_view name);  // *.gho or *.wim, any case

struct PlannedFile {
  std::string path;  // relative, '/'-separated
  const Node* node = nullptr;
};

struct Plan {
  Problem problem = Problem::None;  // UnsafeName
  std::vector<std::string> folders;  // parents first
  std::vector<PlannedFile> files;
  std::uint64_t totalBytes = 0;
};

using FileFilter = std::function<bool(const Node&)>;
Plan planExtraction(const Node& root, const FileFilter& wanted);

struct CopyOutcome {
  Problem problem = Problem::None;  // ImageUnreadable, WriteFailed, DiskFull, Cancelled or ImageCorrupt
  std::size_t filesCopied = 0;
  std::uint64_t bytesCopied = 0;
};

// Copies the planned files, reporting the bytes done and the file being copied; a
// stop the user asks for cancels it. On failure every file this call created is
// removed again, and so are the folders it created, so the target is as it was.
CopyOutcome copyPlan(ImageSource& source, const Plan& plan, OutputTree& out, toolio::Progress& progress);

}  // namespace iso
