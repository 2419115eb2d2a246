// Whole reads and writes at an offset on Linux: pread and pwrite may do less than
// asked, and a signal may interrupt them. And early write-back for long writes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace toolio {

namespace detail {
template <typename Io, typename Byte>
bool wholeAt(Io io, int fd, Byte* p, std::size_t length, std::uint64_t offset) {
  while (length > 0) {
    ssize_t n = io(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace detail

inline bool readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset) {
  return detail::wholeAt(::pread, fd, static_cast<char*>(buffer), length, offset);
}

inline bool writeAt(int fd, const void* buffer, std::size_t length, std::uint64_t offset) {
  return detail::wholeAt(::pwrite, fd, static_cast<const char*>(buffer), length, offset);
}

// Starts the write-out of what a file was given, without waiting, each time another
// 8 MiB have gathered: the disk then writes while the processor works, and the final
// fsync waits for the last few MiB instead of for the whole file.
class EarlyWriteback {
 public:
  void wrote(int fd, std::size_t bytes) {
    pending_ += bytes;
    if (pending_ < kStep) return;
    pending_ = 0;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint: a refusal changes nothing
  }

 private:
  static constexpr std::uint64_t kStep = 8u << 20;
  std::uint64_t pending_ = 0;
};

}  // namespace toolio
