#include "platform/os.h"

namespace platform {

void appendChunk(std::string& collected, std::string_view chunk) {
  std::size_t nul = chunk.find('\0');
  collected.append(chunk.substr(0, nul));
}

}  // namespace platform
