// How much processor time the program spends waiting for a tool: runs a child that
// sleeps 10 s through the command runner and prints the parent's CPU time, beside a
// loop that polls the pipe without sleeping, as a naive runner would.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/handles_win32.h"
#include "platform/win32/os_win32.h"

namespace {

double cpuSeconds() {
  FILETIME c, e, k, u;
  GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
  auto s = [](FILETIME f) { return (static_cast<unsigned long long>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 1e7; };
  return s(k) + s(u);
}

void busyPoll(const std::string& cmdLine) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE rd, wr;
  CreatePipe(&rd, &wr, &sa, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = wr;
  PROCESS_INFORMATION pi;
  std::string cmd = cmdLine;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return;
  CloseHandle(wr);
  for (;;) {
    DWORD avail = 0;
    PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr);
    if (avail) {
      char buf[1024] = {};
      DWORD got;
      ReadFile(rd, buf, 1023, &got, nullptr);
    } else {
      DWORD code;
      GetExitCodeProcess(pi.hProcess, &code);
      if (code != STILL_ACTIVE) break;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  CloseHandle(rd);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir = self;
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  const int ms = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::string cmd = "cmd.exe /c \"" + dir + "test_child.exe\" sleep " + std::to_string(ms);

  win32::Processes processes;
  double t0 = cpuSeconds();
  DWORD w0 = GetTickCount();
  processes.runCaptured(cmd);
  double ours = cpuSeconds() - t0;
  DWORD wall = GetTickCount() - w0;
  std::printf("runCaptured: child ran %.1f s, program used %.3f s of CPU (%.2f%% of one core)\n", wall / 1000.0,
              ours, 100.0 * ours / (wall / 1000.0));
  t0 = cpuSeconds();
  w0 = GetTickCount();
  busyPoll(cmd);
  double busy = cpuSeconds() - t0;
  wall = GetTickCount() - w0;
  std::printf("polling without sleep: child ran %.1f s, program used %.3f s of CPU (%.2f%% of one core)\n",
              wall / 1000.0, busy, 100.0 * busy / (wall / 1000.0));
  return 0;
}
