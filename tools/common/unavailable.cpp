// Placeholder for a carried tool whose real program is not built yet.
#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef VREL_TOOL_TITLE
#define VREL_TOOL_TITLE "工具"
#endif

int main() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // CR LF as written: text mode would make it CR CR LF
#endif
  std::fputs("错误: " VREL_TOOL_TITLE " 尚未提供,无法执行此操作。\r\n", stdout);
  return 2;
}
