// The part of a Windows command line after the program name, exactly as typed.
// Tools that take a path "to the end of the line" or pass their arguments on to
// another program need the raw text: splitting into argv loses quotes and blanks.
#pragma once

#include <string_view>

#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace toolio {

// The program name follows the system's own rule: up to the closing quote when it
// starts with one, else up to the first blank or tab. The blanks after it are dropped.
template <typename Char>
std::basic_string_view<Char> commandTail(std::basic_string_view<Char> line) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == Char('"')) {
    std::size_t close = line.find(Char('"'), 1);
    pos = close == line.npos ? line.size() : close + 1;
  } else {
    while (pos < line.size() && line[pos] != Char(' ') && line[pos] != Char('\t')) ++pos;
  }
  while (pos < line.size() && (line[pos] == Char(' ') || line[pos] == Char('\t'))) ++pos;
  return line.substr(pos);
}

#ifdef _WIN32
// This program's own command line after its name, as typed (GetCommandLineW).
inline std::wstring ownCommandTail() { return std::wstring(commandTail(std::wstring_view(GetCommandLineW()))); }
#endif

}  // namespace toolio
