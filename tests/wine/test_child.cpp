// A child program for the Wine tier: prints and sleeps on demand.
//   test_child print N      N bytes of numbered lines
//   test_child sleep MS     sleeps, prints nothing
//   test_child nul          "before", a NUL byte, "after"
//   test_child gbk          GBK text
//   test_child cmdline ...  its whole command line as received, exit code 3
//   test_child startupinfo  the C-runtime fields of its start-up information: "<cbReserved2> <lpReserved2 set>"
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  _setmode(_fileno(stdout), _O_BINARY);  // the bytes as written, no CR added
  std::string mode = argv[1];
  long n = argc > 2 ? std::atol(argv[2]) : 0;
  if (mode == "print") {
    std::string out;
    for (int i = 0; static_cast<long>(out.size()) < n; ++i) out += "line " + std::to_string(i) + "\r\n";
    out.resize(n);
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else if (mode == "sleep") {
    Sleep(static_cast<DWORD>(n));
  } else if (mode == "nul") {
    std::fwrite("before\0after", 1, 12, stdout);
  } else if (mode == "gbk") {
    std::fputs("中文输出", stdout);
  } else if (mode == "startupinfo") {
    STARTUPINFOA si = {};
    GetStartupInfoA(&si);
    std::printf("%u %d", static_cast<unsigned>(si.cbReserved2), si.lpReserved2 != nullptr);
  } else if (mode == "cmdline") {
    std::fputs(GetCommandLineA(), stdout);
    std::fflush(stdout);
    return 3;
  }
  std::fflush(stdout);
  return 0;
}
