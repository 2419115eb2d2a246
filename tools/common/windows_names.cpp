#include "tools/common/windows_names.h"

#include "platform/gbk.h"

namespace toolio {

namespace {

using gbk::equalsIgnoreCase;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool isWindowsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (equalsIgnoreCase(base, device)) return true;
  return base.size() == 4 && (equalsIgnoreCase(base.substr(0, 3), "COM") || equalsIgnoreCase(base.substr(0, 3), "LPT")) &&
         base[3] >= '0' && base[3] <= '9';
}

bool namesWindowsDevice(std::string_view path) {
  if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && isSeparator(path[3])) {
    if (path[2] == '.') return true;
    if (path[2] == '?') {
      std::string_view rest = path.substr(4);
      const bool drive = rest.size() >= 3 && rest[1] == ':' && isSeparator(rest[2]);
      const bool unc = rest.size() >= 4 && equalsIgnoreCase(rest.substr(0, 3), "UNC") && isSeparator(rest[3]);
      if (!drive && !unc) return true;
    }
  }
  std::size_t slash = path.size();
  while (slash > 0 && !isSeparator(path[slash - 1]) && path[slash - 1] != ':') --slash;
  return isWindowsDeviceName(path.substr(slash));
}

}  // namespace toolio
