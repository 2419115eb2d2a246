#include "tools/common/utf.h"

namespace toolio {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

template <typename UnitAt>
std::string decodeUtf16(std::size_t count, UnitAt unitAt) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      char32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  return out;
}

}  // namespace

std::string utf16leBytesToUtf8(const void* data, std::size_t byteCount) {
  auto bytes = static_cast<const unsigned char*>(data);
  std::size_t count = byteCount / 2;
  std::size_t first = 0;
  if (count > 0 && bytes[0] == 0xFF && bytes[1] == 0xFE) first = 1;
  return decodeUtf16(count - first, [&](std::size_t i) {
    std::size_t k = (i + first) * 2;
    return char32_t(bytes[k] | (bytes[k + 1] << 8));
  });
}

std::string utf16ToUtf8(std::u16string_view text) {
  return decodeUtf16(text.size(), [&](std::size_t i) { return char32_t(text[i]); });
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t need = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : 99;
    char32_t c = need == 0 ? b : need == 1 ? (b & 0x1F) : need == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = need != 99 && i + need < text.size();
    for (std::size_t k = 1; ok && k <= need; ++k) {
      auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms and surrogates are as malformed as a stray byte.
    static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (c < kMinimum[need] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      out += char16_t(kReplacement);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
    i += need + 1;
  }
  return out;
}

std::string utf16ToLeBytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t u : text) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is a UTF-16 code unit");

std::wstring wideFromUtf8(std::string_view utf8) {
  std::u16string text = utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string utf8FromWide(std::wstring_view wide) {
  return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}
#endif

}  // namespace toolio
