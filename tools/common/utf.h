// UTF-8 and UTF-16 conversions that do not depend on the OS (WIM files store their
// XML as UTF-16LE; the tools print it as UTF-8). Malformed input becomes U+FFFD
// instead of failing: a damaged name must not hide the rest of the information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace toolio {

// Little-endian UTF-16 bytes (a leading byte-order mark is dropped) to UTF-8.
std::string utf16leBytesToUtf8(const void* data, std::size_t byteCount);
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);
// UTF-16 code units as little-endian bytes, without a byte-order mark.
std::string utf16ToLeBytes(std::u16string_view text);

#ifdef _WIN32
// Windows' wide text is UTF-16: the tools keep UTF-8 and convert at the system call.
std::wstring wideFromUtf8(std::string_view utf8);
std::string utf8FromWide(std::wstring_view wide);
#endif

}  // namespace toolio
