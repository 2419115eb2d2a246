#include "tools/wimengine/wim_xml.h"

#include <gtest/gtest.h>

#include "tools/common/utf.h"

namespace wimengine {
namespace {

using Lines = std::vector<std::string>;

TEST(WimEngineXml, OneElementPerLineWithTwoBlankIndent) {
  // As stored by the library: one line, no blanks between elements.
  std::string xml =
      "<WIM><TOTALBYTES>123</TOTALBYTES><IMAGE INDEX=\"1\"><DIRCOUNT>5</DIRCOUNT>"
      "<CREATIONTIME><HIGHPART>0x01</HIGHPART><LOWPART>0x02</LOWPART></CREATIONTIME>"
      "<WINDOWS><ARCH>9</ARCH><INSTALLATIONTYPE>Client</INSTALLATIONTYPE><LANGUAGES><LANGUAGE>zh-CN</LANGUAGE>"
      "</LANGUAGES></WINDOWS><NAME>Windows 7 旗舰版</NAME><DISPLAYNAME>显示 名</DISPLAYNAME><FLAGS>    </FLAGS>"
      "</IMAGE><IMAGE INDEX=\"2\"><NAME>二</NAME><DESCRIPTION></DESCRIPTION></IMAGE></WIM>";
  Lines expected = {
      "<WIM>",
      "  <TOTALBYTES>123</TOTALBYTES>",
      "  <IMAGE INDEX=\"1\">",
      "    <DIRCOUNT>5</DIRCOUNT>",
      "    <CREATIONTIME>",
      "      <HIGHPART>0x01</HIGHPART>",
      "      <LOWPART>0x02</LOWPART>",
      "    </CREATIONTIME>",
      "    <WINDOWS>",
      "      <ARCH>9</ARCH>",
      "      <INSTALLATIONTYPE>Client</INSTALLATIONTYPE>",
      "      <LANGUAGES>",
      "        <LANGUAGE>zh-CN</LANGUAGE>",
      "      </LANGUAGES>",
      "    </WINDOWS>",
      "    <NAME>Windows 7 旗舰版</NAME>",
      "    <DISPLAYNAME>显示 名</DISPLAYNAME>",
      "    <FLAGS>    </FLAGS>",
      "  </IMAGE>",
      "  <IMAGE INDEX=\"2\">",
      "    <NAME>二</NAME>",
      "    <DESCRIPTION></DESCRIPTION>",
      "  </IMAGE>",
      "</WIM>",
  };
  EXPECT_EQ(prettyXmlLines(xml), expected);
}

TEST(WimEngineXml, NothingSpansTwoLines) {
  struct Case {
    const char* xml;
    Lines lines;
  } cases[] = {
      // A multi-line description from the backup window.
      {"<IMAGE><DESCRIPTION>a\r\nb</DESCRIPTION></IMAGE>",
       {"<IMAGE>", "  <DESCRIPTION>a&#13;&#10;b</DESCRIPTION>", "</IMAGE>"}},
      {"<WIM>\r\n  <IMAGE\r\n INDEX=\"1\">\n<NAME>x</NAME>\n</IMAGE>\n</WIM>\n",
       {"<WIM>", "  <IMAGE   INDEX=\"1\">", "    <NAME>x</NAME>", "  </IMAGE>", "</WIM>"}},
      // A '>' inside an attribute value does not end the tag.
      {"<A B=\"x>y\"><C/></A>", {"<A B=\"x>y\">", "  <C/>", "</A>"}},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?><A>1</A>", {"<?xml version=\"1.0\"?>", "<A>1</A>"}},
  };
  for (const Case& k : cases) EXPECT_EQ(prettyXmlLines(k.xml), k.lines) << k.xml;
}

TEST(WimEngineXml, DamagedDocumentsStillShowTheirElements) {
  struct Case {
    const char* xml;
    Lines lines;
  } cases[] = {
      {"<WIM><IMAGE><NAME>a</NAME>", {"<WIM>", "  <IMAGE>", "    <NAME>a</NAME>"}},
      {"</X></Y><NAME>a</NAME>", {"</X>", "</Y>", "<NAME>a</NAME>"}},
      {"<NAME>a", {"<NAME>", "  a"}},
      {"<NAME", {"<NAME"}},
      {"", {}},
  };
  for (const Case& k : cases) EXPECT_EQ(prettyXmlLines(k.xml), k.lines) << k.xml;
}

TEST(WimEngineXml, ImagePropertiesReplaceOnlyTheImagesOwn) {
  struct Case {
    const char* xml;
    const char* name;
    const char* description;
    const char* flags;
    const char* result;
  } cases[] = {
      {"<IMAGE INDEX=\"1\"><DIRCOUNT>1</DIRCOUNT><NAME>old</NAME><FLAGS>x</FLAGS></IMAGE>", "新", "d", "Ultimate",
       "<IMAGE INDEX=\"1\"><DIRCOUNT>1</DIRCOUNT><NAME>新</NAME><DESCRIPTION>d</DESCRIPTION>"
       "<FLAGS>Ultimate</FLAGS></IMAGE>"},
      // Four blanks are "no edition"; a NAME deeper down is not the image's.
      {"<IMAGE><WINDOWS><NAME>keep</NAME></WINDOWS><DESCRIPTION/></IMAGE>", " ", "a&b<c>", "    ",
       "<IMAGE><WINDOWS><NAME>keep</NAME></WINDOWS><NAME> </NAME><DESCRIPTION>a&amp;b&lt;c&gt;</DESCRIPTION>"
       "</IMAGE>"},
      {"", "n", "", "", "<IMAGE><NAME>n</NAME><DESCRIPTION></DESCRIPTION></IMAGE>"},
  };
  for (const Case& k : cases)
    EXPECT_EQ(withImageProperties(k.xml, k.name, k.description, k.flags), k.result) << k.xml;
}

TEST(WimEngineUtf, Utf16Conversions) {
  // "A中" + U+1F600 (surrogate pair), little-endian with a byte-order mark.
  const unsigned char bytes[] = {0xFF, 0xFE, 'A', 0, 0x2D, 0x4E, 0x3D, 0xD8, 0x00, 0xDE};
  EXPECT_EQ(toolio::utf16leBytesToUtf8(bytes, sizeof bytes), u8"A中\xF0\x9F\x98\x80");
  EXPECT_EQ(toolio::utf16leBytesToUtf8(bytes + 2, sizeof bytes - 2), u8"A中\xF0\x9F\x98\x80");
  // A lone surrogate and an odd trailing byte.
  const unsigned char broken[] = {0x00, 0xD8, 'B', 0, 'C'};
  EXPECT_EQ(toolio::utf16leBytesToUtf8(broken, sizeof broken), "\xEF\xBF\xBD" "B");

  EXPECT_EQ(toolio::utf8ToUtf16(u8"A中\xF0\x9F\x98\x80"), std::u16string(u"A中\U0001F600"));
  // Stray continuation, overlong '/', truncated sequence, encoded surrogate.
  EXPECT_EQ(toolio::utf8ToUtf16("\x80" "a\xC0\xAF" "b\xE4\xB8"), std::u16string(u"\uFFFDa\uFFFD\uFFFDb\uFFFD\uFFFD"));
  EXPECT_EQ(toolio::utf8ToUtf16("\xED\xA0\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(toolio::utf16ToUtf8(toolio::utf8ToUtf16(u8"路径 C:\\映像")), u8"路径 C:\\映像");
  EXPECT_EQ(toolio::utf16ToLeBytes(u"A中"), std::string("A\0\x2D\x4E", 4));
}

}  // namespace
}  // namespace wimengine
