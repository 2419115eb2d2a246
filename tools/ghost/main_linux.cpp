// The engine's Linux build: disks are the entries of VREL_DISKS. The arguments are
// joined with blanks into one command line, as Windows would hand it over; a path
// with blanks therefore keeps its quotes inside its argument ("src=\"/a b.gho\":1").
// No window: it runs silently and prints only failures.
#include <string>

#include "tools/common/console_out.h"
#include "tools/ghost/backend_disk_images.h"
#include "tools/ghost/platform_files.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  toolio::ConsoleOut out;
  ghost::ParseResult parsed = ghost::parseCommandLine(line);
  if (!parsed.ok) {
    out.line(parsed.error);
    return 2;
  }
  std::unique_ptr<ghost::Files> files = ghost::faultyFiles(ghost::platformFiles(), disk::faultsFromEnvironment());
  ghost::DiskImagesBackend backend(disk::environmentDiskSet(), *files);
  toolio::NoProgress progress;
  return ghost::runCommand(parsed.command, backend, progress, out);
}
