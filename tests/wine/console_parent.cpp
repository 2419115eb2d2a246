// Opens the console shell over "test_child startupinfo" and writes into the file named
// by its argument what it was started with itself and what the child reports:
//   parent <own cbReserved2>\nchild <the child's output>
// Started by a C-runtime spawn, its own start-up information carries the runtime's
// file table, which must not reach the shell's child.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/console_win32.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  STARTUPINFOA own = {};
  GetStartupInfoA(&own);
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string folder(self);
  folder.erase(folder.find_last_of('\\') + 1);

  win32::Console console;
  std::string output;
  const unsigned long pid = console.open("\"" + folder + "test_child.exe\" startupinfo", "");
  if (pid == 0) return 3;
  const unsigned long reader = console.startReader([] {});
  if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    WaitForSingleObject(child, 20000);
    CloseHandle(child);
  }
  // The last bytes may still be in the pipe when the child has ended.
  for (int i = 0; i < 100; ++i) {
    for (const std::string& piece : console.takeOutput(reader)) output += piece;
    if (output.find(' ') != std::string::npos && output.size() >= 3) break;
    Sleep(50);
  }
  console.close();
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 4;
  std::fprintf(out, "parent %u\nchild %s", static_cast<unsigned>(own.cbReserved2), output.c_str());
  std::fclose(out);
  return 0;
}
