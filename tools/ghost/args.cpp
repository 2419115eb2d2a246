#include "tools/ghost/args.h"

#include <vector>

#include "platform/gbk.h"

namespace ghost {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Token {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Splits at blanks outside double quotes; quotes stay in the tokens.
std::vector<Token> tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    Token token{i, i};
    bool quoted = false;
    while (i < line.size() && (quoted || !isBlank(line[i]))) {
      if (line[i] == '"') quoted = !quoted;
      ++i;
    }
    token.end = i;
    tokens.push_back(token);
  }
  return tokens;
}

ParseResult failure(const char* message) {
  ParseResult result;
  result.error = message;
  return result;
}

bool allDigits(std::string_view s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Reads one value of the -clone list starting at pos: either "quoted" (then an
// optional :N suffix is returned separately) or everything up to the next comma.
struct Value {
  std::string text;
  std::string suffix;  // after a closing quote, e.g. ":1"
  bool quoted = false;
  bool ok = true;
};

Value readValue(std::string_view s, std::size_t& pos) {
  Value value;
  if (pos < s.size() && s[pos] == '"') {
    std::size_t close = s.find('"', pos + 1);
    if (close == std::string_view::npos) {
      value.ok = false;
      pos = s.size();
      return value;
    }
    value.quoted = true;
    value.text = std::string(s.substr(pos + 1, close - pos - 1));
    pos = close + 1;
    std::size_t comma = s.find(',', pos);
    if (comma == std::string_view::npos) comma = s.size();
    value.suffix = std::string(s.substr(pos, comma - pos));
    pos = comma;
    return value;
  }
  std::size_t comma = s.find(',', pos);
  if (comma == std::string_view::npos) comma = s.size();
  value.text = std::string(s.substr(pos, comma - pos));
  if (value.text.find('"') != std::string::npos) value.ok = false;
  pos = comma;
  return value;
}

// "path:N" or "path" (unquoted), or the suffix ":N" after a quoted path.
bool splitImageSource(const Value& value, std::string& path, unsigned& partition) {
  partition = 1;
  if (value.quoted) {
    path = value.text;
    if (value.suffix.empty()) return !path.empty();
    if (value.suffix[0] != ':' || !allDigits(value.suffix.substr(1))) return false;
    partition = unsigned(std::stoul(value.suffix.substr(1)));
    return !path.empty();
  }
  path = value.text;
  std::size_t colon = path.rfind(':');
  if (colon != std::string::npos && colon > 1 && allDigits(path.substr(colon + 1))) {
    partition = unsigned(std::stoul(path.substr(colon + 1)));
    path.resize(colon);
  }
  return !path.empty();
}

bool isDesignatorShape(std::string_view s) {
  std::size_t colon = s.find(':');
  return colon != std::string_view::npos && allDigits(s.substr(0, colon)) &&
         allDigits(s.substr(colon + 1));
}

ParseResult parseClone(std::string_view spec) {
  // spec: everything after "-clone,"
  std::string mode;
  Value src, dst;
  bool haveSrc = false, haveDst = false;
  std::size_t pos = 0;
  while (pos < spec.size()) {
    std::size_t eq = spec.find('=', pos);
    if (eq == std::string_view::npos) return failure("错误: -clone 参数格式不正确。");
    std::string key = gbk::toLowerAscii(spec.substr(pos, eq - pos));
    pos = eq + 1;
    Value value = readValue(spec, pos);
    if (!value.ok) return failure("错误: -clone 参数中的引号不成对。");
    if (key == "mode") {
      if (value.quoted || !value.suffix.empty()) return failure("错误: -clone 参数格式不正确。");
      mode = gbk::toLowerAscii(value.text);
    } else if (key == "src") {
      src = value;
      haveSrc = true;
    } else if (key == "dst") {
      dst = value;
      haveDst = true;
    } else {
      return failure("错误: -clone 中有无法识别的项(只支持 mode、src、dst)。");
    }
    if (pos < spec.size()) {
      if (spec[pos] != ',') return failure("错误: -clone 参数格式不正确。");
      ++pos;
      if (pos == spec.size()) return failure("错误: -clone 参数格式不正确。");
    }
  }
  ParseResult result;
  Command& c = result.command;
  if (mode == "pload") {
    c.mode = Mode::Restore;
  } else if (mode == "pdump") {
    c.mode = Mode::Backup;
  } else if (mode.empty()) {
    return failure("错误: -clone 缺少 mode(应为 pload 或 pdump)。");
  } else {
    return failure("错误: 不支持的操作模式,只支持 mode=pload(还原分区)和 mode=pdump(备份分区)。");
  }
  if (!haveSrc) return failure("错误: -clone 缺少源(src=)。");
  if (!haveDst) return failure("错误: -clone 缺少目标(dst=)。");
  if (c.mode == Mode::Restore) {
    if (!splitImageSource(src, c.imagePath, c.imagePartition))
      return failure("错误: 源映像文件的写法不正确,应为 src=\"映像文件\":1。");
    if (dst.quoted || !dst.suffix.empty() || !isDesignatorShape(dst.text))
      return failure("错误: 目标分区的写法不正确,应为 dst=磁盘号:分区号。");
    c.partition = dst.text;
  } else {
    if (src.quoted || !src.suffix.empty() || !isDesignatorShape(src.text))
      return failure("错误: 源分区的写法不正确,应为 src=磁盘号:分区号。");
    c.partition = src.text;
    if (!dst.suffix.empty() || dst.text.empty())
      return failure("错误: 目标映像文件的写法不正确,应为 dst=\"映像文件\"。");
    c.imagePath = dst.text;
  }
  result.ok = true;
  return result;
}

}  // namespace

ParseResult parseCommandLine(std::string_view line) {
  std::vector<Token> tokens = tokenize(line);
  ParseResult result;
  bool haveOperation = false;
  Command command;
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    std::string_view token = line.substr(tokens[t].begin, tokens[t].end - tokens[t].begin);
    std::string lower = gbk::toLowerAscii(token);
    if (gbk::startsWith(lower, "-clone,")) {
      if (haveOperation) return failure("错误: 一次只能执行一个操作。");
      ParseResult clone = parseClone(token.substr(7));
      if (!clone.ok) return clone;
      command.mode = clone.command.mode;
      command.imagePath = clone.command.imagePath;
      command.imagePartition = clone.command.imagePartition;
      command.partition = clone.command.partition;
      haveOperation = true;
    } else if (gbk::startsWith(lower, "-chkimg,")) {
      if (haveOperation) return failure("错误: 一次只能执行一个操作。");
      command.mode = Mode::Check;
      std::size_t start = tokens[t].begin + 8;
      if (start < line.size() && line[start] == '"') {
        std::string_view rest = token.substr(8);
        if (rest.size() < 2 || rest.back() != '"' || rest.substr(1, rest.size() - 2).find('"') != std::string_view::npos)
          return failure("错误: -CHKIMG 的映像文件路径中的引号不成对。");
        command.imagePath = std::string(rest.substr(1, rest.size() - 2));
      } else {
        // An unquoted path with blanks arrives as several words: it runs up to the
        // next switch.
        std::size_t end = tokens[t].end;
        while (t + 1 < tokens.size() && line[tokens[t + 1].begin] != '-') end = tokens[++t].end;
        command.imagePath = std::string(line.substr(start, end - start));
        if (command.imagePath.find('"') != std::string::npos)
          return failure("错误: -CHKIMG 的映像文件路径中的引号不成对。");
      }
      if (command.imagePath.empty()) return failure("错误: -CHKIMG 缺少映像文件路径。");
      haveOperation = true;
    } else if (lower.size() == 3 && lower[0] == '-' && lower[1] == 'z' && lower[2] >= '1' &&
               lower[2] <= '9') {
      command.level = lower[2] - '0';
    } else if (lower == "-crcignore") {
      command.crcIgnore = true;
    } else if (lower == "-batch") {
      command.batch = true;
    } else if (lower == "-sure") {
      command.sure = true;
    } else if (lower == "-noide" || lower == "-fx") {
      // No IDE access and "exit when done" are how this engine always works.
    } else if (lower == "-clone" || lower == "-chkimg") {
      return failure("错误: 操作后缺少参数(应为 -clone,... 或 -CHKIMG,映像文件)。");
    } else if (gbk::startsWith(lower, "-z")) {
      return failure("错误: 压缩级别不正确,应为 -z1 到 -z9。");
    } else {
      return failure("错误: 无法识别的参数,操作未执行。");
    }
  }
  if (!haveOperation) return failure("错误: 未指定操作,应为 -clone 或 -CHKIMG。");
  result.ok = true;
  result.command = command;
  return result;
}

}  // namespace ghost
