// Text in the system's code pages: the ANSI code page the console and the program
// read (GBK on a Chinese WinPE), and the GBK of this program's own literals.
#pragma once

#include <string>
#include <string_view>

namespace toolio {

std::string ansiFromWide(std::wstring_view wide);
std::string ansiFromUtf8(std::string_view utf8);
// The literals are compiled to GBK whatever the system's code page is.
std::wstring wideFromGbk(std::string_view gbk);

}  // namespace toolio
