#include "tools/bcdboot/launcher.h"

namespace bcdboot {

std::u16string systemToolPath(std::u16string_view systemDirectory) {
  std::u16string path(systemDirectory);
  while (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  return path + u"\\bcdboot.exe";
}

std::u16string childCommandLine(std::u16string_view toolPath, std::u16string_view arguments) {
  std::u16string line = u"\"" + std::u16string(toolPath) + u"\"";
  if (!arguments.empty()) line += u" " + std::u16string(arguments);
  return line;
}

std::u16string nativeSystemDirectory(Backend& backend) {
  if (!backend.isWow64()) return backend.systemDirectory();
  std::u16string windows = backend.windowsDirectory();
  while (!windows.empty() && (windows.back() == u'\\' || windows.back() == u'/')) windows.pop_back();
  return windows.empty() ? std::u16string() : windows + u"\\Sysnative";
}

int runLauncher(std::u16string_view arguments, Backend& backend, toolio::LineSink& out) {
  std::u16string directory = nativeSystemDirectory(backend);
  if (directory.empty()) {
    out.line("错误: 无法确定系统目录,找不到系统的 bcdboot 工具。");
    return 1;
  }
  std::u16string path = systemToolPath(directory);
  if (!backend.fileExists(path)) {
    out.line("错误: 系统目录中没有 bcdboot 工具,无法创建引导文件。");
    return 1;
  }
  if (backend.wouldRecurse(path)) {
    out.line("错误: 系统目录中的 bcdboot 就是本启动器,已拒绝循环调用。");
    return 1;
  }
  long code = backend.run(path, childCommandLine(path, arguments));
  if (code < 0) {
    out.line("错误: 无法启动系统的 bcdboot 工具。");
    return 1;
  }
  return int(code);
}

}  // namespace bcdboot
