// Placeholder for a carried tool whose real program is not built yet.
#include <cstdio>

#ifndef VREL_TOOL_TITLE
#define VREL_TOOL_TITLE "工具"
#endif

int main() {
  std::fputs("错误: " VREL_TOOL_TITLE " 尚未提供,无法执行此操作。\r\n", stdout);
  return 2;
}
