// An engine backend in memory: partitions are byte vectors, files live in a map.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/ghost/engine.h"

namespace ghosttest {

struct MemoryPartition {
  std::vector<std::uint8_t> bytes;
  std::uint64_t startByte = 1 << 20;
  std::uint32_t sectorSize = 512;
  int writes = 0;
  bool failReads = false;
  // Reads of the last sector fail, as on a volume whose file system will not pass
  // I/O beyond its end.
  bool failTailReads = false;
  std::uint64_t failWritesFrom = UINT64_MAX;  // a write reaching this offset fails
  std::vector<std::uint64_t> writeOffsets;    // in the order written
  // Ranges the device says read as zeros without reading them (offset, length), as
  // the holes of a sparse disk image; and, when asked, how often each byte was read
  // and written.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> holes;
  bool countAccess = false;
  std::vector<std::uint8_t> timesRead;
  std::vector<std::uint8_t> timesWritten;
};

class MemoryDevice : public disk::Device {
 public:
  explicit MemoryDevice(MemoryPartition& partition) : p_(partition) {}
  std::uint64_t size() const override { return p_.bytes.size(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (p_.failReads || offset + length > p_.bytes.size()) return false;
    if (p_.failTailReads && offset + length > p_.bytes.size() - 512) return false;
    std::memcpy(buffer, p_.bytes.data() + offset, length);
    count(p_.timesRead, offset, length);
    return true;
  }
  std::uint32_t sectorSize() const override { return p_.sectorSize; }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (offset + length > p_.bytes.size() || offset + length > p_.failWritesFrom) return false;
    std::memcpy(p_.bytes.data() + offset, buffer, length);
    ++p_.writes;
    p_.writeOffsets.push_back(offset);
    count(p_.timesWritten, offset, length);
    return true;
  }
  bool flush() override { return true; }
  std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) override {
    for (const auto& [start, size] : p_.holes)
      if (offset >= start && offset < start + size) return std::min(length, start + size - offset);
    return 0;
  }

 private:
  void count(std::vector<std::uint8_t>& times, std::uint64_t offset, std::size_t length) {
    if (!p_.countAccess) return;
    if (times.size() < p_.bytes.size()) times.resize(p_.bytes.size(), 0);
    for (std::size_t i = 0; i < length; ++i) ++times[offset + i];
  }
  MemoryPartition& p_;
};

class MemoryFile : public ghost::File {
 public:
  MemoryFile(std::vector<std::uint8_t>& bytes, std::uint64_t limit, std::uint64_t failReadsFrom = UINT64_MAX)
      : bytes_(bytes), limit_(limit), failReadsFrom_(failReadsFrom) {}
  ghost::Problem read(void* buffer, std::size_t length, std::size_t& got) override {
    got = pos_ < bytes_.size() ? std::min<std::size_t>(length, bytes_.size() - pos_) : 0;
    if (got && pos_ + got > failReadsFrom_) {
      got = 0;
      return ghost::Problem::ImageReadError;
    }
    if (got) std::memcpy(buffer, bytes_.data() + pos_, got);
    pos_ += got;
    ++reads;
    return ghost::Problem::None;
  }
  std::uint64_t size() override { return bytes_.size(); }
  ghost::Problem seek(std::uint64_t offset) override {
    pos_ = std::size_t(offset);
    return ghost::Problem::None;
  }
  static inline int reads = 0;  // every file's, for tests that count the reading
  ghost::Problem write(const void* buffer, std::size_t length) override {
    if (limit_ && bytes_.size() + length > limit_) return ghost::Problem::DiskFull;
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + length);
    return ghost::Problem::None;
  }
  ghost::Problem finish() override { return ghost::Problem::None; }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::uint64_t limit_;
  std::uint64_t failReadsFrom_;
  std::size_t pos_ = 0;
};

// What the engine reported, and a stop the test can ask for.
class RecordingProgress : public toolio::Progress {
 public:
  struct Report {
    std::uint64_t done, total;
  };
  std::vector<Report> reports;
  std::atomic<bool> stop{false};
  void report(std::uint64_t done, std::uint64_t total, std::int64_t) override { reports.push_back({done, total}); }
  bool stopRequested() const override { return stop; }
};

// Image files in memory, by path.
class MemoryFiles : public ghost::Files {
 public:
  std::map<std::string, std::vector<std::uint8_t>> byPath;
  std::map<std::string, ghost::PathKind> specials;  // folders and devices, by path
  std::uint64_t spanLimit = 0;
  std::uint64_t diskFullAt = 0;  // total bytes a file may reach
  std::uint64_t failReadsFrom = UINT64_MAX;  // reading a file past this offset fails

  std::unique_ptr<ghost::File> openRead(const std::string& path, ghost::Problem& problem) override {
    if (auto special = specials.find(path); special != specials.end()) {
      problem = special->second == ghost::PathKind::Folder ? ghost::Problem::ImageIsFolder : ghost::Problem::ImageNotAFile;
      return nullptr;
    }
    auto found = byPath.find(path);
    if (found == byPath.end()) {
      problem = ghost::Problem::ImageMissing;
      return nullptr;
    }
    return std::make_unique<MemoryFile>(found->second, 0, failReadsFrom);
  }
  std::unique_ptr<ghost::File> create(const std::string& path, ghost::Problem&) override {
    byPath[path].clear();
    return std::make_unique<MemoryFile>(byPath[path], diskFullAt);
  }
  ghost::PathKind kindOf(const std::string& path) override {
    if (auto special = specials.find(path); special != specials.end()) return special->second;
    return byPath.count(path) ? ghost::PathKind::RegularFile : ghost::PathKind::Missing;
  }
  bool removeFile(const std::string& path) override { return byPath.erase(path) > 0; }
  bool replaceFile(const std::string& from, const std::string& to) override {
    auto found = byPath.find(from);
    if (found == byPath.end()) return false;
    byPath[to] = std::move(found->second);
    byPath.erase(from);
    return true;
  }
  std::uint64_t maxFileSize(const std::string&) override { return spanLimit; }
};

class FakeBackend : public ghost::Backend {
 public:
  std::map<std::string, MemoryPartition> partitions;  // by designator
  MemoryFiles files;
  std::map<std::string, std::string> fileOnPartition;  // path -> designator
  std::uint64_t nextId = 0x1122334455667788ull;
  unsigned threads = 3;
  int extendCalls = 0;
  std::map<std::string, std::string> inUse;  // designator -> its drive letter ("" for none)

  ghost::Files& imageFiles() override { return files; }
  ghost::Problem openPartition(const std::string& designator, bool, ghost::OpenedPartition& out,
                               disk::Error&) override {
    if (inUse.count(designator)) return ghost::Problem::VolumeInUse;
    auto found = partitions.find(designator);
    if (found == partitions.end()) return ghost::Problem::NoSuchPartition;
    out.device = std::make_unique<MemoryDevice>(found->second);
    out.startByte = found->second.startByte;
    out.lengthBytes = found->second.bytes.size();
    out.sectorSize = found->second.sectorSize;
    return ghost::Problem::None;
  }
  std::set<std::string> placeUnknown;  // image paths whose volume the system cannot tell
  Placement placeOf(const std::string& path, const std::string& designator) override {
    if (placeUnknown.count(path)) return Placement::Unknown;
    auto found = fileOnPartition.find(path);
    return found != fileOnPartition.end() && found->second == designator ? Placement::OnPartition
                                                                         : Placement::Elsewhere;
  }
  std::string driveLetterOf(const std::string& designator) override {
    auto found = inUse.find(designator);
    return found == inUse.end() ? std::string() : found->second;
  }
  ghost::NtfsGrowth growth{ghost::NtfsGrowth::Outcome::Grown, 0};  // what extendNtfs answers
  ghost::NtfsGrowth extendNtfs(ghost::OpenedPartition&, std::uint64_t) override {
    ++extendCalls;
    return growth;
  }
  std::uint64_t newImageId() override { return nextId++; }
  std::uint64_t nowUnix() override { return 1700000000; }
  unsigned workerThreads() override { return threads; }
};

}  // namespace ghosttest
