// The CRC-32 of zlib, GPT and the imaging engine's format (polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

namespace toolio {

// Continues `crc` (0 to start) over length bytes, as zlib's crc32() does.
std::uint32_t crc32(const void* data, std::size_t length, std::uint32_t crc = 0);

}  // namespace toolio
