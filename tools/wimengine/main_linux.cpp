// The engine's Linux build: arguments are the locale's bytes, passed on as they are.
#include <string>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/wimengine/backend_wimlib.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  wimengine::WimlibBackend backend;
  toolio::ConsoleOut out;
  return wimengine::runEngine(args, backend, out);
}
