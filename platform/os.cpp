#include "platform/os.h"

#include <algorithm>

namespace platform {

void appendChunk(std::string& collected, std::string_view chunk) {
  std::size_t nul = chunk.find('\0');
  collected.append(chunk.substr(0, nul));
}

std::vector<std::string> environmentBlockNames(std::string_view block) {
  std::vector<std::string> names;
  while (!block.empty() && block.front() != '\0') {
    const std::string_view entry = block.substr(0, block.find('\0'));
    names.emplace_back(entry.substr(0, entry.find('=', 1)));
    block.remove_prefix(std::min(block.size(), entry.size() + 1));
  }
  return names;
}

}  // namespace platform
