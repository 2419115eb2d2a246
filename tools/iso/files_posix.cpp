#include "tools/iso/files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "tools/common/file_io_posix.h"

namespace iso {

namespace {

class PosixImage : public ImageSource {
 public:
  PosixImage(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixImage() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return toolio::readAt(fd_, buffer, length, offset);
  }
  int fd() const { return fd_; }
  std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) override {
    off_t data = ::lseek(fd_, off_t(offset), SEEK_DATA);
    if (data < 0) return errno == ENXIO ? length : 0;  // ENXIO: only a hole up to the end
    return std::min<std::uint64_t>(std::uint64_t(data) - offset, length);
  }

 private:
  int fd_;
  std::uint64_t size_;
};

class PosixFile : public OutputFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool write(const void* data, std::size_t length) override {
    if (!toolio::writeAt(fd_, data, length, position_)) return false;
    position_ += length;
    return true;
  }
  bool skipZeros(std::uint64_t length) override {
    position_ += length;
    return true;
  }
  // The kernel copies from file to file, as cp does: the bytes are copied once, not
  // read into this process and written back. Zero runs inside the data are copied as
  // data then; the image's holes are still skipped. Only where the image's bytes and
  // the file's fall on the same place in a memory page: the sectors of an ISO are
  // 2 KiB, and a file that starts half-way into a page makes the kernel write every
  // page of the copy in two halves, which took 1.6 times the processor time of a read
  // and a write through a buffer (512 MB, page cache dropped before).
  bool copyFrom(ImageSource& image, std::uint64_t offset, std::size_t length) override {
    auto* file = dynamic_cast<PosixImage*>(&image);
    if (!file || !kernelCopies_ || (offset - position_) % kPage != 0) return false;
    loff_t in = loff_t(offset), out = loff_t(position_);
    for (std::size_t left = length; left > 0;) {
      ssize_t n = ::copy_file_range(file->fd(), &in, fd_, &out, left, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // Not between these two files (another file system, an old kernel): never again.
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
          kernelCopies_ = false;
        return false;
      }
      left -= std::size_t(n);
    }
    position_ += length;
    return true;
  }
  bool finish(std::uint64_t size) override {
    bool ok = ::ftruncate(fd_, off_t(size)) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    return ok;
  }

 private:
  static constexpr std::uint64_t kPage = 4096;
  int fd_;
  std::uint64_t position_ = 0;
  bool kernelCopies_ = true;
};

class PosixFolder : public OutputTree {
 public:
  explicit PosixFolder(std::string base) : base_(std::move(base)) {}
  bool folderExists(const std::string& relative) override {
    struct stat st;
    return ::stat(full(relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  bool createFolder(const std::string& relative) override {
    return ::mkdir(full(relative).c_str(), 0755) == 0 || (errno == EEXIST && folderExists(relative));
  }
  std::unique_ptr<OutputFile> createFile(const std::string& relative) override {
    // O_NOFOLLOW: a planted link must not redirect the copy outside the folder.
    int fd = ::open(full(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFile>(fd);
  }
  bool replaceFile(const std::string& from, const std::string& to) override {
    return std::rename(full(from).c_str(), full(to).c_str()) == 0;
  }
  bool removeFile(const std::string& relative) override { return ::unlink(full(relative).c_str()) == 0; }
  void removeFolder(const std::string& relative) override { ::rmdir(full(relative).c_str()); }
  std::uint64_t freeBytes() override {
    struct statvfs st;
    if (::statvfs(base_.c_str(), &st) != 0) return UINT64_MAX;
    return std::uint64_t(st.f_bavail) * st.f_frsize;
  }

 private:
  std::string full(const std::string& relative) const { return base_ + "/" + relative; }
  std::string base_;
};

}  // namespace

std::unique_ptr<ImageSource> openPosixImage(const std::string& path) {
  // Not blocking: a pipe with no writer would hold the open for ever.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // The copy reads each file from its start to its end: a larger read-ahead.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (!S_ISREG(st.st_mode)) {
    // Block devices are fine too: their size comes from seeking to the end.
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end <= 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixImage>(fd, std::uint64_t(end));
  }
  return std::make_unique<PosixImage>(fd, std::uint64_t(st.st_size));
}

std::unique_ptr<OutputTree> openPosixFolder(const std::string& path) {
  if (path.empty()) return nullptr;
  std::string partial;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return nullptr;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  return std::make_unique<PosixFolder>(path);
}

}  // namespace iso
