#include "tools/bootice/args.h"

#include "platform/gbk.h"

namespace bootice {

namespace {

enum class Object { None, Mbr, Pbr, Partitions };
enum class Verb { None, Install, Activate };

ParseResult failure(std::string message) {
  ParseResult result;
  result.error = std::move(message);
  return result;
}

bool is(const std::string& arg, const char* name) { return gbk::equalsIgnoreCase(arg, name); }

bool parseType(const std::string& text, BootType& type) {
  static const struct {
    const char* name;
    BootType type;
  } kTypes[] = {
      {"nt60", BootType::Nt60}, {"nt52", BootType::Nt52}, {"bootmgr", BootType::Bootmgr}, {"ntldr", BootType::Ntldr}};
  for (const auto& entry : kTypes) {
    if (gbk::equalsIgnoreCase(text, entry.name)) {
      type = entry.type;
      return true;
    }
  }
  return false;
}

bool isMbrType(BootType type) { return type == BootType::Nt60 || type == BootType::Nt52; }

}  // namespace

const char* loaderName(BootType type) { return type == BootType::Ntldr ? "NTLDR" : "BOOTMGR"; }

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  Command command;
  Object object = Object::None;
  Verb verb = Verb::None;
  bool haveDevice = false;
  bool haveType = false;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    Object named = Object::None;
    Verb namedVerb = Verb::None;
    if (gbk::startsWith(arg, "/DEVICE=", true)) {
      if (haveDevice) return failure("错误: /DEVICE= 只能指定一次。");
      haveDevice = true;
      command.device = arg.substr(8);
    } else if (gbk::startsWith(arg, "/type=", true)) {
      if (haveType) return failure("错误: /type= 只能指定一次。");
      if (!parseType(arg.substr(6), command.type))
        return failure("错误: 未知的引导类型 " + arg.substr(6) + ",应为 nt60、nt52、bootmgr 或 ntldr。");
      haveType = true;
    } else if (is(arg, "/quiet")) {
      command.quiet = true;
    } else if (is(arg, "/mbr")) {
      named = Object::Mbr;
    } else if (is(arg, "/pbr")) {
      named = Object::Pbr;
    } else if (is(arg, "/partitions")) {
      named = Object::Partitions;
    } else if (is(arg, "/install")) {
      namedVerb = Verb::Install;
    } else if (is(arg, "/activate")) {
      namedVerb = Verb::Activate;
    } else {
      return failure("错误: 无法识别的参数 " + arg + "。");
    }
    if (named != Object::None) {
      if (object != Object::None && object != named) return failure("错误: /mbr、/pbr 和 /partitions 只能选其一。");
      object = named;
    }
    if (namedVerb != Verb::None) {
      if (verb != Verb::None && verb != namedVerb) return failure("错误: /install 和 /activate 只能选其一。");
      verb = namedVerb;
    }
  }

  // The device is checked first: without it nothing can be done, whatever else is asked.
  if (!haveDevice || gbk::trimBlanks(command.device).empty())
    return failure("错误: 未指定设备,请用 /DEVICE= 指定一个分区(例如 /DEVICE=C:\\)。");
  switch (object) {
    case Object::None:
      return failure("错误: 未指定操作,应为 /mbr、/pbr 或 /partitions。");
    case Object::Mbr:
    case Object::Pbr:
      if (verb != Verb::Install) return failure("错误: /mbr 和 /pbr 只支持 /install。");
      command.action = object == Object::Mbr ? Action::InstallMbr : Action::InstallPbr;
      if (!haveType) command.type = object == Object::Mbr ? BootType::Nt60 : BootType::Bootmgr;
      if (isMbrType(command.type) != (object == Object::Mbr))
        return failure(object == Object::Mbr ? "错误: /mbr 的类型应为 nt60 或 nt52。"
                                             : "错误: /pbr 的类型应为 bootmgr 或 ntldr。");
      break;
    case Object::Partitions:
      if (verb != Verb::Activate) return failure("错误: /partitions 只支持 /activate。");
      if (haveType) return failure("错误: /partitions /activate 不接受 /type=。");
      command.action = Action::Activate;
      break;
  }
  ParseResult result;
  result.ok = true;
  result.command = command;
  return result;
}

std::vector<std::string> usageLines() {
  return {
      "用法:",
      "  bootice /DEVICE=分区 /mbr /install [/type=nt60|nt52] [/quiet]",
      "  bootice /DEVICE=分区 /pbr /install [/type=bootmgr|ntldr] [/quiet]",
      "  bootice /DEVICE=分区 /partitions /activate [/quiet]",
      "分区: 盘符(如 C:\\),或 磁盘号:分区号(如 1:2)。",
  };
}

}  // namespace bootice
