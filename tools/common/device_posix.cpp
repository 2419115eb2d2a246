// Disk image files and block devices on Linux.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/common/disk.h"
#include "tools/common/file_io_posix.h"

namespace disk {
namespace {

class FileDevice : public Device {
 public:
  FileDevice(int fd, std::uint64_t size, std::uint32_t sectorSize) : fd_(fd), size_(size), sector_(sectorSize) {}
  ~FileDevice() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sector_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return inside(offset, length) && toolio::readAt(fd_, buffer, length, offset);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (!inside(offset, length) || !toolio::writeAt(fd_, buffer, length, offset)) return false;
    writeback_.wrote(fd_, length);
    return true;
  }
  bool flush() override { return ::fsync(fd_) == 0; }
  // A hole of a sparse file (a block device has none: all of it is data).
  std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) override {
    if (!inside(offset, length)) return 0;
    off_t data = ::lseek(fd_, off_t(offset), SEEK_DATA);
    if (data < 0) return errno == ENXIO ? length : 0;  // ENXIO: a hole up to the end
    return std::min<std::uint64_t>(std::uint64_t(data) - offset, length);
  }

 private:
  bool inside(std::uint64_t offset, std::size_t length) const { return offset <= size_ && length <= size_ - offset; }

  int fd_;
  std::uint64_t size_;
  std::uint32_t sector_;
  toolio::EarlyWriteback writeback_;
};

}  // namespace

std::unique_ptr<Device> openDevice(const std::string& path, bool writable, Error& error) {
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    error = errorOf(Fault::DeviceUnopenable);
    error.path = path;
    error.system = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  std::uint64_t size = 0;
  std::uint32_t sector = 512;
  if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
    unsigned long long bytes = 0;
    int logical = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) size = bytes;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical >= 512) sector = static_cast<std::uint32_t>(logical);
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
  } else {
    ::close(fd);
    error = errorOf(Fault::NotADiskImage);
    error.path = path;
    return nullptr;
  }
  return std::make_unique<FileDevice>(fd, size, sector);
}

}  // namespace disk
