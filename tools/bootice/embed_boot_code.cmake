# Turns the assembled boot program into a C++ source: cmake -DINPUT=... -DOUTPUT=... -P
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(NOT size EQUAL 440)
  message(FATAL_ERROR "${INPUT}: the boot program is ${size} bytes, must be exactly 440")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from mbr_boot.s at build time.
#include \"tools/bootice/boot_records.h\"

namespace bootice {
namespace {
const std::uint8_t kCode[kBootCodeSize] = {
  ${bytes}
};
}  // namespace
const std::uint8_t* mbrBootCode() { return kCode; }
}  // namespace bootice
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
