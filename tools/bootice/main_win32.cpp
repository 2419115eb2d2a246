// The Windows build: the arguments arrive in the ANSI code page (GBK on a Chinese
// WinPE), the code page of every line the tool prints.
#include <string>
#include <vector>

#include "platform/win32/error_mode_win32.h"
#include "tools/bootice/backend_win32.h"
#include "tools/common/console_out.h"

int main(int argc, char** argv) {
  win32::failCriticalErrorsSilently();
  std::vector<std::string> args(argv + 1, argv + argc);
  bootice::Win32Backend backend;
  toolio::ConsoleOut out;
  return bootice::runBootice(args, backend, out);
}
