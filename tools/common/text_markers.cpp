#include "tools/common/text_markers.h"

namespace toolio {

std::string fillMarkers(const char* text, const std::function<std::string(char key)>& valueOf) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p != '%' || !p[1]) {
      out += *p;
    } else if (*++p == '%') {
      out += '%';
    } else {
      out += valueOf(*p);
    }
  }
  return out;
}

}  // namespace toolio
