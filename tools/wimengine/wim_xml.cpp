#include "tools/wimengine/wim_xml.h"

#include <cstddef>

namespace wimengine {

namespace {

enum class TokenKind { Text, Open, Close, SelfClosed, Other };

struct Token {
  TokenKind kind;
  std::string text;  // the whole token as stored
  std::string name;  // element name for Open / Close / SelfClosed
};

bool isNameChar(char c) {
  return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=');
}

std::size_t findFrom(std::string_view s, std::string_view what, std::size_t from) {
  std::size_t pos = s.find(what, from);
  return pos == std::string_view::npos ? s.size() : pos + what.size();
}

// End of a tag that starts at '<': the first '>' outside quoted attribute values.
std::size_t tagEnd(std::string_view s, std::size_t start) {
  char quote = 0;
  for (std::size_t i = start + 1; i < s.size(); ++i) {
    char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return s.size();
}

std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '<') {
      std::size_t end = s.find('<', i);
      if (end == std::string_view::npos) end = s.size();
      tokens.push_back({TokenKind::Text, std::string(s.substr(i, end - i)), {}});
      i = end;
      continue;
    }
    std::size_t end;
    TokenKind kind = TokenKind::Other;
    if (s.compare(i, 4, "<!--") == 0) end = findFrom(s, "-->", i + 4);
    else if (s.compare(i, 9, "<![CDATA[") == 0) end = findFrom(s, "]]>", i + 9);
    else if (s.compare(i, 2, "<?") == 0) end = findFrom(s, "?>", i + 2);
    else if (s.compare(i, 2, "<!") == 0) end = tagEnd(s, i);
    else {
      end = tagEnd(s, i);
      kind = s.compare(i, 2, "</") == 0 ? TokenKind::Close
             : (end - i >= 3 && s[end - 2] == '/' && s[end - 1] == '>') ? TokenKind::SelfClosed
                                                                         : TokenKind::Open;
    }
    Token token{kind, std::string(s.substr(i, end - i)), {}};
    if (kind != TokenKind::Other) {
      std::size_t n = i + (kind == TokenKind::Close ? 2 : 1);
      std::size_t e = n;
      while (e < end && isNameChar(s[e])) ++e;
      token.name = std::string(s.substr(n, e - n));
    }
    tokens.push_back(std::move(token));
    i = end;
  }
  return tokens;
}

bool isBlank(std::string_view s) {
  for (char c : s)
    if (!(c == ' ' || c == '\t' || c == '\r' || c == '\n')) return false;
  return true;
}

std::string trimmed(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

// Text keeps its bytes; line breaks are written as references so the line stays whole.
std::string oneLine(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\r') out += "&#13;";
    else if (c == '\n') out += "&#10;";
    else out += c;
  }
  return out;
}

// Inside a tag a line break is only a separator between attributes.
std::string tagOnOneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return out;
}

}  // namespace

std::vector<std::string> prettyXmlLines(std::string_view xml) {
  if (xml.size() >= 3 && xml.compare(0, 3, "\xEF\xBB\xBF") == 0) xml.remove_prefix(3);
  std::vector<Token> tokens = tokenize(xml);
  std::vector<std::string> lines;
  std::size_t depth = 0;
  auto indent = [&](std::size_t level) { return std::string(level * 2, ' '); };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    switch (t.kind) {
      case TokenKind::Open: {
        // <A>text</A> and <A></A> stay on one line.
        bool leafWithText = i + 2 < tokens.size() && tokens[i + 1].kind == TokenKind::Text &&
                            tokens[i + 2].kind == TokenKind::Close && tokens[i + 2].name == t.name;
        bool emptyLeaf = i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Close &&
                         tokens[i + 1].name == t.name;
        if (leafWithText) {
          lines.push_back(indent(depth) + tagOnOneLine(t.text) + oneLine(tokens[i + 1].text) +
                          tagOnOneLine(tokens[i + 2].text));
          i += 2;
        } else if (emptyLeaf) {
          lines.push_back(indent(depth) + tagOnOneLine(t.text) + tagOnOneLine(tokens[i + 1].text));
          i += 1;
        } else {
          lines.push_back(indent(depth) + tagOnOneLine(t.text));
          ++depth;
        }
        break;
      }
      case TokenKind::Close:
        if (depth > 0) --depth;
        lines.push_back(indent(depth) + tagOnOneLine(t.text));
        break;
      case TokenKind::SelfClosed:
      case TokenKind::Other:
        lines.push_back(indent(depth) + oneLine(t.text));
        break;
      case TokenKind::Text:
        if (!isBlank(t.text)) lines.push_back(indent(depth) + oneLine(trimmed(t.text)));
        break;
    }
  }
  return lines;
}

std::string escapeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

bool isBlankFlags(std::string_view flags) {
  for (char c : flags)
    if (c != ' ' && c != '\t') return false;
  return true;
}

std::string withImageProperties(std::string_view xml, std::string_view name, std::string_view description,
                                std::string_view flags) {
  std::vector<Token> tokens = tokenize(xml);
  std::size_t imageOpen = tokens.size(), imageClose = tokens.size();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (imageOpen == tokens.size() && tokens[i].kind == TokenKind::Open && tokens[i].name == "IMAGE") imageOpen = i;
    else if (imageOpen != tokens.size() && tokens[i].kind == TokenKind::Close && tokens[i].name == "IMAGE") {
      imageClose = i;
      break;
    }
  }
  std::string properties = "<NAME>" + escapeXmlText(name) + "</NAME>";
  properties += "<DESCRIPTION>" + escapeXmlText(description) + "</DESCRIPTION>";
  if (!isBlankFlags(flags)) properties += "<FLAGS>" + escapeXmlText(flags) + "</FLAGS>";
  if (imageClose == tokens.size()) return "<IMAGE>" + properties + "</IMAGE>";

  // Drop the old values: direct children of IMAGE only, so a NAME inside WINDOWS stays.
  std::string out;
  for (std::size_t i = 0; i <= imageOpen; ++i) out += tokens[i].text;
  std::size_t depth = 0;
  for (std::size_t i = imageOpen + 1; i < imageClose; ++i) {
    const Token& t = tokens[i];
    bool replaced = t.name == "NAME" || t.name == "DESCRIPTION" || t.name == "FLAGS";
    if (depth == 0 && replaced && t.kind == TokenKind::Open) {
      std::size_t j = i + 1;
      while (j < imageClose && !(tokens[j].kind == TokenKind::Close && tokens[j].name == t.name)) ++j;
      if (j < imageClose) {
        i = j;
        continue;
      }
    }
    if (depth == 0 && replaced && t.kind == TokenKind::SelfClosed) continue;
    if (t.kind == TokenKind::Open) ++depth;
    if (t.kind == TokenKind::Close && depth > 0) --depth;
    out += t.text;
  }
  out += properties;
  for (std::size_t i = imageClose; i < tokens.size(); ++i) out += tokens[i].text;
  return out;
}

}  // namespace wimengine
