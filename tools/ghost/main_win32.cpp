// The engine's Windows build. The command line is read whole (GetCommandLineW): the
// quotes around image paths are part of the syntax and must not be lost to argv
// splitting. The work runs beside the engine's progress window; failure lines are
// printed when the window is gone, and nothing at all on success.
//
// Built twice: the shipped engine over the system's volumes, and (VREL_SIMULATED_DISKS)
// the simulated WinPE's engine, whose disks are the image files named in VREL_DISKS.
#include <windows.h>

#include <string>

#include "tools/common/command_line.h"
#include "tools/common/console_out.h"
#include "tools/common/utf.h"
#include "tools/ghost/backend_win32.h"
#ifdef VREL_SIMULATED_DISKS
#include "tools/ghost/backend_disk_images.h"
#endif
#include "tools/ghost/progress_window.h"

int main() {
  toolio::ConsoleOut out;
  ghost::ParseResult parsed = ghost::parseCommandLine(toolio::utf8FromWide(toolio::ownCommandTail()));
  if (!parsed.ok) {
    out.line(parsed.error);
    return 2;
  }
#ifdef VREL_SIMULATED_DISKS
  std::unique_ptr<ghost::Files> files = ghost::faultyFiles(ghost::platformFiles(), disk::faultsFromEnvironment());
  ghost::DiskImagesBackend backend(disk::environmentDiskSet(), *files);
#else
  ghost::Win32Backend backend;
#endif
  toolio::CapturedOut captured;
  int code = 1;
  toolio::runWithProgressWindow(ghost::progressWindowFor(parsed.command), [&](toolio::Progress& progress) {
    code = ghost::runCommand(parsed.command, backend, progress, captured);
  });
  if (!captured.text().empty()) {
    std::fwrite(captured.text().data(), 1, captured.text().size(), stdout);
    std::fflush(stdout);
  }
  return code;
}
