// A read-only view of the file tree inside an ISO image: ISO 9660 with Joliet or
// Rock Ridge names, or UDF (1.02 to 2.01), which Windows installation images use
// beside a stub ISO 9660 tree. Nothing here writes; every structure read from the
// image is checked against the image's size and the loop guards before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/iso/problem.h"

namespace iso {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly length bytes at offset; false on any failure or short read.
  virtual bool read(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  // How many bytes from offset (at most length) are known to read as zeros without
  // reading them: the holes of a sparse image file. 0 when unknown.
  virtual std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) {
    (void)offset;
    (void)length;
    return 0;
  }
};

// A piece of a file's data: bytes of the image, or a run of zeros (UDF extents that
// are allocated but not recorded, or not allocated at all).
struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool zeros = false;
};

struct Node {
  std::string name;  // UTF-8, version suffix (";1") removed
  bool directory = false;
  bool regular = false;  // false for links, devices and other specials
  std::uint64_t size = 0;
  std::vector<Extent> extents;  // cover at least size bytes, in file order
  std::string embedded;         // UDF data kept inside the file entry itself
  std::vector<Node> children;
};

enum class Format { Iso9660, Joliet, RockRidge, Udf };


struct Volume {
  Format format = Format::Iso9660;
  Node root;
};

// Guards against images built to exhaust the reader.
struct Limits {
  int maxDepth = 200;
  std::size_t maxEntries = 2'000'000;
  std::uint64_t maxDirectoryBytes = 64ull << 20;
  int maxDescriptorChain = 4096;  // UDF allocation-extent and Rock Ridge continuation links
};

struct ReadOutcome {
  Problem problem = Problem::None;  // None, ImageUnreadable, NotAnImage, ImageCorrupt or ImageUnsupported
  Volume volume;
};

// Reads the whole tree. UDF wins when the image has it (its tree is the real one on
// Windows installation images), then Rock Ridge, then Joliet, then plain ISO 9660.
ReadOutcome readVolume(ImageSource& source, const Limits& limits = {});

const char* formatName(Format format);

// Decoders exposed for tests.
std::uint16_t udfCrc(const unsigned char* data, std::size_t length);
// OSTA compressed unicode (compression id 8 or 16) to UTF-8; false when malformed.
bool decodeOstaName(const unsigned char* data, std::size_t length, std::string& out);
// Removes ";version" and a dot left before it ("README.;1" becomes "README").
std::string stripIsoVersion(std::string name);

}  // namespace iso
