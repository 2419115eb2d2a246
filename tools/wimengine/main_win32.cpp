// The engine's Windows build. wmain takes the command line as UTF-16, so paths and
// names survive whatever the ANSI code page is; the core works on UTF-8.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/common/utf.h"
#include "tools/wimengine/backend_choice.h"
#include "tools/wimengine/backend_wimgapi.h"
#include "tools/wimengine/backend_wimlib.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(toolio::utf8FromWide(argv[i]));
  toolio::ConsoleOut out;
  auto choice = wimengine::parseLibraryChoice(std::getenv(wimengine::kLibraryVariable));
  if (!choice) {
    out.line(wimengine::libraryChoiceError());
    return 2;
  }
  wimengine::WimgapiBackend system;
  wimengine::WimlibBackend wimlib;
  wimengine::FallbackBackend backend(system, wimlib, *choice);
  return wimengine::runEngine(args, backend, out);
}
