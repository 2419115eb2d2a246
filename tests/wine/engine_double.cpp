// Stands in for the GHO engine in the Wine tier, deployed under the engine's name.
// It does what the test asks through the environment it inherits:
//   VREL_ENGINE_LOG    file to which the command line it received is appended, one per line
//   VREL_ENGINE_SAY    file whose bytes it prints (nothing when unset: a successful run)
//   VREL_ENGINE_WRITE  bytes to write into the file named by dst="..." (a backup)
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static std::string env(const char* name) {
  char buf[4096];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string line = GetCommandLineA();
  const std::string log = env("VREL_ENGINE_LOG");
  if (!log.empty())
    if (FILE* f = std::fopen(log.c_str(), "ab")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  const std::string write = env("VREL_ENGINE_WRITE");
  const std::size_t dst = line.find("dst=\"");
  if (!write.empty() && dst != std::string::npos) {
    const std::size_t start = dst + 5, end = line.find('"', start);
    if (FILE* f = std::fopen(line.substr(start, end - start).c_str(), "wb")) {
      std::string bytes(std::strtoul(write.c_str(), nullptr, 10), 'G');
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  std::string say;
  const std::string sayFile = env("VREL_ENGINE_SAY");
  if (!sayFile.empty())
    if (FILE* f = std::fopen(sayFile.c_str(), "rb")) {
      char buf[4096];
      say.resize(std::fread(buf, 1, sizeof buf, f));
      say.assign(buf, say.size());
      std::fclose(f);
    }
  std::fwrite(say.data(), 1, say.size(), stdout);
  return say.empty() ? 0 : 1;
}
