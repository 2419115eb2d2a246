// Image files and their spans. An image larger than its destination can hold in one
// file (FAT32: under 4 GiB) continues in span files named <image>.002, <image>.003,
// ...; each span starts with a 16-byte span header (magic "VGSP", its number, the
// image id) so a stale span of another image is never read as part of this one.
// The image's logical byte stream, and its checksum, exclude those span headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/scratch_file.h"
#include "tools/ghost/errors.h"

namespace ghost {

// The platform's file code says what failed in the engine's own words: reading
// gives ImageReadError, writing DiskFull or ImageWriteFailed, opening ImageMissing,
// ImageNotAFile or ImageUnreadable, creating DiskFull or DestinationUncreatable.
class File {
 public:
  virtual ~File() = default;
  // Sequential. read sets `got` (less than length only at the end of the file).
  virtual Problem read(void* buffer, std::size_t length, std::size_t& got) = 0;
  virtual Problem write(const void* buffer, std::size_t length) = 0;
  // Pushes written data to the disk and closes.
  virtual Problem finish() = 0;
  // Files opened for reading: their length, and a move of the read position.
  virtual std::uint64_t size() = 0;
  virtual Problem seek(std::uint64_t offset) = 0;
};

enum class PathKind { Missing, RegularFile, Folder, Other };

// Image files, written under scratch names until the image is complete.
class Files : public toolio::FileMoves {
 public:
  // Only regular files are opened: a pipe would block the open, a device is no image.
  virtual std::unique_ptr<File> openRead(const std::string& path, Problem& problem) = 0;
  virtual std::unique_ptr<File> create(const std::string& path, Problem& problem) = 0;
  // Other: a device (Windows names such as NUL and CON, and \\.\ paths, included), a
  // pipe or any other special file.
  virtual PathKind kindOf(const std::string& path) = 0;
  bool exists(const std::string& path) { return kindOf(path) != PathKind::Missing; }
  // The largest file the destination's file system holds (0: no limit that matters).
  virtual std::uint64_t maxFileSize(const std::string& path) = 0;
};

constexpr std::size_t kSpanHeaderSize = 16;
constexpr std::uint64_t kFat32SpanLimit = 0xFFFFFFFFull - 0xFFFF;  // 4 GiB - 64 KiB

// The largest file of a destination whose file system the system named (FAT12/16/32
// hold files below 4 GiB; exFAT and NTFS have no limit that matters), or could not
// name: splitting an image needlessly harms less than failing at 4 GiB.
std::uint64_t maxFileSizeOf(const std::optional<std::string>& fileSystemName);

// The name of span `number` (1 is the image's own name).
std::string spanName(const std::string& image, unsigned number);

class SpanWriter {
 public:
  SpanWriter(Files& files, std::string image, std::uint64_t imageId, std::uint64_t spanLimit);
  ~SpanWriter();  // an unfinished image's scratch files are removed
  Problem open();
  Problem write(const void* data, std::size_t length);
  // Finishes the files, then gives them their final names and removes stale spans
  // an earlier, longer image of the same name left behind, and the scratch spans a
  // killed backup of that name left.
  Problem commit();
  std::uint32_t crc() const { return crc_; }
  unsigned spans() const { return unsigned(spans_.size()); }

 private:
  Problem startSpan();
  // A write that fails before the image's first byte is on disk could not create it.
  Problem problemOf(Problem written) const;
  Files& files_;
  std::string image_;
  std::uint64_t imageId_;
  std::uint64_t limit_;
  std::vector<toolio::ScratchFile> spans_;  // written so far, the last one open
  std::unique_ptr<File> file_;
  std::uint64_t inFile_ = 0;
  std::uint32_t crc_ = 0;
};

class SpanReader {
 public:
  SpanReader(Files& files, std::string image);
  Problem open();
  // Span files are accepted only once the image id is known (from the header).
  void setImageId(std::uint64_t id) { imageId_ = id; haveId_ = true; }
  // Reads exactly length bytes; ImageTruncated when the image ends first.
  Problem read(void* data, std::size_t length);
  // Moves on over length bytes without reading them (they are left out of crc()).
  Problem skip(std::uint64_t length);
  std::uint32_t crc() const { return crc_; }
  std::uint64_t position() const { return position_; }
  // Bytes of the image in the span files opened so far.
  std::uint64_t bytesSeen() const { return seen_; }

 private:
  Problem nextSpan();
  Problem startFile(std::unique_ptr<File> file, std::uint64_t headerBytes);
  Files& files_;
  std::string image_;
  std::unique_ptr<File> file_;
  std::uint64_t inFile_ = 0;    // read position in the open file
  std::uint64_t fileSize_ = 0;  // its length
  std::uint64_t seen_ = 0;
  unsigned span_ = 1;
  std::uint64_t imageId_ = 0;
  bool haveId_ = false;
  std::uint32_t crc_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace ghost
