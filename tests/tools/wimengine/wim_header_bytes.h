// The first 208 bytes of a WIM file as the tests need them: magic, version, flags,
// GUID (its first byte given, the rest fixed), part number and count.
#pragma once

#include <cstdint>
#include <string>

#include "tools/wimengine/split_set.h"

namespace wimengine::testing_bytes {

inline std::string wimHeader(unsigned char guid, std::uint16_t part, std::uint16_t total,
                             std::uint32_t version = 0x10D00, std::uint32_t flags = 0x00040000) {
  std::string h(kWimHeaderSize, '\0');
  h.replace(0, 8, std::string("MSWIM\0\0\0", 8));
  auto put = [&h](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) h[at + std::size_t(i)] = char((value >> (8 * i)) & 0xFF);
  };
  put(0x0C, version, 4);
  put(0x10, flags, 4);
  h[0x18] = char(guid);
  for (std::size_t i = 1; i < 16; ++i) h[0x18 + i] = char(0xA0 + i);
  put(0x28, part, 2);
  put(0x2A, total, 2);
  return h;
}

}  // namespace wimengine::testing_bytes
