// The real program composed for a simulated WinPE under Wine: Wine's Windows
// directory is always C:\windows, so this composition reports X:\Windows, a drive
// the test maps to a folder of its own. Nothing else differs from the shipped program.
#include "app/program.h"
#include "platform/win32/win32_os.h"

namespace {

class SimulatedWinPE : public win32::System {
 public:
  std::string windowsDirectory() override { return "X:\\Windows"; }
};

}  // namespace

int main() {
  SimulatedWinPE system;
  return app::runProgram(&system);
}
