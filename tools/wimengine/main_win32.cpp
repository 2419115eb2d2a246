// The engine's Windows build. wmain takes the command line as UTF-16, so paths and
// names survive whatever the ANSI code page is; the core works on UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/error_mode_win32.h"
#include "tools/common/console_out.h"
#include "tools/common/utf.h"
#include "tools/wimengine/backend_wimgapi.h"

int wmain(int argc, wchar_t** argv) {
  win32::failCriticalErrorsSilently();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(toolio::utf8FromWide(argv[i]));
  wimengine::WimgapiBackend backend;
  toolio::ConsoleOut out;
  return wimengine::runEngine(args, backend, out);
}
