// Stands in for bootice.exe and bcdboot.exe in the Wine tier: appends its command
// line to calls.log beside itself, then prints <its own name>.out from that folder
// (nothing when there is none).
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path = self;
  const std::size_t slash = path.find_last_of('\\');
  const std::string folder = path.substr(0, slash + 1);
  std::string name = path.substr(slash + 1);
  name = name.substr(0, name.find_last_of('.'));
  if (FILE* log = std::fopen((folder + "calls.log").c_str(), "ab")) {
    std::fprintf(log, "%s\r\n", GetCommandLineA());
    std::fclose(log);
  }
  if (FILE* out = std::fopen((folder + name + ".out").c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) std::fwrite(buf, 1, n, stdout);
    std::fclose(out);
  }
  std::fflush(stdout);
  return 0;
}
