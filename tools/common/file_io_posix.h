// Whole reads and writes at an offset on Linux: pread and pwrite may do less than
// asked, and a signal may interrupt them.
#pragma once

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

}  // namespace toolio
