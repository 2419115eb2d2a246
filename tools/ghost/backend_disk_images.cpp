#include "tools/ghost/backend_disk_images.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <random>
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace ghost {

namespace {

// VREL_DISK_KB_PER_SECOND slows the image disks down to that rate, so that a test
// can watch (and photograph) a run on a small partition while it is under way.
std::uint64_t throttleBytesPerSecond() {
  const char* text = std::getenv("VREL_DISK_KB_PER_SECOND");
  if (!text || !*text) return 0;
  char* end = nullptr;
  unsigned long long kb = std::strtoull(text, &end, 10);
  return *end == '\0' ? kb * 1024 : 0;
}

// Keeps the disk and its layout alive as long as the partition's window is used.
class OwnedPartition : public disk::Device {
 public:
  explicit OwnedPartition(disk::OpenPartition opened)
      : opened_(std::move(opened)), bytesPerSecond_(throttleBytesPerSecond()) {}
  std::uint64_t size() const override { return opened_.device->size(); }
  std::uint32_t sectorSize() const override { return opened_.device->sectorSize(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    pace(length);
    return opened_.device->read(offset, buffer, length);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    pace(length);
    return opened_.device->write(offset, buffer, length);
  }
  bool flush() override { return opened_.device->flush(); }
  std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) override {
    return opened_.device->knownZerosAt(offset, length);
  }

 private:
  // Small transfers add up until the wait is worth a sleep.
  void pace(std::size_t length) {
    if (bytesPerSecond_ == 0) return;
    owedMs_ += double(length) * 1000.0 / double(bytesPerSecond_);
    if (owedMs_ < 20) return;
    const unsigned ms = unsigned(owedMs_);
    owedMs_ -= ms;
#ifdef _WIN32
    Sleep(ms);
#else
    timespec wait{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
#endif
  }

  disk::OpenPartition opened_;
  std::uint64_t bytesPerSecond_;
  double owedMs_ = 0;
};

class FaultyFile : public File {
 public:
  FaultyFile(std::unique_ptr<File> inner, const disk::FaultHook& hook) : inner_(std::move(inner)), hook_(hook) {}
  Problem read(void* buffer, std::size_t length, std::size_t& got) override {
    got = 0;
    if (!hook_.allowRead(position_, length)) return Problem::ImageReadError;
    Problem problem = inner_->read(buffer, length, got);
    position_ += got;
    return problem;
  }
  Problem write(const void* buffer, std::size_t length) override {
    if (!hook_.allowWrite(position_, length)) return Problem::ImageWriteFailed;
    position_ += length;
    return inner_->write(buffer, length);
  }
  Problem finish() override { return inner_->finish(); }
  std::uint64_t size() override { return inner_->size(); }
  Problem seek(std::uint64_t offset) override {
    position_ = offset;
    return inner_->seek(offset);
  }

 private:
  std::unique_ptr<File> inner_;
  const disk::FaultHook& hook_;
  std::uint64_t position_ = 0;
};

class FaultyFiles : public Files {
 public:
  FaultyFiles(std::unique_ptr<Files> inner, disk::FaultHook hook) : inner_(std::move(inner)), hook_(std::move(hook)) {}
  std::unique_ptr<File> openRead(const std::string& path, Problem& problem) override {
    return wrap(inner_->openRead(path, problem));
  }
  std::unique_ptr<File> create(const std::string& path, Problem& problem) override {
    return wrap(inner_->create(path, problem));
  }
  PathKind kindOf(const std::string& path) override { return inner_->kindOf(path); }
  std::uint64_t maxFileSize(const std::string& path) override { return inner_->maxFileSize(path); }
  bool removeFile(const std::string& path) override { return inner_->removeFile(path); }
  bool replaceFile(const std::string& from, const std::string& to) override { return inner_->replaceFile(from, to); }

 private:
  std::unique_ptr<File> wrap(std::unique_ptr<File> file) {
    if (!file) return file;
    return std::make_unique<FaultyFile>(std::move(file), hook_);
  }
  std::unique_ptr<Files> inner_;
  disk::FaultHook hook_;
};

}  // namespace

std::unique_ptr<Files> faultyFiles(std::unique_ptr<Files> files, const std::vector<disk::FaultRange>& faults) {
  disk::FaultHook hook(faults, "image");
  if (hook.empty()) return files;
  return std::make_unique<FaultyFiles>(std::move(files), std::move(hook));
}

DiskImagesBackend::DiskImagesBackend(std::unique_ptr<disk::DiskSet> disks, Files& files)
    : disks_(std::move(disks)), files_(files) {}

Problem DiskImagesBackend::openPartition(const std::string& designator, bool forWriting, OpenedPartition& out,
                                         disk::Error& detail) {
  auto where = disk::parseDesignator(designator);
  if (!where) return Problem::BadDesignator;
  auto numbers = disks_->diskNumbers();
  if (std::find(numbers.begin(), numbers.end(), where->disk) == numbers.end()) return Problem::NoSuchDisk;
  disk::OpenPartition opened;
  if (!disk::openPartition(*disks_, *where, forWriting, opened, detail)) {
    // A table that cannot be read says so, whatever partition was asked for.
    return detail.fault == disk::Fault::NoSuchPartition ? Problem::NoSuchPartition : Problem::DiskUnreadable;
  }
  out.startByte = opened.partition.startByte;
  out.lengthBytes = opened.partition.lengthBytes;
  out.sectorSize = opened.disk->sectorSize();
  out.device = std::make_unique<OwnedPartition>(std::move(opened));
  return Problem::None;
}

Backend::Placement DiskImagesBackend::placeOf(const std::string&, const std::string&) { return Placement::Elsewhere; }

std::uint64_t DiskImagesBackend::newImageId() {
  std::random_device device;
  std::uint64_t id = (std::uint64_t(device()) << 32) ^ device();
  return id ^ std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::uint64_t DiskImagesBackend::nowUnix() { return std::uint64_t(std::time(nullptr)); }

}  // namespace ghost
