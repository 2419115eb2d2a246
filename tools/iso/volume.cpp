#include "tools/iso/volume.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <utility>

#include "tools/common/le_bytes.h"
#include "tools/common/utf.h"

namespace iso {

namespace {

using Bytes = std::vector<unsigned char>;

using toolio::le16;
using toolio::le32;
using toolio::le64;

// Thrown inside the reader only; readVolume returns it.
struct Failure {
  Problem problem;
};
[[noreturn]] void fail(Problem p) { throw Failure{p}; }

class Reader {
 public:
  Reader(ImageSource& source, const Limits& limits) : source_(source), limits_(limits) {}

  Bytes read(std::uint64_t offset, std::uint64_t length) {
    if (offset > source_.size() || length > source_.size() - offset) fail(Problem::ImageCorrupt);
    Bytes data(static_cast<std::size_t>(length));
    if (length && !source_.read(offset, data.data(), data.size())) fail(Problem::ImageUnreadable);
    return data;
  }
  bool inside(std::uint64_t offset, std::uint64_t length) const {
    return offset <= source_.size() && length <= source_.size() - offset;
  }
  void countEntry() {
    if (++entries_ > limits_.maxEntries) fail(Problem::ImageCorrupt);
  }
  // A directory seen twice means a loop or a shared subtree that could multiply the
  // work without end; well-formed images never do it.
  void enterDirectory(std::uint64_t key, int depth) {
    if (depth > limits_.maxDepth || !directories_.insert(key).second) fail(Problem::ImageCorrupt);
  }
  void resetGuards() {
    entries_ = 0;
    directories_.clear();
  }

  ImageSource& source_;
  const Limits& limits_;

 private:
  std::size_t entries_ = 0;
  std::set<std::uint64_t> directories_;
};

// ---------------------------------------------------------------- ISO 9660

constexpr std::uint64_t kIsoBlock = 2048;

struct IsoDescriptors {
  bool found = false;
  Bytes primary;
  Bytes joliet;
};

IsoDescriptors findIsoDescriptors(Reader& r) {
  IsoDescriptors d;
  for (std::uint64_t sector = 16; sector < 16 + 64; ++sector) {
    if (!r.inside(sector * kIsoBlock, kIsoBlock)) break;
    Bytes vd = r.read(sector * kIsoBlock, kIsoBlock);
    if (std::memcmp(&vd[1], "CD001", 5) != 0) {
      // UDF's recognition sequence (BEA01, NSR02, ...) may sit among or after them.
      if (std::memcmp(&vd[1], "BEA01", 5) == 0 || std::memcmp(&vd[1], "NSR0", 4) == 0 ||
          std::memcmp(&vd[1], "TEA01", 5) == 0)
        continue;
      break;
    }
    if (vd[0] == 255) break;
    if (vd[0] == 1 && d.primary.empty()) {
      d.primary = vd;
      d.found = true;
    }
    if (vd[0] == 2 && d.joliet.empty() && vd[88] == '%' && vd[89] == '/' &&
        (vd[90] == '@' || vd[90] == 'C' || vd[90] == 'E'))
      d.joliet = vd;
  }
  return d;
}

struct RockRidgeInfo {
  std::string name;
  bool hasName = false;
  bool relocated = false;      // RE: the real entry is the CL link elsewhere
  bool childLink = false;      // CL: a directory moved to another place
  std::uint32_t childLocation = 0;
  bool special = false;        // SL or a PX mode that is not a file or a folder
};

class IsoTree {
 public:
  IsoTree(Reader& r, bool joliet) : r_(r), joliet_(joliet) {}

  Node readRoot(const Bytes& descriptor) {
    const unsigned char* rec = &descriptor[156];
    std::uint32_t lba = le32(rec + 2), length = le32(rec + 10);
    if (!joliet_) detectRockRidge(lba);
    Node root;
    root.directory = true;
    readDirectory(lba, length, 0, root);
    return root;
  }
  bool rockRidge() const { return rockRidge_; }

 private:
  void detectRockRidge(std::uint32_t lba) {
    Bytes sector = r_.read(std::uint64_t(lba) * kIsoBlock, kIsoBlock);
    unsigned len = sector[0], nameLen = sector[32];
    if (len < 34 || 33 + nameLen > len) return;
    std::size_t su = 33 + nameLen + ((nameLen % 2 == 0) ? 1 : 0);
    if (su + 7 <= len && sector[su] == 'S' && sector[su + 1] == 'P' && sector[su + 4] == 0xBE &&
        sector[su + 5] == 0xEF) {
      rockRidge_ = true;
      suspSkip_ = sector[su + 6];
    }
  }

  void parseSystemUse(const unsigned char* area, std::size_t length, RockRidgeInfo& info, int& links) {
    std::size_t pos = 0;
    while (pos + 4 <= length) {
      const unsigned char* e = area + pos;
      unsigned entryLen = e[2];
      if (entryLen < 4 || pos + entryLen > length) break;
      if (e[0] == 'N' && e[1] == 'M' && entryLen >= 5) {
        if ((e[4] & 0x06) == 0) {  // not "." or ".."
          info.name.append(reinterpret_cast<const char*>(e + 5), entryLen - 5);
          info.hasName = true;
        }
      } else if (e[0] == 'R' && e[1] == 'E') {
        info.relocated = true;
      } else if (e[0] == 'C' && e[1] == 'L' && entryLen >= 12) {
        info.childLink = true;
        info.childLocation = le32(e + 4);
      } else if (e[0] == 'S' && e[1] == 'L') {
        info.special = true;
      } else if (e[0] == 'P' && e[1] == 'X' && entryLen >= 12) {
        std::uint32_t type = le32(e + 4) & 0170000;
        if (type != 0 && type != 0040000 && type != 0100000) info.special = true;
      } else if (e[0] == 'S' && e[1] == 'T') {
        break;
      } else if (e[0] == 'C' && e[1] == 'E' && entryLen >= 28) {
        // Real entries need one or two continuation areas; a chain of them is a loop.
        if (++links > 16) fail(Problem::ImageCorrupt);
        std::uint64_t block = le32(e + 4), offset = le32(e + 12), ceLength = le32(e + 20);
        if (ceLength > 65536) fail(Problem::ImageCorrupt);
        Bytes cont = r_.read(block * kIsoBlock + offset, ceLength);
        parseSystemUse(cont.data(), cont.size(), info, links);
        // The rest of this area may not be interpreted once continued elsewhere.
        break;
      }
      pos += entryLen;
    }
  }

  std::string decodeName(const unsigned char* id, unsigned length) {
    if (joliet_) {
      std::string bytes;
      for (unsigned i = 0; i + 1 < length; i += 2) {
        bytes += char(id[i + 1]);
        bytes += char(id[i]);
      }
      return stripIsoVersion(toolio::utf16leBytesToUtf8(bytes.data(), bytes.size()));
    }
    return stripIsoVersion(std::string(reinterpret_cast<const char*>(id), length));
  }

  void readDirectory(std::uint32_t lba, std::uint32_t length, int depth, Node& into) {
    r_.enterDirectory(lba, depth);
    if (length > r_.limits_.maxDirectoryBytes) fail(Problem::ImageCorrupt);
    Bytes dir = r_.read(std::uint64_t(lba) * kIsoBlock, length);
    std::size_t pending = SIZE_MAX;  // a file of several extents still being put together
    std::size_t pos = 0;
    while (pos < dir.size()) {
      unsigned len = dir[pos];
      if (len == 0) {  // records never cross a sector: the rest of this one is padding
        pos = (pos / kIsoBlock + 1) * kIsoBlock;
        continue;
      }
      if (len < 34 || pos + len > dir.size()) fail(Problem::ImageCorrupt);
      const unsigned char* rec = &dir[pos];
      pos += len;
      unsigned nameLen = rec[32];
      if (33 + nameLen > len) fail(Problem::ImageCorrupt);
      if (nameLen == 1 && (rec[33] == 0 || rec[33] == 1)) continue;  // "." and ".."
      r_.countEntry();

      RockRidgeInfo rr;
      if (rockRidge_) {
        std::size_t su = 33 + nameLen + ((nameLen % 2 == 0) ? 1 : 0) + suspSkip_;
        int links = 0;
        if (su < len) parseSystemUse(rec + su, len - su, rr, links);
      }
      if (rr.relocated) continue;  // shown where its CL entry stands

      std::string name = rr.hasName ? rr.name : decodeName(rec + 33, nameLen);
      std::uint8_t flags = rec[25];
      std::uint64_t extentOffset = (std::uint64_t(le32(rec + 2)) + rec[1]) * kIsoBlock;
      std::uint32_t dataLength = le32(rec + 10);

      if (pending != SIZE_MAX && into.children[pending].name == name && !(flags & 0x02)) {
        addExtent(into.children[pending], extentOffset, dataLength);
        if (!(flags & 0x80)) pending = SIZE_MAX;
        continue;
      }
      if (pending != SIZE_MAX) fail(Problem::ImageCorrupt);  // the last extent of a file is missing

      Node node;
      node.name = std::move(name);
      if (rr.childLink) {
        node.directory = true;
        Bytes first = r_.read(std::uint64_t(rr.childLocation) * kIsoBlock, kIsoBlock);
        if (first[0] < 34) fail(Problem::ImageCorrupt);
        readDirectory(rr.childLocation, le32(&first[10]), depth + 1, node);
      } else if (flags & 0x02) {
        node.directory = true;
        readDirectory(le32(rec + 2), dataLength, depth + 1, node);
      } else {
        node.regular = !rr.special;
        addExtent(node, extentOffset, dataLength);
      }
      into.children.push_back(std::move(node));
      if (!into.children.back().directory && (flags & 0x80)) pending = into.children.size() - 1;
    }
    if (pending != SIZE_MAX) fail(Problem::ImageCorrupt);
  }

  void addExtent(Node& node, std::uint64_t offset, std::uint64_t length) {
    if (!r_.inside(offset, length)) fail(Problem::ImageCorrupt);
    if (node.extents.size() >= std::size_t(r_.limits_.maxDescriptorChain)) fail(Problem::ImageCorrupt);
    if (length) node.extents.push_back({offset, length, false});
    node.size += length;
  }

  Reader& r_;
  bool joliet_;
  bool rockRidge_ = false;
  unsigned suspSkip_ = 0;
};

// ---------------------------------------------------------------- UDF

struct UdfPartition {
  std::uint16_t number = 0;
  std::uint64_t start = 0;   // in sectors
  std::uint64_t length = 0;  // in sectors
  bool present = false;
};

struct LongAd {
  std::uint32_t length = 0;
  std::uint32_t block = 0;
  std::uint16_t partition = 0;
};

LongAd longAd(const unsigned char* p) { return {le32(p), le32(p + 4), le16(p + 8)}; }

class UdfTree {
 public:
  explicit UdfTree(Reader& r) : r_(r) {}

  // False when the image carries no UDF anchor at all.
  bool findAnchor() {
    for (std::uint32_t size : {2048u, 512u, 4096u, 1024u}) {
      std::uint64_t sectors = r_.source_.size() / size;
      for (std::uint64_t at : {std::uint64_t(256), sectors - 1, sectors - 257}) {
        if (sectors < 257 || !r_.inside(at * size, 512)) continue;
        Bytes tag = r_.read(at * size, 512);
        if (tagValid(tag.data(), tag.size(), 2, at)) {
          sector_ = size;
          anchor_ = tag;
          return true;
        }
      }
    }
    return false;
  }

  Node readRoot() {
    if (!readVolumeDescriptors(le32(&anchor_[20]), le32(&anchor_[16])) &&
        !readVolumeDescriptors(le32(&anchor_[28]), le32(&anchor_[24])))
      fail(Problem::ImageCorrupt);
    LongAd fsdAt = longAd(&lvd_[248]);
    Bytes fsd = readBlock(fsdAt.partition, fsdAt.block, 256);
    LongAd rootAt = longAd(&fsd[400]);
    Node root;
    readEntry(rootAt, 0, root);
    if (!root.directory) fail(Problem::ImageCorrupt);
    return root;
  }

 private:
  // Descriptor tag: checksum over bytes 0-15 but 4, CRC over the body, its own location.
  bool tagValid(const unsigned char* d, std::size_t available, std::uint16_t id, std::uint64_t location) {
    if (available < 16 || le16(d) != id) return false;
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i)
      if (i != 4) sum += d[i];
    if ((sum & 0xFF) != d[4]) return false;
    std::uint16_t crcLength = le16(d + 10);
    if (16u + crcLength <= available && crcLength && udfCrc(d + 16, crcLength) != le16(d + 8)) return false;
    return le32(d + 12) == std::uint32_t(location);
  }

  bool readVolumeDescriptors(std::uint32_t location, std::uint32_t length) {
    int budget = 1024;
    Bytes lvd;
    std::uint32_t lvdSequence = 0;
    bool haveLvd = false;
    std::vector<UdfPartition> partitions;
    std::uint64_t at = location, end = location + std::uint64_t(length / sector_);
    while (at < end && budget-- > 0) {
      if (!r_.inside(at * sector_, sector_)) return false;
      Bytes d = r_.read(at * sector_, sector_);
      std::uint16_t id = le16(d.data());
      if (!tagValid(d.data(), d.size(), id, at)) return false;
      if (id == 8) break;  // terminating descriptor
      if (id == 3) {       // pointer to the next part of the sequence
        at = le32(&d[24]);
        end = at + le32(&d[20]) / sector_;
        continue;
      }
      if (id == 5) {
        UdfPartition p;
        p.number = le16(&d[22]);
        p.start = le32(&d[188]);
        p.length = le32(&d[192]);
        p.present = true;
        partitions.push_back(p);
      } else if (id == 6) {
        std::uint32_t sequence = le32(&d[16]);
        if (!haveLvd || sequence >= lvdSequence) {
          lvd = d;
          lvdSequence = sequence;
          haveLvd = true;
        }
      }
      ++at;
    }
    if (!haveLvd || partitions.empty()) return false;
    lvd_ = lvd;
    block_ = le32(&lvd_[212]);
    if (block_ < 512 || block_ > 65536 || (block_ & (block_ - 1))) fail(Problem::ImageCorrupt);
    std::uint32_t mapCount = le32(&lvd_[268]), mapBytes = le32(&lvd_[264]);
    if (440 + std::uint64_t(mapBytes) > lvd_.size() || mapCount > 64) fail(Problem::ImageCorrupt);
    std::size_t pos = 440;
    maps_.clear();
    for (std::uint32_t i = 0; i < mapCount; ++i) {
      if (pos + 2 > 440 + mapBytes) fail(Problem::ImageCorrupt);
      unsigned type = lvd_[pos], mapLength = lvd_[pos + 1];
      if (mapLength < 6 || pos + mapLength > 440 + mapBytes) fail(Problem::ImageCorrupt);
      UdfPartition mapped;
      if (type == 1) {
        std::uint16_t number = le16(&lvd_[pos + 4]);
        for (const UdfPartition& p : partitions)
          if (p.number == number) mapped = p;
        if (!mapped.present) fail(Problem::ImageCorrupt);
      }
      // Virtual, sparable and metadata partitions stay absent: using one is unsupported.
      maps_.push_back(mapped);
      pos += mapLength;
    }
    return true;
  }

  std::uint64_t byteOffset(std::uint16_t partition, std::uint32_t block, std::uint64_t length) {
    if (partition >= maps_.size()) fail(Problem::ImageCorrupt);
    const UdfPartition& p = maps_[partition];
    if (!p.present) fail(Problem::ImageUnsupported);
    std::uint64_t start = p.start * sector_ + std::uint64_t(block) * block_;
    if (std::uint64_t(block) * block_ + length > p.length * sector_ || !r_.inside(start, length))
      fail(Problem::ImageCorrupt);
    return start;
  }

  Bytes readBlock(std::uint16_t partition, std::uint32_t block, std::uint16_t tagId) {
    Bytes d = r_.read(byteOffset(partition, block, block_), block_);
    if (!tagValid(d.data(), d.size(), tagId, block)) fail(Problem::ImageCorrupt);
    return d;
  }

  // Turns allocation descriptors into extents, following continuation blocks.
  void collectExtents(const unsigned char* ads, std::size_t length, unsigned kind, std::uint16_t partition,
                      Node& node, int& links) {
    std::size_t step = kind == 0 ? 8 : kind == 1 ? 16 : 20;
    for (std::size_t pos = 0; pos + step <= length; pos += step) {
      const unsigned char* ad = ads + pos;
      std::uint32_t raw = le32(ad);
      std::uint32_t extentLength = raw & 0x3FFFFFFF, type = raw >> 30;
      if (extentLength == 0) return;
      std::uint32_t block;
      std::uint16_t part = partition;
      if (kind == 0) {
        block = le32(ad + 4);
      } else if (kind == 1) {
        block = le32(ad + 4);
        part = le16(ad + 8);
      } else {
        block = le32(ad + 12);
        part = le16(ad + 16);
      }
      if (type == 3) {  // the list goes on in an allocation extent descriptor
        if (++links > r_.limits_.maxDescriptorChain || !visitedAeds_.insert((std::uint64_t(part) << 32) | block).second)
          fail(Problem::ImageCorrupt);
        Bytes aed = readBlock(part, block, 258);
        std::uint32_t adLength = le32(&aed[20]);
        if (24 + std::uint64_t(adLength) > aed.size()) fail(Problem::ImageCorrupt);
        collectExtents(&aed[24], adLength, kind, partition, node, links);
        return;
      }
      if (node.extents.size() >= std::size_t(r_.limits_.maxDescriptorChain) * 64) fail(Problem::ImageCorrupt);
      if (type == 0)
        node.extents.push_back({byteOffset(part, block, extentLength), extentLength, false});
      else
        node.extents.push_back({0, extentLength, true});
    }
  }

  void readEntry(const LongAd& at, int depth, Node& node) {
    Bytes fe = r_.read(byteOffset(at.partition, at.block, block_), block_);
    std::uint16_t id = le16(fe.data());
    std::uint32_t followed = 0;
    LongAd where = at;
    while (id == 259) {  // indirect entry: the file entry was rewritten elsewhere
      if (!tagValid(fe.data(), fe.size(), 259, where.block) || ++followed > 16) fail(Problem::ImageCorrupt);
      where = longAd(&fe[36]);
      fe = r_.read(byteOffset(where.partition, where.block, block_), block_);
      id = le16(fe.data());
    }
    if ((id != 261 && id != 266) || !tagValid(fe.data(), fe.size(), id, where.block)) fail(Problem::ImageCorrupt);
    bool extended = id == 266;
    unsigned fileType = fe[27];
    unsigned adKind = le16(&fe[34]) & 7;
    std::uint64_t infoLength = le64(&fe[56]);
    std::size_t eaAt = extended ? 208 : 168;
    std::uint32_t eaLength = le32(&fe[eaAt]), adLength = le32(&fe[eaAt + 4]);
    std::size_t adStart = eaAt + 8 + std::size_t(eaLength);
    if (std::uint64_t(eaAt) + 8 + eaLength + adLength > fe.size()) fail(Problem::ImageCorrupt);

    node.size = infoLength;
    node.directory = fileType == 4;
    node.regular = fileType == 5 || fileType == 0;
    if (adKind == 3) {
      if (infoLength > adLength) fail(Problem::ImageCorrupt);
      node.embedded.assign(reinterpret_cast<const char*>(&fe[adStart]), std::size_t(infoLength));
    } else if (adKind <= 2) {
      int links = 0;
      visitedAeds_.clear();
      collectExtents(&fe[adStart], adLength, adKind, where.partition, node, links);
      std::uint64_t covered = 0;
      for (const Extent& e : node.extents) covered += e.length;
      if (covered < infoLength) fail(Problem::ImageCorrupt);
    } else {
      fail(Problem::ImageCorrupt);
    }
    if (node.directory) readDirectory(node, where, depth);
  }

  Bytes contentOf(const Node& node) {
    if (node.size > r_.limits_.maxDirectoryBytes) fail(Problem::ImageCorrupt);
    if (!node.extents.empty() || node.embedded.empty()) {
      Bytes data;
      data.reserve(std::size_t(node.size));
      for (const Extent& e : node.extents) {
        std::uint64_t take = std::min<std::uint64_t>(e.length, node.size - data.size());
        if (e.zeros) {
          data.insert(data.end(), std::size_t(take), 0);
        } else {
          Bytes part = r_.read(e.offset, take);
          data.insert(data.end(), part.begin(), part.end());
        }
        if (data.size() == node.size) break;
      }
      return data;
    }
    return Bytes(node.embedded.begin(), node.embedded.end());
  }

  void readDirectory(Node& dir, const LongAd& at, int depth) {
    r_.enterDirectory((std::uint64_t(at.partition) << 32) | at.block, depth);
    Bytes data = contentOf(dir);
    dir.extents.clear();
    dir.embedded.clear();
    std::size_t pos = 0;
    while (pos + 38 <= data.size()) {
      const unsigned char* fid = &data[pos];
      if (le16(fid) != 257) fail(Problem::ImageCorrupt);
      unsigned sum = 0;
      for (int i = 0; i < 16; ++i)
        if (i != 4) sum += fid[i];
      if ((sum & 0xFF) != fid[4]) fail(Problem::ImageCorrupt);
      unsigned characteristics = fid[18], nameLength = fid[19];
      std::size_t iuLength = le16(fid + 36);
      std::size_t total = (38 + iuLength + nameLength + 3) & ~std::size_t(3);
      if (pos + 38 + iuLength + nameLength > data.size()) fail(Problem::ImageCorrupt);
      LongAd child = longAd(fid + 20);
      const unsigned char* name = fid + 38 + iuLength;
      pos += total;
      if (characteristics & 0x0C) continue;  // deleted entries and the parent link
      r_.countEntry();
      Node node;
      if (!decodeOstaName(name, nameLength, node.name)) fail(Problem::ImageCorrupt);
      readEntry(child, depth + 1, node);
      dir.children.push_back(std::move(node));
    }
  }

  Reader& r_;
  std::uint32_t sector_ = 2048;
  std::uint32_t block_ = 2048;
  Bytes anchor_;
  Bytes lvd_;
  std::vector<UdfPartition> maps_;
  std::set<std::uint64_t> visitedAeds_;  // of the file being read
};

}  // namespace

std::uint16_t udfCrc(const unsigned char* data, std::size_t length) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= std::uint16_t(data[i]) << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
  }
  return crc;
}

bool decodeOstaName(const unsigned char* data, std::size_t length, std::string& out) {
  out.clear();
  if (length == 0) return false;
  unsigned id = data[0];
  if (id == 8 || id == 254) {
    std::u16string text;
    for (std::size_t i = 1; i < length; ++i) text += char16_t(data[i]);
    out = toolio::utf16ToUtf8(text);
  } else if (id == 16 || id == 255) {
    if ((length - 1) % 2) return false;
    std::u16string text;
    for (std::size_t i = 1; i + 1 < length; i += 2) text += char16_t((data[i] << 8) | data[i + 1]);
    out = toolio::utf16ToUtf8(text);
  } else {
    return false;
  }
  return !out.empty();
}

std::string stripIsoVersion(std::string name) {
  std::size_t semicolon = name.rfind(';');
  if (semicolon != std::string::npos) name.erase(semicolon);
  if (!name.empty() && name.back() == '.' && name != "." && name != "..") name.pop_back();
  return name;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::Iso9660: return "ISO 9660";
    case Format::Joliet: return "Joliet";
    case Format::RockRidge: return "Rock Ridge";
    case Format::Udf: return "UDF";
  }
  return "";
}

ReadOutcome readVolume(ImageSource& source, const Limits& limits) {
  ReadOutcome outcome;
  Reader reader(source, limits);
  Problem udfError = Problem::None;
  try {
    UdfTree udf(reader);
    if (udf.findAnchor()) {
      outcome.volume.root = udf.readRoot();
      outcome.volume.format = Format::Udf;
      return outcome;
    }
  } catch (const Failure& f) {
    udfError = f.problem;
  } catch (const std::bad_alloc&) {
    udfError = Problem::ImageCorrupt;
  }
  try {
    reader.resetGuards();
    IsoDescriptors d = findIsoDescriptors(reader);
    if (!d.found) {
      outcome.problem = udfError != Problem::None ? udfError : Problem::NotAnImage;
      return outcome;
    }
    // A damaged UDF tree is not replaced by the stub ISO 9660 tree beside it: that
    // would quietly offer a different, usually empty, set of files.
    if (udfError != Problem::None) {
      outcome.problem = udfError;
      return outcome;
    }
    IsoTree primary(reader, false);
    Node root = primary.readRoot(d.primary);
    if (primary.rockRidge() || d.joliet.empty()) {
      outcome.volume.format = primary.rockRidge() ? Format::RockRidge : Format::Iso9660;
      outcome.volume.root = std::move(root);
      return outcome;
    }
    reader.resetGuards();
    IsoTree joliet(reader, true);
    outcome.volume.root = joliet.readRoot(d.joliet);
    outcome.volume.format = Format::Joliet;
  } catch (const Failure& f) {
    outcome.problem = f.problem;
  } catch (const std::bad_alloc&) {
    outcome.problem = Problem::ImageCorrupt;
  }
  return outcome;
}

}  // namespace iso
