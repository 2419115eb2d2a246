#include "tools/common/console_out.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace toolio {

ConsoleOut::ConsoleOut(std::FILE* stream) : stream_(stream) {
#ifdef _WIN32
  _setmode(_fileno(stream_), _O_BINARY);
#endif
}

void ConsoleOut::line(std::string_view text) {
  std::string buffer(text);
  buffer += "\r\n";
  std::fwrite(buffer.data(), 1, buffer.size(), stream_);
  std::fflush(stream_);
}

void CapturedOut::line(std::string_view text) {
  text_.append(text);
  text_ += "\r\n";
}

}  // namespace toolio
