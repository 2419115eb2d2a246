#include "tools/ghost/image_format.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <new>

#include "tools/common/crc32.h"
#include "tools/common/le_bytes.h"

namespace ghost {

namespace {

const std::uint8_t kMagic[8] = {'V', 'R', 'E', 'L', 'G', 'H', 'O', 0x1A};
const std::uint8_t kChunkMagic[4] = {'C', 'H', 'N', 'K'};
const std::uint8_t kEndMagic[4] = {'G', 'E', 'N', 'D'};

using toolio::crc32;
using toolio::le32;
using toolio::le64;
using toolio::putLe32;
using toolio::putLe64;

bool isPowerOfTwo(std::uint64_t v) { return v && !(v & (v - 1)); }

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b ? 1 : 0); }

// Field offsets in the 128-byte header.
enum : std::size_t {
  kOffVersion = 8,
  kOffHeaderSize = 12,
  kOffImageId = 16,
  kOffFs = 24,
  kOffSectorSize = 28,
  kOffBlockSize = 32,
  kOffClusterSize = 36,
  kOffSourceSize = 40,
  kOffPartitionStart = 48,
  kOffBlockCount = 56,
  kOffUsedBlocks = 64,
  kOffDataBytes = 72,
  kOffChunkSize = 80,
  kOffLevel = 84,
  kOffChunkCount = 88,
  kOffMapRawSize = 96,
  kOffMapStoredSize = 104,
  kOffMapCrc = 112,
  kOffCreated = 116,
  kOffHeaderCrc = 124,
};

}  // namespace

std::vector<std::uint8_t> encodeHeader(const ImageHeader& h) {
  std::vector<std::uint8_t> out(kHeaderSize, 0);
  std::uint8_t* p = out.data();
  std::memcpy(p, kMagic, 8);
  putLe32(p + kOffVersion, kFormatVersion);
  putLe32(p + kOffHeaderSize, kHeaderSize);
  putLe64(p + kOffImageId, h.imageId);
  putLe32(p + kOffFs, std::uint32_t(h.fileSystem));
  putLe32(p + kOffSectorSize, h.sectorSize);
  putLe32(p + kOffBlockSize, h.blockSize);
  putLe32(p + kOffClusterSize, h.clusterSize);
  putLe64(p + kOffSourceSize, h.sourceSize);
  putLe64(p + kOffPartitionStart, h.partitionStart);
  putLe64(p + kOffBlockCount, h.blockCount);
  putLe64(p + kOffUsedBlocks, h.usedBlocks);
  putLe64(p + kOffDataBytes, h.dataBytes);
  putLe32(p + kOffChunkSize, h.chunkSize);
  putLe32(p + kOffLevel, h.level);
  putLe64(p + kOffChunkCount, h.chunkCount);
  putLe64(p + kOffMapRawSize, h.mapRawSize);
  putLe64(p + kOffMapStoredSize, h.mapStoredSize);
  putLe32(p + kOffMapCrc, h.mapCrc);
  putLe64(p + kOffCreated, h.createdUnix);
  putLe32(p + kOffHeaderCrc, crc32(p, kOffHeaderCrc));
  return out;
}

Problem decodeHeader(const std::uint8_t* p, std::size_t length, ImageHeader& h) {
  if (length < kHeaderSize || std::memcmp(p, kMagic, 8) != 0) return Problem::ImageNotOurs;
  h.version = le32(p + kOffVersion);
  if (h.version < 1 || h.version > kFormatVersion || le32(p + kOffHeaderSize) != kHeaderSize)
    return Problem::ImageVersion;
  if (le32(p + kOffHeaderCrc) != crc32(p, kOffHeaderCrc)) return Problem::ImageHeaderDamaged;
  h.imageId = le64(p + kOffImageId);
  std::uint32_t fs = le32(p + kOffFs);
  h.sectorSize = le32(p + kOffSectorSize);
  h.blockSize = le32(p + kOffBlockSize);
  h.clusterSize = le32(p + kOffClusterSize);
  h.sourceSize = le64(p + kOffSourceSize);
  h.partitionStart = le64(p + kOffPartitionStart);
  h.blockCount = le64(p + kOffBlockCount);
  h.usedBlocks = le64(p + kOffUsedBlocks);
  h.dataBytes = le64(p + kOffDataBytes);
  h.chunkSize = le32(p + kOffChunkSize);
  h.level = le32(p + kOffLevel);
  h.chunkCount = le64(p + kOffChunkCount);
  h.mapRawSize = le64(p + kOffMapRawSize);
  h.mapStoredSize = le64(p + kOffMapStoredSize);
  h.mapCrc = le32(p + kOffMapCrc);
  h.createdUnix = le64(p + kOffCreated);

  // A checksum that matches does not make the values sane (a crafted file): check
  // every relation the reader relies on.
  // Only the kinds a backup maps are ever written (exFAT is imaged as RAW).
  bool ok = fs <= std::uint32_t(fs::Kind::Fat32);
  h.fileSystem = fs::Kind(fs);
  ok = ok && isPowerOfTwo(h.sectorSize) && h.sectorSize >= 512 && h.sectorSize <= 4096;
  ok = ok && isPowerOfTwo(h.blockSize) && h.blockSize >= h.sectorSize && h.blockSize <= kMaxChunkSize;
  ok = ok && h.sourceSize > 0 && h.sourceSize % h.sectorSize == 0 && h.sourceSize < (1ull << 56);
  ok = ok && h.blockCount == ceilDiv(h.sourceSize, h.blockSize) && h.blockCount <= kMaxBlockCount;
  ok = ok && h.usedBlocks <= h.blockCount;
  ok = ok && h.dataBytes <= h.usedBlocks * std::uint64_t(h.blockSize);
  ok = ok && h.chunkSize > 0 && h.chunkSize <= kMaxChunkSize;
  ok = ok && h.chunkCount == ceilDiv(h.dataBytes, h.chunkSize) && h.chunkCount < (1ull << 32);
  ok = ok && h.level <= 9;
  ok = ok && h.mapRawSize == ceilDiv(h.blockCount, 8);
  // Deflate never grows data by more than a small fraction.
  ok = ok && h.mapStoredSize > 0 && h.mapStoredSize <= h.mapRawSize + h.mapRawSize / 100 + 64;
  return ok ? Problem::None : Problem::ImageHeaderDamaged;
}

std::vector<std::uint8_t> encodeMap(const std::vector<std::uint8_t>& map, int level) {
  uLongf size = compressBound(uLong(map.size()));
  std::vector<std::uint8_t> out(size);
  if (compress2(out.data(), &size, map.data(), uLong(map.size()), level) != Z_OK) return {};
  out.resize(size);
  return out;
}

namespace {

// Inflates exactly `expected` bytes and demands the stream ends there.
bool inflateExact(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
                  std::size_t expected) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(in);
  stream.avail_in = uInt(inSize);
  stream.next_out = out;
  stream.avail_out = uInt(expected);
  int result = inflate(&stream, Z_FINISH);
  bool ok = result == Z_STREAM_END && stream.total_out == expected && stream.avail_in == 0;
  inflateEnd(&stream);
  return ok;
}

}  // namespace

bool decodeMap(const ImageHeader& h, const std::vector<std::uint8_t>& stored,
               std::vector<std::uint8_t>& map) {
  if (stored.size() != h.mapStoredSize) return false;
  if (crc32(stored.data(), stored.size()) != h.mapCrc) return false;
  map.assign(h.mapRawSize, 0);
  if (!inflateExact(stored.data(), stored.size(), map.data(), map.size())) return false;
  // Bits past the last block must be clear, and the map must agree with the counts.
  std::uint64_t tailBits = h.mapRawSize * 8 - h.blockCount;
  if (tailBits && (map.back() >> (8 - tailBits)) != 0) return false;
  std::uint64_t used = 0;
  for (std::uint8_t byte : map) used += std::uint64_t(__builtin_popcount(byte));
  if (used != h.usedBlocks) return false;
  std::uint64_t bytes = used * std::uint64_t(h.blockSize);
  std::uint64_t last = h.blockCount - 1;
  if (map[last / 8] & (1u << (last % 8))) bytes -= h.blockSize - blockLength(h, last);
  return bytes == h.dataBytes;
}

std::uint64_t blockLength(const ImageHeader& h, std::uint64_t block) {
  std::uint64_t start = block * h.blockSize;
  std::uint64_t end = start + h.blockSize;
  if (end > h.sourceSize) end = h.sourceSize;
  return end > start ? end - start : 0;
}

void encodeChunkHeader(const ChunkHeader& c, std::uint8_t* out) {
  std::memset(out, 0, kChunkHeaderSize);
  std::memcpy(out, kChunkMagic, 4);
  putLe32(out + 4, c.index);
  putLe32(out + 8, c.rawSize);
  putLe32(out + 12, c.storedSize);
  putLe32(out + 16, std::uint32_t(c.method));
  putLe32(out + 20, c.rawCrc);
  putLe32(out + 28, crc32(out, 28));
}

bool decodeChunkHeader(const std::uint8_t* p, const ImageHeader& image,
                       std::uint64_t expectedIndex, ChunkHeader& c) {
  if (std::memcmp(p, kChunkMagic, 4) != 0 || le32(p + 28) != crc32(p, 28)) return false;
  c.index = le32(p + 4);
  c.rawSize = le32(p + 8);
  c.storedSize = le32(p + 12);
  std::uint32_t method = le32(p + 16);
  c.rawCrc = le32(p + 20);
  if (c.index != expectedIndex || expectedIndex >= image.chunkCount) return false;
  std::uint64_t expectedRaw = image.chunkSize;
  if (expectedIndex == image.chunkCount - 1)
    expectedRaw = image.dataBytes - std::uint64_t(image.chunkSize) * (image.chunkCount - 1);
  if (c.rawSize != expectedRaw) return false;
  if (method == std::uint32_t(ChunkMethod::Stored)) {
    c.method = ChunkMethod::Stored;
    return c.storedSize == c.rawSize;
  }
  if (method == std::uint32_t(ChunkMethod::Zeros) && image.version >= 2) {
    c.method = ChunkMethod::Zeros;
    return c.storedSize == 0;
  }
  if (method != std::uint32_t(ChunkMethod::Zlib)) return false;
  c.method = ChunkMethod::Zlib;
  return c.storedSize > 0 && c.storedSize < c.rawSize;
}

void encodeEndRecord(const EndRecord& e, std::uint8_t* out) {
  std::memset(out, 0, kEndRecordSize);
  std::memcpy(out, kEndMagic, 4);
  putLe64(out + 8, e.chunkCount);
  putLe64(out + 16, e.dataBytes);
  putLe32(out + 24, e.imageCrc);
  putLe32(out + 28, crc32(out, 28));
}

bool decodeEndRecord(const std::uint8_t* p, EndRecord& e) {
  if (std::memcmp(p, kEndMagic, 4) != 0 || le32(p + 28) != crc32(p, 28)) return false;
  e.chunkCount = le64(p + 8);
  e.dataBytes = le64(p + 16);
  e.imageCrc = le32(p + 24);
  return true;
}

namespace {

// Random or already-compressed data costs deflate much time for nothing: three
// samples that do not shrink at the fastest level mark the chunk to be stored as is.
bool looksIncompressible(const std::uint8_t* raw, std::size_t rawSize) {
  constexpr std::size_t kSample = 16 * 1024;
  if (rawSize < 8 * kSample) return false;
  std::uint8_t packed[kSample + 1024];
  for (std::size_t at : {std::size_t(0), rawSize / 2 - kSample / 2, rawSize - kSample}) {
    uLongf size = sizeof packed;
    if (compress2(packed, &size, raw + at, kSample, 1) != Z_OK) return false;
    if (size < kSample - kSample / 32) return false;  // saves 3% or more: worth deflating
  }
  return true;
}

// One zlib stream of the whole chunk, made by libdeflate (which compresses a whole
// buffer at once, faster than zlib at a comparable ratio); false when the result
// does not fit in `out`. Each worker thread keeps one compressor per level.
bool deflateWhole(const std::uint8_t* raw, std::size_t rawSize, int level, std::vector<std::uint8_t>& out,
                  std::size_t& size) {
  struct Compressors {
    libdeflate_compressor* byLevel[13] = {};
    ~Compressors() {
      for (libdeflate_compressor* c : byLevel) libdeflate_free_compressor(c);
    }
  };
  thread_local Compressors compressors;
  if (level < 1 || level > 12) return false;
  libdeflate_compressor*& c = compressors.byLevel[level];
  if (!c) c = libdeflate_alloc_compressor(level);
  if (!c) return false;
  size = libdeflate_zlib_compress(c, raw, rawSize, out.data(), out.size());
  return size > 0;
}

}  // namespace

ChunkMethod compressChunk(const std::uint8_t* raw, std::size_t rawSize, int level,
                          std::vector<std::uint8_t>& out) {
  if (allZeros(raw, rawSize)) {
    out.clear();
    return ChunkMethod::Zeros;
  }
  if (level > 0 && !looksIncompressible(raw, rawSize)) {
    out.resize(rawSize);  // a stream that does not fit is not worth keeping
    std::size_t size = 0;
    if (deflateWhole(raw, rawSize, level, out, size) && size < rawSize) {
      out.resize(size);
      return ChunkMethod::Zlib;
    }
  }
  out.assign(raw, raw + rawSize);
  return ChunkMethod::Stored;
}

namespace {

// libdeflate expands a whole buffer at once, about three times as fast as zlib's inflate;
// the stream must fill exactly `expected` bytes and end with its input. Each worker
// thread keeps one decompressor. (The map, small and read once, stays with zlib.)
bool inflateWhole(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t expected) {
  struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Decompressor() { libdeflate_free_decompressor(d); }
  };
  thread_local Decompressor decompressor;
  if (!decompressor.d) throw std::bad_alloc();
  std::size_t used = 0;
  return libdeflate_zlib_decompress_ex(decompressor.d, in, inSize, out, expected, &used, nullptr) ==
             LIBDEFLATE_SUCCESS &&
         used == inSize;
}

}  // namespace

bool expandChunk(const ChunkHeader& c, const std::uint8_t* stored, std::vector<std::uint8_t>& raw) {
  if (c.method == ChunkMethod::Zeros) {
    raw.clear();
    return c.rawCrc == zerosCrc(c.rawSize);
  }
  raw.resize(c.rawSize);
  if (c.method == ChunkMethod::Stored) {
    std::memcpy(raw.data(), stored, c.rawSize);
  } else if (!inflateWhole(stored, c.storedSize, raw.data(), raw.size())) {
    return false;
  }
  return crc32(raw.data(), raw.size()) == c.rawCrc;
}

bool allZeros(const std::uint8_t* bytes, std::size_t length) {
  // A block at a time, its words or-ed together (vectorised), so that data is found
  // within the first block and a chunk of zeros costs one pass at memory speed.
  constexpr std::size_t kBlock = 4096;
  while (length >= kBlock) {
    std::uint64_t any = 0;
    for (std::size_t i = 0; i < kBlock; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      any |= word;
    }
    if (any) return false;
    bytes += kBlock;
    length -= kBlock;
  }
  for (std::size_t i = 0; i < length; ++i)
    if (bytes[i]) return false;
  return true;
}

std::uint32_t zerosCrc(std::uint64_t length) {
  // Chunks of zeros all have the chunk size but the last: remember the last answer.
  thread_local std::uint64_t lastLength = 0;
  thread_local std::uint32_t lastCrc = 0;
  if (length == lastLength) return lastCrc;
  static const std::uint8_t kZeros[64 * 1024] = {};
  std::uint32_t crc = 0;
  for (std::uint64_t left = length; left > 0;) {
    std::size_t piece = left < sizeof kZeros ? std::size_t(left) : sizeof kZeros;
    crc = crc32(kZeros, piece, crc);
    left -= piece;
  }
  lastLength = length;
  lastCrc = crc;
  return crc;
}

}  // namespace ghost
