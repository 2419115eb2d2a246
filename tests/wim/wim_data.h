// The recorded engine outputs in tests/data/wimengine/.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace wimtest {

inline std::string readData(const std::string& name) {
  std::ifstream in(std::string(WIM_TEST_DATA) + "/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace wimtest
