#include "tools/wimengine/args.h"

#include "platform/gbk.h"

namespace wimengine {

namespace {

bool isSwitch(const std::string& arg, const char* name) { return gbk::equalsIgnoreCase(arg, name); }

bool isKnownSwitch(const std::string& arg) {
  for (const char* name : {"/flags", "/compress", "/temp", "/ref", "/verify", "/check", "/scroll"})
    if (isSwitch(arg, name)) return true;
  return false;
}

ParseResult failure(const char* message) {
  ParseResult result;
  result.error = message;
  return result;
}

}  // namespace

std::uint32_t parseImageIndex(const std::string& text) {
  if (text.empty() || text.size() > 10) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + std::uint64_t(c - '0');
  }
  return value > 0xFFFFFFFFull ? 0 : std::uint32_t(value);
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return failure("错误: 未指定操作。");
  Command command;
  std::size_t positionalCount = 0;
  const std::string& operation = args[0];
  if (isSwitch(operation, "/info")) {
    command.operation = Operation::Info;
    positionalCount = 1;
  } else if (isSwitch(operation, "/apply")) {
    command.operation = Operation::Apply;
    positionalCount = 3;
  } else if (isSwitch(operation, "/capture")) {
    command.operation = Operation::Capture;
    positionalCount = 3;  // the description is optional
  } else {
    return failure("错误: 未知的操作,应为 /info、/apply 或 /capture。");
  }

  if (args.size() < 1 + positionalCount) {
    switch (command.operation) {
      case Operation::Info: return failure("错误: 缺少参数: 未指定WIM映像文件。");
      case Operation::Apply: return failure("错误: 缺少参数: 应为 /apply 映像文件 映像编号 目标路径。");
      case Operation::Capture: return failure("错误: 缺少参数: 应为 /capture 源路径 映像文件 \"映像名称\" [\"描述\"]。");
    }
  }
  std::size_t next = 1;
  switch (command.operation) {
    case Operation::Info:
      command.wimPath = args[next++];
      break;
    case Operation::Apply:
      command.wimPath = args[next++];
      command.index = parseImageIndex(args[next++]);
      if (command.index == 0) return failure("错误: 映像编号无效,应为从 1 开始的整数。");
      command.target = args[next++];
      break;
    case Operation::Capture:
      command.source = args[next++];
      command.wimPath = args[next++];
      command.name = args[next++];
      if (next < args.size() && !isKnownSwitch(args[next])) command.description = args[next++];
      break;
  }
  if (command.wimPath.empty()) return failure("错误: 映像文件路径为空。");
  if (command.operation == Operation::Apply && command.target.empty())
    return failure("错误: 目标路径为空。");
  if (command.operation == Operation::Capture && command.source.empty())
    return failure("错误: 源路径为空。");

  bool captureOnly = false;
  bool applyOnly = false;
  for (; next < args.size(); ++next) {
    const std::string& arg = args[next];
    bool hasValue = next + 1 < args.size();
    if (isSwitch(arg, "/verify") || isSwitch(arg, "/check")) {
      command.verify = true;
    } else if (isSwitch(arg, "/scroll")) {
      // Our progress lines always scroll.
    } else if (isSwitch(arg, "/flags")) {
      if (!hasValue) return failure("错误: /flags 后缺少版本标志。");
      command.flags = args[++next];
      captureOnly = true;
    } else if (isSwitch(arg, "/compress")) {
      if (!hasValue) return failure("错误: /compress 后缺少压缩类型。");
      const std::string& kind = args[++next];
      if (isSwitch(kind, "maximum")) command.compression = Compression::Maximum;
      else if (isSwitch(kind, "fast")) command.compression = Compression::Fast;
      else if (isSwitch(kind, "none")) command.compression = Compression::None;
      else return failure("错误: 压缩类型无效,应为 maximum、fast 或 none。");
      captureOnly = true;
    } else if (isSwitch(arg, "/ref")) {
      if (!hasValue || args[next + 1].empty()) return failure("错误: /ref 后缺少分卷文件。");
      command.refPatterns.push_back(args[++next]);
      applyOnly = true;
    } else if (isSwitch(arg, "/temp")) {
      if (!hasValue) return failure("错误: /temp 后缺少临时目录。");
      command.tempDir = args[++next];
      captureOnly = true;
    } else {
      return failure("错误: 无法识别的参数。");
    }
  }
  if (captureOnly && command.operation != Operation::Capture)
    return failure("错误: /flags、/compress 和 /temp 只能用于 /capture。");
  if (applyOnly && command.operation != Operation::Apply) return failure("错误: /ref 只能用于 /apply。");

  ParseResult result;
  result.ok = true;
  result.command = std::move(command);
  return result;
}

std::vector<std::string> usageLines() {
  return {
      "用法:",
      "  ZeDadaviZezi /info 映像文件",
      "  ZeDadaviZezi /apply 映像文件 映像编号 目标路径 [/ref \"分卷文件*.swm\"]",
      "  ZeDadaviZezi /capture 源路径 映像文件 \"映像名称\" [\"描述\"] [/flags \"版本\"]",
      "               [/compress maximum|fast|none] [/temp 临时目录]",
  };
}

}  // namespace wimengine
