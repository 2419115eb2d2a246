#include "tools/ghost/platform_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "tools/common/file_io_posix.h"

namespace ghost {

namespace {

// errno in the engine's words, for what was being done.
Problem openProblem(int code) { return code == ENOENT || code == ENOTDIR ? Problem::ImageMissing : Problem::ImageUnreadable; }
Problem writeProblem(int code, Problem otherwise) {
  return code == ENOSPC || code == EDQUOT || code == EFBIG ? Problem::DiskFull : otherwise;
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  Problem read(void* buffer, std::size_t length, std::size_t& got) override {
    got = 0;
    auto* p = static_cast<char*>(buffer);
    while (got < length) {
      ssize_t n = ::read(fd_, p + got, length - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Problem::ImageUnreadable;
      if (n == 0) break;
      got += std::size_t(n);
    }
    return Problem::None;
  }
  Problem write(const void* buffer, std::size_t length) override {
    const auto* p = static_cast<const char*>(buffer);
    const std::size_t whole = length;
    while (length > 0) {
      ssize_t n = ::write(fd_, p, length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return writeProblem(errno, Problem::ImageWriteFailed);
      p += n;
      length -= std::size_t(n);
    }
    writeback_.wrote(fd_, whole);
    return Problem::None;
  }
  Problem finish() override {
    Problem result = ::fsync(fd_) == 0 || errno == EINVAL ? Problem::None : writeProblem(errno, Problem::ImageWriteFailed);
    if (::close(fd_) != 0 && result == Problem::None) result = writeProblem(errno, Problem::ImageWriteFailed);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
  toolio::EarlyWriteback writeback_;
};

class PosixFiles : public Files {
 public:
  std::unique_ptr<File> openRead(const std::string& path, Problem& problem) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      problem = openProblem(errno);
      return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
      ::close(fd);
      problem = Problem::ImageMissing;
      return nullptr;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixFile>(fd);
  }

  std::unique_ptr<File> create(const std::string& path, Problem& problem) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      problem = writeProblem(errno, Problem::DestinationUncreatable);
      return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
  }

  bool exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  bool removeFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  bool replaceFile(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0;
  }

  std::uint64_t maxFileSize(const std::string& path) override {
    std::string folder = path;
    std::size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    struct statfs info;
    constexpr long kMsdosMagic = 0x4d44;
    if (::statfs(folder.c_str(), &info) == 0 && info.f_type == kMsdosMagic) return kFat32SpanLimit;
    return 0;
  }
};

}  // namespace

std::unique_ptr<Files> platformFiles() { return std::make_unique<PosixFiles>(); }

}  // namespace ghost
