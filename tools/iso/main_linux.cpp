// The ISO tool's Linux build: the copy (/X) and the listing, for tests and for use
// on Linux; mounting belongs to the Windows build.
#include <sys/stat.h>

#include <string>

#include "tools/common/console_out.h"
#include "tools/iso/files_posix.h"
#include "tools/iso/tool.h"

namespace {

class LinuxBackend : public iso::Backend {
 public:
  bool fileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }
  std::unique_ptr<iso::ImageSource> openImage(const std::string& path) override { return iso::openPosixImage(path); }
  std::unique_ptr<iso::OutputTree> openFolder(const std::string& path) override { return iso::openPosixFolder(path); }
};

}  // namespace

int main(int argc, char** argv) {
  // The shell has split the line already; quoted arguments come back quoted so that
  // a path with blanks stays one value.
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i > 1) tail += ' ';
    std::size_t colon = arg.find(':');
    if (arg.size() > 3 && arg[0] == '/' && colon == 2 && arg.find(' ') != std::string::npos && arg[3] != '"')
      arg = arg.substr(0, 3) + '"' + arg.substr(3) + '"';
    tail += arg;
  }
  LinuxBackend backend;
  toolio::ConsoleOut out;
  return iso::runIsoTool(tail, backend, out);
}
