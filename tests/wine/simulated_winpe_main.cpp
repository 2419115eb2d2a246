// The real program composed for a simulated WinPE under Wine: Wine's Windows
// directory is always C:\windows, so this composition reports X:\Windows, a drive
// the test maps to a folder of its own. It carries the simulated builds of the tools
// that read the disk images named in VREL_DISKS (found in "simulated\" beside this
// program) in place of the shipped ones; nothing else differs from the shipped program.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "app/program.h"
#include "payload/payload.h"
#include "platform/win32/os_win32.h"

namespace {

class SimulatedWinPE : public win32::System {
 public:
  std::string windowsDirectory() override { return "X:\\Windows"; }
};

std::string simulatedToolFolder() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of('\\') + 1) + "simulated\\";
}

}  // namespace

int main() {
  SimulatedWinPE system;
  static std::map<std::string, std::string, std::less<>> simulated;
  const std::string folder = simulatedToolFolder();
  auto payloads = [folder](std::string_view name) -> std::string_view {
    auto found = simulated.find(name);
    if (found == simulated.end()) {
      std::ifstream in(folder + std::string(name), std::ios::binary);
      std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      found = simulated.emplace(std::string(name), std::move(bytes)).first;
    }
    return found->second.empty() ? payloadFor(name) : std::string_view(found->second);
  };
  return app::runProgram(&system, payloads);
}
