// The GHO image format written and read by this engine (described in FORMAT.md):
//   header (128 bytes) | used-block map (zlib) | chunk records ... | end record
// All numbers are little-endian. Every part carries a CRC32, so a damaged image is
// recognised before anything is written to a disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/fs.h"
#include "tools/ghost/errors.h"

namespace ghost {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kChunkHeaderSize = 32;
constexpr std::size_t kEndRecordSize = 32;
// Version 2 added chunks of zeros (method 2); images of version 1 are read as ever.
constexpr std::uint32_t kFormatVersion = 2;
constexpr std::uint32_t kMaxChunkSize = 64u << 20;
constexpr std::uint64_t kMaxBlockCount = 1ull << 32;

struct ImageHeader {
  std::uint32_t version = kFormatVersion;  // as read; images are always written in the newest
  std::uint64_t imageId = 0;        // random; ties the spans of one image together
  fs::Kind fileSystem = fs::Kind::Raw;  // NTFS and FAT map their used clusters; anything else is RAW
  std::uint32_t sectorSize = 512;
  std::uint32_t blockSize = 0;      // bytes per map bit
  std::uint32_t clusterSize = 0;    // the file system's, for information
  std::uint64_t sourceSize = 0;     // bytes of the source partition
  std::uint64_t partitionStart = 0; // first sector of the source partition on its disk
  std::uint64_t blockCount = 0;     // ceil(sourceSize / blockSize)
  std::uint64_t usedBlocks = 0;
  std::uint64_t dataBytes = 0;      // bytes of all used blocks (the last block may be short)
  std::uint32_t chunkSize = 0;      // raw bytes per chunk, the last may be shorter
  std::uint64_t chunkCount = 0;
  std::uint32_t level = 0;          // zlib level used (informational)
  std::uint64_t mapRawSize = 0;     // ceil(blockCount / 8)
  std::uint64_t mapStoredSize = 0;  // bytes of the zlib stream that follows the header
  std::uint32_t mapCrc = 0;         // CRC32 of that stream
  std::uint64_t createdUnix = 0;
};

std::vector<std::uint8_t> encodeHeader(const ImageHeader& header);

// Checks magic (ImageNotOurs), version (ImageVersion), checksum and that every field
// is within reason and agrees with the others (ImageHeaderDamaged), so that no later
// size computation can overflow or run away.
Problem decodeHeader(const std::uint8_t* bytes, std::size_t length, ImageHeader& header);

// The map: bit i (LSB first in each byte) set when block i is stored.
std::vector<std::uint8_t> encodeMap(const std::vector<std::uint8_t>& map, int level);
// Inflates and checks the map against the header (CRC, size, used count, data bytes).
bool decodeMap(const ImageHeader& header, const std::vector<std::uint8_t>& stored,
               std::vector<std::uint8_t>& map);

enum class ChunkMethod : std::uint32_t { Stored = 0, Zlib = 1, Zeros = 2 };

struct ChunkHeader {
  std::uint32_t index = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t storedSize = 0;
  ChunkMethod method = ChunkMethod::Stored;
  std::uint32_t rawCrc = 0;  // CRC32 of the uncompressed bytes
};

void encodeChunkHeader(const ChunkHeader& chunk, std::uint8_t* out);
bool decodeChunkHeader(const std::uint8_t* bytes, const ImageHeader& image,
                       std::uint64_t expectedIndex, ChunkHeader& chunk);

struct EndRecord {
  std::uint64_t chunkCount = 0;
  std::uint64_t dataBytes = 0;
  std::uint32_t imageCrc = 0;  // CRC32 of every byte of the image before this record
};

void encodeEndRecord(const EndRecord& end, std::uint8_t* out);
bool decodeEndRecord(const std::uint8_t* bytes, EndRecord& end);

// Compresses raw into out (zlib at level) and falls back to storing when that does
// not shrink it; a chunk of zeros stores nothing (out is left empty). Returns the
// method used.
ChunkMethod compressChunk(const std::uint8_t* raw, std::size_t rawSize, int level,
                          std::vector<std::uint8_t>& out);
// Inflates stored bytes into exactly rawSize bytes; false when the data is damaged.
// A chunk of zeros leaves raw empty (its bytes are known without a buffer).
bool expandChunk(const ChunkHeader& chunk, const std::uint8_t* stored,
                 std::vector<std::uint8_t>& raw);

// Whether every byte is zero; stops at the first that is not.
bool allZeros(const std::uint8_t* bytes, std::size_t length);
// The CRC32 of `length` zero bytes.
std::uint32_t zerosCrc(std::uint64_t length);

// Raw bytes covered by block i of the header's partition (the last one may be short).
std::uint64_t blockLength(const ImageHeader& header, std::uint64_t block);

}  // namespace ghost
